// The platform on POSIX systems: files in Windows-1252, message boxes on stderr,
// processes started from an argument vector without waiting.
#pragma once

#include "platform/platform.h"

namespace kelvane::platform {

class PosixPlatform : public Platform {
 public:
  explicit PosixPlatform(std::string moduleFolder);

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
  std::string moduleFolder_;
};

}  // namespace kelvane::platform
