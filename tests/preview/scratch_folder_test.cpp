#include "scratch_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace kelvane::cli {
namespace {

namespace fs = std::filesystem;

// The start time of this process, as /proc gives it.
std::string ownStart() {
  std::ifstream in("/proc/self/stat");
  const std::string stat(std::istreambuf_iterator<char>(in), {});
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 22; ++i) fields >> field;
  return field;
}

// A pid that no process has now.
std::string deadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return std::to_string(child);
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

class ScratchFolders : public testing::Test {
 protected:
  void SetUp() override {
    parent_ = fs::temp_directory_path() / ("kelvane-scratch-test-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(parent_);
    fs::create_directories(parent_);
  }
  void TearDown() override { fs::remove_all(parent_); }

  fs::path parent_;
};

TEST_F(ScratchFolders, OnlyThisUsersFoldersWhoseProcessIsGoneAreRemoved) {
  const std::string me = std::to_string(::getpid()), start = ownStart(), dead = deadPid();
  const fs::path outside = parent_ / "outside";
  fs::create_directories(outside / "sub");
  std::ofstream(outside / "sub" / "keep.txt") << "not the preview's";

  const struct {
    std::string name;
    bool removed;
  } cases[] = {
      {"kelvane-preview-" + dead + "-12345-AAAAAA", true},                       // its process is gone
      {"kelvane-preview-" + me + "-" + start + "-BBBBBB", false},                // its process runs
      {"kelvane-preview-" + me + "-" + start + "1-CCCCCC", true},                // the pid was given again
      {"kelvane-preview-" + dead + "-12345-DDDDDDD", false},                     // not such a name
      {"kelvane-preview-" + dead + "-x-EEEEEE", false},
      {"kelvane-preview-0" + dead + "-12345-KKKKKK", false},
      {"kelvane-preview-FFFFFF", false},
      {"kelvane-previews-" + dead + "-12345-GGGGGG", false},
  };
  for (const auto& c : cases) {
    fs::create_directories(parent_ / c.name / "sub");
    std::ofstream(parent_ / c.name / "Kelvane.ini") << "[Groups]\n";
    std::ofstream(parent_ / c.name / "sub" / "x") << "x";
    // What a folder links to is not the preview's, and stays.
    fs::create_directory_symlink(outside, parent_ / c.name / "link");
    fs::create_symlink(outside / "sub" / "keep.txt", parent_ / c.name / "sub" / "file-link");
  }
  // A link or a file with a stale name is no folder of the preview's.
  fs::create_directory_symlink(outside, parent_ / ("kelvane-preview-" + dead + "-1-HHHHHH"));
  std::ofstream(parent_ / ("kelvane-preview-" + dead + "-1-IIIIII")) << "a file";
  std::vector<std::string> kept = {"outside", "kelvane-preview-" + dead + "-1-HHHHHH",
                                   "kelvane-preview-" + dead + "-1-IIIIII"};
  // Another user's folder stays (only root can make one here).
  if (::geteuid() == 0) {
    const std::string foreign = "kelvane-preview-" + dead + "-2-JJJJJJ";
    fs::create_directory(parent_ / foreign);
    ASSERT_EQ(::chown((parent_ / foreign).c_str(), 65534, 65534), 0);
    kept.push_back(foreign);
  }

  EXPECT_EQ(ScratchFolder::removeStale(parent_), 2);

  std::set<std::string> expected(kept.begin(), kept.end());
  for (const auto& c : cases) {
    if (!c.removed) expected.insert(c.name);
  }
  EXPECT_EQ(namesIn(parent_), expected);
  EXPECT_EQ(namesIn(outside / "sub"), std::set<std::string>{"keep.txt"});
}

TEST_F(ScratchFolders, AFolderCarriesItsOwnerAndGoesWithIt) {
  fs::path made;
  {
    ScratchFolder folder(parent_);
    made = folder.path;
    EXPECT_EQ(made.parent_path(), parent_);
    EXPECT_EQ(made.filename().string().rfind("kelvane-preview-" + std::to_string(::getpid()) + "-" + ownStart() + "-", 0),
              0u);
    fs::create_directories(made / "sub");
    std::ofstream(made / "sub" / "x") << "x";
    EXPECT_EQ(ScratchFolder::removeStale(parent_), 0) << "a live folder is no stale one";
  }
  EXPECT_FALSE(fs::exists(made));
}

// `kelvane preview` as a process of its own, with its temp folder in `tmp`.
class PreviewProcess {
 public:
  PreviewProcess(const fs::path& tmp, const fs::path& addinDir) {
    int out[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> env = {"TMPDIR=" + tmp.string()};
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = KELVANE_PROGRAM, command = "preview", option = "--addin-dir", dir = addinDir.string();
    char* argv[] = {program.data(), command.data(), option.data(), dir.data(), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~PreviewProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }

  // Whether it printed its address, and so serves, within 30 s.
  bool serving() {
    std::string printed;
    char bytes[256];
    pollfd p{out_, POLLIN, 0};
    while (printed.find('\n') == std::string::npos && ::poll(&p, 1, 30'000) > 0) {
      const ssize_t n = ::read(out_, bytes, sizeof bytes);
      if (n <= 0) break;
      printed.append(bytes, static_cast<std::size_t>(n));
    }
    return printed.rfind("Kelvane preview: http://127.0.0.1:", 0) == 0;
  }

  // Sends `signal` and answers the wait status.
  int end(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

std::set<std::string> scratchFoldersIn(const fs::path& tmp) {
  std::set<std::string> names;
  for (const auto& name : namesIn(tmp)) {
    if (name.rfind("kelvane-preview-", 0) == 0) names.insert(name);
  }
  return names;
}

TEST_F(ScratchFolders, EveryEndOfThePreviewThatRunsCodeRemovesItsFolder) {
  const fs::path addin = parent_ / "addin";
  fs::create_directories(addin);
  fs::copy_file(fs::path(KELVANE_SOURCE_DIR) / "examples" / "Kelvane.ini", addin / "Kelvane.ini");
  const struct {
    int signal;
    bool clean;  // a clean stop, exit status 0; else ended by the signal itself
  } cases[] = {
      {SIGTERM, true},  {SIGINT, true},   {SIGHUP, true},   {SIGQUIT, true},
      {SIGUSR1, true},  {SIGSEGV, false}, {SIGABRT, false}, {SIGBUS, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    PreviewProcess preview(parent_, addin);
    ASSERT_TRUE(preview.serving());
    EXPECT_EQ(scratchFoldersIn(parent_).size(), 1u);
    const int status = preview.end(c.signal);
    if (c.clean) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
    }
    EXPECT_EQ(scratchFoldersIn(parent_), std::set<std::string>{});
  }
}

TEST_F(ScratchFolders, AfterSigkillTheNextPreviewRemovesTheFolderLeftBehind) {
  const fs::path addin = parent_ / "addin";
  fs::create_directories(addin);
  fs::copy_file(fs::path(KELVANE_SOURCE_DIR) / "examples" / "Kelvane.ini", addin / "Kelvane.ini");

  std::set<std::string> left;
  {
    PreviewProcess killed(parent_, addin);
    ASSERT_TRUE(killed.serving());
    left = scratchFoldersIn(parent_);
    killed.end(SIGKILL);
  }
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(scratchFoldersIn(parent_), left) << "nothing runs on SIGKILL";

  PreviewProcess next(parent_, addin);
  ASSERT_TRUE(next.serving());
  const auto now = scratchFoldersIn(parent_);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(*now.begin(), *left.begin());
  EXPECT_EQ(next.end(SIGTERM), 0);
  EXPECT_EQ(scratchFoldersIn(parent_), std::set<std::string>{});
}

}  // namespace
}  // namespace kelvane::cli
