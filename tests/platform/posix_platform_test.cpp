#include "platform/posix_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace kelvane::platform {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::ThrowsMessage;

class PosixPlatformTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvane-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  void writeBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string readBytes(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
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
  PosixPlatform os_{"/opt/kelvane"};
};

TEST_F(PosixPlatformTest, ReadsCp1252FilesLineByLine) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"[Part]\r\nFinish;caf\xE9\r\n", {"[Part]", "Finish;caf\u00E9"}},
      {"a\nb", {"a", "b"}},
      {"a\rb\r\n\r\n", {"a\rb", ""}},
      {"\x80\x81", {"\u20AC\xC2\x81"}},
  };
  for (const auto& c : cases) {
    writeBytes("in.txt", c.bytes);
    EXPECT_EQ(readLines("in.txt"), c.lines) << testing::PrintToString(c.bytes);
  }
}

TEST_F(PosixPlatformTest, ReadingPastTheEndFails) {
  writeBytes("in.txt", "only\n");
  auto reader = os_.OpenTextFile(path("in.txt"));
  EXPECT_EQ(reader->ReadLine(), "only");
  EXPECT_THROW(reader->ReadLine(), PlatformError);
}

TEST_F(PosixPlatformTest, WritesCp1252WithCrLfAndTruncates) {
  writeBytes("out.txt", "a much longer old content\r\n");
  auto writer = os_.CreateTextFile(path("out.txt"));
  writer->WriteLine("caf\u00E9 \u20AC");
  writer->WriteLine("\u65E5\u672C");
  writer->WriteLine("");
  writer->Close();
  EXPECT_EQ(readBytes("out.txt"), "caf\xE9 \x80\r\n??\r\n\r\n");
}

TEST_F(PosixPlatformTest, AFullDiskIsAnError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto writer = os_.CreateTextFile("/dev/full");
  EXPECT_THROW(
      {
        writer->WriteLine("x");
        writer->Close();
      },
      PlatformError);
}

TEST_F(PosixPlatformTest, FoldersExistButCannotBeOpened) {
  std::filesystem::create_directory(path("sub"));
  EXPECT_TRUE(os_.FileExists(path("sub")));
  EXPECT_THAT([&] { os_.OpenTextFile(path("sub")); }, ThrowsMessage<PlatformError>(HasSubstr(path("sub"))));
  EXPECT_THROW(os_.CreateTextFile(path("sub")), PlatformError);
  EXPECT_THROW(os_.RemoveFile(path("sub")), PlatformError);
}

TEST_F(PosixPlatformTest, MissingFiles) {
  EXPECT_FALSE(os_.FileExists(path("none")));
  EXPECT_THAT([&] { os_.OpenTextFile(path("none")); }, ThrowsMessage<PlatformError>(HasSubstr(path("none"))));
  EXPECT_FALSE(os_.FileExists(path("none"))) << "opening never creates";
  EXPECT_NO_THROW(os_.RemoveFile(path("none")));
  EXPECT_THROW(os_.ReplaceFile(path("none"), path("target")), PlatformError);
  EXPECT_THROW(os_.CreateTextFile(path("no-folder/x.txt")), PlatformError);
}

TEST_F(PosixPlatformTest, ReplaceAndRemove) {
  writeBytes("new", "N");
  writeBytes("old", "O");
  os_.ReplaceFile(path("new"), path("old"));
  EXPECT_FALSE(os_.FileExists(path("new")));
  EXPECT_EQ(readBytes("old"), "N");
  os_.RemoveFile(path("old"));
  EXPECT_FALSE(os_.FileExists(path("old")));
}

TEST_F(PosixPlatformTest, StartsAProcessWithoutWaitingAndLeavesNoChild) {
  os_.StartProcess("sleep 1; echo done > '" + path("started") + "'");
  int status = 0;
  errno = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_FALSE(os_.FileExists(path("started"))) << "StartProcess waited for the command";
  for (int i = 0; i < 200 && readBytes("started") != "done\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(readBytes("started"), "done\n");
}

TEST_F(PosixPlatformTest, SystemValues) {
  ::setenv("KELVANE_TEST_VARIABLE", "C:\\Windows", 1);
  EXPECT_EQ(os_.GetEnvironmentVariable("KELVANE_TEST_VARIABLE"), "C:\\Windows");
  ::unsetenv("KELVANE_TEST_VARIABLE");
  EXPECT_EQ(os_.GetEnvironmentVariable("KELVANE_TEST_VARIABLE"), "");
  EXPECT_EQ(os_.DecimalSeparator(), ".");
  EXPECT_EQ(os_.PathSeparator(), "/");
  EXPECT_EQ(os_.ModuleFolder(), "/opt/kelvane");
  EXPECT_NE(os_.ModuleHandle(), 0u);
  EXPECT_THAT(os_.NowText(), testing::MatchesRegex("[0-9/]+ [0-9:]+"));
}

TEST_F(PosixPlatformTest, MessageBoxGoesToStandardError) {
  testing::internal::CaptureStderr();
  os_.MessageBox("Error in line 3");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Kelvane: Error in line 3\n");
}

}  // namespace
}  // namespace kelvane::platform
