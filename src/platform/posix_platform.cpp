#include "platform/posix_platform.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/whole_file.h"

extern char** environ;

namespace kelvane::platform {

namespace {

PlatformError systemError(const std::string& what, const std::string& path, int error) {
  return PlatformError(what + " " + path + ": " + std::strerror(error));
}

// The files are small (a page definition, a log), so a reader takes the whole file at
// once and the handle is closed before the first line is read.
class PosixReader : public LineReader {
 public:
  PosixReader(std::string path, std::string bytes) : path_(std::move(path)), lines_(std::move(bytes)) {}

  bool AtEndOfStream() override { return closed_ || lines_.atEnd(); }

  std::string_view ReadLineView() override {
    if (closed_) throw PlatformError("read from a closed file: " + path_);
    if (lines_.atEnd()) throw PlatformError("input past end of file: " + path_);
    return lines_.take();
  }

  void Close() override { closed_ = true; }

 private:
  std::string path_;
  Cp1252Lines lines_;
  bool closed_ = false;
};

}  // namespace

PosixPlatform::PosixPlatform(std::string moduleFolder) : moduleFolder_(std::move(moduleFolder)) {}

std::string PosixPlatform::ModuleFolder() { return moduleFolder_; }

std::uintptr_t PosixPlatform::ModuleHandle() { return 1; }  // no module handles here; any non-zero value

std::string PosixPlatform::PathSeparator() { return "/"; }

bool PosixPlatform::FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Only regular files: opening a FIFO for reading waits for a writer forever, and
// opening a device can act on it. The type is checked before opening and again on the
// open file, which O_NONBLOCK keeps from waiting if it changed in between.
std::unique_ptr<LineReader> PosixPlatform::OpenTextFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) throw systemError("cannot open", path, errno);
  if (S_ISDIR(info.st_mode)) throw systemError("cannot open", path, EISDIR);
  if (!S_ISREG(info.st_mode)) throw PlatformError("cannot open " + path + ": not a regular file");
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw systemError("cannot open", path, errno);
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!regular) ::close(fd);
  if (!regular) throw PlatformError("cannot open " + path + ": not a regular file");
  std::string bytes;
  int error = 0;
  char chunk[64 * 1024];
  while (error == 0) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) bytes.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (error != 0) throw systemError("cannot read", path, error);
  return std::make_unique<PosixReader>(path, std::move(bytes));
}

std::unique_ptr<LineWriter> PosixPlatform::CreateTextFile(const std::string& path) {
  return wholeFileLineWriter(path, encodeCp1252);
}

void PosixPlatform::RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw systemError("cannot remove", path, errno);
}

// Only the user reads their own folder.
void PosixPlatform::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return;
  const int error = errno;
  struct stat info {};
  if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return;
  throw systemError("cannot create the folder", path, error == EEXIST ? ENOTDIR : error);
}

std::string PosixPlatform::UserFolder() {
  const std::string base = EnvironmentVariable("LOCALAPPDATA");
  return base.empty() ? "" : base + "/Kelvane";
}

void PosixPlatform::ShowMessage(const std::string& text) { std::cerr << "Kelvane: " << text << std::endl; }

// No shell: the program gets its argument as it stands. posix_spawnp reports a program
// that cannot be run; a thread of its own waits for the process to end, so that it
// leaves no zombie and the caller does not wait.
void PosixPlatform::StartProcess(const std::string& commandLine) {
  std::vector<std::string> words = splitCommandLine(commandLine);
  if (words[0].empty()) throw PlatformError("cannot start " + commandLine + ": no program named");
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (error != 0) throw systemError("cannot start", commandLine, error);
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::string PosixPlatform::EnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

std::string PosixPlatform::NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!::localtime_r(&now, &local)) throw PlatformError("cannot read the clock");
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%x %X", &local);
  return std::string(buffer, length);
}

std::string PosixPlatform::DecimalSeparator() {
  const std::lconv* conventions = std::localeconv();
  return conventions && conventions->decimal_point && *conventions->decimal_point ? conventions->decimal_point
                                                                                  : ".";
}

bool PosixPlatform::FitsCodePage(const std::string& text) { return !firstUnmappableCp1252(text); }

}  // namespace kelvane::platform
