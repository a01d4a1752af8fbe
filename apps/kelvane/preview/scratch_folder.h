// The preview's scratch folder: the copy of the add-in's folder that its session works on.
//
// It is made in the temp folder as kelvane-preview-PID-START-XXXXXX, START being when
// process PID started: on POSIX in clock ticks since boot, on Windows its creation time
// (GetProcessTimes, 100 ns units since 1601). A preview killed without a chance to
// remove it (SIGKILL, TerminateProcess) leaves it behind; the next one removes it once
// its name, its owner and the process table show that it is this user's and that its
// process is gone, even if the pid has been given to another process since.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kelvane::cli {

class ScratchFolder {
 public:
  // Removes the stale folders in `parent`, then makes a new one there. Throws PreviewError.
  explicit ScratchFolder(const std::filesystem::path& parent = std::filesystem::temp_directory_path());
  // Removes the folder with everything in it.
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Removes the folders in `parent` that are provably stale: named as above, folders
  // (not links, junctions or other reparse points) owned by this user, whose process is
  // gone or was started at another time. Nothing is followed through a link. Answers
  // how many went.
  static int removeStale(const std::filesystem::path& parent);

  // From now on, a fault (POSIX: SIGSEGV, SIGABRT, ...; Windows: an unhandled exception,
  // abort()) or a call of exit() removes the live scratch folder before the program
  // ends. Once per program.
  static void removeOnFault();

  std::filesystem::path path;

 private:
  // The pid and start time in a scratch folder's name; none when it is not such a name.
  static std::optional<std::pair<std::string, std::string>> ownerOf(std::string_view name);
  // The name of a new folder before its six random characters; with no start, one that
  // names no owner, which no later preview removes.
  static std::string stemOf(const std::string& pid, const std::string& start);

#ifdef _WIN32
  std::wstring native_;  // `path`, as the removal takes it
#else
  int parent_ = -1;  // the parent folder, held open
  std::string name_;
#endif
};

}  // namespace kelvane::cli
