// The property page: its construction (DispPropMgr) and its event handler.
#pragma once

#include <cstdint>
#include <string>

#include "state/state.h"
#include "host/host.h"

namespace kelvane {

// Builds and shows the page for the active document. True when the page was shown.
// "Kelvane.ini read error; Quitting" when the definition does not parse;
// "Exit on error" when anything stops construction.
bool DispPropMgr(State& s);

// The page handler the host calls while the page is open. No error trap in its
// methods: an error ends the method and reaches the host as a failed call.
class swPropMgrHdlr : public host::PropertyManagerPage2Handler {
 public:
  explicit swPropMgrHdlr(State& s) : s_(s) {}

  void PropertyManagerPage2Handler_OnClose(std::int32_t reason) override;
  void PropertyManagerPage2Handler_AfterClose() override;
  bool PropertyManagerPage2Handler_OnHelp() override;
  void PropertyManagerPage2Handler_OnGroupExpand(std::int32_t id, bool expanded) override;
  void PropertyManagerPage2Handler_OnGroupCheck(std::int32_t id, bool checked) override;
  void PropertyManagerPage2Handler_OnCheckboxCheck(std::int32_t id, bool checked) override;
  void PropertyManagerPage2Handler_OnOptionCheck(std::int32_t id) override;
  void PropertyManagerPage2Handler_OnButtonPress(std::int32_t id) override;
  void PropertyManagerPage2Handler_OnTextboxChanged(std::int32_t id, const std::string& text) override;
  void PropertyManagerPage2Handler_OnNumberboxChanged(std::int32_t id, double value) override;
  void PropertyManagerPage2Handler_OnComboboxSelectionChanged(std::int32_t id, std::int32_t item) override;
  void PropertyManagerPage2Handler_OnListboxSelectionChanged(std::int32_t id, std::int32_t item) override;
  void PropertyManagerPage2Handler_OnSelectionboxFocusChanged(std::int32_t id) override;
  void PropertyManagerPage2Handler_OnSelectionboxListChanged(std::int32_t id, std::int32_t count) override;

  // How often AfterClose has started; lets disconnection notice that closing the page
  // registered the menu item again.
  std::uint64_t afterCloseRuns() const { return afterCloseRuns_; }

 private:
  // The field addressed by an input-control id; sets curGroup and curField.
  pagedef::FieldDef& decodeField(std::int32_t id);
  // The binding of the field decodeField last found.
  FieldBinding& decodedBinding();

  State& s_;
  std::int16_t curGroup = 0;
  std::int16_t curField = 0;
  std::uint64_t afterCloseRuns_ = 0;
  const char* closeError_ = nullptr;  // what the last close failed at, for AfterClose to keep
};

}  // namespace kelvane
