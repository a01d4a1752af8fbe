// The host application as the add-in sees it: exactly the operations the add-in
// calls, in the host's own terms and with no COM types. Two implementations exist:
// the simulated host (src/sim) and the adapters over the real host's COM objects
// (src/com). Host objects are reference-counted by the host, hence shared_ptr.
//
// Every operation that fails throws HostError; the message names the operation.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::host {

class HostError : public std::runtime_error {
 public:
  // `operation` is the operation's stable name (e.g. "add-control"); `detail` is optional.
  explicit HostError(const std::string& operation, const std::string& detail = "");
  const std::string& operation() const { return operation_; }

 private:
  std::string operation_;
};

// Codes the add-in passes through unchanged.
namespace code {
inline constexpr int kDocTypePart = 1;
inline constexpr int kDocTypeAssembly = 2;
inline constexpr int kToolsMenu = 4;
inline constexpr int kPropertyTypeText = 30;
inline constexpr int kPreferenceDensity = 7;
inline constexpr int kPageOptions = 7;
inline constexpr int kKindLabel = 1;
inline constexpr int kKindCheckbox = 2;
inline constexpr int kKindButton = 3;
inline constexpr int kKindTextbox = 5;
inline constexpr int kKindCombobox = 7;
inline constexpr int kAlignDefault = 2;
inline constexpr int kCloseOkay = 1;
inline constexpr int kCloseCancel = 2;
}  // namespace code

class Frame {
 public:
  virtual ~Frame() = default;
  virtual void SetStatusBarText(std::string_view text) = 0;     // "set-status-bar-text"
};

// Any control of a page: label, checkbox, button, text box or combo box. Labels and
// buttons get no calls once created.
class Control {
 public:
  virtual ~Control() = default;
  virtual void SetChecked(bool checked) = 0;                  // "set-checked"   (checkbox)
  virtual void SetEnabled(bool enabled) = 0;                  // "set-enabled"   (checkbox, combo box)
  virtual void AddItems(std::string_view item) = 0;            // "add-items"
  virtual std::int16_t GetCurrentSelection() = 0;             // "get-current-selection"; -1: none
  virtual void SetCurrentSelection(std::int16_t index) = 0;   // "set-current-selection"
  virtual std::string ItemText(std::int16_t index) = 0;       // "item-text"; "" outside the list
  virtual std::string GetText() = 0;                          // "get-text"
  virtual void SetText(std::string_view text) = 0;             // "set-text"
};

class Group {
 public:
  virtual ~Group() = default;
  // "add-control"
  virtual std::shared_ptr<Control> AddControl(std::int16_t id, std::int16_t kind,
                                              std::string_view caption, std::int16_t align,
                                              std::int32_t options, std::string_view tip) = 0;
};

class Page {
 public:
  virtual ~Page() = default;
  // "add-group"
  virtual std::shared_ptr<Group> AddGroupBox(std::int16_t id, std::string_view caption,
                                             std::int32_t options) = 0;
  virtual std::int32_t Show() = 0;      // "show-page"; non-zero when shown
  virtual void Close(bool okay) = 0;    // "close-page"
};

class Configuration {
 public:
  virtual ~Configuration() = default;
  virtual std::string Name() = 0;  // "configuration-name"
};

// A document. Configuration name "" addresses the document-wide custom properties.
class Document {
 public:
  virtual ~Document() = default;
  // "add-custom-property": false when the property exists.
  virtual bool AddCustomInfo3(std::string_view config, std::string_view name,
                              std::int32_t type, std::string_view value) = 0;
  // "get-custom-property": "" when absent.
  virtual std::string GetCustomInfo2(std::string_view config, std::string_view name) = 0;
  // "set-custom-property"
  virtual void SetCustomInfo2(std::string_view config, std::string_view name,
                              std::string_view value) = 0;
  // "delete-custom-property": false when absent.
  virtual bool DeleteCustomInfo2(std::string_view config, std::string_view name) = 0;
  virtual std::int32_t GetConfigurationCount() = 0;                    // "get-configuration-count"
  virtual std::vector<std::string> GetConfigurationNames() = 0;        // "get-configuration-names"
  virtual std::shared_ptr<Configuration> GetActiveConfiguration() = 0; // "get-active-configuration"
  virtual std::string GetTitle() = 0;                                  // "get-title"
  virtual double GetUserPreferenceDoubleValue(std::int32_t preference) = 0;  // "get-user-preference-double"
};

// The page handler the add-in implements; the host calls it while the page is open.
// Methods are named interface, underscore, method. A method that throws is a failed
// call as far as the host is concerned.
class PropertyManagerPage2Handler {
 public:
  virtual ~PropertyManagerPage2Handler() = default;
  virtual void PropertyManagerPage2Handler_OnClose(std::int32_t reason) = 0;
  virtual void PropertyManagerPage2Handler_AfterClose() = 0;
  virtual bool PropertyManagerPage2Handler_OnHelp() = 0;
  virtual void PropertyManagerPage2Handler_OnGroupExpand(std::int32_t id, bool expanded) = 0;
  virtual void PropertyManagerPage2Handler_OnGroupCheck(std::int32_t id, bool checked) = 0;
  virtual void PropertyManagerPage2Handler_OnCheckboxCheck(std::int32_t id, bool checked) = 0;
  virtual void PropertyManagerPage2Handler_OnOptionCheck(std::int32_t id) = 0;
  virtual void PropertyManagerPage2Handler_OnButtonPress(std::int32_t id) = 0;
  virtual void PropertyManagerPage2Handler_OnTextboxChanged(std::int32_t id, const std::string& text) = 0;
  virtual void PropertyManagerPage2Handler_OnNumberboxChanged(std::int32_t id, double value) = 0;
  virtual void PropertyManagerPage2Handler_OnComboboxSelectionChanged(std::int32_t id, std::int32_t item) = 0;
  virtual void PropertyManagerPage2Handler_OnListboxSelectionChanged(std::int32_t id, std::int32_t item) = 0;
  virtual void PropertyManagerPage2Handler_OnSelectionboxFocusChanged(std::int32_t id) = 0;
  virtual void PropertyManagerPage2Handler_OnSelectionboxListChanged(std::int32_t id, std::int32_t count) = 0;
};

// The object registered for callbacks: the host calls its public methods by the names
// registered with the menu item ("DispPropMgr", "menuStatus", "swAddIn.menuStatus").
class CallbackTarget {
 public:
  virtual ~CallbackTarget() = default;
  // Calls the method `name` and returns its answer as a 32-bit integer (a Boolean
  // answer is -1 or 0). Throws HostError("invoke", name) for a name it does not have.
  virtual std::int32_t InvokeByName(const std::string& name) = 0;
};

class Application {
 public:
  virtual ~Application() = default;
  virtual std::shared_ptr<Document> ActiveDoc() = 0;  // "active-document"; null when none
  virtual std::shared_ptr<Frame> GetFrame() = 0;      // "frame"
  // "remove-menu-item"
  virtual bool RemoveMenu(std::int32_t docType, const std::string& menuItem,
                          const std::string& callback) = 0;
  virtual std::string GetLocalizedMenuName(std::int32_t menuId) = 0;  // "menu-name"
  // "register-callbacks"
  virtual bool SetAddinCallbackInfo(std::uintptr_t moduleHandle, CallbackTarget& callbacks,
                                    std::int32_t cookie) = 0;
  // "add-menu-item"
  virtual bool AddMenuItem2(std::int32_t docType, std::int32_t cookie, const std::string& menuItem,
                            std::int32_t position, const std::string& menuCallback,
                            const std::string& menuEnableMethod, const std::string& hint) = 0;
  // "create-page"; `errors` receives the host's error code.
  virtual std::shared_ptr<Page> CreatePropertyManagerPage(const std::string& title,
                                                          std::int32_t options,
                                                          std::shared_ptr<PropertyManagerPage2Handler> handler,
                                                          std::int32_t& errors) = 0;
};

// The host's add-in interface, implemented by swAddIn.
class SwAddin {
 public:
  virtual ~SwAddin() = default;
  virtual bool SwAddIn_ConnectToSW(std::shared_ptr<Application> thisSW, std::int32_t cookie) = 0;
  virtual bool SwAddIn_DisconnectFromSW() = 0;
};

}  // namespace kelvane::host
