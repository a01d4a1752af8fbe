// The simulated host: an in-memory stand-in for the CAD application that behaves like
// the real one where the add-in can tell, with knobs for failures. It serves the tests,
// the fuzzers and the kelvane command-line program.
//
// Two sides:
//  - the host operations (host::Application and friends), which the add-in calls; each
//    is counted, recorded in the call log when a test switches it on, and can be made
//    to fail by name (Faults);
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
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/fault_plan.h"
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

// The host operations, in the order of Faults::operations().
enum class Op : std::uint8_t {
  ActiveDocument, Frame, SetStatusBarText, RemoveMenuItem, MenuName, RegisterCallbacks, AddMenuItem,
  CreatePage, AddCustomProperty, GetCustomProperty, SetCustomProperty, DeleteCustomProperty,
  GetConfigurationCount, GetConfigurationNames, GetActiveConfiguration, ConfigurationName, GetTitle,
  GetUserPreferenceDouble, AddGroup, ShowPage, ClosePage, AddControl, SetChecked, SetEnabled, AddItems,
  GetCurrentSelection, SetCurrentSelection, ItemText, GetText, SetText,
};

// The fault plan and the call log, shared by every object of one host.
class Faults {
 public:
  // The stable names of every host operation, in the order of Op.
  static const std::vector<std::string>& operations();
  static bool isOperation(const std::string& name);

  // The `nth` next call (1 = the very next) of `operation` fails with HostError.
  // Throws std::invalid_argument for an unknown operation or nth < 1.
  void failNext(const std::string& operation, int nth = 1) { plan_.failNext(operation, nth); }
  // Removes every pending fault.
  void clear() { plan_.clear(); }

  // Counts a call, records it when the log is on, and throws HostError(operation) when
  // a fault is due. The arguments become text only for the log.
  template <typename... Args>
  void hit(Op op, const Args&... args) {
    const auto at = static_cast<std::size_t>(op);
    ++count_;
    if (logging_) calls.push_back({operations()[at], {asText(args)...}});
    if (plan_.due(at)) throw host::HostError(operations()[at]);
  }

  // The call log: every host call with its arguments as text, in order. It is off
  // unless asked for, since a large page makes hundreds of thousands of calls.
  void logCalls(bool on = true) { logging_ = on; }
  std::vector<CallRecord> calls;
  // Host calls made so far, logged or not.
  std::size_t callCount() const { return count_; }

 private:
  static std::string asText(std::string_view s) { return std::string(s); }
  static std::string asText(bool b) { return b ? "true" : "false"; }
  template <typename Number>
    requires std::is_integral_v<Number>
  static std::string asText(Number n) {
    return std::to_string(n);
  }

  FaultPlan plan_{operations(), "host operation"};
  bool logging_ = false;
  std::size_t count_ = 0;
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
  bool add(std::string_view name, std::string_view value);  // false when it exists
  std::optional<std::string> get(std::string_view name) const;
  void set(std::string_view name, std::string_view value);  // creates when missing
  bool remove(std::string_view name);                           // false when missing
  const std::vector<Property>& all() const;
  bool operator==(const PropertySet& other) const { return all() == other.all(); }

 private:
  // The index: open addressing with linear probing, at most three quarters full, so
  // that the indexes of many sets stay in cache. A slot holds a position in props_ and
  // the name's hash, so that probing and growing read no names but the one that
  // matches.
  struct Slot {
    std::uint32_t pos;
    std::uint32_t hash;
  };
  static constexpr std::uint32_t kFree = UINT32_MAX;

  // Hashes and compares names with ASCII letters folded, on the caller's text.
  static std::uint32_t hashOf(std::string_view name);
  static bool sameName(std::string_view a, std::string_view b);
  // The slot that holds `name`, or the free slot where it would go; slots_ not empty.
  std::size_t probe(std::string_view name, std::uint32_t hash) const;
  std::optional<std::size_t> find(std::string_view name) const;
  void grow();
  void freeSlot(std::size_t at);
  void compact() const;

  // A removal leaves its entry behind until the list is read, so that removing many
  // properties costs once the length of the list, not once per removal. An entry is
  // live when a slot points at it.
  mutable std::vector<Property> props_;
  mutable std::vector<Slot> slots_;
  std::size_t live_ = 0;             // entries that a slot points at
  mutable std::size_t removed_ = 0;  // entries of props_ left behind by removals
  // Where the next lookup looks first: the entry after the last one found. Reading
  // properties in the order they were written, as the add-in does, then touches
  // neither the index nor memory far from the last lookup.
  mutable std::size_t next_ = 0;
};

// Property sets by configuration name: a std::map that counts every change that may
// drop an entry, so that an index of its entries knows when to start over.
class PropertySetsByName : public std::map<std::string, PropertySet, std::less<>> {
 public:
  using Base = std::map<std::string, PropertySet, std::less<>>;
  using Base::Base;
  PropertySetsByName(const PropertySetsByName&) = default;
  PropertySetsByName(PropertySetsByName&&) = default;
  PropertySetsByName& operator=(const PropertySetsByName& other) {
    Base::operator=(other);
    ++generation_;
    return *this;
  }
  PropertySetsByName& operator=(PropertySetsByName&& other) noexcept {
    Base::operator=(std::move(other));
    ++generation_;
    ++other.generation_;
    return *this;
  }
  template <typename... Args>
  auto erase(Args&&... args) {
    ++generation_;
    return Base::erase(std::forward<Args>(args)...);
  }
  template <typename... Args>
  auto extract(Args&&... args) {
    ++generation_;
    return Base::extract(std::forward<Args>(args)...);
  }
  void clear() noexcept {
    ++generation_;
    Base::clear();
  }
  void swap(PropertySetsByName& other) noexcept {
    Base::swap(other);
    ++generation_;
    ++other.generation_;
  }
  std::uint64_t generation() const { return generation_; }

 private:
  std::uint64_t generation_ = 0;
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
  PropertySetsByName configurationProperties;  // by configuration name

  // Adds a configuration with no properties.
  void addConfiguration(const std::string& name);
  // The properties of `config` ("" = document-wide); throws HostError(operation) when
  // there is no such configuration.
  PropertySet& scope(std::string_view config, const std::string& operation);

  bool AddCustomInfo3(std::string_view config, std::string_view name, std::int32_t type,
                      std::string_view value) override;
  std::string GetCustomInfo2(std::string_view config, std::string_view name) override;
  void SetCustomInfo2(std::string_view config, std::string_view name, std::string_view value) override;
  bool DeleteCustomInfo2(std::string_view config, std::string_view name) override;
  std::int32_t GetConfigurationCount() override;
  std::vector<std::string> GetConfigurationNames() override;
  std::shared_ptr<host::Configuration> GetActiveConfiguration() override;  // null when none
  std::string GetTitle() override;
  double GetUserPreferenceDoubleValue(std::int32_t preference) override;

 private:
  // The entries of configurationProperties by name, hashed once per call instead of a
  // search of the ordered map. The names and sets of a map's entries stay where they
  // are until the entry goes, which changes the map's generation; a copied document
  // starts a cache of its own.
  struct ScopeCache {
    std::unordered_map<std::string_view, PropertySet*> byName;
    const PropertySetsByName* of = nullptr;
    std::uint64_t generation = 0;
    ScopeCache() = default;
    ScopeCache(const ScopeCache&) {}
    ScopeCache& operator=(const ScopeCache&) {
      byName.clear();
      of = nullptr;
      return *this;
    }
  };

  PropertySet* findScope(std::string_view config);  // null: no such configuration
  PropertySet& scope(std::string_view config, Op operation);

  std::shared_ptr<Faults> faults_;
  ScopeCache scopes_;
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
  void AddItems(std::string_view item) override;
  std::int16_t GetCurrentSelection() override;
  void SetCurrentSelection(std::int16_t index) override;  // outside the list: nothing selected
  std::string ItemText(std::int16_t index) override;      // "" outside the list
  std::string GetText() override;
  void SetText(std::string_view text) override;

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

  std::shared_ptr<host::Control> AddControl(std::int16_t id, std::int16_t kind, std::string_view caption,
                                            std::int16_t align, std::int32_t options,
                                            std::string_view tip) override;

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

  std::shared_ptr<host::Group> AddGroupBox(std::int16_t id, std::string_view caption,
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
