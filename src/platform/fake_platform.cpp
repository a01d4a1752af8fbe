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

  std::string_view ReadLineView() override {
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

// Buffers everything and puts it in place on Close(), as the real writers do with
// their temporary file: first the flush ("close-writer"), then the replacing step
// ("replace-file"). Any failure leaves the target as it was.
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
    closed_ = true;  // a failed close leaves the writer gone all the same
    os_.hit(FakePlatform::Op::CloseWriter);
    os_.hit(FakePlatform::Op::Install);
    os_.install(path_, std::move(buffer_));
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
      "create-folder",
  };
  return names;
}

void FakePlatform::hit(Op operation) {
  const auto at = static_cast<std::size_t>(operation);
  if (recordCalls) calls.push_back(operations()[at]);
  if (faults_.due(at)) throw PlatformError(operations()[at] + " failed");
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
  return files.contains(path) || isDirectory(path) || isDevice(path);
}

std::unique_ptr<LineReader> FakePlatform::OpenTextFile(const std::string& path) {
  hit(Op::OpenTextFile);
  if (isDirectory(path)) throw PlatformError("cannot open a folder: " + path);
  if (isDevice(path)) throw PlatformError("cannot open " + path + ": not a regular file");
  const auto found = files.find(path);
  if (found == files.end()) throw PlatformError("file not found: " + path);
  return std::make_unique<FakeReader>(*this, path, found->second);
}

std::unique_ptr<LineWriter> FakePlatform::CreateTextFile(const std::string& path) {
  hit(Op::CreateTextFile);
  checkWritable(path);
  // As on disk, the folder refuses the writer's temporary file.
  const auto cut = path.rfind(separator);
  const std::string folder = cut == std::string::npos ? "" : path.substr(0, cut);
  if (std::find(readOnlyFolders.begin(), readOnlyFolders.end(), folder) != readOnlyFolders.end()) {
    throw FolderNotWritable(path + ": cannot create a temporary file beside it: permission denied");
  }
  return std::make_unique<FakeWriter>(*this, path);
}

void FakePlatform::checkWritable(const std::string& path) const {
  if (isDirectory(path) || isDevice(path)) throw PlatformError(path + ": not a regular file, left alone");
  if (std::find(readOnly.begin(), readOnly.end(), path) != readOnly.end()) {
    throw PlatformError(path + ": the file is read-only, left alone");
  }
}

void FakePlatform::install(const std::string& path, std::string bytes) {
  checkWritable(path);
  const auto cut = path.rfind(separator);
  const std::string folder = cut == std::string::npos ? "" : path.substr(0, cut + separator.size());
  const std::string name = path.substr(folder.size());
  std::erase_if(files, [&](const auto& file) {
    return file.first.size() > folder.size() && file.first.starts_with(folder) &&
           isTemporaryNameOf(name, file.first.substr(folder.size()));
  });
  files[path] = std::move(bytes);
}

void FakePlatform::RemoveFile(const std::string& path) {
  hit(Op::RemoveFile);
  if (isDirectory(path)) throw PlatformError("cannot remove a folder: " + path);
  files.erase(path);
}

void FakePlatform::CreateFolder(const std::string& path) {
  hit(Op::CreateFolder);
  if (isDirectory(path)) return;
  if (files.contains(path) || isDevice(path)) throw PlatformError("cannot create the folder " + path + ": a file is there");
  directories.push_back(path);
}

std::string FakePlatform::UserFolder() {
  const auto found = environment.find("LOCALAPPDATA");
  return found == environment.end() || found->second.empty() ? "" : found->second + separator + "Kelvane";
}

void FakePlatform::ShowMessage(const std::string& text) {
  hit(Op::ShowMessage);
  messages.push_back(text);
}

void FakePlatform::StartProcess(const std::string& commandLine) {
  hit(Op::StartProcess);
  const std::string program = splitCommandLine(commandLine).front();
  if (std::find(missingPrograms.begin(), missingPrograms.end(), program) != missingPrograms.end()) {
    throw PlatformError("cannot start " + commandLine + ": no such program");
  }
  processes.push_back(commandLine);
}

std::string FakePlatform::EnvironmentVariable(const std::string& name) {
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

bool FakePlatform::isDevice(const std::string& path) const {
  return std::find(devices.begin(), devices.end(), path) != devices.end();
}

}  // namespace kelvane::platform
