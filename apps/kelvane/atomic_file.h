// Writing a file so that a crash never leaves half of it.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvane::cli {

class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces the file at `path` by `text` in one step, through the platform's whole-file
// writer: a crash leaves either the old file or the new one. The new file keeps the
// old one's permissions; through a symbolic link the file it names is replaced. Only
// a missing file, a regular file or a link to one is written; a device, pipe, socket,
// folder or read-only file is refused and left alone. Throws WriteError naming `path`.
void writeFileAtomically(const std::string& path, const std::string& text);

}  // namespace kelvane::cli
