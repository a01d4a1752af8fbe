#include <algorithm>
#include <string>
#include <vector>

#include "tools/tools.h"

namespace kelvane {

namespace {

using FieldRef = CaptionIndex::FieldRef;

// The caption index of the current model, built on first use.
const CaptionIndex& captionIndex(State& s) {
  CaptionIndex& index = s.captionIndex;
  std::size_t fieldCount = 0;
  for (const auto& group : s.model.groups) fieldCount += group.fields.size();
  if (index.built && index.groupCount == s.model.groups.size() && index.fieldCount == fieldCount)
    return index;

  index = {};
  for (std::size_t g = 0; g < s.model.groups.size(); ++g) {
    const auto& fields = s.model.groups[g].fields;
    for (std::size_t f = 0; f < fields.size(); ++f)
      index.fields[fields[f].caption].emplace_back(static_cast<std::int16_t>(g),
                                                   static_cast<std::int16_t>(f));
  }
  index.built = true;
  index.groupCount = s.model.groups.size();
  index.fieldCount = fieldCount;
  return index;
}

// The fields captioned `name` in page order; null when there are none.
const std::vector<FieldRef>* fieldsCaptioned(const CaptionIndex& index, const std::string& name) {
  auto hit = index.fields.find(name);
  return hit == index.fields.end() ? nullptr : &hit->second;
}

// What one part contributes: the text of every field captioned like the part (a text
// box's text, a combo box's selected text, or with the "^" mark its selected entry's
// code), or the part's name itself when no field has that caption.
std::string partText(State& s, const CaptionIndex& index, const std::string& part) {
  const bool marked = !part.empty() && part.front() == '^';
  const std::string name = marked ? part.substr(1) : part;

  std::string result;
  bool matched = false;
  const auto* refs = fieldsCaptioned(index, name);
  for (std::size_t pos = 0; refs && pos < refs->size();) {
    const FieldRef at = (*refs)[pos++];
    pagedef::FieldDef& f = s.model.groups.at(at.first).fields.at(at.second);
    host::Control& control = controlOf(f, s.binding(at.first, at.second));
    matched = true;
    if (f.isTextBox()) {
      result += control.GetText();
    } else if (marked) {
      result += f.items.at(control.GetCurrentSelection()).code;
      // From here on the rest of the page is compared with the part as stored, mark
      // included, which in practice matches nothing more.
      const auto* asStored = fieldsCaptioned(index, part);
      if (refs != asStored) {
        refs = asStored;
        if (refs) pos = std::upper_bound(refs->begin(), refs->end(), at) - refs->begin();
      }
    } else {
      result += control.ItemText(control.GetCurrentSelection());
    }
  }
  return matched ? result : name;
}

}  // namespace

bool buildComposites(State& s) {
  return trapped(s, "buildComposites", status::kCompositeError, [&] {
    const CaptionIndex& index = captionIndex(s);
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
