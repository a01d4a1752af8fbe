#include "logfile/logfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/bound_page.h"

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <sstream>
#include <thread>

#include "platform/posix_platform.h"
#endif

namespace kelvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::BoundPage;

const std::string kHeader =
    "# File written by Kelvane 1.1 on 07/12/2026 23:53\r\n"
    "# Kelvane is Copyright (c) 2026 the Kelvane developers\r\n"
    "# Do not edit of modify this file\r\n"
    "\r\n";

// A page with remembered fields Part (text), Rev (combo) and Note (text), and a field
// Plain that is not remembered; one configuration unless more are given.
std::unique_ptr<BoundPage> page(std::vector<std::string> configs = {"Default"}) {
  auto p = std::make_unique<BoundPage>();
  for (const auto& c : configs) p->doc->addConfiguration(c);
  p->group("G");
  p->text("Part", "part default").remember = true;
  p->combo("Rev", {{"A", "a"}, {"B", "b"}}, "A").remember = true;
  p->group("H");
  p->text("Plain", "plain default");
  p->text("Note", "note default").remember = true;
  p->bind(configs.size() > 1);
  return p;
}

std::vector<std::string> defaults(BoundPage& p) {
  std::vector<std::string> all;
  for (const auto& g : p.s.model.groups)
    for (const auto& f : g.fields) all.emplace_back(f.defaultValue);
  return all;
}

// ---- writeLogFile ----

TEST(WriteLogFile, WritesTheHeaderThenRememberedFieldsWithAValue) {
  auto p = page({"C0", "C1"});
  p->bound(0, 0).configValues = {"A-100", "A-200"};
  p->bound(0, 1).configValues = {"B", "A"};
  p->bound(1, 0).configValues = {"not remembered", ""};
  p->bound(1, 1).configValues = {" ", "x"};  // emptied: not logged
  EXPECT_TRUE(writeLogFile(p->s));
  EXPECT_EQ(p->os.fileText("Kelvane.log"), kHeader + "Part;A-100\r\nRev;B\r\n");
  EXPECT_THAT(p->host->statusTexts, IsEmpty());
}

TEST(WriteLogFile, RoundTripsValuesIntoDefaultsOfTheNextOpening) {
  auto p = page();
  p->slot(0, 0) = "Größe 5";
  p->slot(0, 1) = "B";
  ASSERT_TRUE(writeLogFile(p->s));
  auto next = page();
  next->os.files = p->os.files;
  EXPECT_TRUE(readLogFile(next->s));
  EXPECT_THAT(defaults(*next), ElementsAre("Größe 5", "B", "plain default", "note default"));
}

TEST(WriteLogFile, AFailureAtEachStepKeepsThePreviousLog) {
  auto make = [] {
    auto p = page();
    p->os.setFileText("Kelvane.log", "previous");
    p->slot(0, 0) = "new";
    p->slot(1, 1) = "newer";
    return p;
  };
  auto clean = make();
  ASSERT_TRUE(writeLogFile(clean->s));
  const auto ops = clean->os.calls;
  // Four header lines and Part, Note.
  ASSERT_THAT(ops, ElementsAre("create-text-file", "now", "write-line", "write-line", "write-line",
                               "write-line", "write-line", "write-line", "close-writer", "replace-file"));
  for (std::size_t k = 1; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = make();
    p->failPlatformCall(ops, k);
    EXPECT_FALSE(writeLogFile(p->s));
    EXPECT_THAT(p->host->statusTexts, ElementsAre("Error writing log file"));
    EXPECT_EQ(p->os.fileText("Kelvane.log"), "previous");
    EXPECT_THAT(p->os.files, ElementsAre(::testing::Key(p->os.pathOf("Kelvane.log"))));
  }
}

TEST(WriteLogFile, ALogThatIsNotAWritableFileIsLeftAlone) {
  struct Case {
    const char* name;
    std::vector<std::string> platform::FakePlatform::*kind;
  };
  const Case cases[] = {
      {"read-only", &platform::FakePlatform::readOnly},
      {"a device", &platform::FakePlatform::devices},
      {"a folder", &platform::FakePlatform::directories},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = page();
    p->os.setFileText("Kelvane.log", "previous");
    (p->os.*c.kind).push_back(p->os.pathOf("Kelvane.log"));
    p->slot(0, 0) = "new";
    EXPECT_FALSE(writeLogFile(p->s));
    EXPECT_THAT(p->host->statusTexts, ElementsAre("Error writing log file"));
    EXPECT_EQ(p->os.fileText("Kelvane.log"), "previous");
  }
}

TEST(WriteLogFile, AFieldWithoutSlotsFailsIt) {
  auto p = page();
  p->bound(0, 0).configValues.clear();
  EXPECT_FALSE(writeLogFile(p->s));
  EXPECT_THAT(p->host->statusTexts, ElementsAre("Error writing log file"));
  EXPECT_THAT(p->os.files, IsEmpty());
}

// What a close logs for the remembered text field Part, given the log the opening read
// and where its value came from.
TEST(WriteLogFile, ReplacesALineOnlyWithAValueTheUserOrTheDocumentGaveThatReadsBackWhole) {
  struct Case {
    const char* name;
    std::string before;  // Part's line in the log at the opening; "" for none
    std::string value;
    SlotOrigin origin;
    std::string after;  // Part's line written; "" for none
  };
  const std::vector<Case> cases = {
      {"typed", "Part;MR", "KL", SlotOrigin::User, "Part;KL"},
      {"the document's", "Part;MR", "DOC", SlotOrigin::Document, "Part;DOC"},
      {"the empty mark is not logged", "Part;MR", " ", SlotOrigin::User, ""},
      {"emptied by the user, as saved", "Part;MR", "", SlotOrigin::User, "Part;"},
      {"the log's own default", "Part;Mr. Smith", "Mr. Smith", SlotOrigin::Default, "Part;Mr. Smith"},
      {"a line the reader would cut", "Part;J. Smith #4; QA", "part default", SlotOrigin::Default,
       "Part;J. Smith #4; QA"},
      {"the definition's default", "", "part default", SlotOrigin::Default, "Part;part default"},
      {"never read", "Part;MR", "part default", SlotOrigin::Unread, "Part;MR"},
      {"empty in the document, never loaded", "Part;MR", " ", SlotOrigin::Document, "Part;MR"},
      {"with a #", "Part;MR", "J. Smith #4", SlotOrigin::User, "Part;MR"},
      {"with a ;", "Part;MR", "A; B", SlotOrigin::User, "Part;MR"},
      {"with a tab", "Part;MR", "A\tB", SlotOrigin::User, "Part;MR"},
      {"with a line break", "Part;MR", "A\nB", SlotOrigin::User, "Part;MR"},
      {"beyond the code page", "Part;MR", "Zhang 张", SlotOrigin::User, "Part;MR"},
      {"beyond the code page, no line before", "", "Zhang 张", SlotOrigin::User, ""},
      {"within the code page", "Part;MR", "Größe €5", SlotOrigin::User, "Part;Größe €5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = page();
    if (!c.before.empty()) {
      p->os.setFileText("Kelvane.log", kHeader + c.before + "\r\n");
      ASSERT_TRUE(readLogFile(p->s));
    }
    p->bound(0, 0).setSlot(0, c.value, c.origin);
    p->bound(0, 1).setSlot(0, "A", SlotOrigin::Document);
    EXPECT_TRUE(writeLogFile(p->s));
    EXPECT_EQ(p->os.fileText("Kelvane.log"), kHeader + (c.after.empty() ? "" : c.after + "\r\n") + "Rev;A\r\n");
  }
}

TEST(WriteLogFile, WithValuesPerConfigurationLogsTheConfigurationShown) {
  auto p = page({"C0", "C1"});
  p->bound(0, 0).configValues = {"", "Alice"};
  p->bound(0, 1).configValues = {"A", "B"};
  p->s.currentConfig = 1;
  EXPECT_TRUE(writeLogFile(p->s));
  EXPECT_EQ(p->os.fileText("Kelvane.log"), kHeader + "Part;Alice\r\nRev;B\r\n");
}

TEST(WriteLogFile, LeavesALogTheOpeningCouldNotReadAsItWas) {
  auto p = page();
  p->os.setFileText("Kelvane.log", "Part;MR\r\n");
  p->os.failNext("read-line");
  ASSERT_FALSE(readLogFile(p->s));
  p->slot(0, 0) = "KL";
  EXPECT_FALSE(writeLogFile(p->s));
  EXPECT_THAT(p->host->statusTexts, ElementsAre("Error reading log file", "Error writing log file"));
  EXPECT_EQ(p->os.fileText("Kelvane.log"), "Part;MR\r\n");
}

#ifndef _WIN32
// One add-in of its own, on the real files, whose only field "Drawn By" is remembered.
struct LogWriter {
  explicit LogWriter(const std::string& folder) : os(folder) {
    s.ThisSW = host;
    host->activeDocument = host->newDocument();
    s.model.groups.push_back({});
    s.model.groups[0].fields.push_back({});
    s.model.groups[0].fields[0].caption = "Drawn By";
    s.model.groups[0].fields[0].remember = true;
    s.bindings.resize(1);
    s.bindings[0].fields.resize(1);
    s.bindings[0].fields[0].configValues = {""};
    s.bindings[0].fields[0].origins = {SlotOrigin::User};
    s.lastGroup = 0;
  }
  platform::PosixPlatform os;
  std::shared_ptr<sim::SimHost> host = std::make_shared<sim::SimHost>();
  State s{os};
};

// Sessions closing at the same moment: each log is written whole, no writer reports a
// failure it did not have, and the log is always one writer's, complete.
TEST(WriteLogFile, ParallelSessionsNeverLoseOrMixTheLog) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "kelvane-log-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string folder = pattern;
  constexpr int kWriters = 20;
  constexpr int kRounds = 40;
  std::vector<std::unique_ptr<LogWriter>> writers;
  for (int i = 0; i < kWriters; ++i) writers.push_back(std::make_unique<LogWriter>(folder));
  for (int round = 0; round < kRounds; ++round) {
    std::latch start(kWriters);
    std::vector<int> written(kWriters);
    std::vector<std::thread> threads;
    for (int i = 0; i < kWriters; ++i) {
      writers[i]->s.binding(0, 0).configValues = {"W" + std::to_string(round) + "-" + std::to_string(i)};
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        written[i] = writeLogFile(writers[i]->s);
      });
    }
    for (auto& t : threads) t.join();
    std::ifstream in(folder + "/Kelvane.log", std::ios::binary);
    std::ostringstream log;
    log << in.rdbuf();
    EXPECT_THAT(log.str(), ::testing::MatchesRegex("# File written by Kelvane 1.1 on .*\r\n"
                                                   "# Kelvane is .*\r\n# Do not edit of modify this file\r\n"
                                                   "\r\nDrawn By;W" + std::to_string(round) + "-[0-9]+\r\n"))
        << "round " << round;
    for (int i = 0; i < kWriters; ++i) {
      EXPECT_TRUE(written[i]) << "round " << round << " writer " << i;
      EXPECT_THAT(writers[i]->host->statusTexts, IsEmpty()) << "round " << round << " writer " << i;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "round " << round;
    if (::testing::Test::HasFailure()) break;
  }
  fs::remove_all(folder);
}
#endif

// ---- readLogFile ----

TEST(ReadLogFile, AppliesTheReadersLineRules) {
  struct Case {
    const char* name;
    std::string log;
    std::string part;  // the default of the field captioned Part afterwards
  };
  const std::vector<Case> cases = {
      {"plain entry", "Part;P-1\r\n", "P-1"},
      {"a value that a # would cut is not taken", "Part;x#y\r\n", "part default"},
      {"a value that a ; would cut is not taken", "Part;a;b\r\n", "part default"},
      {"a comment after a value is not taken either", "Part;x # note\r\n", "part default"},
      {"a cut value on a later line hides an earlier one", "Part;first\r\nPart;a#b\r\n", "part default"},
      {"leading blank of the value kept", "Part; x\r\n", " x"},
      {"trailing blanks and tabs removed", "Part;x \t \r\n", "x"},
      {"tab inside the value becomes a blank", "Part;a\tb\r\n", "a b"},
      {"empty value", "Part;\r\n", ""},
      {"blank before the caption: no entry", " Part;x\r\n", "part default"},
      {"tab first: skipped", "\tPart;x\r\n", "part default"},
      {"carriage return first: skipped", "\rPart;x\r\n", "part default"},
      {"backspace first: skipped", "\bPart;x\r\n", "part default"},
      {"comment line", "#Part;x\r\n", "part default"},
      {"no separator", "Part\r\n", "part default"},
      {"separator after the cut", "Part#;x\r\n", "part default"},
      {"caption differs in case", "part;x\r\n", "part default"},
      {"caption with trailing blank", "Part ;x\r\n", "part default"},
      {"later line wins", "Part;first\r\nPart;second\r\n", "second"},
      {"header and empty lines", kHeader + "Part;P-2", "P-2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto p = page();
    p->os.setFileText("Kelvane.log", c.log);
    EXPECT_TRUE(readLogFile(p->s));
    EXPECT_EQ(p->field(0, 0).defaultValue, c.part);
    EXPECT_THAT(p->host->statusTexts, IsEmpty());
  }
}

TEST(ReadLogFile, GivesEveryFieldWithTheCaptionTheValueRememberedOrNot) {
  BoundPage p;
  p.doc->addConfiguration("Default");
  p.group("G");
  p.text("Same", "one").remember = true;
  p.group("H");
  p.combo("Same", {{"x", ""}}, "two");
  p.text("Other", "three");
  p.bind();
  p.os.setFileText("Kelvane.log", "Same;v\r\nUnknown;w\r\n");
  EXPECT_TRUE(readLogFile(p.s));
  EXPECT_THAT(defaults(p), ElementsAre("v", "v", "three"));
}

TEST(ReadLogFile, AMissingFileChangesNothingSilently) {
  auto p = page();
  EXPECT_FALSE(readLogFile(p->s));
  EXPECT_THAT(defaults(*p), ElementsAre("part default", "A", "plain default", "note default"));
  EXPECT_THAT(p->host->statusTexts, IsEmpty());
  EXPECT_THAT(p->os.calls, ElementsAre("file-exists"));
}

TEST(ReadLogFile, ReadsAtMost32768Entries) {
  std::string log;
  for (int i = 0; i < kMaxLogEntries - 1; ++i) log += "Filler" + std::to_string(i) + ";x\r\n";
  log += "Part;last\r\n";
  auto full = page();
  full->os.setFileText("Kelvane.log", log);
  EXPECT_TRUE(readLogFile(full->s));
  EXPECT_EQ(full->field(0, 0).defaultValue, "last");

  auto over = page();
  over->os.setFileText("Kelvane.log", "Note;early\r\n" + log);
  EXPECT_FALSE(readLogFile(over->s));
  EXPECT_THAT(over->host->statusTexts, ElementsAre("Error reading log file"));
  EXPECT_THAT(defaults(*over), ElementsAre("part default", "A", "plain default", "note default"));
}

TEST(ReadLogFile, AFailureAtEachStepChangesNoDefault) {
  auto make = [] {
    auto p = page();
    p->os.setFileText("Kelvane.log", kHeader + "Part;new\r\nNote;newer\r\n");
    return p;
  };
  auto clean = make();
  ASSERT_TRUE(readLogFile(clean->s));
  const auto ops = clean->os.calls;
  ASSERT_EQ(ops.size(), 2u + 6u);  // exists, open, six lines
  for (std::size_t k = 2; k <= ops.size(); ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k) + " " + ops[k - 1]);
    auto p = make();
    p->failPlatformCall(ops, k);
    EXPECT_FALSE(readLogFile(p->s));
    EXPECT_THAT(p->host->statusTexts, ElementsAre("Error reading log file"));
    EXPECT_THAT(defaults(*p), ElementsAre("part default", "A", "plain default", "note default"));
  }
}

TEST(ReadLogFile, AFailingExistenceTestReachesTheCaller) {
  auto p = page();
  p->os.setFileText("Kelvane.log", "Part;x\r\n");
  p->os.failNext("file-exists");
  EXPECT_THAT([&] { readLogFile(p->s); },
              ::testing::ThrowsMessage<platform::PlatformError>(::testing::HasSubstr("file-exists")));
  EXPECT_THAT(p->host->statusTexts, IsEmpty());
  EXPECT_EQ(p->field(0, 0).defaultValue, "part default");
}

}  // namespace
}  // namespace kelvane
