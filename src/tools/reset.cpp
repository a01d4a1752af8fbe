#include "tools/tools.h"

namespace kelvane {

// Each field is finished, control and slot, before the next one is touched.
bool resetFields(State& s, std::int16_t mode) {
  return trapped(s, "resetFields", status::kResetError, [&] {
    for (std::size_t g = 0; g < s.model.groups.size(); ++g) {
      auto& fields = s.model.groups[g].fields;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        pagedef::FieldDef& f = fields[i];
        FieldBinding& b = s.binding(g, i);
        host::Control& control = controlOf(f, b);
        if (f.isTextBox()) {
          if (mode == 0) {
            control.SetText("");
            b.configValues.at(s.currentConfig) = std::string(kEmptyMark);
          } else {
            control.SetText(f.defaultValue);
            const std::string shown = control.GetText();
            b.configValues.at(s.currentConfig) = shown;
          }
        } else {
          const std::int16_t entry = mode == 0 ? 0 : f.lastItemWithText(f.defaultValue);
          control.SetCurrentSelection(entry);
          const std::string shown = control.ItemText(entry);
          b.configValues.at(s.currentConfig) = shown;
        }
      }
    }
    return true;
  });
}

}  // namespace kelvane
