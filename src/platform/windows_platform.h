// The platform on Windows: files in the ANSI code page, a modal message box,
// CreateProcessW, the user's locale for dates, times and the decimal separator.
// Kept free of <windows.h> so that core code can include it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kelvane::platform {

class WindowsPlatform : public Platform {
 public:
  // `module` is the HMODULE of the add-in's own file (its DLL); the module folder is
  // that file's folder.
  explicit WindowsPlatform(std::uintptr_t module);
  // For a program that runs the add-in itself: the module is the program, the module
  // folder is `moduleFolder`.
  explicit WindowsPlatform(std::string moduleFolder);

  std::string ModuleFolder() override;
  std::uintptr_t ModuleHandle() override;
  std::string PathSeparator() override;
  bool FileExists(const std::string& path) override;
  std::unique_ptr<LineReader> OpenTextFile(const std::string& path) override;
  std::unique_ptr<LineWriter> CreateTextFile(const std::string& path) override;
  void RemoveFile(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  std::string UserFolder() override;
  void ShowMessage(const std::string& text) override;
  void StartProcess(const std::string& commandLine) override;
  std::string EnvironmentVariable(const std::string& name) override;
  std::string NowText() override;
  std::string DecimalSeparator() override;
  bool FitsCodePage(const std::string& text) override;

 private:
  std::uintptr_t module_;
  std::optional<std::string> folder_;
};

// UTF-8 <-> UTF-16, the text of the core and of the Windows API. A broken UTF-8
// sequence becomes U+FFFD, an unpaired surrogate too.
std::wstring utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::wstring_view utf16);

// The ANSI code page (CP_ACP) <-> UTF-8. Characters the code page cannot hold become
// "?", with no best-fit look-alikes.
std::string ansiToUtf8(std::string_view bytes);
std::string utf8ToAnsi(std::string_view utf8);

// The system's message for a Win32 error code, in UTF-8.
std::string win32ErrorText(unsigned long code);

}  // namespace kelvane::platform
