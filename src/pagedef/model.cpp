#include "pagedef/model.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace kelvane::pagedef {

namespace {

constexpr std::size_t kBlockSize = 16 * 1024;

}  // namespace

std::string_view NameTable::keep(std::string_view name) {
  while (block_ < blocks_.size() && used_ + name.size() > blocks_[block_].size) {
    ++block_;
    used_ = 0;
  }
  if (block_ == blocks_.size()) {
    const std::size_t size = std::max(kBlockSize, name.size());
    blocks_.push_back({std::make_unique<char[]>(size), size});
    used_ = 0;
  }
  char* at = blocks_[block_].bytes.get() + used_;
  if (!name.empty()) std::memcpy(at, name.data(), name.size());
  used_ += name.size();
  return {at, name.size()};
}

static std::uint32_t hashOf(std::string_view name) {
  const std::size_t hash = std::hash<std::string_view>{}(name);
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

std::size_t NameTable::slotOf(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].id != kNone && (slots_[i].hash != hash || names_[slots_[i].id] != name))
    i = (i + 1) & mask;
  return i;
}

void NameTable::grow() {
  std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.id == kNone) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].id != kNone) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

std::uint32_t NameTable::find(std::string_view name) const {
  if (slots_.empty()) return kNone;
  return slots_[slotOf(name, hashOf(name))].id;
}

std::uint32_t NameTable::insert(std::string_view name, bool& added) {
  if (2 * (names_.size() + 1) > slots_.size()) grow();
  const std::uint32_t hash = hashOf(name);
  Slot& slot = slots_[slotOf(name, hash)];
  added = slot.id == kNone;
  if (added) {
    slot = {hash, static_cast<std::uint32_t>(names_.size())};
    names_.push_back(keep(name));
  }
  return slot.id;
}

void NameTable::clear() {
  names_.clear();
  std::fill(slots_.begin(), slots_.end(), Slot{});
  block_ = 0;
  used_ = 0;
}

std::span<const FieldRef> CaptionIndex::find(std::string_view caption) const {
  const std::uint32_t id = names_.find(caption);
  if (id == NameTable::kNone) return {};
  const Entry& entry = entries_[id];
  if (entry.more == NameTable::kNone) return {&entry.first, 1};
  return more_[entry.more];
}

void CaptionIndex::add(std::string_view caption, FieldRef at) {
  bool added = false;
  const std::uint32_t id = names_.insert(caption, added);
  if (added) {
    entries_.push_back({at});
    return;
  }
  Entry& entry = entries_[id];
  if (entry.more == NameTable::kNone) {
    entry.more = static_cast<std::uint32_t>(more_.size());
    more_.push_back({entry.first});
  }
  std::vector<FieldRef>& refs = more_[entry.more];
  if (refs.back() < at) refs.push_back(at);
  else refs.insert(std::upper_bound(refs.begin(), refs.end(), at), at);
}

void CaptionIndex::clear() {
  names_.clear();
  entries_.clear();
  more_.clear();
}

FieldDef& PageDefinition::addField(std::int16_t group, std::string_view caption) {
  std::vector<FieldDef>& fields = groups.at(group).fields;
  FieldDef& field = fields.emplace_back();
  field.caption = caption;
  captions_.add(field.caption, {group, static_cast<std::int16_t>(fields.size() - 1)});
  return field;
}

}  // namespace kelvane::pagedef
