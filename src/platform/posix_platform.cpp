#include "platform/posix_platform.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "platform/codepage.h"

extern char** environ;

namespace kelvane::platform {

namespace {

PlatformError systemError(const std::string& what, const std::string& path, int error) {
  return PlatformError(what + " " + path + ": " + std::strerror(error));
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The files are small (a page definition, a log), so a reader takes the whole file at
// once and the handle is closed before the first line is read.
class PosixReader : public LineReader {
 public:
  PosixReader(std::string path, std::string bytes) : path_(std::move(path)), lines_(std::move(bytes)) {}

  bool AtEndOfStream() override { return closed_ || lines_.atEnd(); }

  std::string ReadLine() override {
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

class PosixWriter : public LineWriter {
 public:
  PosixWriter(std::string path, std::ofstream out) : path_(std::move(path)), out_(std::move(out)) {}

  void WriteLine(const std::string& line) override {
    if (!out_.is_open()) throw PlatformError("write to a closed file: " + path_);
    errno = 0;
    out_ << encodeCp1252(line) << "\r\n";
    if (!out_) throw systemError("cannot write", path_, errno != 0 ? errno : EIO);
  }

  // Flushing and closing can fail (a full disk shows only here): that is an error too.
  void Close() override {
    if (!out_.is_open()) return;
    errno = 0;
    out_.close();  // flushes first; fails when the flush or the close fails
    if (!out_) throw systemError("cannot write", path_, errno != 0 ? errno : EIO);
  }

 private:
  std::string path_;
  std::ofstream out_;
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

std::unique_ptr<LineReader> PosixPlatform::OpenTextFile(const std::string& path) {
  // A folder opens fine as a stream on Linux and fails only when read.
  if (isDirectory(path)) throw systemError("cannot open", path, EISDIR);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw systemError("cannot open", path, errno);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw systemError("cannot read", path, errno);
  return std::make_unique<PosixReader>(path, std::move(bytes).str());
}

std::unique_ptr<LineWriter> PosixPlatform::CreateTextFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw systemError("cannot create", path, errno);
  return std::make_unique<PosixWriter>(path, std::move(out));
}

void PosixPlatform::ReplaceFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) throw systemError("cannot replace " + to + " by", from, errno);
}

void PosixPlatform::RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw systemError("cannot remove", path, errno);
}

void PosixPlatform::MessageBox(const std::string& text) { std::cerr << "Kelvane: " << text << std::endl; }

void PosixPlatform::StartProcess(const std::string& commandLine) {
  // The outer shell starts the command in the background and ends at once; waiting
  // for it leaves no zombie, and the command itself is adopted by init.
  const std::string script = "/bin/sh -c \"$1\" &";
  std::vector<std::string> args = {"/bin/sh", "-c", script, "sh", commandLine};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ);
  if (error != 0) throw systemError("cannot start", commandLine, error);
  int status = 0;
  pid_t waited = 0;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw PlatformError("cannot start " + commandLine);
  }
}

std::string PosixPlatform::GetEnvironmentVariable(const std::string& name) {
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

}  // namespace kelvane::platform
