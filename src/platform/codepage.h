// Line reading for the platforms that keep files in Windows-1252 (POSIX and the
// in-memory fake). Private to the platform library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace kelvane::platform {

// Appends the UTF-8 text of the Windows-1252 `bytes` to `out`.
void appendDecodedCp1252(std::string_view bytes, std::string& out);

// A file's bytes, handed out line by line as splitLines(decodeCp1252(bytes)) would
// split them. A line is decoded only when it is taken, so reading a file costs one
// string per line and no copy of the whole decoded text.
class Cp1252Lines {
 public:
  explicit Cp1252Lines(std::string bytes) : bytes_(std::move(bytes)) {}

  bool atEnd() const { return next_ >= bytes_.size(); }
  // The next line, decoded; only while !atEnd().
  std::string take();
  // The same into `line`, reusing its room.
  void takeInto(std::string& line);

 private:
  std::string bytes_;
  std::size_t next_ = 0;  // start of the next line in bytes_
};

}  // namespace kelvane::platform
