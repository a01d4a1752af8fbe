#include "platform/posix_platform.h"

#include <gmock/gmock.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/platform_contract.h"

namespace kelvane::platform {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::ThrowsMessage;

struct PosixEnv {
  PosixEnv() {
    std::string pattern = (fs::temp_directory_path() / "kelvane-XXXXXX").string();
    if (::mkdtemp(pattern.data())) folder = pattern;
  }
  ~PosixEnv() {
    ::chmod(folder.c_str(), 0700);
    fs::remove_all(folder);
  }

  Platform& platform() { return os; }
  std::string path(const std::string& name) { return folder + "/" + name; }
  void put(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary | std::ios::trunc) << bytes;
  }
  std::optional<std::string> get(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  std::vector<std::string> names() {
    std::vector<std::string> all;
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.path().filename() != "pipe") all.push_back(entry.path().filename().string());
    std::sort(all.begin(), all.end());
    return all;
  }
  void makeFolder(const std::string& name) { fs::create_directory(path(name)); }
  std::string special() {
    ::mkfifo(path("pipe").c_str(), 0600);
    return path("pipe");
  }
  void makeReadOnly(const std::string& name) { ::chmod(path(name).c_str(), 0444); }
  void makeOld(const std::string& name) {
    fs::last_write_time(path(name), fs::last_write_time(path(name)) - std::chrono::hours(1));
  }
  void setEnvironment(const std::string& name, const char* value) {
    if (value) ::setenv(name.c_str(), value, 1);
    else ::unsetenv(name.c_str());
  }
  std::string unstartable() { return "\\system32\\notepad " + path("Kelvane.ini"); }
  // Root writes into any folder of its file systems but sysfs, which creates no files.
  std::string unwritableFolder() {
    if (::geteuid() != 0) {
      makeFolder("locked");
      ::chmod(path("locked").c_str(), 0555);
      return path("locked");
    }
    const int fd = ::open("/sys/.kelvane-probe", O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return errno == EACCES ? "/sys" : "";
    ::close(fd);
    ::unlink("/sys/.kelvane-probe");
    return "";
  }

  std::string folder;
  PosixPlatform os{"/opt/kelvane"};
};

using namespace contract;  // NOLINT: the suite's generated names
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, PlatformContract, PosixEnv);

class PosixPlatformTest : public testing::Test {
 protected:
  mode_t modeOf(const std::string& name) {
    struct stat info {};
    ::stat(env_.path(name).c_str(), &info);
    return info.st_mode & 07777;
  }
  void write(const std::string& name, const std::string& line) {
    auto writer = env_.os.CreateTextFile(env_.path(name));
    writer->WriteLine(line);
    writer->Close();
  }

  PosixEnv env_;
  PosixPlatform& os_ = env_.os;
};

TEST_F(PosixPlatformTest, KeepsTheTargetsPermissions) {
  for (const mode_t mode : {0600, 0640, 0664}) {
    env_.put("Kelvane.log", "old");
    ::chmod(env_.path("Kelvane.log").c_str(), mode);
    write("Kelvane.log", "new");
    EXPECT_EQ(modeOf("Kelvane.log"), mode);
  }
  const mode_t mask = ::umask(027);
  write("new.log", "x");
  ::umask(mask);
  EXPECT_EQ(modeOf("new.log"), 0640u) << "a new file gets what the umask leaves";
}

TEST_F(PosixPlatformTest, WritesThroughASymbolicLinkToAFileAndRefusesOthers) {
  env_.put("real.log", "old");
  fs::create_symlink("real.log", env_.path("Kelvane.log"));
  write("Kelvane.log", "new");
  EXPECT_TRUE(fs::is_symlink(env_.path("Kelvane.log")));
  EXPECT_EQ(env_.get("real.log"), "new\r\n");

  struct Case {
    std::string link;
    std::string to;
    const char* reason;
  };
  const Case cases[] = {
      {"dangling.log", "missing.log", "a symbolic link to no file"},
      {"device.log", "/dev/null", "not a regular file"},
      {"folder.log", env_.folder, "not a regular file"},
  };
  for (const auto& c : cases) {
    fs::create_symlink(c.to, env_.path(c.link));
    EXPECT_THAT([&] { os_.CreateTextFile(env_.path(c.link)); }, ThrowsMessage<PlatformError>(HasSubstr(c.reason)))
        << c.link;
    EXPECT_TRUE(fs::is_symlink(env_.path(c.link))) << c.link;
  }
  EXPECT_FALSE(fs::exists(env_.path("missing.log")));
  EXPECT_THAT([&] { os_.CreateTextFile("/dev/null"); }, ThrowsMessage<PlatformError>(HasSubstr("not a regular file")));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(PosixPlatformTest, NeverFollowsOrRemovesALinkPlantedAsATemporaryFile) {
  env_.put("victim", "precious");
  fs::create_symlink(env_.path("victim"), env_.path(".Kelvane.log.AbC123"));
  write("Kelvane.log", "new");
  EXPECT_EQ(env_.get("victim"), "precious");
  EXPECT_TRUE(fs::is_symlink(env_.path(".Kelvane.log.AbC123")));
}

TEST_F(PosixPlatformTest, LeavesTheTemporaryFileOfALiveWriterAlone) {
  auto first = os_.CreateTextFile(env_.path("Kelvane.log"));
  first->WriteLine("first");
  write("Kelvane.log", "second");
  EXPECT_NO_THROW(first->Close());
  EXPECT_EQ(env_.get("Kelvane.log"), "first\r\n");
  EXPECT_THAT(env_.names(), testing::ElementsAre("Kelvane.log"));
}

TEST_F(PosixPlatformTest, AFailedWriteKeepsTheOldFileAndNoTemporary) {
  env_.put("Kelvane.log", "old");
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  auto writer = os_.CreateTextFile(env_.path("Kelvane.log"));
  writer->WriteLine(std::string(4096, 'x'));
  EXPECT_THAT([&] { writer->Close(); }, ThrowsMessage<PlatformError>(HasSubstr("cannot write the temporary file")));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(env_.get("Kelvane.log"), "old");
  EXPECT_THAT(env_.names(), testing::ElementsAre("Kelvane.log"));
  EXPECT_THAT([&] { os_.CreateTextFile(env_.path("no-folder/x.txt")); },
              ThrowsMessage<PlatformError>(HasSubstr(env_.path("no-folder/x.txt") + ": cannot create a temporary")));
}

TEST_F(PosixPlatformTest, StartsAProgramWithoutAShellOrWaitingAndLeavesNoChild) {
  const std::string odd = env_.path("Kelvane $(touch injected) 'x'");
  os_.StartProcess("/usr/bin/touch " + odd);
  os_.StartProcess("\"/usr/bin/touch\"  " + env_.path("quoted"));
  auto childLeft = [] {
    int status = 0;
    errno = 0;
    return !(::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD);
  };
  for (int i = 0; i < 200 && childLeft(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(childLeft());
  EXPECT_TRUE(fs::exists(odd)) << "the rest of the line is one argument";
  EXPECT_TRUE(fs::exists(env_.path("quoted")));
  EXPECT_FALSE(fs::exists("injected"));
  EXPECT_FALSE(fs::exists(env_.path("injected")));
  EXPECT_THAT([&] { os_.StartProcess(""); }, ThrowsMessage<PlatformError>(HasSubstr("no program")));
}

TEST_F(PosixPlatformTest, SystemValues) {
  EXPECT_EQ(os_.DecimalSeparator(), ".");
  EXPECT_EQ(os_.PathSeparator(), "/");
  EXPECT_EQ(os_.ModuleFolder(), "/opt/kelvane");
  EXPECT_NE(os_.ModuleHandle(), 0u);
  EXPECT_THAT(os_.NowText(), testing::MatchesRegex("[0-9/]+ [0-9:]+"));
  fs::create_directory(env_.path("sub"));
  EXPECT_THROW(os_.RemoveFile(env_.path("sub")), PlatformError);
}

TEST_F(PosixPlatformTest, MessagesGoToStandardError) {
  testing::internal::CaptureStderr();
  os_.ShowMessage("Error in line 3");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Kelvane: Error in line 3\n");
}

}  // namespace
}  // namespace kelvane::platform
