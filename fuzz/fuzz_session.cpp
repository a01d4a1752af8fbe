// A whole session on the simulated host. The input is cut at lines "%%" into a page
// definition, a log and a script of at most 64 commands, one per line:
//
//   menu | help | connect | disconnect | close R | text ID TEXT | select ID N |
//   check ID 0|1 | press ID | raw K ID N   (K: t c s b, the handler called directly) |
//   fail OP [N] (a host call fails) | pfail OP [N] (a platform call fails) |
//   nodoc | doc | activate K | addconfig NAME | prop NAME VALUE
//
// Checks: no crash, leak or undefined behaviour; while the page is open only the
// purge command writes to the document; the log is always either the old one or a
// complete new one; and in a session without injected failures the menu command is
// never left unavailable without a page to close.
#include <charconv>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "addin/swaddin.h"
#include "fuzz_support.h"
#include "pagedef/parser.h"
#include "platform/fake_platform.h"
#include "sim/sim.h"

using namespace kelvane;

namespace {

constexpr std::size_t kMaxCommands = 64;
constexpr int kPurgeButton = 20003;

std::string_view nextWord(std::string_view& rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  const std::size_t end = std::min(rest.find(' '), rest.size());
  std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  return word;
}

int number(std::string_view word, int otherwise = 0) {
  int value = otherwise;
  std::from_chars(word.data(), word.data() + word.size(), value);
  return value;
}

// The document's properties, empty scopes left out.
std::string snapshot(const sim::SimDocument& doc) {
  std::string out;
  for (const auto& p : doc.properties.all()) out += p.name + "=" + p.value + "\n";
  for (const auto& [name, set] : doc.configurationProperties) {
    if (set.all().empty()) continue;
    out += "[" + name + "]\n";
    for (const auto& p : set.all()) out += p.name + "=" + p.value + "\n";
  }
  return out;
}

class Session {
 public:
  Session(const std::string& definition, const std::string& log) {
    os.files[os.pathOf(pagedef::kIniFileName)] = definition;
    if (!log.empty()) os.files[os.pathOf(kLogFileName)] = log;
    oldLog_ = log;
    doc->title = "Bracket.SLDPRT";
    doc->density = 7.85;
    doc->addConfiguration("Default");
    doc->addConfiguration("Long");
    doc->configurationProperties["Long"].set("Part_No", "A-100");
    doc->properties.set("Description", "Bracket");
    host->activeDocument = doc;
  }

  void run(std::string_view line) {
    std::string_view rest = line;
    const std::string_view verb = nextWord(rest);
    const bool pageWasShown = shown();
    const std::string before = snapshot(*doc);
    bool writes = true;  // whether the command may write to the document

    try {
      if (verb == "menu") {
        host->pickMenu();
        checkMenuAfterOpening();
        writes = false;
      } else if (verb == "help") {
        host->help();
        writes = false;
      } else if (verb == "connect") {
        connect();
      } else if (verb == "disconnect") {
        if (connected_) {
          connected_ = false;
          addin.SwAddIn_DisconnectFromSW();
        }
      } else if (verb == "close") {
        const bool closed = host->closePage(number(nextWord(rest), 1));
        if (closed && !faulted_) {
          fuzz::require(host->menuStatusNow().value_or(1) == 1, "menu available after close");
        }
      } else if (verb == "text") {
        const int id = number(nextWord(rest));
        host->typeText(id, std::string(rest.empty() ? rest : rest.substr(1)));
        writes = false;
      } else if (verb == "select") {
        const int id = number(nextWord(rest));
        host->selectItem(id, number(nextWord(rest)));
        writes = false;
      } else if (verb == "check") {
        const int id = number(nextWord(rest));
        host->checkBox(id, number(nextWord(rest)) != 0);
        writes = false;
      } else if (verb == "press") {
        const int id = number(nextWord(rest));
        writes = id == kPurgeButton;
        host->pressButton(id);
      } else if (verb == "raw") {
        writes = raw(rest);
      } else if (verb == "fail") {
        const std::string op(nextWord(rest));
        if (sim::Faults::isOperation(op)) {
          host->faults->failNext(op, std::max(1, number(nextWord(rest), 1)));
          faulted_ = true;
        }
      } else if (verb == "pfail") {
        const std::string op(nextWord(rest));
        try {
          os.failNext(op, std::max(1, number(nextWord(rest), 1)));
          faulted_ = true;
        } catch (const std::invalid_argument&) {
        }
      } else if (verb == "nodoc") {
        host->activeDocument = nullptr;
      } else if (verb == "doc") {
        host->activeDocument = doc;
      } else if (verb == "activate") {
        if (!doc->configurations.empty())
          doc->activeConfiguration = number(nextWord(rest)) % static_cast<int>(doc->configurations.size());
      } else if (verb == "addconfig") {
        if (doc->configurations.size() < 8) doc->addConfiguration(std::string(nextWord(rest)));
      } else if (verb == "prop") {
        const std::string name(nextWord(rest));
        doc->properties.set(name, std::string(rest.empty() ? rest : rest.substr(1)));
      }
    } catch (const std::exception&) {
      // The host reports a failed call into the add-in and carries on.
    }

    if (pageWasShown && !writes) {
      fuzz::require(snapshot(*doc) == before, "document written while the page is open",
                    std::string(line));
    }
    checkLog();
  }

  void connect() {
    if (connected_) return;
    connected_ = true;
    addin.SwAddIn_ConnectToSW(host, 7);
  }

  void finish() {
    try {
      if (connected_) addin.SwAddIn_DisconnectFromSW();
    } catch (const std::exception&) {
    }
    checkLog();
  }

 private:
  bool shown() const { return host->page && host->page->shown; }

  // The handler called as the host would, with whatever id and value.
  bool raw(std::string_view rest) {
    const std::string_view kind = nextWord(rest);
    const int id = number(nextWord(rest));
    const int value = number(nextWord(rest));
    if (!shown() || !host->page->handler) return false;
    auto& handler = *host->page->handler;
    if (kind == "t") handler.PropertyManagerPage2Handler_OnTextboxChanged(id, std::string(rest));
    if (kind == "c") handler.PropertyManagerPage2Handler_OnCheckboxCheck(id, value != 0);
    if (kind == "s") handler.PropertyManagerPage2Handler_OnComboboxSelectionChanged(id, value);
    if (kind == "b") {
      handler.PropertyManagerPage2Handler_OnButtonPress(id);
      return id == kPurgeButton;
    }
    return false;
  }

  // Without injected failures an opening either shows the page, with the command
  // unavailable, or leaves the command available.
  void checkMenuAfterOpening() {
    if (faulted_ || !connected_) return;
    const auto status = host->menuStatusNow();
    if (!status) return;
    fuzz::require(*status == (shown() ? 0 : 1), "menu state after opening",
                  std::to_string(*status));
  }

  // The log is never half-written: the old bytes or a complete new log.
  void checkLog() {
    const auto found = os.files.find(os.pathOf(kLogFileName));
    if (found == os.files.end()) {
      fuzz::require(oldLog_.empty(), "log lost");
      return;
    }
    if (found->second == oldLog_) return;
    const std::string& log = found->second;
    fuzz::require(log.rfind("# File written by Kelvane 1.1 on ", 0) == 0, "log header", log);
    fuzz::require(log.find("\r\n# Do not edit of modify this file\r\n\r\n") != std::string::npos,
                  "log header complete", log);
    oldLog_ = log;
  }

 public:
  platform::FakePlatform os;
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  std::shared_ptr<sim::SimDocument> doc = host->newDocument();
  swAddIn addin{os};

 private:
  std::string oldLog_;
  bool connected_ = false;
  bool faulted_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto parts = fuzz::cutParts(input, "%%", 3);
  const std::string definition = parts[0];
  const std::string log = parts.size() > 1 ? parts[1] : "";
  const std::string script = parts.size() > 2 ? parts[2] : "menu\nclose 1\n";

  Session session(definition, log);
  session.connect();
  std::size_t commands = 0;
  std::string_view rest = script;
  while (!rest.empty() && commands < kMaxCommands) {
    const std::size_t eol = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(std::min(eol + 1, rest.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    session.run(line);
    ++commands;
  }
  session.finish();
  return 0;
}
