#include "platform/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kelvane::platform {
namespace {

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

TEST(FakePlatform, WriterStoresCp1252WithCrLfOnlyOnClose) {
  FakePlatform os;
  os.setFileText("Kelvane.log", "old\r\n");
  auto writer = os.CreateTextFile(os.pathOf("Kelvane.log"));
  EXPECT_EQ(os.fileText("Kelvane.log"), "") << "creating truncates at once";
  writer->WriteLine("caf\u00E9");
  writer->WriteLine("\u65E5");
  writer->WriteLine("");
  EXPECT_EQ(os.fileText("Kelvane.log"), "");
  writer->Close();
  EXPECT_EQ(os.files[os.pathOf("Kelvane.log")], "caf\xE9\r\n?\r\n\r\n");
}

TEST(FakePlatform, FailedWriteOrCloseLeavesTheTruncatedFile) {
  for (const char* operation : {"write-line", "close-writer"}) {
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
    EXPECT_EQ(os.fileText("Kelvane.log"), "") << operation;
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
      {"replace-file", [](FakePlatform& os) { os.ReplaceFile(os.pathOf("a.txt"), "y"); }},
      {"remove-file", [](FakePlatform& os) { os.RemoveFile("x"); }},
      {"message-box", [](FakePlatform& os) { os.MessageBox("x"); }},
      {"start-process", [](FakePlatform& os) { os.StartProcess("x"); }},
      {"environment", [](FakePlatform& os) { os.GetEnvironmentVariable("WINDIR"); }},
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
  EXPECT_THROW(os.MessageBox("lost"), PlatformError);
  EXPECT_TRUE(os.messages.empty());
}

TEST(FakePlatform, RejectsUnknownFaults) {
  FakePlatform os;
  EXPECT_THROW(os.failNext("read-file"), std::invalid_argument);
  EXPECT_THROW(os.failNext("read-line", 0), std::invalid_argument);
}

TEST(FakePlatform, DirectoriesExistButCannotBeOpenedOrCreated) {
  FakePlatform os;
  os.directories.push_back("C:\\Kelvane\\Kelvane.log");
  EXPECT_TRUE(os.FileExists("C:\\Kelvane\\Kelvane.log"));
  EXPECT_THROW(os.OpenTextFile("C:\\Kelvane\\Kelvane.log"), PlatformError);
  EXPECT_THROW(os.CreateTextFile("C:\\Kelvane\\Kelvane.log"), PlatformError);
  EXPECT_THROW(os.RemoveFile("C:\\Kelvane\\Kelvane.log"), PlatformError);
}

TEST(FakePlatform, MissingFilesFailToOpenButRemoveQuietly) {
  FakePlatform os;
  EXPECT_FALSE(os.FileExists("nothing"));
  EXPECT_THAT([&] { os.OpenTextFile("nothing"); }, ThrowsMessage<PlatformError>(HasSubstr("nothing")));
  EXPECT_NO_THROW(os.RemoveFile("nothing"));
  EXPECT_THROW(os.ReplaceFile("nothing", "target"), PlatformError);
}

TEST(FakePlatform, ReplaceMovesOverTheTarget) {
  FakePlatform os;
  os.files["new"] = "N";
  os.files["old"] = "O";
  os.ReplaceFile("new", "old");
  EXPECT_EQ(os.files.count("new"), 0u);
  EXPECT_EQ(os.files["old"], "N");
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
  os.MessageBox("line 3");
  os.StartProcess("C:\\Windows\\notepad.exe C:\\Kelvane\\Kelvane.ini");
  EXPECT_THAT(os.messages, ElementsAre("line 3"));
  EXPECT_THAT(os.processes, ElementsAre("C:\\Windows\\notepad.exe C:\\Kelvane\\Kelvane.ini"));
  EXPECT_EQ(os.GetEnvironmentVariable("WINDIR"), "C:\\Windows");
  EXPECT_EQ(os.GetEnvironmentVariable("HOME"), "");
  EXPECT_EQ(os.NowText(), "07/12/2026 23:53");
  EXPECT_EQ(joinPath(os, os.ModuleFolder(), "Kelvane.ini"), "C:\\Kelvane\\Kelvane.ini");
}

}  // namespace
}  // namespace kelvane::platform
