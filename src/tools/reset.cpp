#include "tools/field_control.h"
#include "tools/tools.h"

namespace kelvane {

namespace {

// The entry that "Load Default Values" selects: the last one whose text is the
// default, else the first.
std::int16_t defaultEntry(const pagedef::FieldDef& f) {
  std::int16_t selected = 0;
  for (std::int16_t k = 0; k <= f.lastItemIndex(); ++k)
    if (f.items[k].text == f.defaultValue) selected = k;
  return selected;
}

}  // namespace

// Each field is finished, control and slot, before the next one is touched.
bool resetFields(State& s, std::int16_t mode) {
  return trapped(s, status::kResetError, [&] {
    for (auto& group : s.model.groups) {
      for (auto& f : group.fields) {
        host::Control& control = controlOf(f);
        if (f.isTextBox()) {
          if (mode == 0) {
            control.SetText("");
            f.configValues.at(s.currentConfig) = std::string(" ");  // the empty mark
          } else {
            control.SetText(f.defaultValue);
            const std::string shown = control.GetText();
            f.configValues.at(s.currentConfig) = shown;
          }
        } else {
          const std::int16_t entry = mode == 0 ? 0 : defaultEntry(f);
          control.SetCurrentSelection(entry);
          const std::string shown = control.ItemText(entry);
          f.configValues.at(s.currentConfig) = shown;
        }
      }
    }
    return true;
  });
}

}  // namespace kelvane
