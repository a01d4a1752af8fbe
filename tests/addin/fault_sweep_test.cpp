// Sessions of a user, each run once clean and then once per host (or platform) call
// with that call failing. Every failure must be visible, and the document may only
// ever hold values that came from the user, the document, the definition or the log.
// A session that edits nothing must leave every value the document held as it was,
// and Kelvane.log no shorter; a session that edits one field must save it or show
// "Error in saveCP".
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

using Actions = std::vector<std::function<void()>>;

Outcome run(Session& s, const Actions& actions) {
  Outcome out;
  s.host->onEvent = [&](const std::string& kind, const std::string&) { out.swallowed += kind == "error"; };
  for (const auto& action : actions) {
    try {
      action();
    } catch (const std::exception&) {
      ++out.failedCalls;
    }
  }
  return out;
}

// Connect, open, edit, switch configuration, every tool but the editor, save, reopen,
// switch the mode, cancel, disconnect.
Outcome runSession(Session& s) {
  return run(s, {
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
  });
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
      {"Code", {"old-code"}},
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

// A session to sweep: how it starts, what the user does, and what must hold after it
// whichever call failed.
struct Scenario {
  std::function<std::unique_ptr<Session>()> start;
  std::function<Outcome(Session&)> run;
  std::function<void(Session&, const Outcome&, const std::string& label)> check;
};

void expectVisibleFailure(Session& s, const Outcome& out, const std::string& label) {
  EXPECT_TRUE(out.failedCalls + out.swallowed > 0 || showsAnErrorText(s)) << label << " failed unseen";
}

void expectVisibleFailureAndKnownValues(Session& s, const Outcome& out, const std::string& label) {
  expectVisibleFailure(s, out, label);
  expectOnlyKnownValues(s, label);
}

const Scenario kEditingSession = {newSession, runSession, expectVisibleFailureAndKnownValues};

// Runs the scenario once per call of `operations` with that call failing.
void sweep(const Scenario& scenario, const std::vector<std::string>& operations, const Inject& inject) {
  std::map<std::string, int> seen;
  for (std::size_t k = 0; k < operations.size(); ++k) {
    const std::string& op = operations[k];
    const int nth = ++seen[op];
    const std::string label = "call " + std::to_string(k + 1) + " (" + op + " #" + std::to_string(nth) + ")";

    auto session = scenario.start();
    inject(*session, op, nth);
    const Outcome out = scenario.run(*session);
    scenario.check(*session, out, label);
  }
}

// Sweeps every host call, then every platform call, of the scenario's clean run.
void sweepEveryCall(const Scenario& scenario) {
  auto clean = scenario.start();
  scenario.run(*clean);
  std::vector<std::string> operations;
  for (const auto& call : clean->host->faults->calls) operations.push_back(call.operation);
  ASSERT_GT(operations.size(), 20u);
  sweep(scenario, operations, [](Session& s, const std::string& op, int nth) { s.host->faults->failNext(op, nth); });
  ASSERT_GT(clean->os.calls.size(), 5u);
  sweep(scenario, clean->os.calls, [](Session& s, const std::string& op, int nth) { s.os.failNext(op, nth); });
}

// ---- Nothing edited ----

// Every field has a value of its own, in each configuration and document-wide: a list
// value that names no entry among them, and codes consistent with it. Drawn By has none;
// its line in the log holds a value the reader would cut.
std::unique_ptr<Session> heldValuesSession(bool useConfigs) {
  auto session = std::make_unique<Session>(kDrawingIni, std::vector<std::string>{"Default", "Large"});
  auto& doc = *session->doc;
  doc.properties.set("USE_CONFIGS", useConfigs ? "True" : "False");
  doc.properties.set("Other", "keep");
  auto fill = [](sim::PropertySet& set, const std::string& number, const std::string& finish, const std::string& code) {
    set.set("Title", "Plate " + number);
    set.set("Part_No", number);
    set.set("Finish", finish);
    set.set("Code", number + "-" + code);
  };
  fill(doc.properties, "P-1", "Brushed", "");
  fill(doc.configurationProperties["Default"], "D-1", "Raw", "");
  fill(doc.configurationProperties["Large"], "L-1", "Painted", "P");
  session->os.setFileText("Kelvane.log", "Drawn By;J. Smith #4; QA\r\n");
  return session;
}

// Open and close with OK twice, then disconnect: nobody types or chooses anything.
Outcome openAndConfirmTwice(Session& s) {
  return run(s, {
      [&] { s.connect(); },
      [&] { s.host->pickMenu(); },
      [&] { s.host->closePage(1); },
      [&] { s.host->pickMenu(); },
      [&] { s.host->closePage(1); },
      [&] { s.addin.SwAddIn_DisconnectFromSW(); },
  });
}

// The data lines of a log: what the reader would take.
std::vector<std::string> dataLines(const std::string& log) {
  std::vector<std::string> lines;
  for (const auto& line : text::split(log, '\n')) {
    if (line.empty() || line.front() == '#' || line == "\r") continue;
    lines.push_back(line);
  }
  return lines;
}

void expectHeldValuesKept(const sim::PropertySet& before, const sim::PropertySet& after, const std::string& where) {
  for (const auto& p : before.all())
    EXPECT_EQ(after.get(p.name).value_or("<absent>"), p.value) << where << " " << p.name;
}

// Every value the document held is still there, and the log is neither shorter nor cut.
void expectNothingLost(Session& s, bool useConfigs, const std::string& label) {
  const auto before = heldValuesSession(useConfigs);
  const std::string where = label + (useConfigs ? ", per configuration:" : ", document-wide:");
  expectHeldValuesKept(before->doc->properties, s.doc->properties, where + " [document]");
  for (const auto& [name, set] : before->doc->configurationProperties)
    expectHeldValuesKept(set, s.doc->configurationProperties[name], where + " [" + name + "]");
  const auto lines = dataLines(s.os.fileText("Kelvane.log"));
  EXPECT_GE(lines.size(), 1u) << where;
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "Drawn By;J. Smith\r"), lines.end()) << where;
}

Scenario untouched(bool useConfigs) {
  return {[=] { return heldValuesSession(useConfigs); }, openAndConfirmTwice,
          [=](Session& s, const Outcome& out, const std::string& label) {
            expectNothingLost(s, useConfigs, label);
            expectVisibleFailure(s, out, label);
          }};
}

TEST(FaultSweep, OpeningAndConfirmingWithoutEditsChangesNoValueTheDocumentHeld) {
  for (bool useConfigs : {false, true}) {
    const Scenario scenario = untouched(useConfigs);
    auto clean = scenario.start();
    scenario.run(*clean);
    EXPECT_FALSE(showsAnErrorText(*clean));
    expectNothingLost(*clean, useConfigs, "clean run");
    // The remembered value that would have been cut is not taken: the definition's
    // default is saved instead, and then remembered.
    EXPECT_EQ(clean->property(useConfigs ? "Default" : "", "Drawn_By"), "JD");
    EXPECT_EQ(dataLines(clean->os.fileText("Kelvane.log")),
              (std::vector<std::string>{"Drawn By;JD\r", std::string("Part Number;") + (useConfigs ? "D-1" : "P-1") + "\r"}));
    sweepEveryCall(scenario);
  }
}

// ---- One edit ----

Scenario oneEdit(bool useConfigs) {
  return {[=] { return heldValuesSession(useConfigs); },
          [](Session& s) {
            return run(s, {
                [&] { s.connect(); },
                [&] { s.host->pickMenu(); },
                [&] { s.host->typeText(id::kPartNumber, "EDITED"); },
                [&] { s.host->closePage(1); },
            });
          },
          [=](Session& s, const Outcome& out, const std::string& label) {
            const bool saved = s.property(useConfigs ? "Default" : "", "Part_No") == "EDITED";
            const auto& texts = s.host->statusTexts;
            const bool reported = std::find(texts.begin(), texts.end(), status::kSaveError) != texts.end();
            EXPECT_TRUE(saved || reported || out.failedCalls + out.swallowed > 0) << label << ": the edit was lost unseen";
          }};
}

TEST(FaultSweep, AnEditIsSavedOrItsLossIsShown) {
  for (bool useConfigs : {false, true}) sweepEveryCall(oneEdit(useConfigs));
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

TEST(FaultSweep, EveryFailingCallOfAnEditingSessionIsVisibleAndLeavesOnlyKnownValues) {
  sweepEveryCall(kEditingSession);
}

}  // namespace
}  // namespace kelvane::testing
