// swPropMgrHdlr: the page's events. No error trap here: an error ends the method and
// the host sees the failed call; the procedures called keep their own traps.
#include <stdexcept>
#include <string>

#include "common/checked.h"
#include "common/text.h"
#include "logfile/logfile.h"
#include "page/page.h"
#include "props/props.h"
#include "tools/tools.h"

namespace kelvane {
namespace {

// What the user put in a field: it replaces the slot of the configuration shown.
void storeUserValue(FieldBinding& field, std::int16_t config, std::string value) {
  if (config < 0) throw std::out_of_range("configuration index " + std::to_string(config));
  field.setSlot(config, std::move(value), SlotOrigin::User);
}

// The shown configuration's composites count as never read, so OK leaves the
// document's values of them alone.
void leaveCompositesUnsaved(State& s) {
  for (const auto& composite : s.model.composites) {
    if (!s.model.groups.at(composite.groupIndex).fields.at(composite.fieldIndex).isTextBox()) continue;
    auto& origins = s.binding(composite.groupIndex, composite.fieldIndex).origins;
    if (s.currentConfig >= 0 && static_cast<std::size_t>(s.currentConfig) < origins.size())
      origins[s.currentConfig] = SlotOrigin::Unread;
  }
}

// A box showing the empty mark to which the user added one character reports two
// characters; keep only the new one. An emptied box is recorded as the mark.
std::string typedValue(const std::string& text) {
  if (text::charCount(text) == 2 && text::firstChar(text) == kEmptyMark) return text.substr(1);
  if (text.empty()) return kEmptyMark;
  return text;
}

}  // namespace

pagedef::FieldDef& swPropMgrHdlr::decodeField(std::int32_t id) {
  curGroup = checked16(id / 1000, "group index");  // truncates toward zero
  curField = checked16(id - 1000LL * curGroup, "field index");
  if (curGroup < 0 || curField < 0)
    throw std::out_of_range("control id " + std::to_string(id));
  return s_.model.groups.at(curGroup).fields.at(curField);
}

FieldBinding& swPropMgrHdlr::decodedBinding() { return s_.binding(curGroup, curField); }

void swPropMgrHdlr::PropertyManagerPage2Handler_OnClose(std::int32_t reason) {
  closeError_ = nullptr;
  if (reason == host::code::kCloseOkay) {
    // Composites are saved consistent with the fields they show, or not at all.
    if (s_.compositesStale) s_.callStatus = buildComposites(s_);
    if (s_.compositesStale) attempted(s_, "OnClose", [&] { leaveCompositesUnsaved(s_); });
    s_.callStatus = saveCP(s_);
    if (!s_.callStatus) closeError_ = status::kSaveError;
    s_.callStatus = writeLogFile(s_);
    if (!s_.callStatus && !closeError_) closeError_ = status::kLogWriteError;
  }
  s_.emptyModel();
}

void swPropMgrHdlr::PropertyManagerPage2Handler_AfterClose() {
  ++afterCloseRuns_;
  removeMenuItems(s_);
  s_.menuEnableCallback = "swAddIn.menuStatus";
  s_.menuEnabled = 1;
  addMenuItems(s_);
  // A failed save must not look like a success: its error stays on the status bar.
  const char* text = closeError_ ? closeError_ : status::kFarewell;
  closeError_ = nullptr;
  showStatus(s_, text);
}

bool swPropMgrHdlr::PropertyManagerPage2Handler_OnHelp() {
  showStatus(s_, status::kNoHelp);
  return false;
}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnGroupExpand(std::int32_t, bool) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnGroupCheck(std::int32_t, bool) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnCheckboxCheck(std::int32_t id, bool checked) {
  if (id == ids::kUseConfigsCheck) {
    s_.model.useConfigs = checked;
    s_.callStatus = readCP(s_);
    s_.callStatus = loadCP(s_, s_.currentConfig);
    required(s_.configCombo, "configuration combo box")->SetEnabled(s_.model.useConfigs);
  }
  s_.callStatus = buildComposites(s_);
}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnOptionCheck(std::int32_t) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnButtonPress(std::int32_t id) {
  switch (id) {
    case ids::kResetButton:
      s_.callStatus = resetFields(s_, 0);
      break;
    case ids::kDefaultsButton:
      s_.callStatus = resetFields(s_, 1);
      break;
    case ids::kPurgeButton:
      s_.callStatus = purgeCP(s_);
      break;
    case ids::kEditButton:
      editIni(s_);
      break;
    default:
      break;
  }
  s_.callStatus = buildComposites(s_);
}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnTextboxChanged(std::int32_t id,
                                                                 const std::string& text) {
  decodeField(id);
  storeUserValue(decodedBinding(), s_.currentConfig, typedValue(text));
  s_.callStatus = buildComposites(s_);
}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnNumberboxChanged(std::int32_t, double) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnComboboxSelectionChanged(std::int32_t id,
                                                                           std::int32_t item) {
  if (id == ids::kConfigCombo) {
    s_.currentConfig = checked16(item, "configuration index");
    required(s_.useConfigsCheck, "Use Configurations checkbox")->SetEnabled(item == 0);
    s_.callStatus = loadCP(s_, s_.currentConfig);
  } else {
    pagedef::FieldDef& field = decodeField(id);
    FieldBinding& bound = decodedBinding();
    storeUserValue(bound, s_.currentConfig, controlOf(field, bound).ItemText(checked16(item, "item index")));
  }
  s_.callStatus = buildComposites(s_);
}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnListboxSelectionChanged(std::int32_t,
                                                                          std::int32_t) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnSelectionboxFocusChanged(std::int32_t) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnSelectionboxListChanged(std::int32_t,
                                                                          std::int32_t) {}

}  // namespace kelvane
