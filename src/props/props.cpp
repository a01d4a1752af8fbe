#include "props/props.h"

#include "common/text.h"

namespace kelvane {

namespace {

// The text a slot is saved as: an empty slot becomes the empty mark, anything else
// loses its surrounding blanks (so a slot of blanks only becomes "").
std::string normalised(const std::string& value) {
  return value.empty() ? std::string(kEmptyMark) : text::trimSpaces(value);
}

}  // namespace

bool setCP(host::Document& doc, std::string_view config, std::string_view name,
           std::string_view value) {
  if (doc.AddCustomInfo3(config, name, host::code::kPropertyTypeText, value)) return true;
  doc.SetCustomInfo2(config, name, value);
  return false;
}

std::string getCP(host::Document& doc, std::string_view config, std::string_view name) {
  return text::trimSpaces(doc.GetCustomInfo2(config, name));
}

bool readCP(State& s) {
  return trapped(s, "readCP", status::kReadError, [&] {
    forEachBoundField(s, [&](pagedef::FieldDef& f, FieldBinding& b) {
      if (valuesPerConfiguration(s)) {
        for (int k = 0; k < s.configCount; ++k) {
          auto doc = activeDocument(s);
          b.configValues.at(k) = getCP(*doc, s.configNames.at(k), f.propName);
        }
      } else {
        auto doc = activeDocument(s);
        b.configValues.at(0) = getCP(*doc, "", f.propName);
      }
    });
    return true;
  });
}

// A field's slot changes only once its control has taken the value, so a failure
// leaves the field being loaded with the slot it had.
bool loadCP(State& s, std::int16_t cfg) {
  return trapped(s, "loadCP", status::kLoadError, [&] {
    forEachBoundField(s, [&](pagedef::FieldDef& f, FieldBinding& b) {
      std::string& slot = b.configValues.at(cfg);
      host::Control& control = controlOf(f, b);
      std::string v = slot;
      if (f.isTextBox()) {
        if (v.empty()) v = f.defaultValue;
        control.SetText(v);
        slot = v;
        return;
      }
      if (v.empty() && !f.defaultValue.empty()) v = f.defaultValue;
      const std::int16_t selected = f.lastItemWithText(v);
      control.SetCurrentSelection(selected);
      slot = control.ItemText(selected);
    });
    return true;
  });
}

bool saveCP(State& s) {
  return trapped(s, "saveCP", status::kSaveError, [&] {
    forEachBoundField(s, [&](pagedef::FieldDef& f, FieldBinding& b) {
      if (valuesPerConfiguration(s)) {
        for (int k = 0; k < s.configCount; ++k) {
          std::string& v = b.configValues.at(k);
          v = normalised(v);
          auto doc = activeDocument(s);
          setCP(*doc, s.configNames.at(k), f.propName, v);
        }
      } else {
        std::string& v = b.configValues.at(0);
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
