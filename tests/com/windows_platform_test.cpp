// The Windows platform under Wine, whose ANSI code page is Windows-1252 in the
// tests' locale.
#include "platform/windows_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "com/win32.h"

namespace kelvane::platform {
namespace {

using testing::HasSubstr;

class WindowsPlatformTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 1252u) << "the tests expect the Windows-1252 code page";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = utf16ToUtf8(temp) + "kelvane-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(utf8ToUtf16(folder_).c_str(), nullptr);
  }
  void TearDown() override {
    for (const char* name : {"in.txt", "out.txt", "old.txt", "new.txt"}) DeleteFileW(utf8ToUtf16(path(name)).c_str());
    RemoveDirectoryW(utf8ToUtf16(path("folder")).c_str());
    RemoveDirectoryW(utf8ToUtf16(folder_).c_str());
  }

  std::string path(const std::string& name) const { return folder_ + "\\" + name; }

  void writeBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(std::filesystem::path(utf8ToUtf16(path(name))), std::ios::binary) << bytes;
  }
  std::string readBytes(const std::string& name) const {
    std::ifstream in(std::filesystem::path(utf8ToUtf16(path(name))), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  std::vector<std::string> readLines(const std::string& name) {
    auto reader = os_.OpenTextFile(path(name));
    std::vector<std::string> lines;
    while (!reader->AtEndOfStream()) lines.push_back(reader->ReadLine());
    reader->Close();
    return lines;
  }

  std::string folder_;
  WindowsPlatform os_{reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr))};
};

TEST_F(WindowsPlatformTest, ReadsAnsiFilesLineByLineAsUtf8) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"[Part]\r\nFinish;caf\xE9\r\n", {"[Part]", "Finish;caf\u00E9"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r\n\r\n", {"a\rb", ""}},
      {"\x80\x81\xFF", {"\u20AC\xC2\x81\u00FF"}},
  };
  for (const auto& c : cases) {
    writeBytes("in.txt", c.bytes);
    EXPECT_EQ(readLines("in.txt"), c.lines) << testing::PrintToString(c.bytes);
  }
}

TEST_F(WindowsPlatformTest, WritesAnsiWithCrLfAndQuestionMarksForTheRest) {
  auto writer = os_.CreateTextFile(path("out.txt"));
  writer->WriteLine("caf\u00E9 \u20AC");
  writer->WriteLine("\u0100 \u4E2D \xF0\x9F\x94\xA7");  // no look-alikes: Ā is not A
  writer->WriteLine("");
  EXPECT_EQ(readBytes("out.txt"), "") << "nothing is promised on disk before Close";
  writer->Close();
  EXPECT_EQ(readBytes("out.txt"), "caf\xE9 \x80\r\n? ? ?\r\n\r\n");
  EXPECT_THROW(writer->WriteLine("late"), PlatformError);
}

TEST_F(WindowsPlatformTest, FoldersExistButDoNotOpen) {
  CreateDirectoryW(utf8ToUtf16(path("folder")).c_str(), nullptr);
  EXPECT_TRUE(os_.FileExists(path("folder")));
  EXPECT_FALSE(os_.FileExists(path("missing.txt")));
  EXPECT_THAT([&] { os_.OpenTextFile(path("folder")); }, testing::ThrowsMessage<PlatformError>(HasSubstr("cannot open")));
  EXPECT_THROW(os_.OpenTextFile(path("missing.txt")), PlatformError);
  EXPECT_FALSE(os_.FileExists(path("missing.txt"))) << "opening never creates";
}

TEST_F(WindowsPlatformTest, ReplaceAndRemoveFiles) {
  writeBytes("old.txt", "old");
  writeBytes("new.txt", "new");
  os_.ReplaceFile(path("new.txt"), path("old.txt"));
  EXPECT_EQ(readBytes("old.txt"), "new");
  EXPECT_FALSE(os_.FileExists(path("new.txt")));
  os_.RemoveFile(path("old.txt"));
  EXPECT_FALSE(os_.FileExists(path("old.txt")));
  EXPECT_NO_THROW(os_.RemoveFile(path("old.txt")));
  EXPECT_THAT([&] { os_.ReplaceFile(path("new.txt"), path("old.txt")); },
              testing::ThrowsMessage<PlatformError>(HasSubstr("cannot replace")));
}

TEST_F(WindowsPlatformTest, EnvironmentLocaleAndModule) {
  SetEnvironmentVariableW(L"KELVANE_TEST", L"Gr\u00FC\u00DFe");
  EXPECT_EQ(os_.GetEnvironmentVariable("KELVANE_TEST"), "Grüße");
  SetEnvironmentVariableW(L"KELVANE_TEST", nullptr);
  EXPECT_EQ(os_.GetEnvironmentVariable("KELVANE_TEST"), "");
  EXPECT_EQ(os_.DecimalSeparator(), ".");
  EXPECT_EQ(os_.PathSeparator(), "\\");
  EXPECT_THAT(os_.NowText(), testing::MatchesRegex(".*\\d .*\\d.*"));

  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::string file = utf16ToUtf8(program);
  EXPECT_EQ(os_.ModuleFolder(), file.substr(0, file.rfind('\\')));
  EXPECT_EQ(WindowsPlatform(std::string("C:\\Add-ins")).ModuleFolder(), "C:\\Add-ins");
}

TEST_F(WindowsPlatformTest, StartingAMissingProgramFails) {
  EXPECT_THAT([&] { os_.StartProcess("C:\\no\\such\\program.exe " + path("in.txt")); },
              testing::ThrowsMessage<PlatformError>(HasSubstr("cannot start")));
}

}  // namespace
}  // namespace kelvane::platform
