#include "platform/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/platform_contract.h"

namespace kelvane::platform {
namespace {

struct FakeEnv {
  FakePlatform os;

  Platform& platform() { return os; }
  std::string path(const std::string& name) { return os.pathOf(name); }
  void put(const std::string& name, const std::string& bytes) { os.files[path(name)] = bytes; }
  std::optional<std::string> get(const std::string& name) {
    const auto found = os.files.find(path(name));
    return found == os.files.end() ? std::nullopt : std::optional(found->second);
  }
  std::vector<std::string> names() {
    std::vector<std::string> all;
    const std::string folder = path("");
    for (const auto& [file, bytes] : os.files)
      if (file.starts_with(folder)) all.push_back(file.substr(folder.size()));
    for (const auto& file : os.directories)
      if (file.starts_with(folder)) all.push_back(file.substr(folder.size()));
    std::sort(all.begin(), all.end());
    return all;
  }
  void makeFolder(const std::string& name) { os.directories.push_back(path(name)); }
  std::string special() {
    os.devices.push_back(path("pipe"));
    return path("pipe");
  }
  void makeReadOnly(const std::string& name) { os.readOnly.push_back(path(name)); }
  void makeOld(const std::string&) {}
  void setEnvironment(const std::string& name, const char* value) {
    if (value) os.environment[name] = value;
    else os.environment.erase(name);
  }
  std::string unstartable() {
    os.missingPrograms.push_back("C:\\no\\such\\program.exe");
    return "C:\\no\\such\\program.exe C:\\Kelvane\\Kelvane.ini";
  }
  std::string unwritableFolder() {
    os.readOnlyFolders.push_back(path("locked"));
    os.directories.push_back(path("locked"));
    return path("locked");
  }
};

using namespace contract;  // NOLINT: the suite's generated names
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, PlatformContract, FakeEnv);

using testing::ElementsAre;
using testing::HasSubstr;
using testing::ThrowsMessage;

std::vector<std::string> readAll(Platform& os, const std::string& path) {
  auto reader = os.OpenTextFile(path);
  std::vector<std::string> lines;
  while (!reader->AtEndOfStream()) lines.push_back(reader->ReadLine());
  reader->Close();
  return lines;
}

TEST(FakePlatform, ReadsStoredBytesAsUtf8Lines) {
  FakePlatform os;
  os.files["C:\\Kelvane\\Kelvane.ini"] = "[Part]\r\nFinish;caf\xE9\nlast";
  EXPECT_THAT(readAll(os, os.pathOf("Kelvane.ini")), ElementsAre("[Part]", "Finish;caf\u00E9", "last"));
  EXPECT_EQ(os.fileText("Kelvane.ini"), "[Part]\r\nFinish;caf\u00E9\nlast");
  EXPECT_EQ(os.fileText("missing.txt"), "");
}

TEST(FakePlatform, AFailedWriteCloseOrReplaceLeavesThePreviousFile) {
  for (const char* operation : {"write-line", "close-writer", "replace-file"}) {
    FakePlatform os;
    os.setFileText("Kelvane.log", "old\r\n");
    os.failNext(operation);
    auto writer = os.CreateTextFile(os.pathOf("Kelvane.log"));
    EXPECT_THROW(
        {
          writer->WriteLine("new");
          writer->Close();
        },
        PlatformError)
        << operation;
    EXPECT_EQ(os.fileText("Kelvane.log"), "old\r\n") << operation;
  }
}

TEST(FakePlatform, NthNextCallFailsOnceAndEveryCallIsRecorded) {
  FakePlatform os;
  os.setFileText("a.txt", "1\n2\n3\n");
  os.failNext("read-line", 2);
  auto reader = os.OpenTextFile(os.pathOf("a.txt"));
  EXPECT_EQ(reader->ReadLine(), "1");
  EXPECT_THAT([&] { reader->ReadLine(); }, ThrowsMessage<PlatformError>("read-line failed"));
  EXPECT_EQ(reader->ReadLine(), "2") << "a failed read consumes nothing";
  EXPECT_THAT(os.calls, ElementsAre("open-text-file", "read-line", "read-line", "read-line"));
}

TEST(FakePlatform, EveryOperationCanBeFailed) {
  struct Case {
    const char* operation;
    std::function<void(FakePlatform&)> call;
  };
  const Case cases[] = {
      {"file-exists", [](FakePlatform& os) { os.FileExists("x"); }},
      {"open-text-file", [](FakePlatform& os) { os.OpenTextFile(os.pathOf("a.txt")); }},
      {"create-text-file", [](FakePlatform& os) { os.CreateTextFile("x"); }},
      {"remove-file", [](FakePlatform& os) { os.RemoveFile("x"); }},
      {"message-box", [](FakePlatform& os) { os.ShowMessage("x"); }},
      {"start-process", [](FakePlatform& os) { os.StartProcess("x"); }},
      {"environment", [](FakePlatform& os) { os.EnvironmentVariable("WINDIR"); }},
      {"now", [](FakePlatform& os) { os.NowText(); }},
  };
  for (const auto& c : cases) {
    FakePlatform os;
    os.setFileText("a.txt", "1\n");
    os.failNext(c.operation);
    EXPECT_THROW(c.call(os), PlatformError) << c.operation;
    EXPECT_NO_THROW(c.call(os)) << c.operation;
    EXPECT_THAT(os.calls, ElementsAre(c.operation, c.operation));
  }
  FakePlatform os;
  os.failNext("message-box");
  EXPECT_THROW(os.ShowMessage("lost"), PlatformError);
  EXPECT_TRUE(os.messages.empty());
}

TEST(FakePlatform, RejectsUnknownFaults) {
  FakePlatform os;
  EXPECT_THROW(os.failNext("read-file"), std::invalid_argument);
  EXPECT_THROW(os.failNext("read-line", 0), std::invalid_argument);
}

TEST(FakePlatform, DirectoriesCannotBeRemoved) {
  FakePlatform os;
  os.directories.push_back("C:\\Kelvane\\Kelvane.log");
  EXPECT_THROW(os.RemoveFile("C:\\Kelvane\\Kelvane.log"), PlatformError);
}

TEST(FakePlatform, ReaderSeesTheFileAsItWasWhenOpened) {
  FakePlatform os;
  os.files["f"] = "a\n";
  auto reader = os.OpenTextFile("f");
  os.files["f"] = "b\nc\n";
  EXPECT_EQ(reader->ReadLine(), "a");
  EXPECT_TRUE(reader->AtEndOfStream());
  EXPECT_THROW(reader->ReadLine(), PlatformError);
}

TEST(FakePlatform, RecordsMessagesProcessesAndServesKnobs) {
  FakePlatform os;
  os.environment["WINDIR"] = "C:\\Windows";
  os.ShowMessage("line 3");
  os.StartProcess("C:\\Windows\\notepad.exe C:\\Kelvane\\Kelvane.ini");
  EXPECT_THAT(os.messages, ElementsAre("line 3"));
  EXPECT_THAT(os.processes, ElementsAre("C:\\Windows\\notepad.exe C:\\Kelvane\\Kelvane.ini"));
  EXPECT_EQ(os.EnvironmentVariable("WINDIR"), "C:\\Windows");
  EXPECT_EQ(os.EnvironmentVariable("HOME"), "");
  EXPECT_EQ(os.NowText(), "07/12/2026 23:53");
  EXPECT_EQ(joinPath(os, os.ModuleFolder(), "Kelvane.ini"), "C:\\Kelvane\\Kelvane.ini");
}

}  // namespace
}  // namespace kelvane::platform
