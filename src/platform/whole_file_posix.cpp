#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>

#include "platform/whole_file.h"

namespace kelvane::platform {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what, int error) {
  throw PlatformError(path + ": " + what + ": " + std::strerror(error));
}

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
  throw PlatformError(path + ": " + what + ", left alone");
}

std::uint64_t randomBits() {
  thread_local std::mt19937_64 bits{(static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                    static_cast<std::uint64_t>(::getpid()) ^
                                    static_cast<std::uint64_t>(std::time(nullptr))};
  return bits();
}

// Reading the mask through umask() would change it for a moment for every thread.
mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "Umask:") {
      std::string octal;
      status >> octal;
      return static_cast<mode_t>(std::strtoul(octal.c_str(), nullptr, 8));
    }
    status.ignore(INT_MAX, '\n');
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// The file that writing `path` replaces: through a symbolic link, the file it names.
std::string resolvedTarget(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return path;
    fail(path, "cannot examine the file", errno);
  }
  if (!S_ISLNK(info.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) refuse(path, "a symbolic link to no file");
  std::string target = real;
  std::free(real);
  return target;
}

// The target must be missing or a writable regular file.
bool checkTarget(const std::string& path, const std::string& target, struct stat& info) {
  if (::lstat(target.c_str(), &info) != 0) {
    if (errno == ENOENT) return false;
    fail(path, "cannot examine the file", errno);
  }
  if (!S_ISREG(info.st_mode)) refuse(path, "not a regular file");
  // rename() would replace a read-only file as long as its folder is writable; the
  // owner's lock is respected instead, root's writes included.
  if ((info.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) refuse(path, "the file is read-only");
  return true;
}

// Leftovers of interrupted writes of `name`: hidden temporary files of ours, regular,
// not held by a live writer (each locks its temporary file right after creating it,
// so an empty one may be a writer's between the two steps and goes only once it is a
// few seconds old).
void removeLeftovers(const std::string& folder, const std::string& name, const std::string& own) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::time_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string candidate = entry->d_name;
    if (candidate == own || !isTemporaryNameOf(name, candidate)) continue;
    const std::string full = folder + "/" + candidate;
    struct stat seen {};
    if (::lstat(full.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode)) continue;
    if (seen.st_size == 0 && now - seen.st_mtime < 3) continue;
    const int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat opened {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && opened.st_ino == seen.st_ino &&
        opened.st_dev == seen.st_dev) {
      ::unlink(full.c_str());
    }
    ::close(fd);
  }
  ::closedir(dir);
}

}  // namespace

struct WholeFileWriter::State {
  std::string path;       // as given, for the messages
  std::string target;     // the file replaced
  std::string folder;
  std::string name;
  std::string temporary;  // its name in `folder`
  int fd = -1;
  bool committed = false;

  std::string temporaryPath() const { return folder + "/" + temporary; }
};

WholeFileWriter::WholeFileWriter(const std::string& path) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.path = path;
  s.target = resolvedTarget(path);
  const auto slash = s.target.rfind('/');
  s.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : s.target.substr(0, slash);
  s.name = slash == std::string::npos ? s.target : s.target.substr(slash + 1);
  if (s.name.empty()) refuse(path, "not a regular file");

  struct stat old {};
  const bool exists = checkTarget(path, s.target, old);
  for (int attempt = 0; attempt < 100 && s.fd < 0; ++attempt) {
    s.temporary = temporaryNameOf(s.name, randomBits());
    // O_EXCL never opens an existing file, nor follows a symbolic link planted there.
    s.fd = ::open(s.temporaryPath().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (s.fd < 0 && errno != EEXIST) break;
  }
  if (s.fd < 0) {
    const int error = errno;
    const std::string what = path + ": cannot create a temporary file beside it: " + std::strerror(error);
    if (error == EACCES || error == EPERM || error == EROFS) throw FolderNotWritable(what);
    throw PlatformError(what);
  }
  ::flock(s.fd, LOCK_EX);
  if (exists) {
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
      [[maybe_unused]] const int ignored = ::fchown(s.fd, old.st_uid, old.st_gid);  // only root may
    }
    ::fchmod(s.fd, old.st_mode & 07777);
  } else {
    ::fchmod(s.fd, 0666 & ~currentUmask());
  }
}

WholeFileWriter::~WholeFileWriter() {
  if (state_->fd >= 0) ::close(state_->fd);
  if (!state_->committed) ::unlink(state_->temporaryPath().c_str());
}

void WholeFileWriter::write(std::string_view bytes) {
  State& s = *state_;
  if (s.fd < 0 || s.committed) throw PlatformError(s.path + ": write to a closed file");
  while (!bytes.empty()) {
    const ssize_t n = ::write(s.fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(s.path, "cannot write the temporary file", errno);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void WholeFileWriter::commit() {
  State& s = *state_;
  if (s.fd < 0 || s.committed) throw PlatformError(s.path + ": write to a closed file");
  if (::fsync(s.fd) != 0) fail(s.path, "cannot write the temporary file", errno);
  struct stat now {};
  checkTarget(s.path, s.target, now);  // it may have changed since the start
  // The lock is held until the name is gone, so no other writer takes this file for
  // a leftover.
  if (::rename(s.temporaryPath().c_str(), s.target.c_str()) != 0) fail(s.path, "cannot replace the file", errno);
  s.committed = true;
  ::close(s.fd);  // the data is on disk already; a late close error changes nothing
  s.fd = -1;
  removeLeftovers(s.folder, s.name, s.temporary);
}

}  // namespace kelvane::platform
