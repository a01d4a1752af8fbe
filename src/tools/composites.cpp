#include <algorithm>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/tools.h"

namespace kelvane {

namespace {

using pagedef::FieldRef;

// One pass over the composites, in table order.
class Construction {
 public:
  explicit Construction(State& s) : s_(s), index_(s.model.names()) {}

  // Builds composite `i` from what the page shows now.
  void build(std::size_t i) {
    const pagedef::CompositeDef& composite = s_.model.composites[i];
    pagedef::FieldDef& target = s_.model.groups.at(composite.groupIndex).fields.at(composite.fieldIndex);
    if (!target.isTextBox()) return;
    current_ = static_cast<std::int16_t>(i);
    unread_ = false;
    std::string text;
    for (const auto& part : composite.parts) text += partText(part);
    FieldBinding& bound = s_.binding(composite.groupIndex, composite.fieldIndex);
    host::Control& control = controlOf(target, bound);
    control.SetText(text);
    // Built from values that were never read, it is no value the document should get.
    bound.setSlot(s_.currentConfig, control.GetText(), unread_ ? SlotOrigin::Unread : SlotOrigin::Document);
  }

  // Whether a composite read another one at or after itself in the table that has
  // changed since: then a pass more is needed.
  bool readStale() const {
    return std::any_of(aheadReads_.begin(), aheadReads_.end(), [&](const AheadRead& read) {
      const FieldBinding& bound = s_.binding(read.at.group, read.at.field);
      return bound.configValues.at(s_.currentConfig) != read.text ||
             bound.origins.at(s_.currentConfig) != read.origin;
    });
  }

 private:
  // What one part contributes: the text of every field captioned like the part (a text
  // box's text, a combo box's selected text, or with the "^" mark its selected entry's
  // code), or the part's name itself when no field has that caption.
  std::string partText(std::string_view part) {
    const bool marked = !part.empty() && part.front() == '^';
    const std::string_view name = marked ? part.substr(1) : part;

    std::string result;
    bool matched = false;
    std::span<const FieldRef> refs = index_.fields(name);
    for (std::size_t pos = 0; pos < refs.size();) {
      const FieldRef at = refs[pos++];
      pagedef::FieldDef& f = s_.model.groups.at(at.group).fields.at(at.field);
      FieldBinding& bound = s_.binding(at.group, at.field);
      host::Control& control = controlOf(f, bound);
      matched = true;
      unread_ = unread_ || bound.origins.at(s_.currentConfig) == SlotOrigin::Unread;
      if (f.isTextBox()) {
        std::string text = control.GetText();
        if (f.composite >= current_) aheadReads_.push_back({at, text, bound.origins.at(s_.currentConfig)});
        // A composite not built yet shows its mark, which is no text of the page.
        if (f.composite >= 0 && text == pagedef::kCompositeMark) text.clear();
        result += text;
      } else if (marked) {
        result += codeOf(f, bound, control.GetCurrentSelection());
        // From here on the rest of the page is compared with the part as stored, mark
        // included, which in practice matches nothing more.
        const std::span<const FieldRef> asStored = index_.fields(part);
        if (refs.data() != asStored.data()) {
          refs = asStored;
          pos = std::upper_bound(refs.begin(), refs.end(), at) - refs.begin();
        }
      } else {
        result += control.ItemText(control.GetCurrentSelection());
      }
    }
    return matched ? result : std::string(name);
  }

  // The code of the selected entry; an entry added for a document value has none.
  static std::string_view codeOf(const pagedef::FieldDef& f, const FieldBinding& bound, std::int16_t selected) {
    if (selected >= 0 && static_cast<std::size_t>(selected) < f.items.size()) return f.items[selected].code;
    const std::size_t extra = static_cast<std::size_t>(selected) - f.items.size();
    if (selected >= 0 && extra < bound.extraItems.size()) return "";
    throw std::out_of_range("entry " + std::to_string(selected) + " of " + std::string(f.caption));
  }

  struct AheadRead {
    FieldRef at;
    std::string text;
    SlotOrigin origin;
  };

  State& s_;
  const pagedef::NameIndex& index_;
  std::int16_t current_ = 0;
  bool unread_ = false;  // the composite being built read a slot that was never read
  std::vector<AheadRead> aheadReads_;
};

}  // namespace

// A composite may use one declared below it, so passes repeat until nothing changes;
// at most one per composite, which is enough for any chain and ends a cycle.
bool buildComposites(State& s) {
  s.compositesStale = true;
  return trapped(s, "buildComposites", status::kCompositeError, [&] {
    const std::size_t count = s.model.composites.size();
    for (std::size_t pass = 0; pass < count; ++pass) {
      Construction construction(s);
      for (std::size_t i = 0; i < count; ++i) construction.build(i);
      if (!construction.readStale()) break;
    }
    s.compositesStale = false;
    return true;
  });
}

}  // namespace kelvane
