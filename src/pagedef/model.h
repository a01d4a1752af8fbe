// The page definition model: what Kelvane.ini declares. What page construction binds
// to it (host controls and value slots) lives beside it in the State. Tables are
// vectors; a table's "last index" is its size - 1, so -1 means empty. Counts never
// pass the 16-bit limits below: the parser refuses the line that would.
//
// The model's text is views: into the model's own arena (PageDefinition::keep) or
// into string literals. They stay valid until the model is cleared or destroyed, so
// a parse costs no allocation per string.
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
  std::string_view text;   // as shown in the combo box
  std::string_view code;   // second column when the line had exactly two; else ""
};

struct FieldDef {
  std::string_view caption;     // label, tip, log key, section name, composite reference
  std::string_view propName;    // custom property name; no blanks
  std::vector<ListItem> items;  // empty: text box; else combo box
  std::string_view defaultValue;  // "<>" marks a composite field
  bool remember = false;
  std::int16_t auxNumber = -1;
  std::int16_t composite = -1;  // its entry in the model's composites; -1: not a composite field

  std::int16_t lastItemIndex() const { return static_cast<std::int16_t>(items.size()) - 1; }
  bool isTextBox() const { return items.empty(); }

  // The last entry whose text is `text`, else entry 0.
  std::int16_t lastItemWithText(std::string_view text) const {
    std::int16_t selected = 0;
    for (std::int16_t k = 0; k <= lastItemIndex(); ++k)
      if (items[k].text == text) selected = k;
    return selected;
  }
};

struct GroupDef {
  std::string_view name;
  std::vector<FieldDef> fields;
  bool expanded = true;
};

struct CompositeDef {
  std::int16_t groupIndex = 0;
  std::int16_t fieldIndex = 0;
  std::span<const std::string_view> parts;  // untrimmed, in formula order
};

inline constexpr const char* kCompositeMark = "<>";

// A field's place: group index, field index.
struct FieldRef {
  std::int16_t group = 0;
  std::int16_t field = 0;
  friend auto operator<=>(const FieldRef&, const FieldRef&) = default;
};

// Copies of text in blocks that never move; clear() keeps every block for reuse.
class TextArena {
 public:
  // Room for `size` bytes at a multiple of `align` (a power of two), to be filled by
  // the caller.
  char* allocate(std::size_t size, std::size_t align = 1);
  std::string_view keep(std::string_view text);
  std::span<const std::string_view> keep(std::span<const std::string_view> views);
  void clear() {
    block_ = 0;
    used_ = 0;
  }

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
  };
  std::vector<Block> blocks_;
  std::size_t block_ = 0;  // the block being filled
  std::size_t used_ = 0;   // bytes used in it
};

// Every name the page declares, captions and group names alike, since a section
// header may name either: the fields so captioned in page order (group order, then
// field order), and the first group so named. One lookup answers a header. The index
// keeps views: the names' bytes must live as long as it uses them (the model's arena).
class NameIndex {
 public:
  struct Named {
    std::span<const FieldRef> fields;  // empty when no field has the caption
    std::int16_t group = -1;           // -1 when no group has the name
  };
  Named find(std::string_view name) const;
  std::span<const FieldRef> fields(std::string_view caption) const { return find(caption).fields; }

  // Records `at` under `caption`, keeping the page order when a later line adds a
  // field to an earlier group.
  void addField(std::string_view caption, FieldRef at);
  // Records group `group` under `name` unless an earlier group has the name.
  void addGroup(std::string_view name, std::int16_t group);
  // Empty; the tables keep their room for the next parse.
  void clear();

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  struct Entry {
    std::string_view name;
    std::uint32_t hash = 0;
    FieldRef first{-1, -1};        // the only field, while there is at most one
    std::uint32_t more = kNone;    // else every field, in more_
    std::int16_t group = -1;
  };
  // Four bytes, so that the slots of the largest file stay in a fast cache: the id
  // (a file of 32767 lines declares fewer than 65535 names) and the hash's high bits,
  // so a probe reads an entry only when it is most likely the one.
  static constexpr std::uint16_t kFree = 0xFFFF;
  struct Slot {
    std::uint16_t tag = 0;
    std::uint16_t id = kFree;
  };
  std::size_t slotOf(std::string_view name, std::uint32_t hash) const;
  Entry& entryFor(std::string_view name);  // added when new
  void grow();

  std::vector<Slot> slots_;    // a power of two in size, at most half used
  std::vector<Entry> entries_;
  std::vector<std::vector<FieldRef>> more_;  // captions shared by several fields
};

class PageDefinition {
 public:
  PageDefinition() = default;
  // A copy's views would point into the original's arena.
  PageDefinition(const PageDefinition&) = delete;
  PageDefinition& operator=(const PageDefinition&) = delete;
  PageDefinition(PageDefinition&&) = default;  // the arena's blocks do not move
  PageDefinition& operator=(PageDefinition&&) = default;

  std::vector<GroupDef> groups;
  std::vector<CompositeDef> composites;
  bool useConfigs = false;
  bool enableIniEdit = false;

  std::int16_t lastComposite() const { return static_cast<std::int16_t>(composites.size()) - 1; }

  // Append a group or field under a name (kept) and index it. Groups and fields enter
  // the model only this way, so the name index cannot drift from them.
  GroupDef& addGroup(std::string_view name);
  FieldDef& addField(std::int16_t group, std::string_view caption);

  // A copy of `text`, or of a list of views, that lives as long as the model's contents.
  std::string_view keep(std::string_view text) { return arena_.keep(text); }
  std::span<const std::string_view> keep(std::span<const std::string_view> views) {
    return arena_.keep(views);
  }
  // Room for `size` bytes of text built in place, with the same lifetime.
  char* allocate(std::size_t size) { return arena_.allocate(size); }

  const NameIndex& names() const { return names_; }

  // Empty: drops every group, field, entry, composite, the name index and the kept
  // text (whose blocks are reused).
  void clear() {
    for (GroupDef& group : groups) {
      group.fields.clear();
      spareFieldTables_.push_back(std::move(group.fields));
    }
    groups.clear();
    composites.clear();
    names_.clear();
    arena_.clear();
  }

 private:
  TextArena arena_;
  NameIndex names_;
  // The field tables of cleared groups, empty but with their room, for the next
  // groups: a definition parsed again needs no allocation for its fields.
  std::vector<std::vector<FieldDef>> spareFieldTables_;
};

}  // namespace kelvane::pagedef
