// One add-in connected to the simulated host, with a Kelvane.ini in the fake module
// folder and one document open: what the page and add-in tests drive as a user would.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "addin/swaddin.h"
#include "pagedef/parser.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

namespace kelvane::testing {

// Ids: Drawn By 0, Description 1, Part Number 2 (labels 1, 3, 5); Finish 1000,
// Code 1001 (labels 1001, 1003).
inline constexpr const char* kDrawingIni =
    "# Drawing properties\n"
    ":ENABLE_INI_EDIT=Yes\n"
    "[Groups]\n"
    "Identification\n"
    "Manufacturing -\n"
    "[Identification]\n"
    "!Drawn By;;JD\n"
    "Description;Title;{FILE_NAME}\n"
    "!Part Number;Part_No\n"
    "[Manufacturing]\n"
    "Finish\n"
    "Code;;<Part Number!-!^Finish>\n"
    "[Finish]\n"
    "Painted;P\n"
    "*Anodized;A\n"
    "Raw\n";

namespace id {
inline constexpr int kDrawnBy = 0;
inline constexpr int kDescription = 1;
inline constexpr int kPartNumber = 2;
inline constexpr int kFinish = 1000;
inline constexpr int kCode = 1001;
}  // namespace id

inline constexpr std::int32_t kCookie = 42;

// The properties of one scope as "name=value" lines, in order.
inline std::string listed(const sim::PropertySet& set) {
  std::string out;
  for (const auto& p : set.all()) out += p.name + "=" + p.value + "\n";
  return out;
}

class Session {
 public:
  platform::FakePlatform os;
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  std::shared_ptr<sim::SimDocument> doc = host->newDocument();
  swAddIn addin{os};

  explicit Session(const std::string& ini = kDrawingIni,
                   const std::vector<std::string>& configurations = {"Default"}) {
    os.setFileText(pagedef::kIniFileName, ini);
    host->faults->logCalls();
    doc->title = "Bracket";
    for (const auto& name : configurations) doc->addConfiguration(name);
    host->activeDocument = doc;
  }

  State& state() { return addin.state(); }

  bool connect() { return addin.SwAddIn_ConnectToSW(host, kCookie); }

  // Picks the command; true when it ran and the page is shown.
  bool open() {
    return host->pickMenu() == sim::SimHost::MenuResult::Ran && host->page && host->page->shown;
  }

  sim::SimControl& control(int controlId, int kind) {
    sim::SimControl* found = host->page ? host->page->findControl(controlId, kind) : nullptr;
    if (!found) throw std::logic_error("no control " + std::to_string(controlId));
    return *found;
  }
  sim::SimControl& textBox(int controlId) { return control(controlId, host::code::kKindTextbox); }
  sim::SimControl& comboBox(int controlId) { return control(controlId, host::code::kKindCombobox); }
  sim::SimControl& checkbox() { return control(10003, host::code::kKindCheckbox); }

  std::string lastStatus() const {
    return host->statusTexts.empty() ? "" : host->statusTexts.back();
  }

  // A property as stored; "<absent>" when there is none.
  std::string property(const std::string& config, const std::string& name) {
    auto& scope = config.empty() ? doc->properties : doc->configurationProperties[config];
    return scope.get(name).value_or("<absent>");
  }

  // Every scope of the document, listed.
  std::string allProperties() const {
    std::string out = "[document]\n" + listed(doc->properties);
    for (const auto& [name, set] : doc->configurationProperties) out += "[" + name + "]\n" + listed(set);
    return out;
  }

  // The host operations called from call `from` on, by name.
  std::vector<std::string> operationsSince(std::size_t from) const {
    std::vector<std::string> names;
    for (std::size_t i = from; i < host->faults->calls.size(); ++i)
      names.push_back(host->faults->calls[i].operation);
    return names;
  }

  std::size_t countSince(std::size_t from, const std::string& operation) const {
    std::size_t n = 0;
    for (const auto& name : operationsSince(from)) n += name == operation;
    return n;
  }
};

}  // namespace kelvane::testing
