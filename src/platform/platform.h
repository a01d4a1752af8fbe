// What the add-in needs from the operating system. Text crosses this boundary as
// UTF-8; files are kept in the system's 8-bit code page and converted here.
// Every failing operation throws PlatformError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::platform {

class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writing a file failed because its folder takes no new files from this user: no
// permission, or a read-only drive.
class FolderNotWritable : public PlatformError {
 public:
  using PlatformError::PlatformError;
};

// Reads a text file line by line. A line ends at LF; a CR right before the LF is part
// of the line break, any other CR stays in the line. The last line need not end with
// a line break. Every byte decodes to some character.
class LineReader {
 public:
  virtual ~LineReader() = default;
  virtual bool AtEndOfStream() = 0;
  // The next line, valid until the next read or Close(): the readers hold the whole
  // decoded file, so a line costs no copy.
  virtual std::string_view ReadLineView() = 0;
  std::string ReadLine() { return std::string(ReadLineView()); }
  virtual void Close() = 0;
};

// Writes a text file whole or not at all: every line ends with CR LF; characters that
// the code page cannot hold are written as "?". The lines go to a new hidden temporary
// file beside the target, which Close() puts in the target's place in one step; until
// then the target is untouched. A writer dropped without Close(), or whose Close()
// fails, removes its temporary file and leaves the target as it was.
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
  // Opens an existing regular file for reading; never creates it. Folders, devices,
  // pipes and sockets are refused without being opened for reading.
  virtual std::unique_ptr<LineReader> OpenTextFile(const std::string& path) = 0;
  // Starts writing the file at `path` whole or not at all (see LineWriter). The target
  // may be missing, a regular file or a symbolic link to one, whose file is then
  // replaced; anything else, and a read-only file, is refused and left alone. The new
  // file keeps the old one's permissions. Hidden temporary files left beside the
  // target by interrupted writes are removed once the new file is in place. Throws
  // FolderNotWritable when the target's folder refuses the temporary file.
  virtual std::unique_ptr<LineWriter> CreateTextFile(const std::string& path) = 0;
  // Removes a file; no error when it does not exist.
  virtual void RemoveFile(const std::string& path) = 0;
  // Creates a folder in an existing one; no error when it exists as a folder.
  virtual void CreateFolder(const std::string& path) = 0;
  // The folder for this user's own copies of the add-in's files: "%LOCALAPPDATA%" +
  // separator + "Kelvane", from that variable on every system; "" when it is not set.
  virtual std::string UserFolder() = 0;

  // A modal message box with an OK button; returns when the user closes it.
  virtual void ShowMessage(const std::string& text) = 0;
  // Starts a process from a command line, normal focused window, without waiting.
  // A program that cannot be started is an error.
  virtual void StartProcess(const std::string& commandLine) = 0;
  // The value of an environment variable, "" when it is not set.
  virtual std::string EnvironmentVariable(const std::string& name) = 0;
  // The current date and time, each in the system's short format, joined by one blank.
  virtual std::string NowText() = 0;
  // The system's decimal separator.
  virtual std::string DecimalSeparator() = 0;
  // Whether `text` written to a text file reads back as it is: every character fits
  // the code page of the files.
  virtual bool FitsCodePage(const std::string& text) = 0;
};

// Folder + separator + file name.
inline std::string joinPath(Platform& p, const std::string& folder, const std::string& file) {
  return folder + p.PathSeparator() + file;
}

// The add-in's files that it writes itself (Kelvane.log) lie in its own folder. Where
// that folder takes no new files, as under Program Files for a user without
// administrator rights, each user keeps a copy of their own in UserFolder() instead;
// once it exists, that copy is the one read and written.
//
// The path of file `name` to read: the user's copy when it exists, else the one in the
// module folder.
std::string userFileToRead(Platform& p, const std::string& name);
// Starts writing file `name` (see CreateTextFile): the user's copy when it exists, else
// the one in the module folder or, when that folder takes no new files, a new user's
// copy, creating UserFolder() if needed.
std::unique_ptr<LineWriter> createUserFile(Platform& p, const std::string& name);

// Windows-1252 <-> UTF-8, the code page of the POSIX build and of the in-memory fake.
std::string decodeCp1252(const std::string& bytes);
std::string encodeCp1252(const std::string& utf8);  // unmappable characters become '?'
// Where encodeCp1252 would put a '?' for what is no '?': the byte offset in `utf8` of
// the first character Windows-1252 cannot hold or of a broken sequence; none when the
// text fits.
std::optional<std::size_t> firstUnmappableCp1252(const std::string& utf8);

// Whether `candidate` is the name of a hidden temporary file that writing the file
// named `fileName` creates beside it: "." + fileName + "." + six letters or digits.
bool isTemporaryNameOf(const std::string& fileName, const std::string& candidate);
// A fresh such name, from `random` bits.
std::string temporaryNameOf(const std::string& fileName, std::uint64_t random);

// A command line as a program name and at most one argument: the name by Windows'
// rule (a leading quotation mark runs to the next one, otherwise the name ends at the
// first blank or tab), the rest of the line as it stands, less leading blanks and tabs.
std::vector<std::string> splitCommandLine(const std::string& commandLine);

// The lines of a file's text, split as LineReader reads them; "" has no lines.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace kelvane::platform
