#include "atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <random>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::cli {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& path, const std::string& what, int error) {
  throw WriteError(path + ": " + what + ": " + std::strerror(error));
}

fs::path resolvedTarget(const std::string& path) {
  fs::path target = path;
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    const fs::path real = fs::canonical(target, ec);
    if (!ec) target = real;
  }
  return target;
}

fs::path folderOf(const fs::path& target) {
  const fs::path folder = target.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

#ifdef _WIN32

int createTemporary(const fs::path& target, fs::path& temporary) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = folderOf(target) / ("." + target.filename().string() + "." + std::to_string(random()));
    const int fd = ::_wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool syncAndClose(int fd) {
  const bool synced = ::_commit(fd) == 0;
  return ::_close(fd) == 0 && synced;
}

bool replace(const fs::path& from, const fs::path& to) {
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  errno = EACCES;  // the usual cause: the target is open elsewhere or read-only
  return false;
}

int writeSome(int fd, const char* data, std::size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}

void keepPermissions(int, const fs::path&) {}

// MoveFileEx already refuses to replace a read-only file.
void refuseReadOnly(const std::string&, const fs::path&) {}

#else

int createTemporary(const fs::path& target, fs::path& temporary) {
  std::string name = (folderOf(target) / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(name.data());
  temporary = name;
  return fd;
}

bool syncAndClose(int fd) {
  const bool synced = ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

bool replace(const fs::path& from, const fs::path& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

ssize_t writeSome(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }

// mkstemp creates the file for its owner only; it gets what the old file had, or
// what the umask leaves for a new one.
void keepPermissions(int fd, const fs::path& target) {
  struct stat old {};
  mode_t mode = 0;
  if (::stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
}

// rename() would replace a file its owner made read-only as long as the folder is
// writable; a locked document is left alone instead.
void refuseReadOnly(const std::string& path, const fs::path& target) {
  if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0)
    fail(path, "the file is read-only", errno);
}

#endif

}  // namespace

void writeFileAtomically(const std::string& path, const std::string& text) {
  const fs::path target = resolvedTarget(path);
  refuseReadOnly(path, target);
  fs::path temporary;
  const int fd = createTemporary(target, temporary);
  if (fd < 0) fail(path, "cannot create a temporary file beside it", errno);
  keepPermissions(fd, target);

  auto abandon = [&](const char* what, int error, bool open) {
    if (open) syncAndClose(fd);
    std::error_code ignored;
    fs::remove(temporary, ignored);
    fail(path, what, error);
  };
  for (std::size_t done = 0; done < text.size();) {
    const auto n = writeSome(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) abandon("cannot write the temporary file", errno, true);
    done += static_cast<std::size_t>(n);
  }
  if (!syncAndClose(fd)) abandon("cannot write the temporary file", errno, false);
  if (!replace(temporary, target)) abandon("cannot replace the file", errno, false);
}

}  // namespace kelvane::cli
