// Platform failures swept call by call: a clean run records the platform calls that
// an opening, a saving close or the edit command makes, then each call in turn fails
// in a fresh session. Every failure must give what the add-in promises for it and
// lose nothing: the previous log and the document's properties stay as they were
// wherever nothing was written yet.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "logfile/logfile.h"
#include "page/session.h"
#include "pagedef/parser.h"

namespace kelvane::testing {
namespace {

constexpr const char* kPreviousLog =
    "# File written by Kelvane 1.1 on 01/01/2026 08:00\r\n"
    "# Kelvane is Copyright (c) 2026 the Kelvane developers\r\n"
    "# Do not edit of modify this file\r\n"
    "\r\n"
    "Drawn By;KL\r\n"
    "Part Number;B-7\r\n";

constexpr int kEditButton = 20004;

std::string logPath(const platform::FakePlatform& os) { return os.pathOf(kLogFileName); }

// Which occurrence of its operation call k (1-based) of `calls` is.
int occurrence(const std::vector<std::string>& calls, std::size_t k) {
  int nth = 0;
  for (std::size_t i = 0; i < k; ++i) nth += calls[i] == calls[k - 1];
  return nth;
}

// A connected add-in with the drawing definition, a previous log and a document with
// a value of its own.
struct Fixture {
  Session s;
  std::string propertiesBefore;

  explicit Fixture(bool withLog = true) {
    if (withLog) s.os.files[logPath(s.os)] = kPreviousLog;
    s.doc->properties.set("Title", "Bracket with holes");
    s.connect();
    propertiesBefore = s.allProperties();
    s.os.calls.clear();
  }

  std::string log() const {
    auto found = s.os.files.find(logPath(s.os));
    return found == s.os.files.end() ? "<absent>" : found->second;
  }
  // Files beside the definition and the log, such as a temporary log.
  bool temporaryLeft() const {
    for (const auto& [path, bytes] : s.os.files)
      if (path != logPath(s.os) && path != s.os.pathOf(pagedef::kIniFileName)) return true;
    return false;
  }
  std::int32_t menuStatus() { return s.host->menuStatusNow().value_or(-99); }
  bool statusShown(const std::string& text) const {
    for (const auto& shown : s.host->statusTexts)
      if (shown == text) return true;
    return false;
  }
};

// The platform calls that `action` makes on a clean run of a fresh fixture.
std::vector<std::string> recordCalls(const std::function<void(Fixture&)>& prepare,
                                     const std::function<void(Fixture&)>& action) {
  Fixture clean;
  prepare(clean);
  clean.s.os.calls.clear();
  action(clean);
  EXPECT_FALSE(clean.s.os.calls.empty());
  return clean.s.os.calls;
}

// A call into the add-in that fails with the platform's error, as the host sees it.
void expectFailedCall(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "the call did not fail";
  } catch (const platform::PlatformError& e) {
    EXPECT_EQ(e.what(), message);
  }
}

std::string describe(const std::vector<std::string>& calls, std::size_t k) {
  return "call " + std::to_string(k) + ": " + calls[k - 1] + " #" +
         std::to_string(occurrence(calls, k));
}

// The opening reads Kelvane.ini, then Kelvane.log. The definition's existence test
// failing reaches the host as a failed call; any later failure in the definition is a
// line error; the log's existence test failing stops construction; a failure while
// the log is read leaves the defaults of the definition in force.
TEST(PlatformFaultSweep, OpeningGivesThePromisedOutcomeForEveryFailingCall) {
  const auto calls = recordCalls([](Fixture&) {}, [](Fixture& f) { ASSERT_TRUE(f.s.open()); });
  std::size_t logStart = 0;  // the log's existence test: the second one
  for (std::size_t k = 1, tests = 0; k <= calls.size(); ++k) {
    if (calls[k - 1] == "file-exists" && ++tests == 2) logStart = k;
  }
  ASSERT_GT(logStart, 3u) << "the definition is read before the log";

  for (std::size_t k = 1; k <= calls.size(); ++k) {
    SCOPED_TRACE(describe(calls, k));
    Fixture f;
    f.s.os.failNext(calls[k - 1], occurrence(calls, k));
    const std::string& op = calls[k - 1];

    if (k == 1) {
      expectFailedCall([&] { f.s.host->pickMenu(); }, "file-exists failed");
      EXPECT_TRUE(f.s.os.messages.empty());
      EXPECT_EQ(f.menuStatus(), 1);
    } else if (k < logStart) {
      // The message names the failing line, counted from 0; opening is line 0.
      const int linesRead = op == "read-line" ? occurrence(calls, k) - 1 : 0;
      EXPECT_FALSE(f.s.open());
      EXPECT_EQ(f.s.lastStatus(), status::kIniReadError);
      EXPECT_EQ(f.s.os.messages, std::vector<std::string>{pagedef::lineErrorText(linesRead)});
      EXPECT_TRUE(f.s.host->page->groups.empty()) << "nothing is added to the page";
      EXPECT_EQ(f.menuStatus(), 1);
    } else if (k == logStart) {
      EXPECT_FALSE(f.s.open());
      EXPECT_EQ(f.s.lastStatus(), status::kExitOnError);
      EXPECT_EQ(f.menuStatus(), 1) << "the command can be tried again";
    } else {
      ASSERT_TRUE(f.s.open());
      EXPECT_TRUE(f.statusShown(status::kLogReadError));
      EXPECT_TRUE(f.s.os.messages.empty());
      // The definition's defaults, not the log's, although the log's lines before
      // the failure were read.
      EXPECT_EQ(f.s.textBox(id::kDrawnBy).text, "JD");
      EXPECT_EQ(f.s.textBox(id::kPartNumber).text, "");
    }
    EXPECT_EQ(f.s.allProperties(), f.propertiesBefore);
    EXPECT_EQ(f.log(), kPreviousLog);
  }
}

TEST(PlatformFaultSweep, LineErrorWhoseMessageBoxFailsReachesTheHost) {
  Fixture f;
  f.s.os.failNext("read-line", 4);
  f.s.os.failNext("message-box");
  expectFailedCall([&] { f.s.host->pickMenu(); }, "message-box failed");
  EXPECT_FALSE(f.s.host->page->shown);
  EXPECT_TRUE(f.s.host->page->groups.empty());
  EXPECT_EQ(f.menuStatus(), 1);
  EXPECT_EQ(f.s.allProperties(), f.propertiesBefore);
  EXPECT_EQ(f.log(), kPreviousLog);
}

// A saving close stores the values in the document first, then writes the log to a
// temporary file that replaces the old log only once complete. Whichever call of the
// writing fails: "Error writing log file", which stays on the status bar, the document
// keeps what was saved, the old log (or no log) stays whole, no temporary file is
// left, and the page closes.
TEST(PlatformFaultSweep, SavingCloseKeepsThePreviousLogForEveryFailingCall) {
  auto edit = [](Fixture& f) {
    ASSERT_TRUE(f.s.open());
    ASSERT_TRUE(f.s.host->typeText(id::kPartNumber, "A-100"));
  };
  auto close = [](Fixture& f) { ASSERT_TRUE(f.s.host->closePage(host::code::kCloseOkay)); };
  const auto calls = recordCalls(edit, close);

  for (bool withLog : {true, false}) {
    for (std::size_t k = 1; k <= calls.size(); ++k) {
      SCOPED_TRACE(describe(calls, k) + (withLog ? " with a previous log" : " without a log"));
      Fixture f(withLog);
      edit(f);
      f.s.os.failNext(calls[k - 1], occurrence(calls, k));
      close(f);

      EXPECT_EQ(f.s.lastStatus(), status::kLogWriteError);
      EXPECT_FALSE(f.statusShown(status::kFarewell));
      EXPECT_EQ(f.log(), withLog ? kPreviousLog : "<absent>");
      EXPECT_FALSE(f.temporaryLeft());
      EXPECT_EQ(f.s.property("", "Part_No"), "A-100");
      EXPECT_EQ(f.s.property("", "Title"), "Bracket with holes");
      EXPECT_EQ(f.menuStatus(), 1);
    }
  }
}

TEST(PlatformFaultSweep, LogThatCannotBeReplacedStaysWholeAndLeftoversGoAtTheNextWrite) {
  Fixture f;
  ASSERT_TRUE(f.s.open());
  ASSERT_TRUE(f.s.host->typeText(id::kPartNumber, "A-100"));
  f.s.os.failNext("replace-file");
  ASSERT_TRUE(f.s.host->closePage(host::code::kCloseOkay));
  EXPECT_TRUE(f.statusShown(status::kLogWriteError));
  EXPECT_EQ(f.log(), kPreviousLog);

  // What an interrupted write leaves does not stand in the way of the next close,
  // which removes it.
  f.s.os.files[f.s.os.pathOf(".Kelvane.log.AbC123")] = "half";
  ASSERT_TRUE(f.s.open());
  ASSERT_TRUE(f.s.host->closePage(host::code::kCloseOkay));
  EXPECT_FALSE(f.temporaryLeft());
  EXPECT_NE(f.log().find("Part Number;A-100\r\n"), std::string::npos) << f.log();
}

// The edit command has no error trap: its failure ends OnButtonPress and reaches the
// host as a failed call, and nothing else changes.
TEST(PlatformFaultSweep, EditCommandFailureReachesTheHost) {
  auto open = [](Fixture& f) { ASSERT_TRUE(f.s.open()); };
  const auto calls = recordCalls(open, [](Fixture& f) { ASSERT_TRUE(f.s.host->pressButton(kEditButton)); });
  ASSERT_EQ(calls.back(), "start-process");

  for (std::size_t k = 1; k <= calls.size(); ++k) {
    SCOPED_TRACE(describe(calls, k));
    Fixture f;
    open(f);
    const auto statusCount = f.s.host->statusTexts.size();
    f.s.os.failNext(calls[k - 1], occurrence(calls, k));
    expectFailedCall([&] { f.s.host->pressButton(kEditButton); }, calls[k - 1] + " failed");
    EXPECT_TRUE(f.s.os.processes.empty());
    EXPECT_TRUE(f.s.host->page->shown);
    EXPECT_EQ(f.s.host->statusTexts.size(), statusCount) << "no status text for it";
    EXPECT_EQ(f.s.allProperties(), f.propertiesBefore);
    EXPECT_EQ(f.log(), kPreviousLog);
  }
}

}  // namespace
}  // namespace kelvane::testing
