// The simulated host: an in-memory stand-in for the CAD application that behaves like
// the real one where the add-in can tell, with knobs for failures. It serves the tests,
// the fuzzers and the kelvane command-line program.
//
// Two sides:
//  - the host operations (host::Application and friends), which the add-in calls; each
//    is recorded in the call log and can be made to fail by name (Faults);
//  - the user's side (SimHost::pickMenu, typeText, ...), which changes controls the way
//    a person would and calls the add-in back. The user's side is never faulted; what a
//    person cannot do in the host it refuses with UserError.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/host.h"

namespace kelvane::sim {

// A user action the host does not allow; what() is the reason, e.g. "button 20004 is
// hidden". Nothing happened.
class UserError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CallRecord {
  std::string operation;            // e.g. "add-control"
  std::vector<std::string> args;    // arguments as text, in order
};

// The call log and the fault plan, shared by every object of one host.
class Faults {
 public:
  // The stable names of every host operation, in no particular order.
  static const std::vector<std::string>& operations();
  static bool isOperation(const std::string& name);

  // The `nth` next call (1 = the very next) of `operation` fails with HostError.
  // Throws std::invalid_argument for an unknown operation or nth < 1.
  void failNext(const std::string& operation, int nth = 1);
  // Removes every pending fault.
  void clear();

  // Records a call; throws HostError(operation) when a fault is due.
  void hit(const std::string& operation, std::vector<std::string> args = {});

  std::vector<CallRecord> calls;

 private:
  std::map<std::string, std::vector<int>> pending_;  // operation -> countdowns
};

// Custom properties of one scope: names match without regard to ASCII letter case and
// keep the spelling they were created with; insertion order is kept.
class PropertySet {
 public:
  struct Property {
    std::string name;
    std::string value;
    bool operator==(const Property&) const = default;
  };
  bool add(const std::string& name, const std::string& value);  // false when it exists
  std::optional<std::string> get(const std::string& name) const;
  void set(const std::string& name, const std::string& value);  // creates when missing
  bool remove(const std::string& name);                         // false when missing
  const std::vector<Property>& all() const { return props_; }
  bool operator==(const PropertySet& other) const { return props_ == other.props_; }

 private:
  // Position in props_ by ASCII-lower-cased name, so a lookup costs the same however
  // many properties the scope holds.
  std::optional<std::size_t> find(const std::string& name) const;

  std::vector<Property> props_;
  std::unordered_map<std::string, std::size_t> index_;
};

class SimConfiguration : public host::Configuration {
 public:
  SimConfiguration(std::shared_ptr<Faults> faults, std::string name);
  std::string Name() override;

 private:
  std::shared_ptr<Faults> faults_;
  std::string name_;
};

class SimDocument : public host::Document {
 public:
  explicit SimDocument(std::shared_ptr<Faults> faults);

  // The document's contents; tests and the command line set them directly.
  std::string title;
  double density = 0;                        // answers preference code 7; other codes 0
  std::vector<std::string> configurations;   // in order
  int activeConfiguration = 0;               // index into configurations
  PropertySet properties;                    // document-wide
  std::map<std::string, PropertySet> configurationProperties;  // by configuration name

  // Adds a configuration with no properties.
  void addConfiguration(const std::string& name);
  // The properties of `config` ("" = document-wide); throws HostError(operation) when
  // there is no such configuration.
  PropertySet& scope(const std::string& config, const std::string& operation);

  bool AddCustomInfo3(const std::string& config, const std::string& name, std::int32_t type,
                      const std::string& value) override;
  std::string GetCustomInfo2(const std::string& config, const std::string& name) override;
  void SetCustomInfo2(const std::string& config, const std::string& name,
                      const std::string& value) override;
  bool DeleteCustomInfo2(const std::string& config, const std::string& name) override;
  std::int32_t GetConfigurationCount() override;
  std::vector<std::string> GetConfigurationNames() override;
  std::shared_ptr<host::Configuration> GetActiveConfiguration() override;  // null when none
  std::string GetTitle() override;
  double GetUserPreferenceDoubleValue(std::int32_t preference) override;

 private:
  std::shared_ptr<Faults> faults_;
};

class SimControl : public host::Control {
 public:
  SimControl(std::shared_ptr<Faults> faults, std::int16_t id, std::int16_t kind, std::string caption,
             std::int16_t align, std::int32_t options, std::string tip);

  // What the page shows; the user's side changes these directly.
  std::int16_t id;
  std::int16_t kind;
  std::string caption;
  std::int16_t align;
  std::int32_t options;
  std::string tip;
  std::vector<std::string> items;
  std::string text;            // a combo box shows its selected entry's text
  std::int16_t selection = -1; // -1: nothing selected
  bool enabled = true;         // SetEnabled; the creation options decide as well
  bool checked = false;

  // The creation options: bit 1 shows the control, bit 2 lets a person change it.
  static constexpr std::int32_t kVisible = 1;
  static constexpr std::int32_t kEnabled = 2;
  bool visible() const { return (options & kVisible) != 0; }
  // Whether a person can use it: visible, enabled when created and not disabled since.
  bool usable() const { return visible() && (options & kEnabled) != 0 && enabled; }
  // "text box", "combo box", "checkbox", "button", "label", else "control of kind N".
  static std::string kindName(int kind);

  void SetChecked(bool checked) override;
  void SetEnabled(bool enabled) override;
  void AddItems(const std::string& item) override;
  std::int16_t GetCurrentSelection() override;
  void SetCurrentSelection(std::int16_t index) override;  // outside the list: nothing selected
  std::string ItemText(std::int16_t index) override;      // "" outside the list
  std::string GetText() override;
  void SetText(const std::string& text) override;

 private:
  std::shared_ptr<Faults> faults_;
};

class SimGroup : public host::Group {
 public:
  SimGroup(std::shared_ptr<Faults> faults, std::int16_t id, std::string caption, std::int32_t options);

  std::int16_t id;
  std::string caption;
  std::int32_t options;
  std::vector<std::shared_ptr<SimControl>> controls;  // in the order added

  std::shared_ptr<host::Control> AddControl(std::int16_t id, std::int16_t kind, const std::string& caption,
                                            std::int16_t align, std::int32_t options,
                                            const std::string& tip) override;

 private:
  std::shared_ptr<Faults> faults_;
};

class SimHost;

class SimPage : public host::Page {
 public:
  SimPage(SimHost& host, std::string title, std::int32_t options,
          std::shared_ptr<host::PropertyManagerPage2Handler> handler);

  std::string title;
  std::int32_t options;
  std::shared_ptr<host::PropertyManagerPage2Handler> handler;
  bool shown = false;
  std::vector<std::shared_ptr<SimGroup>> groups;  // in the order added

  // The first control in page order with this id and kind (kind 0: any kind).
  SimControl* findControl(int id, int kind = 0) const;

  std::shared_ptr<host::Group> AddGroupBox(std::int16_t id, const std::string& caption,
                                           std::int32_t options) override;
  std::int32_t Show() override;
  // On a shown page: OnClose(1 or 2), hide, discard groups and controls, AfterClose.
  // A handler failure is reported through SimHost::onEvent and does not stop the close.
  // On a page that is not shown: nothing.
  void Close(bool okay) override;

  // The close as the host runs it on a shown page, whoever asked for it: OnClose(reason),
  // hide, discard groups and controls, AfterClose; handler failures are reported.
  void closeWith(std::int32_t reason);

 private:
  SimHost& host_;
};

struct MenuItem {
  std::int32_t docType;
  std::int32_t cookie;
  std::string path;
  std::int32_t position;
  std::string callback;
  std::string enableCallback;
  std::string text;
};

class SimHost : public host::Application, public std::enable_shared_from_this<SimHost> {
 public:
  SimHost();

  std::shared_ptr<Faults> faults;
  std::shared_ptr<SimDocument> activeDocument;  // null: no document open
  std::vector<std::string> statusTexts;         // every status-bar text, in order
  std::vector<MenuItem> menu;                   // menu items, in the order added
  std::shared_ptr<SimPage> page;                // the last page created

  struct Callbacks {
    std::uintptr_t moduleHandle = 0;
    host::CallbackTarget* target = nullptr;
    std::int32_t cookie = 0;
  };
  std::optional<Callbacks> callbacks;           // set by SetAddinCallbackInfo

  // Called for what a person would see: ("status", text) for each status-bar text and
  // ("error", text) for each failed call into the add-in that the host swallowed.
  std::function<void(const std::string& kind, const std::string& text)> onEvent;

  // A new document with the host's fault plan; it is not made active.
  std::shared_ptr<SimDocument> newDocument();
  // "Tools" for menu 4, "File" 1, "Edit" 2, "View" 3, "Window" 5, "Help" 6, else "Menu N".
  static std::string menuName(std::int32_t menuId);

  // Host operations.
  std::shared_ptr<host::Document> ActiveDoc() override;
  std::shared_ptr<host::Frame> GetFrame() override;
  bool RemoveMenu(std::int32_t docType, const std::string& menuItem, const std::string& callback) override;
  std::string GetLocalizedMenuName(std::int32_t menuId) override;
  bool SetAddinCallbackInfo(std::uintptr_t moduleHandle, host::CallbackTarget& callbacks,
                            std::int32_t cookie) override;
  // An item with the same document type and path replaces the old one.
  bool AddMenuItem2(std::int32_t docType, std::int32_t cookie, const std::string& menuItem,
                    std::int32_t position, const std::string& menuCallback,
                    const std::string& menuEnableMethod, const std::string& hint) override;
  std::shared_ptr<host::Page> CreatePropertyManagerPage(
      const std::string& title, std::int32_t options,
      std::shared_ptr<host::PropertyManagerPage2Handler> handler, std::int32_t& errors) override;

  // The user's side. Each throws UserError, and does nothing else, when a person could
  // not do it: no page is shown, the shown page has no such control (the first of that
  // id and kind counts), or the control is hidden, read-only or disabled. Failures of
  // the add-in's methods propagate as their own exceptions, except where a close goes
  // on regardless (closePage). The others return true.
  enum class MenuResult { Ran, Unavailable };
  // The first menu item: asks its enable callback; on 1 calls its command callback.
  // Unavailable when there is no item or no registered callback object.
  MenuResult pickMenu();
  // The answer of the first menu item's enable callback, if there is one to ask.
  std::optional<std::int32_t> menuStatusNow();
  bool typeText(int id, const std::string& text);      // text box id
  bool selectItem(int id, int index);                  // combo box id; index must be in its list
  bool checkBox(int id, bool checked);                 // checkbox id
  bool pressButton(int id);                            // button id
  bool help();                                         // OnHelp
  // OnClose(reason), then hide and discard the page's controls, then AfterClose.
  bool closePage(int reason);

  // The page a person sees: null unless a page with a handler is shown.
  SimPage* shownPage() const;
  // The same, or UserError("no page is shown").
  SimPage& pageInUse() const;

  // Reports `text` as an error event.
  void reportError(const std::string& text);

 private:
  SimControl& usableControl(int id, int kind) const;    // a control a person can use, or UserError
  std::shared_ptr<host::PropertyManagerPage2Handler> handlerOfShownPage() const;

  std::shared_ptr<host::Frame> frame_;
};

}  // namespace kelvane::sim
