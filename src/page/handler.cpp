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

std::string& slotOf(FieldBinding& field, std::int16_t config) {
  if (config < 0) throw std::out_of_range("configuration index " + std::to_string(config));
  return field.configValues.at(config);
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
  if (reason == host::code::kCloseOkay) {
    s_.callStatus = saveCP(s_);
    s_.callStatus = writeLogFile(s_);
  }
  s_.emptyModel();
}

void swPropMgrHdlr::PropertyManagerPage2Handler_AfterClose() {
  ++afterCloseRuns_;
  removeMenuItems(s_);
  s_.menuEnableCallback = "swAddIn.menuStatus";
  s_.menuEnabled = 1;
  addMenuItems(s_);
  showStatus(s_, status::kFarewell);
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
  slotOf(decodedBinding(), s_.currentConfig) = typedValue(text);
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
    const std::string chosen = controlOf(field, bound).ItemText(checked16(item, "item index"));
    slotOf(bound, s_.currentConfig) = chosen;
  }
  s_.callStatus = buildComposites(s_);
}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnListboxSelectionChanged(std::int32_t,
                                                                          std::int32_t) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnSelectionboxFocusChanged(std::int32_t) {}

void swPropMgrHdlr::PropertyManagerPage2Handler_OnSelectionboxListChanged(std::int32_t,
                                                                          std::int32_t) {}

}  // namespace kelvane
