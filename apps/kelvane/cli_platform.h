// The operating system's platform as the command line uses it: the add-in's folder
// is the one given, and message boxes and started processes are recorded and shown
// as lines instead of windows; no process is started.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/windows_platform.h"
#else
#include "platform/posix_platform.h"
#endif

namespace kelvane::cli {

#ifdef _WIN32
using OsPlatform = platform::WindowsPlatform;
#else
using OsPlatform = platform::PosixPlatform;
#endif

class CliPlatform : public OsPlatform {
 public:
  // `echo` receives "message: TEXT" and "process: COMMAND LINE" lines; null: silence.
  CliPlatform(std::string moduleFolder, std::ostream* echo);

  std::string ModuleFolder() override;
  void ShowMessage(const std::string& text) override;
  void StartProcess(const std::string& commandLine) override;

  const std::vector<std::string>& messages() const { return messages_; }
  const std::vector<std::string>& processes() const { return processes_; }

 private:
  std::string moduleFolder_;
  std::ostream* echo_;
  std::vector<std::string> messages_;
  std::vector<std::string> processes_;
};

// A folder as the add-in expects it: without a final separator ("" means ".").
std::string moduleFolderOf(std::string folder);

}  // namespace kelvane::cli
