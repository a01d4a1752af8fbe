#include "platform/fake_platform.h"

#include <algorithm>
#include <stdexcept>

#include "platform/codepage.h"

namespace kelvane::platform {

namespace {

// The bytes were taken when the file was opened, as a real reader sees the file's
// contents at that time.
class FakeReader : public LineReader {
 public:
  FakeReader(FakePlatform& os, std::string path, std::string bytes)
      : os_(os), path_(std::move(path)), lines_(std::move(bytes)) {}

  bool AtEndOfStream() override { return closed_ || lines_.atEnd(); }

  std::string ReadLine() override {
    os_.hit(FakePlatform::Op::ReadLine);
    if (closed_) throw PlatformError("read from a closed file: " + path_);
    if (lines_.atEnd()) throw PlatformError("input past end of file: " + path_);
    return lines_.take();
  }

  void Close() override { closed_ = true; }

 private:
  FakePlatform& os_;
  std::string path_;
  Cp1252Lines lines_;
  bool closed_ = false;
};

// Buffers everything and stores it on Close(), like a file that is written and then
// flushed: a failure before Close() leaves the (already truncated) file as it was.
class FakeWriter : public LineWriter {
 public:
  FakeWriter(FakePlatform& os, std::string path) : os_(os), path_(std::move(path)) {}

  void WriteLine(const std::string& line) override {
    os_.hit(FakePlatform::Op::WriteLine);
    if (closed_) throw PlatformError("write to a closed file: " + path_);
    buffer_ += encodeCp1252(line);
    buffer_ += "\r\n";
  }

  void Close() override {
    if (closed_) return;
    closed_ = true;  // a failed close leaves the handle gone all the same
    os_.hit(FakePlatform::Op::CloseWriter);
    os_.files[path_] = buffer_;
  }

 private:
  FakePlatform& os_;
  std::string path_;
  std::string buffer_;
  bool closed_ = false;
};

}  // namespace

const std::vector<std::string>& FakePlatform::operations() {
  static const std::vector<std::string> names = {
      "file-exists",  "open-text-file", "read-line",   "create-text-file", "write-line",  "close-writer",
      "replace-file", "remove-file",    "message-box", "start-process",    "environment", "now",
  };
  return names;
}

void FakePlatform::hit(Op operation) {
  const auto at = static_cast<std::size_t>(operation);
  const std::string& name = operations()[at];
  calls.push_back(name);
  if (faults_.due(at)) throw PlatformError(name + " failed");
}

std::string FakePlatform::fileText(const std::string& name) const {
  const auto found = files.find(pathOf(name));
  return found == files.end() ? "" : decodeCp1252(found->second);
}

void FakePlatform::setFileText(const std::string& name, const std::string& utf8) {
  files[pathOf(name)] = encodeCp1252(utf8);
}

std::string FakePlatform::ModuleFolder() { return moduleFolder; }
std::uintptr_t FakePlatform::ModuleHandle() { return moduleHandle; }
std::string FakePlatform::PathSeparator() { return separator; }

bool FakePlatform::FileExists(const std::string& path) {
  hit(Op::FileExists);
  return files.contains(path) || isDirectory(path);
}

std::unique_ptr<LineReader> FakePlatform::OpenTextFile(const std::string& path) {
  hit(Op::OpenTextFile);
  if (isDirectory(path)) throw PlatformError("cannot open a folder: " + path);
  const auto found = files.find(path);
  if (found == files.end()) throw PlatformError("file not found: " + path);
  return std::make_unique<FakeReader>(*this, path, found->second);
}

std::unique_ptr<LineWriter> FakePlatform::CreateTextFile(const std::string& path) {
  hit(Op::CreateTextFile);
  if (isDirectory(path)) throw PlatformError("cannot create over a folder: " + path);
  files[path] = "";
  return std::make_unique<FakeWriter>(*this, path);
}

void FakePlatform::ReplaceFile(const std::string& from, const std::string& to) {
  hit(Op::ReplaceFile);
  const auto found = files.find(from);
  if (found == files.end()) throw PlatformError("file not found: " + from);
  if (isDirectory(to)) throw PlatformError("cannot replace a folder: " + to);
  if (from == to) return;
  std::string bytes = std::move(found->second);
  files.erase(found);
  files[to] = std::move(bytes);
}

void FakePlatform::RemoveFile(const std::string& path) {
  hit(Op::RemoveFile);
  if (isDirectory(path)) throw PlatformError("cannot remove a folder: " + path);
  files.erase(path);
}

void FakePlatform::MessageBox(const std::string& text) {
  hit(Op::MessageBox);
  messages.push_back(text);
}

void FakePlatform::StartProcess(const std::string& commandLine) {
  hit(Op::StartProcess);
  processes.push_back(commandLine);
}

std::string FakePlatform::GetEnvironmentVariable(const std::string& name) {
  hit(Op::Environment);
  const auto found = environment.find(name);
  return found == environment.end() ? "" : found->second;
}

std::string FakePlatform::NowText() {
  hit(Op::Now);
  return now;
}

std::string FakePlatform::DecimalSeparator() { return decimalSeparator; }

bool FakePlatform::isDirectory(const std::string& path) const {
  return std::find(directories.begin(), directories.end(), path) != directories.end();
}

}  // namespace kelvane::platform
