// Writing a file so that a crash never leaves half of it.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvane::cli {

class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces the file at `path` by `text` in one step: the text goes to a new temporary
// file in the same folder, which is then renamed over the target, so that a crash
// leaves either the old file or the new one. The new file keeps the old one's
// permissions; through a symbolic link the file it names is replaced. Throws
// WriteError naming `path`; the temporary file is gone then.
void writeFileAtomically(const std::string& path, const std::string& text);

}  // namespace kelvane::cli
