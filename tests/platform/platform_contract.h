// The contract every platform keeps, as one typed test suite. Each platform's test
// instantiates it with an environment type that gives the platform under test and
// the means to prepare its files:
//
//   struct Env {
//     Platform& platform();
//     std::string path(const std::string& name);       // a file in a fresh folder
//     void put(const std::string& name, const std::string& bytes);
//     std::optional<std::string> get(const std::string& name);
//     std::vector<std::string> names();                // the folder's entries, sorted,
//                                                      // the special one aside
//     void makeFolder(const std::string& name);
//     std::string special();                           // the path of a device or pipe
//     void makeReadOnly(const std::string& name);
//     void makeOld(const std::string& name);           // last written long ago
//     void setEnvironment(const std::string& name, const char* value);  // null: unset
//     std::string unstartable();                       // a command line that cannot start
//     std::string unwritableFolder();                  // a folder that takes no new files;
//                                                      // "": none here
//   };
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kelvane::platform::contract {

template <class Env>
class PlatformContract : public ::testing::Test {
 protected:
  Env env;
  Platform& os() { return env.platform(); }

  std::vector<std::string> readLines(const std::string& name) {
    auto reader = os().OpenTextFile(env.path(name));
    std::vector<std::string> lines;
    while (!reader->AtEndOfStream()) lines.push_back(reader->ReadLine());
    reader->Close();
    return lines;
  }
  void write(const std::string& name, const std::vector<std::string>& lines) {
    auto writer = os().CreateTextFile(env.path(name));
    for (const auto& line : lines) writer->WriteLine(line);
    writer->Close();
  }
};

TYPED_TEST_SUITE_P(PlatformContract);

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

TYPED_TEST_P(PlatformContract, ReadsLinesAsStored) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"[Part]\r\nFinish;caf\xE9\r\n", {"[Part]", "Finish;caf\u00E9"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r\n\r\n", {"a\rb", ""}},
      {"\r", {"\r"}},
      {"\x80\x81\xFF", {"\u20AC\xC2\x81\u00FF"}},
  };
  for (const auto& c : cases) {
    this->env.put("in.txt", c.bytes);
    EXPECT_EQ(this->readLines("in.txt"), c.lines) << ::testing::PrintToString(c.bytes);
  }
  auto reader = this->os().OpenTextFile(this->env.path("in.txt"));
  reader->ReadLine();
  EXPECT_TRUE(reader->AtEndOfStream());
  EXPECT_THROW(reader->ReadLine(), PlatformError);
}

TYPED_TEST_P(PlatformContract, WritesCrLfAndQuestionMarksForWhatTheCodePageLacks) {
  this->write("out.txt", {"caf\u00E9 \u20AC", "\u0100 \u4E2D \xF0\x9F\x94\xA7", ""});
  EXPECT_EQ(this->env.get("out.txt"), "caf\xE9 \x80\r\n? ? ?\r\n\r\n");
}

TYPED_TEST_P(PlatformContract, WritesWholeOrNotAtAll) {
  auto& env = this->env;
  env.put("log.txt", "old\r\n");
  {
    auto dropped = this->os().CreateTextFile(env.path("log.txt"));
    dropped->WriteLine("new");
  }
  EXPECT_EQ(env.get("log.txt"), "old\r\n") << "a writer dropped unclosed changes nothing";
  EXPECT_THAT(env.names(), ElementsAre("log.txt"));

  auto writer = this->os().CreateTextFile(env.path("log.txt"));
  writer->WriteLine("new");
  EXPECT_EQ(env.get("log.txt"), "old\r\n") << "the target is untouched until Close";
  writer->Close();
  EXPECT_EQ(env.get("log.txt"), "new\r\n");
  EXPECT_THAT(env.names(), ElementsAre("log.txt"));
  EXPECT_THROW(writer->WriteLine("late"), PlatformError);

  this->write("new.txt", {"x"});
  EXPECT_EQ(env.get("new.txt"), "x\r\n");
}

TYPED_TEST_P(PlatformContract, RefusesToWriteOverAnythingButAWritableFile) {
  auto& env = this->env;
  env.makeFolder("folder");
  env.put("locked.txt", "kept");
  env.makeReadOnly("locked.txt");
  struct Case {
    std::string path;
    const char* reason;
  };
  const Case cases[] = {
      {env.path("folder"), "not a regular file"},
      {env.special(), "not a regular file"},
      {env.path("locked.txt"), "read-only"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT([&] { this->os().CreateTextFile(c.path); },
                ThrowsMessage<PlatformError>(::testing::AllOf(HasSubstr(c.path), HasSubstr(c.reason))));
  }
  EXPECT_EQ(env.get("locked.txt"), "kept");
  EXPECT_THAT(env.names(), ElementsAre("folder", "locked.txt"));
}

TYPED_TEST_P(PlatformContract, RemovesLeftoverTemporaryFilesOfTheSameTarget) {
  auto& env = this->env;
  const std::vector<std::string> kept = {".Kelvane.log.tmp", ".Kelvane.log.ab-123", ".Kelvane.ini.AbC123",
                                         "Kelvane.log.AbC123"};
  for (const auto& name : kept) env.put(name, "x");
  env.put(".Kelvane.log.AbC123", "half");
  env.put(".Kelvane.log.000000", "");
  env.makeOld(".Kelvane.log.AbC123");
  env.makeOld(".Kelvane.log.000000");
  { auto dropped = this->os().CreateTextFile(env.path("Kelvane.log")); }
  EXPECT_EQ(env.get(".Kelvane.log.AbC123"), "half") << "only a successful write cleans up";
  this->write("Kelvane.log", {"new"});
  auto expected = kept;
  expected.push_back("Kelvane.log");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(env.names(), expected);
}

TYPED_TEST_P(PlatformContract, OpensOnlyExistingRegularFiles) {
  auto& env = this->env;
  env.makeFolder("folder");
  env.put("in.txt", "x");
  EXPECT_TRUE(this->os().FileExists(env.path("in.txt")));
  EXPECT_TRUE(this->os().FileExists(env.path("folder")));
  EXPECT_FALSE(this->os().FileExists(env.path("none.txt")));
  for (const std::string& path : {env.path("folder"), env.special(), env.path("none.txt")}) {
    EXPECT_THAT([&] { this->os().OpenTextFile(path); }, ThrowsMessage<PlatformError>(HasSubstr(path)));
  }
  EXPECT_FALSE(this->os().FileExists(env.path("none.txt"))) << "opening never creates";
}

TYPED_TEST_P(PlatformContract, RemovesFilesQuietlyWhenMissing) {
  auto& env = this->env;
  env.put("in.txt", "x");
  this->os().RemoveFile(env.path("in.txt"));
  EXPECT_FALSE(this->os().FileExists(env.path("in.txt")));
  EXPECT_NO_THROW(this->os().RemoveFile(env.path("in.txt")));
}

TYPED_TEST_P(PlatformContract, ReadsTheEnvironment) {
  this->env.setEnvironment("KELVANE_CONTRACT", "Gr\u00FC\u00DFe C:\\Windows");
  EXPECT_EQ(this->os().EnvironmentVariable("KELVANE_CONTRACT"), "Gr\u00FC\u00DFe C:\\Windows");
  this->env.setEnvironment("KELVANE_CONTRACT", nullptr);
  EXPECT_EQ(this->os().EnvironmentVariable("KELVANE_CONTRACT"), "");
}

TYPED_TEST_P(PlatformContract, AProgramThatCannotStartIsAnError) {
  const std::string commandLine = this->env.unstartable();
  EXPECT_THAT([&] { this->os().StartProcess(commandLine); },
              ThrowsMessage<PlatformError>(HasSubstr("cannot start " + commandLine)));
}

TYPED_TEST_P(PlatformContract, NamesAFolderThatTakesNoNewFiles) {
  const std::string folder = this->env.unwritableFolder();
  if (folder.empty()) GTEST_SKIP() << "no folder here refuses new files";
  const std::string path = folder + this->os().PathSeparator() + "Kelvane.log";
  EXPECT_THAT([&] { this->os().CreateTextFile(path); }, ThrowsMessage<FolderNotWritable>(HasSubstr(path)));
  EXPECT_FALSE(this->os().FileExists(path));
  this->env.put("locked.txt", "kept");
  this->env.makeReadOnly("locked.txt");
  try {
    this->os().CreateTextFile(this->env.path("locked.txt"));
    ADD_FAILURE() << "a read-only file written";
  } catch (const FolderNotWritable& e) {
    ADD_FAILURE() << e.what() << ": a read-only file in a writable folder is no folder's refusal";
  } catch (const PlatformError&) {
  }
}

TYPED_TEST_P(PlatformContract, MakesTheUserFolderInLocalAppData) {
  auto& env = this->env;
  Platform& os = this->os();
  const std::string saved = os.EnvironmentVariable("LOCALAPPDATA");
  env.setEnvironment("LOCALAPPDATA", nullptr);
  EXPECT_EQ(os.UserFolder(), "");
  env.setEnvironment("LOCALAPPDATA", "");
  EXPECT_EQ(os.UserFolder(), "");
  env.setEnvironment("LOCALAPPDATA", env.path("Local").c_str());
  const std::string folder = os.UserFolder();
  env.setEnvironment("LOCALAPPDATA", saved.empty() ? nullptr : saved.c_str());
  EXPECT_EQ(folder, env.path("Local") + os.PathSeparator() + "Kelvane");

  env.makeFolder("Local");
  os.CreateFolder(folder);
  EXPECT_NO_THROW(os.CreateFolder(folder)) << "an existing folder is no error";
  auto writer = os.CreateTextFile(folder + os.PathSeparator() + "Kelvane.log");
  writer->WriteLine("Drawn By;ann");
  writer->Close();
  EXPECT_TRUE(os.FileExists(folder + os.PathSeparator() + "Kelvane.log"));
  env.put("file", "x");
  EXPECT_THROW(os.CreateFolder(env.path("file")), PlatformError);
  EXPECT_EQ(env.get("file"), "x");
}

REGISTER_TYPED_TEST_SUITE_P(PlatformContract, ReadsLinesAsStored, WritesCrLfAndQuestionMarksForWhatTheCodePageLacks,
                            WritesWholeOrNotAtAll, RefusesToWriteOverAnythingButAWritableFile,
                            RemovesLeftoverTemporaryFilesOfTheSameTarget, OpensOnlyExistingRegularFiles,
                            RemovesFilesQuietlyWhenMissing, ReadsTheEnvironment,
                            AProgramThatCannotStartIsAnError, NamesAFolderThatTakesNoNewFiles,
                            MakesTheUserFolderInLocalAppData);

}  // namespace kelvane::platform::contract
