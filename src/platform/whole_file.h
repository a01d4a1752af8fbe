// Writing a file of the operating system whole or not at all: the bytes go to a new
// hidden temporary file beside the target, created exclusively under a unique name,
// which commit() puts in the target's place in one step. Shared by the platform's
// text files and by every other file the programs write.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kelvane::platform {

class WholeFileWriter {
 public:
  // Checks the target and creates the temporary file. The target may be missing, a
  // regular file or a symbolic link to one (whose file is then written); anything
  // else, and a read-only file, is refused. Throws PlatformError naming `path`.
  explicit WholeFileWriter(const std::string& path);
  // Without a successful commit() the temporary file is removed; the target stays.
  ~WholeFileWriter();
  WholeFileWriter(const WholeFileWriter&) = delete;
  WholeFileWriter& operator=(const WholeFileWriter&) = delete;

  void write(std::string_view bytes);
  // Flushes the temporary file to disk, gives it the target's permissions and puts it
  // in the target's place; then removes leftovers of interrupted writes of the same
  // target. Any failure leaves the target as it was.
  void commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A text file written as above when it is closed: each line is encoded for the file
// by `encode` and ends with CR LF. Dropped unclosed, it leaves the target as it was.
using LineEncoder = std::string (*)(const std::string& utf8);
std::unique_ptr<LineWriter> wholeFileLineWriter(const std::string& path, LineEncoder encode);

// The whole of `bytes` as the file at `path`, as above.
inline void writeWholeFile(const std::string& path, std::string_view bytes) {
  WholeFileWriter file(path);
  file.write(bytes);
  file.commit();
}

}  // namespace kelvane::platform
