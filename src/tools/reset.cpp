#include "tools/tools.h"

namespace kelvane {

// Each field is finished, control and slot, before the next one is touched. The user
// asked for these values, so they are the user's.
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
            b.setSlot(s.currentConfig, std::string(kEmptyMark), SlotOrigin::User);
          } else {
            control.SetText(f.defaultValue);
            b.setSlot(s.currentConfig, control.GetText(), SlotOrigin::User);
          }
        } else {
          const std::int16_t entry = mode == 0 ? 0 : f.lastItemWithText(f.defaultValue);
          control.SetCurrentSelection(entry);
          b.setSlot(s.currentConfig, control.ItemText(entry), SlotOrigin::User);
        }
      }
    }
    return true;
  });
}

}  // namespace kelvane
