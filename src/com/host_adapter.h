// The core's host objects over the real host's IDispatch objects: every operation is
// a call by name (Dispatcher), with text converted between UTF-8 and UTF-16. A failed
// call throws host::HostError with the operation's name, as the simulated host does,
// and the member's name and the host's reason in its detail.
#pragma once

#include <functional>
#include <memory>

#include "com/dispatch.h"
#include "com/wrappers.h"
#include "host/host.h"

namespace kelvane::com {

// What the application adapter needs from the add-in's COM objects.
struct AddinObjects {
  // The core object that registers for callbacks, and the COM object the host must
  // get for it (not owned: it owns the core add-in, which owns this adapter).
  const host::CallbackTarget* callbackTarget = nullptr;
  IDispatch* callbackObject = nullptr;
  // Wraps a core page handler in a COM page-handler object for the host.
  std::function<ComPtr<IDispatch>(std::shared_ptr<host::PropertyManagerPage2Handler>)> wrapHandler;
};

class ComApplication : public host::Application {
 public:
  ComApplication(ComPtr<IDispatch> app, AddinObjects addin);

  std::shared_ptr<host::Document> ActiveDoc() override;
  std::shared_ptr<host::Frame> GetFrame() override;
  bool RemoveMenu(std::int32_t docType, const std::string& menuItem, const std::string& callback) override;
  std::string GetLocalizedMenuName(std::int32_t menuId) override;
  bool SetAddinCallbackInfo(std::uintptr_t moduleHandle, host::CallbackTarget& callbacks,
                            std::int32_t cookie) override;
  bool AddMenuItem2(std::int32_t docType, std::int32_t cookie, const std::string& menuItem,
                    std::int32_t position, const std::string& menuCallback,
                    const std::string& menuEnableMethod, const std::string& hint) override;
  std::shared_ptr<host::Page> CreatePropertyManagerPage(
      const std::string& title, std::int32_t options,
      std::shared_ptr<host::PropertyManagerPage2Handler> handler, std::int32_t& errors) override;

 private:
  Dispatcher app_;
  AddinObjects addin_;
};

}  // namespace kelvane::com
