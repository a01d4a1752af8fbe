// What the add-in needs from the operating system. Text crosses this boundary as
// UTF-8; files are kept in the system's 8-bit code page and converted here.
// Every failing operation throws PlatformError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvane::platform {

class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a text file line by line. A line ends at LF; a CR right before the LF is part
// of the line break, any other CR stays in the line. The last line need not end with
// a line break. Every byte decodes to some character.
class LineReader {
 public:
  virtual ~LineReader() = default;
  virtual bool AtEndOfStream() = 0;
  virtual std::string ReadLine() = 0;
  virtual void Close() = 0;
};

// Writes a text file: every line ends with CR LF; characters that the code page
// cannot hold are written as "?". Nothing is guaranteed on disk before Close().
class LineWriter {
 public:
  virtual ~LineWriter() = default;
  virtual void WriteLine(const std::string& line) = 0;
  virtual void Close() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Folder of the add-in's own module file, without a final separator.
  virtual std::string ModuleFolder() = 0;
  // The module's instance handle, passed to the host when registering callbacks.
  virtual std::uintptr_t ModuleHandle() = 0;
  // Separator between a folder and a file name in this system's paths.
  virtual std::string PathSeparator() = 0;

  virtual bool FileExists(const std::string& path) = 0;
  // Opens an existing file for reading; never creates it.
  virtual std::unique_ptr<LineReader> OpenTextFile(const std::string& path) = 0;
  // Creates the file, or truncates an existing one, for writing.
  virtual std::unique_ptr<LineWriter> CreateTextFile(const std::string& path) = 0;
  // Replaces `to` by `from` in one step (the old `to` may exist); `from` is gone after.
  virtual void ReplaceFile(const std::string& from, const std::string& to) = 0;
  // Removes a file; no error when it does not exist.
  virtual void RemoveFile(const std::string& path) = 0;

  // A modal message box with an OK button; returns when the user closes it.
  virtual void MessageBox(const std::string& text) = 0;
  // Starts a process from a command line, normal focused window, without waiting.
  virtual void StartProcess(const std::string& commandLine) = 0;
  // The value of an environment variable, "" when it is not set.
  virtual std::string GetEnvironmentVariable(const std::string& name) = 0;
  // The current date and time, each in the system's short format, joined by one blank.
  virtual std::string NowText() = 0;
  // The system's decimal separator.
  virtual std::string DecimalSeparator() = 0;
};

// Folder + separator + file name.
inline std::string joinPath(Platform& p, const std::string& folder, const std::string& file) {
  return folder + p.PathSeparator() + file;
}

// Windows-1252 <-> UTF-8, the code page of the POSIX build and of the in-memory fake.
std::string decodeCp1252(const std::string& bytes);
std::string encodeCp1252(const std::string& utf8);  // unmappable characters become '?'
// Where encodeCp1252 would put a '?' for what is no '?': the byte offset in `utf8` of
// the first character Windows-1252 cannot hold or of a broken sequence; none when the
// text fits.
std::optional<std::size_t> firstUnmappableCp1252(const std::string& utf8);

// The lines of a file's text, split as LineReader reads them; "" has no lines.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace kelvane::platform
