#include "props/props.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

#include "common/checked.h"
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

// Every slot about to be read counts as unread until it is, so a read that stops
// part-way leaves the rest unread: OK then leaves their document values alone.
bool readCP(State& s) {
  const bool perConfiguration = valuesPerConfiguration(s);
  const int slots = perConfiguration ? s.configCount : 1;
  return trapped(s, "readCP", status::kReadError, [&] {
    forEachBoundField(s, [&](pagedef::FieldDef&, FieldBinding& b) {
      for (int k = 0; k < slots && k < static_cast<int>(b.origins.size()); ++k) b.origins[k] = SlotOrigin::Unread;
    });
    forEachBoundField(s, [&](pagedef::FieldDef& f, FieldBinding& b) {
      for (int k = 0; k < slots; ++k) {
        auto doc = activeDocument(s);
        const std::string_view config = perConfiguration ? std::string_view(s.configNames.at(k)) : "";
        b.setSlot(k, getCP(*doc, config, f.propName), SlotOrigin::Document);
      }
    });
    return true;
  });
}

namespace {

// Selects the entry showing `value` in a field's combo box: the last list entry with
// that text, else an entry added for this opening when `keep` (a document value that
// names no entry), else entry 0. Answers the entry's index.
std::int16_t selectEntry(const pagedef::FieldDef& f, FieldBinding& b, const std::string& value, bool keep) {
  std::int16_t selected = f.lastItemWithText(value);
  if (selected == 0 && f.items.front().text != value && keep) {
    auto k = std::find(b.extraItems.begin(), b.extraItems.end(), value) - b.extraItems.begin();
    if (k == static_cast<std::ptrdiff_t>(b.extraItems.size())) {
      controlOf(f, b).AddItems(value);
      b.extraItems.push_back(value);
    }
    selected = checked16(static_cast<long long>(f.items.size() + k), "combo box entry");
  }
  controlOf(f, b).SetCurrentSelection(selected);
  return selected;
}

}  // namespace

// A field's slot changes only once its control has taken the value, so a failure
// leaves the field being loaded with the slot it had. A slot that was not read keeps
// counting as unread whatever the box shows.
bool loadCP(State& s, std::int16_t cfg) {
  return trapped(s, "loadCP", status::kLoadError, [&] {
    forEachBoundField(s, [&](pagedef::FieldDef& f, FieldBinding& b) {
      const SlotOrigin origin = b.origins.at(cfg);
      host::Control& control = controlOf(f, b);
      std::string v = b.configValues.at(cfg);
      const bool emptyInDocument = v.empty() && origin == SlotOrigin::Document;
      if (f.isTextBox()) {
        if (v.empty()) v = f.defaultValue;
        control.SetText(v);
        b.setSlot(cfg, std::move(v), emptyInDocument ? SlotOrigin::Default : origin);
        return;
      }
      const bool documentValue = !v.empty() && origin == SlotOrigin::Document;
      if (v.empty() && !f.defaultValue.empty()) v = f.defaultValue;
      const std::int16_t selected = selectEntry(f, b, v, documentValue);
      std::string shown = control.ItemText(selected);
      b.setSlot(cfg, std::move(shown), emptyInDocument ? SlotOrigin::Default : origin);
    });
    return true;
  });
}

// A slot that was never read is left as the document has it. A failed write does not
// stop the others, so every edit the host takes is kept; the error is still shown.
bool saveCP(State& s) {
  return trapped(s, "saveCP", status::kSaveError, [&] {
    const bool perConfiguration = valuesPerConfiguration(s);
    const int slots = perConfiguration ? s.configCount : 1;
    int failures = 0;
    forEachBoundField(s, [&](pagedef::FieldDef& f, FieldBinding& b) {
      for (int k = 0; k < slots; ++k) {
        failures += !attempted(s, "saveCP", [&] {
          if (b.origins.at(k) == SlotOrigin::Unread) return;
          std::string& v = b.configValues.at(k);
          // A composite that was never built holds its mark, which is no value.
          if (f.composite >= 0 && v == pagedef::kCompositeMark) return;
          v = normalised(v);
          auto doc = activeDocument(s);
          setCP(*doc, perConfiguration ? std::string_view(s.configNames.at(k)) : "", f.propName, v);
        });
      }
    });
    failures += !attempted(s, "saveCP", [&] {
      setCP(*activeDocument(s), "", "USE_CONFIGS", s.model.useConfigs ? "True" : "False");
    });
    if (failures > 0) throw std::runtime_error(std::to_string(failures) + (failures == 1 ? " value" : " values") + " not saved");
    return true;
  });
}

}  // namespace kelvane
