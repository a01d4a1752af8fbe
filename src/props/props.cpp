#include "props/props.h"

#include "common/text.h"

namespace kelvane {

namespace {

// The text a slot is saved as: an empty slot becomes the empty mark " ", anything
// else loses its surrounding blanks (so a slot of blanks only becomes "").
std::string normalised(const std::string& value) {
  return value.empty() ? std::string(" ") : text::trimSpaces(value);
}

// A field's input control; a field that was never bound is an error, not a crash.
host::Control& controlOf(const pagedef::FieldDef& f) {
  if (!f.control) throw host::HostError("control", "field " + f.caption + " has no control");
  return *f.control;
}

// Calls `visit(field)` for every field of groups 0..lastGroup, in order.
template <typename Visit>
void forEachField(State& s, Visit visit) {
  for (int i = 0; i <= s.lastGroup; ++i)
    for (auto& f : s.model.groups.at(i).fields) visit(f);
}

}  // namespace

bool setCP(host::Document& doc, const std::string& config, const std::string& name,
           const std::string& value) {
  if (doc.AddCustomInfo3(config, name, host::code::kPropertyTypeText, value)) return true;
  doc.SetCustomInfo2(config, name, value);
  return false;
}

std::string getCP(host::Document& doc, const std::string& config, const std::string& name) {
  return text::trimSpaces(doc.GetCustomInfo2(config, name));
}

bool readCP(State& s) {
  return trapped(s, status::kReadError, [&] {
    forEachField(s, [&](pagedef::FieldDef& f) {
      if (s.model.useConfigs) {
        for (int k = 0; k < s.configCount; ++k) {
          auto doc = activeDocument(s);
          f.configValues.at(k) = getCP(*doc, s.configNames.at(k), f.propName);
        }
      } else {
        auto doc = activeDocument(s);
        f.configValues.at(0) = getCP(*doc, "", f.propName);
      }
    });
    return true;
  });
}

// A field's slot changes only once its control has taken the value, so a failure
// leaves the field being loaded with the slot it had.
bool loadCP(State& s, std::int16_t cfg) {
  return trapped(s, status::kLoadError, [&] {
    forEachField(s, [&](pagedef::FieldDef& f) {
      std::string& slot = f.configValues.at(cfg);
      host::Control& control = controlOf(f);
      std::string v = slot;
      if (f.isTextBox()) {
        if (v.empty()) v = f.defaultValue;
        control.SetText(v);
        slot = v;
        return;
      }
      if (v.empty() && !f.defaultValue.empty()) v = f.defaultValue;
      // The last entry with that text wins; none selects entry 0.
      std::int16_t selected = 0;
      for (std::int16_t k = 0; k <= f.lastItemIndex(); ++k)
        if (f.items[k].text == v) selected = k;
      control.SetCurrentSelection(selected);
      slot = control.ItemText(selected);
    });
    return true;
  });
}

bool saveCP(State& s) {
  return trapped(s, status::kSaveError, [&] {
    forEachField(s, [&](pagedef::FieldDef& f) {
      if (s.model.useConfigs) {
        for (int k = 0; k < s.configCount; ++k) {
          std::string& v = f.configValues.at(k);
          v = normalised(v);
          auto doc = activeDocument(s);
          setCP(*doc, s.configNames.at(k), f.propName, v);
        }
      } else {
        std::string& v = f.configValues.at(0);
        v = normalised(v);
        auto doc = activeDocument(s);
        setCP(*doc, "", f.propName, v);
      }
    });
    auto doc = activeDocument(s);
    setCP(*doc, "", "USE_CONFIGS", s.model.useConfigs ? "True" : "False");
    return true;
  });
}

}  // namespace kelvane
