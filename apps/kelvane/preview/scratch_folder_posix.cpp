// The scratch folder on POSIX: system calls relative to held folders, /proc for the
// processes.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "preview.h"
#include "scratch_folder.h"

namespace kelvane::cli {

namespace fs = std::filesystem;

namespace {

// Deeper folders are left; the preview makes none.
constexpr int kMaxDepth = 8;

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Removes `name` in the folder `parent` and, when it is a folder, everything in it,
// never through a symbolic link. System calls only: a signal handler uses it.
bool removeTree(int parent, const char* name, int depth = 0) {
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ::unlinkat(parent, name, 0) == 0;  // a file or a link
  alignas(dirent64) char entries[2048];
  // Entries move as others go: the folder is read again until a pass removes nothing.
  for (bool removed = true; removed;) {
    removed = false;
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::getdents64(fd, entries, sizeof entries)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const dirent64*>(entries + at);
        at += e->d_reclen;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const bool folder = e->d_type == DT_DIR || (e->d_type == DT_UNKNOWN && ::unlinkat(fd, e->d_name, 0) != 0 &&
                                                    (errno == EISDIR || errno == EPERM));
        if (folder ? depth < kMaxDepth && removeTree(fd, e->d_name, depth + 1) : ::unlinkat(fd, e->d_name, 0) == 0) {
          removed = true;
        }
      }
    }
  }
  ::close(fd);
  return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

enum class Process { Running, Gone, Unknown };

// Whether process `pid` runs, and then its start time (field 22 of /proc/PID/stat).
Process processOf(const std::string& pid, std::string& start) {
  const int fd = ::open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ESRCH ? Process::Gone : Process::Unknown;
  char buffer[1024];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return n == 0 || errno == ESRCH ? Process::Gone : Process::Unknown;
  const std::string_view stat(buffer, static_cast<std::size_t>(n));
  const std::size_t name = stat.rfind(')');  // the command's name may hold anything
  if (name == std::string_view::npos) return Process::Unknown;
  std::size_t at = name + 1;
  for (int field = 3; field <= 22; ++field) {
    at = stat.find_first_not_of(' ', at);
    if (at == std::string_view::npos) return Process::Unknown;
    const std::size_t end = std::min(stat.find(' ', at), stat.size());
    if (field == 22) start = std::string(stat.substr(at, end - at));
    at = end;
  }
  return allDigits(start) ? Process::Running : Process::Unknown;
}

// The live folder, for a fault. A signal handler reaches only what is static.
std::atomic<int> faultParent{-1};
char faultName[256];

void removeAfterFault() {
  const int parent = faultParent.exchange(-1);
  if (parent >= 0) removeTree(parent, faultName);
}

void onFault(int signal) {
  removeAfterFault();
  ::raise(signal);  // the default action is back (SA_RESETHAND): the program ends as it would have
}

}  // namespace

int ScratchFolder::removeStale(const fs::path& parent) {
  const int dir = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return 0;
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(parent, ec)) {
    const std::string name = entry.path().filename().string();
    const auto owner = ownerOf(name);
    struct stat st {};
    if (!owner || ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid()) {
      continue;
    }
    std::string start;
    const Process process = processOf(owner->first, start);
    if (process == Process::Unknown || (process == Process::Running && start == owner->second)) continue;
    removed += removeTree(dir, name.c_str()) ? 1 : 0;
  }
  ::close(dir);
  return removed;
}

ScratchFolder::ScratchFolder(const fs::path& parent) {
  removeStale(parent);
  const std::string pid = std::to_string(::getpid());
  std::string start;
  // Without its start time the folder carries no owner, and no later preview removes it.
  if (processOf(pid, start) != Process::Running) start.clear();
  std::string full = (parent / (stemOf(pid, start) + "XXXXXX")).string();
  if (!::mkdtemp(full.data())) throw PreviewError("cannot make a scratch folder: " + std::string(std::strerror(errno)));
  path = full;
  name_ = path.filename().string();
  parent_ = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (parent_ >= 0 && name_.size() < sizeof faultName) {
    std::memcpy(faultName, name_.c_str(), name_.size() + 1);
    faultParent.store(parent_);
  }
}

ScratchFolder::~ScratchFolder() {
  int mine = parent_;
  faultParent.compare_exchange_strong(mine, -1);
  if (parent_ >= 0) {
    removeTree(parent_, name_.c_str());
    ::close(parent_);
  } else {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
}

void ScratchFolder::removeOnFault() {
  // A fault may be a stack overflow: the handler runs on a stack of its own.
  static char stack[64 * 1024];
  stack_t alternate{};
  alternate.ss_sp = stack;
  alternate.ss_size = sizeof stack;
  ::sigaltstack(&alternate, nullptr);
  struct sigaction action {};
  action.sa_handler = onFault;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
  for (const int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) ::sigaction(s, &action, nullptr);
  std::atexit(removeAfterFault);
}

}  // namespace kelvane::cli
