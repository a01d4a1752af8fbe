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
// split them. The file is decoded once, in place when it is all ASCII (no Windows-1252
// byte decodes to CR or LF, so splitting after decoding splits the same lines).
class Cp1252Lines {
 public:
  explicit Cp1252Lines(std::string bytes);

  bool atEnd() const { return next_ >= text_.size(); }
  // The next line, valid as long as this object; only while !atEnd().
  std::string_view take();

 private:
  std::string text_;      // UTF-8
  std::size_t next_ = 0;  // start of the next line in text_
};

}  // namespace kelvane::platform
