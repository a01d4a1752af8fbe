// The page definition model: what Kelvane.ini declares. What page construction binds
// to it (host controls and value slots) lives beside it in the State. Tables are
// vectors; a table's "last index" is its size - 1, so -1 means empty. Counts never
// pass the 16-bit limits below: the parser refuses the line that would.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::pagedef {

inline constexpr int kMaxGroups = 32767;     // groups: indexes 0..32766
inline constexpr int kMaxIndex = 32767;      // fields, list entries, composites: last index

struct ListItem {
  std::string text;   // as shown in the combo box
  std::string code;   // second column when the line had exactly two; else ""
};

struct FieldDef {
  std::string caption;     // label, tip, log key, section name, composite reference
  std::string propName;    // custom property name; no blanks
  std::vector<ListItem> items;  // empty: text box; else combo box
  std::string defaultValue;               // "<>" marks a composite field
  bool remember = false;
  std::int16_t auxNumber = -1;

  std::int16_t lastItemIndex() const { return static_cast<std::int16_t>(items.size()) - 1; }
  bool isTextBox() const { return items.empty(); }

  // The last entry whose text is `text`, else entry 0.
  std::int16_t lastItemWithText(const std::string& text) const {
    std::int16_t selected = 0;
    for (std::int16_t k = 0; k <= lastItemIndex(); ++k)
      if (items[k].text == text) selected = k;
    return selected;
  }
};

struct GroupDef {
  std::string name;
  std::vector<FieldDef> fields;
  bool expanded = true;

  std::int16_t lastFieldIndex() const { return static_cast<std::int16_t>(fields.size()) - 1; }
};

struct CompositeDef {
  std::int16_t groupIndex = 0;
  std::int16_t fieldIndex = 0;
  std::vector<std::string> parts;  // untrimmed, in formula order
};

inline constexpr const char* kCompositeMark = "<>";

// A field's place: group index, field index.
struct FieldRef {
  std::int16_t group = 0;
  std::int16_t field = 0;
  friend auto operator<=>(const FieldRef&, const FieldRef&) = default;
};

// Names to dense ids (0, 1, ... in the order they were first added). The names are
// copied into blocks that never move, and clear() keeps every block and table for
// the next parse.
class NameTable {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  std::uint32_t find(std::string_view name) const;  // kNone when absent
  // The id of `name`, added when new (then `added` is set).
  std::uint32_t insert(std::string_view name, bool& added);
  std::size_t size() const { return names_.size(); }
  void clear();

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };
  // The hash is kept beside the id, so a probe reads a name only when it is the one.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t id = kNone;  // kNone: free
  };
  std::string_view keep(std::string_view name);
  std::size_t slotOf(std::string_view name, std::uint32_t hash) const;
  void grow();

  std::vector<std::string_view> names_;  // by id, into blocks_
  std::vector<Slot> slots_;              // a power of two in size, at most half used
  std::vector<Block> blocks_;
  std::size_t block_ = 0;  // the block being filled
  std::size_t used_ = 0;   // bytes used in it
};

// Every field under its caption, in page order (group order, then field order).
class CaptionIndex {
 public:
  // The fields captioned `caption`; empty when there are none.
  std::span<const FieldRef> find(std::string_view caption) const;
  // Records `at` under `caption`, keeping the page order when a later line adds a
  // field to an earlier group.
  void add(std::string_view caption, FieldRef at);
  void clear();

 private:
  struct Entry {
    FieldRef first;                            // the only field, while there is one
    std::uint32_t more = NameTable::kNone;     // else every field, in more_
  };
  NameTable names_;
  std::vector<Entry> entries_;                // by caption id
  std::vector<std::vector<FieldRef>> more_;   // captions shared by several fields
};

class PageDefinition {
 public:
  std::vector<GroupDef> groups;
  std::vector<CompositeDef> composites;
  bool useConfigs = false;
  bool enableIniEdit = false;

  std::int16_t lastComposite() const { return static_cast<std::int16_t>(composites.size()) - 1; }

  // Appends a field captioned `caption` to group `group` and indexes it. Fields enter
  // the model only this way, so the caption index cannot drift from the groups.
  FieldDef& addField(std::int16_t group, std::string_view caption);

  const CaptionIndex& captions() const { return captions_; }

  // Empty: releases every group, field, entry, composite and the caption index.
  void clear() {
    groups.clear();
    composites.clear();
    captions_.clear();
  }

 private:
  CaptionIndex captions_;
};

}  // namespace kelvane::pagedef
