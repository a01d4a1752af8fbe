// The preview's scratch folder: the copy of the add-in's folder that its session works on.
//
// It is made in the temp folder as kelvane-preview-PID-START-XXXXXX, START being the
// start time of process PID in clock ticks since boot. A preview killed without a chance
// to remove it (SIGKILL) leaves it behind; the next one removes it once its name, its
// owner and /proc show that it is this user's and that its process is gone, even if the
// pid has been given to another process since.
#pragma once

#include <filesystem>
#include <string>

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
  // (not links) owned by this user, whose process is gone or was started at another
  // time. Nothing is followed through a symbolic link. Answers how many went.
  static int removeStale(const std::filesystem::path& parent);

  // From now on, a fault (SIGSEGV, SIGABRT, ...) or a call of exit() removes the live
  // scratch folder before the program ends. Once per program.
  static void removeOnFault();

  std::filesystem::path path;

 private:
  int parent_ = -1;  // the parent folder, held open
  std::string name_;
};

}  // namespace kelvane::cli
