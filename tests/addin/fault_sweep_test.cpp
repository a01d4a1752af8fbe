// One full session of a user, run once clean and then once per host (or platform)
// call with that call failing. Every failure must be visible, and the document may
// only ever hold values that came from the user, the document, the definition or
// the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "page/session.h"

namespace kelvane::testing {
namespace {

struct Outcome {
  int failedCalls = 0;  // user actions whose call into the add-in failed
  int swallowed = 0;    // failed calls the host reported and went on
};

std::unique_ptr<Session> newSession() {
  auto session = std::make_unique<Session>(kDrawingIni, std::vector<std::string>{"Default", "Large"});
  auto& doc = *session->doc;
  doc.properties.set("USE_CONFIGS", "True");
  doc.properties.set("Part_No", "P-7");
  doc.properties.set("Other", "keep");
  doc.configurationProperties["Default"].set("Part_No", "D-1");
  doc.configurationProperties["Default"].set("Finish", "Painted");
  doc.configurationProperties["Large"].set("Part_No", "L-1");
  doc.configurationProperties["Large"].set("Code", "old-code");
  session->os.setFileText("Kelvane.log", "Drawn By;MR\n");
  return session;
}

// Connect, open, edit, switch configuration, every tool but the editor, save, reopen,
// switch the mode, cancel, disconnect.
Outcome runSession(Session& s) {
  Outcome out;
  s.host->onEvent = [&](const std::string& kind, const std::string&) { out.swallowed += kind == "error"; };
  const std::vector<std::function<void()>> actions = {
      [&] { s.connect(); },
      [&] { s.host->pickMenu(); },
      [&] { s.host->typeText(id::kPartNumber, "A-100"); },
      [&] { s.host->typeText(id::kDrawnBy, "KL"); },
      [&] { s.host->selectItem(id::kFinish, 2); },
      [&] { s.host->selectItem(10002, 1); },
      [&] { s.host->typeText(id::kPartNumber, "L-5"); },
      [&] { s.host->selectItem(10002, 0); },
      [&] { s.host->pressButton(20001); },
      [&] { s.host->pressButton(20002); },
      [&] { s.host->pressButton(20003); },
      [&] { s.host->typeText(id::kDescription, "Plate"); },
      [&] { s.host->help(); },
      [&] { s.host->closePage(1); },
      [&] { s.host->pickMenu(); },
      [&] { s.host->checkBox(10003, false); },
      [&] { s.host->typeText(id::kPartNumber, "B-2"); },
      [&] { s.host->closePage(2); },
      [&] { s.addin.SwAddIn_DisconnectFromSW(); },
  };
  for (const auto& action : actions) {
    try {
      action();
    } catch (const std::exception&) {
      ++out.failedCalls;
    }
  }
  return out;
}

// What each property may hold afterwards; " " and "" are always allowed.
std::map<std::string, std::set<std::string>> allowedValues() {
  std::map<std::string, std::set<std::string>> allowed = {
      {"USE_CONFIGS", {"True", "False"}},
      {"Other", {"keep"}},
      {"Drawn_By", {"JD", "KL", "MR"}},
      {"Title", {"Bracket", "Plate"}},
      {"Part_No", {"P-7", "D-1", "L-1", "A-100", "L-5", "B-2"}},
      {"Finish", {"Painted", "Anodized", "Raw"}},
      {"Code", {"old-code", "<>"}},
  };
  std::set<std::string> partNumbers = allowed["Part_No"];
  partNumbers.insert({"", " "});
  for (const auto& number : partNumbers) {
    for (const char* code : {"P", "A", ""}) {
      const std::string composite = number + "-" + code;
      allowed["Code"].insert({composite, text::trimSpaces(composite)});
    }
  }
  return allowed;
}

bool showsAnErrorText(const Session& s) {
  static const std::set<std::string> texts = {
      status::kSaveError,   status::kReadError,    status::kLoadError,      status::kLogWriteError,
      status::kLogReadError, status::kResetError,  status::kPurgeError,     status::kCompositeError,
      status::kExitOnError, status::kIniReadError,
  };
  return std::any_of(s.host->statusTexts.begin(), s.host->statusTexts.end(),
                     [&](const std::string& t) { return texts.contains(t); });
}

// Adds a failure for every property value that did not come from a known source.
void expectOnlyKnownValues(Session& s, const std::string& label) {
  static const auto allowed = allowedValues();
  auto check = [&](const std::string& scope, const sim::PropertySet& set) {
    for (const auto& p : set.all()) {
      const auto found = allowed.find(p.name);
      const bool known = p.value == " " || p.value.empty() ||
                         (found != allowed.end() && found->second.contains(p.value));
      EXPECT_TRUE(known) << label << ": [" << scope << "] " << p.name << "='" << p.value << "'";
    }
  };
  check("document", s.doc->properties);
  for (const auto& [name, set] : s.doc->configurationProperties) check(name, set);
}

using Inject = std::function<void(Session&, const std::string& operation, int nth)>;

// Runs the session once per call of `operations` with that call failing.
void sweep(const std::vector<std::string>& operations, const Inject& inject) {
  std::map<std::string, int> seen;
  for (std::size_t k = 0; k < operations.size(); ++k) {
    const std::string& op = operations[k];
    const int nth = ++seen[op];
    const std::string label = "call " + std::to_string(k + 1) + " (" + op + " #" + std::to_string(nth) + ")";

    auto session = newSession();
    inject(*session, op, nth);
    const Outcome out = runSession(*session);

    EXPECT_TRUE(out.failedCalls + out.swallowed > 0 || showsAnErrorText(*session))
        << label << " failed unseen";
    expectOnlyKnownValues(*session, label);
  }
}

TEST(FaultSweep, TheCleanSessionSavesTheEditsAndReportsNoError) {
  auto session = newSession();
  const Outcome out = runSession(*session);

  EXPECT_EQ(out.failedCalls, 0);
  EXPECT_EQ(out.swallowed, 0);
  EXPECT_FALSE(showsAnErrorText(*session));
  EXPECT_EQ(session->property("Default", "Title"), "Plate");
  EXPECT_EQ(session->property("Large", "Part_No"), "L-5");
  EXPECT_EQ(session->property("Default", "Code"), "-A");
  EXPECT_TRUE(session->host->menu.empty());
  expectOnlyKnownValues(*session, "clean run");
}

TEST(FaultSweep, EveryFailingHostCallIsVisibleAndLeavesOnlyKnownValues) {
  auto clean = newSession();
  runSession(*clean);
  std::vector<std::string> operations;
  for (const auto& call : clean->host->faults->calls) operations.push_back(call.operation);
  ASSERT_GT(operations.size(), 100u);

  sweep(operations, [](Session& s, const std::string& op, int nth) { s.host->faults->failNext(op, nth); });
}

TEST(FaultSweep, EveryFailingPlatformCallIsVisibleAndLeavesOnlyKnownValues) {
  auto clean = newSession();
  runSession(*clean);
  ASSERT_GT(clean->os.calls.size(), 10u);

  sweep(clean->os.calls, [](Session& s, const std::string& op, int nth) { s.os.failNext(op, nth); });
}

}  // namespace
}  // namespace kelvane::testing
