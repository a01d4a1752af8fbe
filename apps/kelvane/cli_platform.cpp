#include "cli_platform.h"

#include <utility>

#include "transcript.h"

namespace kelvane::cli {

namespace {

// The program has no add-in module of its own; any non-zero handle serves the host.
#ifdef _WIN32
OsPlatform osPlatform(const std::string&) { return OsPlatform(1); }
#else
OsPlatform osPlatform(const std::string& folder) { return OsPlatform(folder); }
#endif

bool isSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

}  // namespace

CliPlatform::CliPlatform(std::string moduleFolder, std::ostream* echo)
    : OsPlatform(osPlatform(moduleFolder)), moduleFolder_(std::move(moduleFolder)), echo_(echo) {}

std::string CliPlatform::ModuleFolder() { return moduleFolder_; }

void CliPlatform::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  if (echo_) printLine(*echo_, "message: " + text);
}

void CliPlatform::StartProcess(const std::string& commandLine) {
  processes_.push_back(commandLine);
  if (echo_) printLine(*echo_, "process: " + commandLine);
}

std::string moduleFolderOf(std::string folder) {
  while (folder.size() > 1 && isSeparator(folder.back())) folder.pop_back();
  return folder.empty() ? "." : folder;
}

}  // namespace kelvane::cli
