// The Windows platform under Wine, whose ANSI code page is Windows-1252 in the
// tests' locale.
#include "platform/windows_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "com/win32.h"
#include "platform/platform_contract.h"

namespace kelvane::platform {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

struct WindowsEnv {
  WindowsEnv() {
    static int count = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder = utf16ToUtf8(temp) + "kelvane-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    CreateDirectoryW(utf8ToUtf16(folder).c_str(), nullptr);
  }
  ~WindowsEnv() {
    for (const auto& name : locked) SetFileAttributesW(wide(name).c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    fs::remove_all(fs::path(utf8ToUtf16(folder)), ignored);
  }

  std::wstring wide(const std::string& name) { return utf8ToUtf16(path(name)); }
  Platform& platform() { return os; }
  std::string path(const std::string& name) { return folder + "\\" + name; }
  void put(const std::string& name, const std::string& bytes) {
    std::ofstream(fs::path(wide(name)), std::ios::binary | std::ios::trunc) << bytes;
  }
  std::optional<std::string> get(const std::string& name) {
    std::ifstream in(fs::path(wide(name)), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  std::vector<std::string> names() {
    std::vector<std::string> all;
    for (const auto& entry : fs::directory_iterator(fs::path(utf8ToUtf16(folder))))
      all.push_back(utf16ToUtf8(entry.path().filename().wstring()));
    std::sort(all.begin(), all.end());
    return all;
  }
  void makeFolder(const std::string& name) { CreateDirectoryW(wide(name).c_str(), nullptr); }
  std::string special() { return "NUL"; }
  void makeReadOnly(const std::string& name) {
    SetFileAttributesW(wide(name).c_str(), FILE_ATTRIBUTE_READONLY);
    locked.push_back(name);
  }
  void makeOld(const std::string& name) {
    fs::last_write_time(fs::path(wide(name)), fs::last_write_time(fs::path(wide(name))) - std::chrono::hours(1));
  }
  void setEnvironment(const std::string& name, const char* value) {
    SetEnvironmentVariableW(utf8ToUtf16(name).c_str(), value ? utf8ToUtf16(value).c_str() : nullptr);
  }
  std::string unstartable() { return "C:\\no\\such\\program.exe " + path("in.txt"); }
  // Wine runs as root here, who may write anywhere but in sysfs, which creates no files:
  // Windows sees "access denied" there as in Program Files.
  std::string unwritableFolder() {
    const HANDLE probe = CreateFileW(L"Z:\\sys\\.kelvane-probe", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED ? "Z:\\sys" : "";
    CloseHandle(probe);
    return "";
  }

  std::string folder;
  std::vector<std::string> locked;
  WindowsPlatform os{reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr))};
};

using namespace contract;  // NOLINT: the suite's generated names
INSTANTIATE_TYPED_TEST_SUITE_P(Windows, PlatformContract, WindowsEnv);

TEST(WindowsPlatform, RunsInTheWindows1252CodePage) { ASSERT_EQ(GetACP(), 1252u); }

TEST(WindowsPlatform, LocaleAndModule) {
  WindowsEnv env;
  EXPECT_EQ(env.os.DecimalSeparator(), ".");
  EXPECT_EQ(env.os.PathSeparator(), "\\");
  EXPECT_THAT(env.os.NowText(), testing::MatchesRegex(".*\\d .*\\d.*"));

  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::string file = utf16ToUtf8(program);
  EXPECT_EQ(env.os.ModuleFolder(), file.substr(0, file.rfind('\\')));
  EXPECT_EQ(WindowsPlatform(std::string("C:\\Add-ins")).ModuleFolder(), "C:\\Add-ins");
}

TEST(WindowsPlatform, AFileInAMissingFolderCannotBeWritten) {
  WindowsEnv env;
  const std::string path = env.path("no-folder\\x.txt");
  EXPECT_THAT([&] { env.os.CreateTextFile(path); },
              testing::ThrowsMessage<PlatformError>(HasSubstr(path + ": cannot create a temporary file")));
}

}  // namespace
}  // namespace kelvane::platform
