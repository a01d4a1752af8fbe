// The one State of an add-in: the page definition model, the page-wide values, the
// add-in state and the page's fixed controls. swAddIn owns it; the page handler and
// every procedure work on it by reference. There are no globals.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/failure.h"
#include "host/host.h"
#include "pagedef/model.h"
#include "platform/platform.h"

namespace kelvane {

inline constexpr const char* kProgramTitle = "Kelvane 1.1";
inline constexpr const char* kCopyrightNotice = "Copyright (c) 2026 the Kelvane developers";
inline constexpr const char* kLogFileName = "Kelvane.log";

// Fixed control ids.
namespace ids {
inline constexpr int kConfigGroup = 10000;
inline constexpr int kConfigLabel = 10001;
inline constexpr int kConfigCombo = 10002;
inline constexpr int kUseConfigsCheck = 10003;
inline constexpr int kToolsGroup = 20000;
inline constexpr int kResetButton = 20001;
inline constexpr int kDefaultsButton = 20002;
inline constexpr int kPurgeButton = 20003;
inline constexpr int kEditButton = 20004;
}  // namespace ids

// Status-bar texts.
namespace status {
inline constexpr const char* kSaveError = "Error in saveCP";
inline constexpr const char* kReadError = "Error in readCP";
inline constexpr const char* kLoadError = "Error in loadCP";
inline constexpr const char* kLogWriteError = "Error writing log file";
inline constexpr const char* kLogReadError = "Error reading log file";
inline constexpr const char* kResetError = "Error resetting fields";
inline constexpr const char* kPurgeError = "Purge Custom Properties failed";
inline constexpr const char* kCompositeError = "Composite fields construction failed";
inline constexpr const char* kExitOnError = "Exit on error";
inline constexpr const char* kIniReadError = "Kelvane.ini read error; Quitting";
inline constexpr const char* kNoHelp = "No help available";
inline constexpr const char* kFarewell = "Thank you for using Kelvane";
}  // namespace status

// The empty mark: what a slot holds once the user emptied its box, and what an empty
// slot is saved as.
inline constexpr const char* kEmptyMark = " ";

// Where the value in a slot came from. OK writes a slot only when the document's own
// value is known or the user replaced it, so a failed read never costs a value.
enum class SlotOrigin : std::uint8_t {
  Unread,    // not read from the document (yet, or a read stopped before it)
  Document,  // the document's value, or built from such values
  Default,   // the document had none; the page put a default in
  User,      // typed, chosen, or set by a tool since
};

// What page construction binds to a field: its controls and its value slots.
struct FieldBinding {
  std::shared_ptr<host::Control> control;
  std::shared_ptr<host::Control> label;
  std::vector<std::string> configValues;  // one slot per configuration
  std::vector<SlotOrigin> origins;        // parallel to configValues
  // Combo box entries added for document values that name no list entry, so that
  // the page shows, and OK keeps, what the document holds. After the list's entries.
  std::vector<std::string> extraItems;

  // The value in slot `k` now comes from `origin`.
  void setSlot(std::size_t k, std::string value, SlotOrigin origin) {
    configValues.at(k) = std::move(value);
    origins.at(k) = origin;
  }
};

// What page construction binds to a group: its group box and its fields' bindings,
// parallel to the group's fields.
struct GroupBinding {
  std::shared_ptr<host::Group> pageGroup;
  std::vector<FieldBinding> fields;
};

struct State {
  State(platform::Platform& os) : platform(os) {}

  platform::Platform& platform;

  // Add-in state, from connection to disconnection.
  std::shared_ptr<host::Application> ThisSW;
  std::int32_t Cookie = 0;
  std::shared_ptr<host::Page> propPage;
  std::string menuPath;
  std::string menuCallback;
  std::string menuEnableCallback;
  std::int32_t menuEnabled = 0;
  std::int32_t pageCreateError = 0;
  bool callStatus = false;  // results of called procedures land here; it decides nothing

  // Sees every exception that a trap stops, with the trapping procedure's name; empty
  // by default. Diagnostics only: what the user sees does not depend on it.
  FailureHook onFailure;

  // The page definition model, from DispPropMgr to the close of the page, and what the
  // page bound to it: `bindings` is parallel to model.groups once construction began.
  pagedef::PageDefinition model;
  std::vector<GroupBinding> bindings;

  // Kelvane.log as this opening read it: each caption's last line as it stands, so
  // that a remembered value nobody saw or changed is written back exactly as it was.
  enum class LogRead { None, Read, Failed };
  LogRead logRead = LogRead::None;
  std::unordered_map<std::string, std::string> logLines;

  // The last composite construction failed, so composite values may lag behind the
  // fields they are built from.
  bool compositesStale = false;

  // Page-wide values set by page construction.
  std::int16_t lastGroup = -1;
  std::int16_t configCount = 0;
  std::vector<std::string> configNames;
  std::int16_t currentConfig = 0;

  // The page's fixed controls.
  std::shared_ptr<host::Group> configGroup;
  std::shared_ptr<host::Control> configLabel;
  std::shared_ptr<host::Control> configCombo;
  std::shared_ptr<host::Control> useConfigsCheck;
  std::shared_ptr<host::Group> toolsGroup;
  std::array<std::shared_ptr<host::Control>, 4> toolButtons;

  // Lets go of the model, of its bindings and of every host reference they hold.
  void emptyModel();

  // The binding of field `f` of group `g`; out_of_range when it was never bound.
  FieldBinding& binding(std::size_t g, std::size_t f) { return bindings.at(g).fields.at(f); }
};

// Whether values are kept per configuration. They are only when the document has
// configurations to keep them in; without any, slot 0 is the document-wide value
// whatever the mode says, so that what the user types is not lost.
inline bool valuesPerConfiguration(const State& s) { return s.model.useConfigs && s.configCount > 0; }

// A host object that must be there: a missing one is a failed host call.
template <typename T>
std::shared_ptr<T> required(std::shared_ptr<T> object, const char* operation) {
  if (!object) throw host::HostError(operation, "no object returned");
  return object;
}

// A field's input control; a field that was never bound is an error, not a crash.
host::Control& controlOf(const pagedef::FieldDef& field, const FieldBinding& bound);

// Calls `visit(field, binding)` for every field of groups 0..lastGroup, in order.
template <typename Visit>
void forEachBoundField(State& s, Visit visit) {
  for (int g = 0; g <= s.lastGroup; ++g) {
    auto& fields = s.model.groups.at(g).fields;
    for (std::size_t f = 0; f < fields.size(); ++f) visit(fields[f], s.binding(g, f));
  }
}

// Shows `text` on the host's status bar (application frame, then SetStatusBarText).
void showStatus(State& s, const std::string& text);

// The active document, fetched anew; throws HostError("active-document") when none.
std::shared_ptr<host::Document> activeDocument(State& s);

// The error trap of `procedure`: runs `body`; when it throws, hands the exception to
// the failure hook, shows `statusText` and returns false. An error while showing the
// text reaches the caller.
bool trapped(State& s, const char* procedure, const char* statusText, const std::function<bool()>& body);

// Runs `body` for a procedure that goes on after a failure: an exception is handed to
// the failure hook and answered with false. The procedure reports it in the end.
bool attempted(State& s, const char* procedure, const std::function<void()>& body);

// Menu registration: remove for document types 1 then 2; add for 1 then 2.
void removeMenuItems(State& s);
void addMenuItems(State& s);

}  // namespace kelvane
