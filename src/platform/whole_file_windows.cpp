#include <algorithm>
#include <random>
#include <vector>

#include "platform/whole_file.h"
#include "platform/win32.h"
#include "platform/windows_platform.h"

namespace kelvane::platform {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& what, DWORD code) {
  throw PlatformError(path + ": " + what + ": " + win32ErrorText(code));
}

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
  throw PlatformError(path + ": " + what + ", left alone");
}

std::uint64_t randomBits() {
  thread_local std::mt19937_64 bits{(static_cast<std::uint64_t>(std::random_device{}()) << 32) ^
                                    GetCurrentProcessId() ^ GetTickCount64()};
  return bits();
}

// The file that writing `path` replaces, checked: missing, or a writable file on disk
// (through a symbolic link, the file it names). Sets `exists`.
std::wstring checkedTarget(const std::string& path, const std::wstring& wide, bool& exists) {
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  HANDLE h = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    exists = false;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      refuse(path, "a symbolic link to no file");
    }
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return wide;
    fail(path, "cannot examine the file", code);
  }
  exists = true;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  const bool known = disk && GetFileInformationByHandle(h, &info);
  std::wstring target = wide;
  if (known && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    std::vector<wchar_t> final(32768);
    const DWORD n = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), 0);
    if (n > 0 && n < final.size()) target.assign(final.data(), n);
  }
  CloseHandle(h);
  if (!disk || (known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) refuse(path, "not a regular file");
  if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) refuse(path, "the file is read-only");
  return target;
}

// Leftovers of interrupted writes of `name`: hidden temporary files of ours, not open
// in a live writer (which opens its temporary file unshared, so deleting it fails),
// and a few seconds old, since a writer closes its file just before it moves it.
void removeLeftovers(const std::wstring& folder, const std::string& name, const std::wstring& own) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\." + utf8ToUtf16(name) + L".*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME nowTime{};
  GetSystemTimeAsFileTime(&nowTime);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const std::uint64_t threeSeconds = 3ull * 10'000'000ull;
  do {
    const std::wstring candidate = found.cFileName;
    if (candidate == own || !isTemporaryNameOf(name, utf16ToUtf8(candidate))) continue;
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    if (ticks(nowTime) - ticks(found.ftLastWriteTime) < threeSeconds) continue;
    DeleteFileW((folder + L"\\" + candidate).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// ReplaceFileW fails on a relative name with no folder in it.
std::wstring fullPath(const std::string& path) {
  const std::wstring wide = utf8ToUtf16(path);
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  const DWORD written = n ? GetFullPathNameW(wide.c_str(), n, full.data(), nullptr) : 0;
  if (written == 0 || written >= n) return wide;
  full.resize(written);
  return full;
}

}  // namespace

struct WholeFileWriter::State {
  std::string path;  // as given, for the messages
  std::wstring target;
  std::wstring folder;
  std::string name;
  std::wstring temporary;  // its name in `folder`
  HANDLE file = INVALID_HANDLE_VALUE;
  bool exists = false;
  bool committed = false;

  std::wstring temporaryPath() const { return folder + L"\\" + temporary; }
  bool close() {
    const bool ok = file == INVALID_HANDLE_VALUE || CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    return ok;
  }
};

WholeFileWriter::WholeFileWriter(const std::string& path) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.path = path;
  s.target = checkedTarget(path, fullPath(path), s.exists);
  const auto slash = s.target.find_last_of(L"\\/");
  s.folder = slash == std::wstring::npos ? L"." : s.target.substr(0, slash);
  s.name = utf16ToUtf8(slash == std::wstring::npos ? s.target : s.target.substr(slash + 1));
  if (s.name.empty()) refuse(path, "not a regular file");
  DWORD code = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && code == ERROR_FILE_EXISTS; ++attempt) {
    s.temporary = utf8ToUtf16(temporaryNameOf(s.name, randomBits()));
    // CREATE_NEW never opens an existing file; unshared, so no one else opens it.
    s.file = CreateFileW(s.temporaryPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    code = s.file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }
  if (s.file == INVALID_HANDLE_VALUE) {
    const std::string what = path + ": cannot create a temporary file beside it: " + win32ErrorText(code);
    if (code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT) throw FolderNotWritable(what);
    throw PlatformError(what);
  }
}

WholeFileWriter::~WholeFileWriter() {
  state_->close();
  if (!state_->committed) DeleteFileW(state_->temporaryPath().c_str());
}

void WholeFileWriter::write(std::string_view bytes) {
  State& s = *state_;
  if (s.file == INVALID_HANDLE_VALUE) throw PlatformError(s.path + ": write to a closed file");
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(s.file, bytes.data(), chunk, &written, nullptr)) {
      fail(s.path, "cannot write the temporary file", GetLastError());
    }
    bytes.remove_prefix(written);
  }
}

void WholeFileWriter::commit() {
  State& s = *state_;
  if (s.file == INVALID_HANDLE_VALUE) throw PlatformError(s.path + ": write to a closed file");
  if (!FlushFileBuffers(s.file)) fail(s.path, "cannot write the temporary file", GetLastError());
  if (!s.close()) fail(s.path, "cannot write the temporary file", GetLastError());
  bool exists = false;
  checkedTarget(s.path, s.target, exists);  // it may have changed since the start
  // ReplaceFileW keeps the old file's security settings and attributes.
  const bool replaced =
      exists ? ReplaceFileW(s.target.c_str(), s.temporaryPath().c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr)
             : MoveFileExW(s.temporaryPath().c_str(), s.target.c_str(), MOVEFILE_WRITE_THROUGH);
  if (!replaced) fail(s.path, "cannot replace the file", GetLastError());
  s.committed = true;
  removeLeftovers(s.folder, s.name, s.temporary);
}

}  // namespace kelvane::platform
