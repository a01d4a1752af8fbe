// swAddIn: the add-in object the host loads. It owns the one State.
#pragma once

#include <cstdint>
#include <memory>

#include "state/state.h"
#include "host/host.h"
#include "page/page.h"

namespace kelvane {

class swAddIn : public host::SwAddin, public host::CallbackTarget {
 public:
  explicit swAddIn(platform::Platform& platform);
  ~swAddIn() override;

  bool SwAddIn_ConnectToSW(std::shared_ptr<host::Application> thisSW, std::int32_t cookie) override;
  bool SwAddIn_DisconnectFromSW() override;

  // Called back by name by the host.
  bool DispPropMgr();
  std::int32_t menuStatus();

  // "DispPropMgr" (-1 / 0), "menuStatus" and "swAddIn.menuStatus".
  std::int32_t InvokeByName(const std::string& name) override;

  State& state() { return state_; }
  const std::shared_ptr<swPropMgrHdlr>& handler() const { return handler_; }

 private:
  State state_;
  std::shared_ptr<swPropMgrHdlr> handler_;
};

}  // namespace kelvane
