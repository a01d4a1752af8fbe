#include "platform/windows_platform.h"

#include "platform/win32.h"
#include "platform/whole_file.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kelvane::platform {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path = "") {
  const DWORD code = GetLastError();
  throw PlatformError(what + (path.empty() ? "" : " " + path) + ": " + win32ErrorText(code));
}

std::wstring toWide(UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) throw PlatformError("text conversion failed: " + win32ErrorText(GetLastError()));
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), size, out.data(), n);
  return out;
}

std::string fromWide(UINT codePage, std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  // UTF-8 takes neither flags nor a default character, even as the ANSI code page.
  const UINT actual = codePage == CP_ACP ? GetACP() : codePage;
  const bool ansi = actual != CP_UTF8;
  const DWORD flags = ansi ? WC_NO_BEST_FIT_CHARS : 0;
  const char* unmappable = ansi ? "?" : nullptr;
  const int n = WideCharToMultiByte(codePage, flags, text.data(), size, nullptr, 0, unmappable, nullptr);
  if (n <= 0) throw PlatformError("text conversion failed: " + win32ErrorText(GetLastError()));
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, text.data(), size, out.data(), n, unmappable, nullptr);
  return out;
}

// Calls `get(buffer, size)` with a growing buffer until the answer fits; `get`
// answers the length it needs, or 0 on failure.
template <class Get>
std::wstring growingBuffer(Get get) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = get(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&&) = delete;
  ~Handle() { close(); }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  bool close() {
    const bool ok = !valid() || CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

// The whole file is read at opening; lines come from memory.
class WindowsReader : public LineReader {
 public:
  explicit WindowsReader(std::vector<std::string> lines) : lines_(std::move(lines)) {}

  bool AtEndOfStream() override { return closed_ || next_ >= lines_.size(); }

  std::string_view ReadLineView() override {
    if (closed_) throw PlatformError("read from a closed file");
    if (next_ >= lines_.size()) throw PlatformError("input past end of file");
    return lines_[next_++];
  }

  void Close() override { closed_ = true; }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  bool closed_ = false;
};

}  // namespace

std::wstring utf8ToUtf16(std::string_view utf8) { return toWide(CP_UTF8, utf8); }
std::string utf16ToUtf8(std::wstring_view utf16) { return fromWide(CP_UTF8, utf16); }
std::string ansiToUtf8(std::string_view bytes) { return utf16ToUtf8(toWide(CP_ACP, bytes)); }
std::string utf8ToAnsi(std::string_view utf8) {
  // A character outside the BMP is one "?", not one per surrogate.
  std::wstring text = utf8ToUtf16(utf8);
  std::size_t out = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool pair = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]);
    text[out++] = pair ? L'?' : text[i];
    if (pair) ++i;
  }
  text.resize(out);
  return fromWide(CP_ACP, text);
}

std::string win32ErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n ? std::wstring(text, n) : L"";
  LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  if (message.empty()) return "error " + std::to_string(code);
  return utf16ToUtf8(message);
}

WindowsPlatform::WindowsPlatform(std::uintptr_t module) : module_(module) {}

WindowsPlatform::WindowsPlatform(std::string moduleFolder)
    : module_(reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr))), folder_(std::move(moduleFolder)) {}

std::string WindowsPlatform::ModuleFolder() {
  if (folder_) return *folder_;
  const auto module = reinterpret_cast<HMODULE>(module_);
  const std::wstring file = growingBuffer([&](wchar_t* buffer, DWORD size) {
    return GetModuleFileNameW(module, buffer, size);
  });
  if (file.empty()) fail("cannot find the module's file");
  const auto slash = file.find_last_of(L"\\/");
  return utf16ToUtf8(file.substr(0, slash == std::wstring::npos ? 0 : slash));
}

std::uintptr_t WindowsPlatform::ModuleHandle() { return module_; }

std::string WindowsPlatform::PathSeparator() { return "\\"; }

bool WindowsPlatform::FileExists(const std::string& path) {
  return GetFileAttributesW(utf8ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Only files on disk: a pipe or a device would wait or act when read.
std::unique_ptr<LineReader> WindowsPlatform::OpenTextFile(const std::string& path) {
  Handle file(CreateFileW(utf8ToUtf16(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) fail("cannot open", path);
  if (GetFileType(file.get()) != FILE_TYPE_DISK) throw PlatformError("cannot open " + path + ": not a regular file");
  std::string bytes;
  char chunk[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr)) fail("cannot read", path);
    if (read == 0) break;
    bytes.append(chunk, read);
  }
  return std::make_unique<WindowsReader>(splitLines(ansiToUtf8(bytes)));
}

std::unique_ptr<LineWriter> WindowsPlatform::CreateTextFile(const std::string& path) {
  return wholeFileLineWriter(path, [](const std::string& line) { return utf8ToAnsi(line); });
}

void WindowsPlatform::RemoveFile(const std::string& path) {
  if (DeleteFileW(utf8ToUtf16(path).c_str())) return;
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return;
  SetLastError(code);
  fail("cannot remove", path);
}

void WindowsPlatform::CreateFolder(const std::string& path) {
  const std::wstring wide = utf8ToUtf16(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return;
  }
  SetLastError(code == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : code);
  fail("cannot create the folder", path);
}

std::string WindowsPlatform::UserFolder() {
  const std::string base = EnvironmentVariable("LOCALAPPDATA");
  return base.empty() ? "" : base + "\\Kelvane";
}

void WindowsPlatform::ShowMessage(const std::string& text) {
  // Owned by the host's active window, so that the host waits for it.
  if (!MessageBoxW(GetActiveWindow(), utf8ToUtf16(text).c_str(), L"Kelvane", MB_OK)) {
    fail("cannot show a message box");
  }
}

void WindowsPlatform::StartProcess(const std::string& commandLine) {
  std::wstring line = utf8ToUtf16(commandLine);  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;  // a normal window that takes the focus
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fail("cannot start", commandLine);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

std::string WindowsPlatform::EnvironmentVariable(const std::string& name) {
  const std::wstring wideName = utf8ToUtf16(name);
  SetLastError(ERROR_SUCCESS);
  const std::wstring value = growingBuffer([&](wchar_t* buffer, DWORD size) {
    return GetEnvironmentVariableW(wideName.c_str(), buffer, size);
  });
  const DWORD code = GetLastError();
  if (value.empty() && code != ERROR_SUCCESS && code != ERROR_ENVVAR_NOT_FOUND) {
    fail("cannot read the environment variable", name);
  }
  return utf16ToUtf8(value);
}

std::string WindowsPlatform::NowText() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t date[128];
  if (!GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128, nullptr)) {
    fail("cannot format the date");
  }
  // The short time format has its own pattern; older systems know only TIME_NOSECONDS.
  wchar_t pattern[80];
  const bool haveShortTime = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SSHORTTIME, pattern, 80) > 0;
  wchar_t time[128];
  if (!GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, haveShortTime ? 0 : TIME_NOSECONDS, &now,
                       haveShortTime ? pattern : nullptr, time, 128)) {
    fail("cannot format the time");
  }
  return utf16ToUtf8(date) + " " + utf16ToUtf8(time);
}

std::string WindowsPlatform::DecimalSeparator() {
  wchar_t separator[8];
  if (!GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8)) {
    fail("cannot read the decimal separator");
  }
  return utf16ToUtf8(separator);
}

// What the ANSI code page cannot hold comes back as "?" or as another character.
bool WindowsPlatform::FitsCodePage(const std::string& text) { return ansiToUtf8(utf8ToAnsi(text)) == text; }

}  // namespace kelvane::platform
