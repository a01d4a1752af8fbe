#include "platform/platform.h"

namespace kelvane::platform {

namespace {

// The user's copy of file `name`; "" when the system names no user folder.
std::string userCopy(Platform& p, const std::string& name) {
  const std::string folder = p.UserFolder();
  return folder.empty() ? "" : joinPath(p, folder, name);
}

}  // namespace

std::string userFileToRead(Platform& p, const std::string& name) {
  const std::string own = userCopy(p, name);
  if (!own.empty() && p.FileExists(own)) return own;
  return joinPath(p, p.ModuleFolder(), name);
}

// The module folder is tried by writing into it, with no probe beforehand: where it
// takes the file, nothing changes, and where it does not, the writer has made nothing.
std::unique_ptr<LineWriter> createUserFile(Platform& p, const std::string& name) {
  const std::string own = userCopy(p, name);
  if (!own.empty() && p.FileExists(own)) return p.CreateTextFile(own);
  try {
    return p.CreateTextFile(joinPath(p, p.ModuleFolder(), name));
  } catch (const FolderNotWritable&) {
    if (own.empty()) throw;
  }
  p.CreateFolder(p.UserFolder());
  return p.CreateTextFile(own);
}

}  // namespace kelvane::platform
