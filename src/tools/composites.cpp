#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "tools/tools.h"

namespace kelvane {

namespace {

using pagedef::FieldRef;

// What one part contributes: the text of every field captioned like the part (a text
// box's text, a combo box's selected text, or with the "^" mark its selected entry's
// code), or the part's name itself when no field has that caption.
std::string partText(State& s, const pagedef::NameIndex& index, std::string_view part) {
  const bool marked = !part.empty() && part.front() == '^';
  const std::string_view name = marked ? part.substr(1) : part;

  std::string result;
  bool matched = false;
  std::span<const FieldRef> refs = index.fields(name);
  for (std::size_t pos = 0; pos < refs.size();) {
    const FieldRef at = refs[pos++];
    pagedef::FieldDef& f = s.model.groups.at(at.group).fields.at(at.field);
    host::Control& control = controlOf(f, s.binding(at.group, at.field));
    matched = true;
    if (f.isTextBox()) {
      result += control.GetText();
    } else if (marked) {
      result += f.items.at(control.GetCurrentSelection()).code;
      // From here on the rest of the page is compared with the part as stored, mark
      // included, which in practice matches nothing more.
      const std::span<const FieldRef> asStored = index.fields(part);
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

}  // namespace

bool buildComposites(State& s) {
  return trapped(s, "buildComposites", status::kCompositeError, [&] {
    const pagedef::NameIndex& index = s.model.names();
    for (const auto& composite : s.model.composites) {
      pagedef::FieldDef& target =
          s.model.groups.at(composite.groupIndex).fields.at(composite.fieldIndex);
      if (!target.isTextBox()) continue;
      std::string text;
      for (const auto& part : composite.parts) text += partText(s, index, part);
      FieldBinding& bound = s.binding(composite.groupIndex, composite.fieldIndex);
      host::Control& control = controlOf(target, bound);
      control.SetText(text);
      const std::string shown = control.GetText();
      bound.configValues.at(s.currentConfig) = shown;
    }
    return true;
  });
}

}  // namespace kelvane
