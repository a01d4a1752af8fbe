#include "pagedef/model.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/checked.h"
#include "common/words.h"

namespace kelvane::pagedef {

namespace {

using words::load32;
using words::load64;

constexpr std::size_t kBlockSize = 16 * 1024;

// Names are short: eight bytes at a time through a multiply, then a full mix, so the
// table's low bits depend on every byte. The last bytes are read with whole loads
// (overlapping what came before, or each other), never copied byte by byte: a word
// put together in memory that way stalls the load that reads it back.
std::uint32_t hashOf(std::string_view name) {
  constexpr std::uint64_t kMultiplier = 0x517CC1B727220A95ull;
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ name.size();
  const char* p = name.data();
  const std::size_t n = name.size();
  std::uint64_t last = 0;
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 < n; i += 8) h = (std::rotl(h, 5) ^ load64(p + i)) * kMultiplier;
    last = load64(p + n - 8);  // the remaining 1 to 8 bytes, and some seen already
  } else if (n >= 4) {
    last = load32(p) | load32(p + n - 4) << 32;
  } else if (n > 0) {
    const auto byte = [p](std::size_t k) { return static_cast<std::uint64_t>(static_cast<unsigned char>(p[k])); };
    last = byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
  }
  h = (std::rotl(h, 5) ^ last) * kMultiplier;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h);
}

}  // namespace

char* TextArena::allocate(std::size_t size, std::size_t align) {
  // Blocks come from new[], aligned for any type, so an offset aligns the address.
  std::size_t at = (used_ + align - 1) & ~(align - 1);
  while (block_ < blocks_.size() && at + size > blocks_[block_].size) {
    ++block_;
    at = 0;
  }
  if (block_ == blocks_.size()) {
    const std::size_t bytes = std::max(kBlockSize, size);
    blocks_.push_back({std::make_unique<char[]>(bytes), bytes});
    at = 0;
  }
  used_ = at + size;
  return blocks_[block_].bytes.get() + at;
}

std::string_view TextArena::keep(std::string_view text) {
  if (text.empty()) return {};
  char* at = allocate(text.size());
  std::memcpy(at, text.data(), text.size());
  return {at, text.size()};
}

std::span<const std::string_view> TextArena::keep(std::span<const std::string_view> views) {
  if (views.empty()) return {};
  auto* at = reinterpret_cast<std::string_view*>(
      allocate(views.size_bytes(), alignof(std::string_view)));
  std::uninitialized_copy(views.begin(), views.end(), at);
  return {at, views.size()};
}

std::size_t NameIndex::slotOf(std::string_view name, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const auto tag = static_cast<std::uint16_t>(hash >> 16);
  std::size_t i = hash & mask;
  while (slots_[i].id != kFree && (slots_[i].tag != tag || !words::equal(entries_[slots_[i].id].name, name)))
    i = (i + 1) & mask;
  return i;
}

void NameIndex::grow() {
  slots_.assign(std::max<std::size_t>(64, 2 * slots_.size()), Slot{});
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t id = 0; id < entries_.size(); ++id) {
    const std::uint32_t hash = entries_[id].hash;
    std::size_t i = hash & mask;
    while (slots_[i].id != kFree) i = (i + 1) & mask;
    slots_[i] = {static_cast<std::uint16_t>(hash >> 16), static_cast<std::uint16_t>(id)};
  }
}

NameIndex::Named NameIndex::find(std::string_view name) const {
  if (slots_.empty()) return {};
  const std::uint16_t id = slots_[slotOf(name, hashOf(name))].id;
  if (id == kFree) return {};
  const Entry& entry = entries_[id];
  Named named{{}, entry.group};
  if (entry.more != kNone) named.fields = more_[entry.more];
  else if (entry.first.group >= 0) named.fields = {&entry.first, 1};
  return named;
}

NameIndex::Entry& NameIndex::entryFor(std::string_view name) {
  if (2 * (entries_.size() + 1) > slots_.size()) grow();
  const std::uint32_t hash = hashOf(name);
  Slot& slot = slots_[slotOf(name, hash)];
  if (slot.id == kFree) {
    if (entries_.size() >= kFree) throw OverflowError("more than 65534 names in one page definition");
    slot = {static_cast<std::uint16_t>(hash >> 16), static_cast<std::uint16_t>(entries_.size())};
    entries_.push_back({name, hash});
  }
  return entries_[slot.id];
}

void NameIndex::addField(std::string_view caption, FieldRef at) {
  Entry& entry = entryFor(caption);
  if (entry.first.group < 0) {
    entry.first = at;
    return;
  }
  if (entry.more == kNone) {
    entry.more = static_cast<std::uint32_t>(more_.size());
    more_.push_back({entry.first});
  }
  std::vector<FieldRef>& refs = more_[entry.more];
  if (refs.back() < at) refs.push_back(at);
  else refs.insert(std::upper_bound(refs.begin(), refs.end(), at), at);
}

void NameIndex::addGroup(std::string_view name, std::int16_t group) {
  Entry& entry = entryFor(name);
  if (entry.group < 0) entry.group = group;
}

void NameIndex::clear() {
  entries_.clear();
  more_.clear();
  std::fill(slots_.begin(), slots_.end(), Slot{});
}

GroupDef& PageDefinition::addGroup(std::string_view name) {
  GroupDef& group = groups.emplace_back();
  if (!spareFieldTables_.empty()) {
    group.fields = std::move(spareFieldTables_.back());
    spareFieldTables_.pop_back();
  }
  group.name = keep(name);
  // A group beyond the 16-bit limit fails its line right after; it is not indexed.
  if (groups.size() <= static_cast<std::size_t>(kMaxGroups))
    names_.addGroup(group.name, static_cast<std::int16_t>(groups.size() - 1));
  return group;
}

FieldDef& PageDefinition::addField(std::int16_t group, std::string_view caption) {
  std::vector<FieldDef>& fields = groups.at(group).fields;
  FieldDef& field = fields.emplace_back();
  field.caption = keep(caption);
  names_.addField(field.caption, {group, static_cast<std::int16_t>(fields.size() - 1)});
  return field;
}

}  // namespace kelvane::pagedef
