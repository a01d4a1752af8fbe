#include "addin/swaddin.h"

#include <utility>

namespace kelvane {

swAddIn::swAddIn(platform::Platform& platform) : state_(platform) {}

swAddIn::~swAddIn() = default;

// No error trap: a failing step ends the connection there and the host sees the
// failure; what was done before stays done.
bool swAddIn::SwAddIn_ConnectToSW(std::shared_ptr<host::Application> thisSW, std::int32_t cookie) {
  State& s = state_;
  if (!thisSW) throw host::HostError("register-callbacks", "no application");
  s.ThisSW = std::move(thisSW);
  s.Cookie = cookie;

  s.callStatus = s.ThisSW->SetAddinCallbackInfo(s.platform.ModuleHandle(), *this, s.Cookie);

  s.menuPath = std::string(kProgramTitle) + "@" +
               s.ThisSW->GetLocalizedMenuName(host::code::kToolsMenu);
  s.menuCallback = "DispPropMgr";
  s.menuEnableCallback = "menuStatus";
  s.menuEnabled = 1;
  addMenuItems(s);

  handler_ = std::make_shared<swPropMgrHdlr>(s);
  s.propPage = s.ThisSW->CreatePropertyManagerPage(kProgramTitle, host::code::kPageOptions,
                                                   handler_, s.pageCreateError);
  return true;
}

bool swAddIn::SwAddIn_DisconnectFromSW() {
  State& s = state_;
  if (s.ThisSW) removeMenuItems(s);

  if (s.propPage) {
    // Closing an open page runs AfterClose, which registers the menu item again;
    // take it away once more so that nothing points at a disconnected add-in.
    const auto afterCloseRuns = handler_->afterCloseRuns();
    auto removeReAdded = [&] {
      if (handler_->afterCloseRuns() != afterCloseRuns) removeMenuItems(s);
    };
    try {
      s.propPage->Close(true);
    } catch (...) {
      removeReAdded();
      throw;
    }
    removeReAdded();
  }

  s.propPage.reset();
  s.configGroup.reset();
  s.configLabel.reset();
  s.configCombo.reset();
  s.useConfigsCheck.reset();
  s.toolsGroup.reset();
  s.toolButtons = {};
  s.emptyModel();
  s.ThisSW.reset();
  return true;
}

bool swAddIn::DispPropMgr() { return kelvane::DispPropMgr(state_); }

std::int32_t swAddIn::menuStatus() { return state_.menuEnabled; }

std::int32_t swAddIn::InvokeByName(const std::string& name) {
  if (name == "DispPropMgr") return DispPropMgr() ? -1 : 0;
  if (name == "menuStatus" || name == "swAddIn.menuStatus") return menuStatus();
  throw host::HostError("invoke", name);
}

}  // namespace kelvane
