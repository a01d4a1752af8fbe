// Document files: one JSON object per document, the form in which the command line
// keeps a simulated host's document between sessions.
//
//   { "title": "Bracket.SLDPRT", "density": 7850,
//     "configurations": ["Default", "Long"], "activeConfiguration": "Long",
//     "properties": { "Part_No": "A-100" },
//     "configurationProperties": { "Default": { "Finish": "Painted" }, "Long": {} } }
//
// Every member is optional; properties keep the order they were created in.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace kelvane::cli {

using Json = nlohmann::ordered_json;

// A document file that cannot be used. The message names the file and the problem.
class DocumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An input file that cannot be read whole; the message names only the problem.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Documents and scripts larger than this are refused before they are read.
inline constexpr std::uintmax_t kMaxInputBytes = std::uintmax_t{256} << 20;

// The bytes of the regular file at `path`. A folder, FIFO, device or socket is refused
// before it is opened for reading (a FIFO would block, a device never end), and so is
// a file over `limit` bytes. `what` names the file in open and read errors ("" or, say,
// " the script"). Throws ReadError.
std::string readInputFile(const std::string& path, const std::string& what = "",
                          std::uintmax_t limit = kMaxInputBytes);

// All of `in`, refused (ReadError) once it passes `limit` bytes.
std::string readInputStream(std::istream& in, std::uintmax_t limit = kMaxInputBytes);

// Why `path` is not a regular file ("no such file", "is a folder, not a file", ...),
// or nothing when it is one.
std::optional<std::string> notARegularFile(const std::string& path);

// Reads the document file at `path` into `doc`. Throws DocumentError.
void loadDocument(const std::string& path, sim::SimDocument& doc);

// Fills `doc` from the text of a document file; throws DocumentError naming only the
// problem.
void parseDocument(const std::string& text, sim::SimDocument& doc);

// The document in the file's form, every member present. Writing it and reading it
// back gives the same document.
Json documentJson(const sim::SimDocument& doc);

// The text of a document file: the JSON form, indented, ending with a line break.
// Byte for byte documentJson(doc) indented by two, written without building it.
std::string documentText(const sim::SimDocument& doc);

// JSON text of `j` on one line; text that is not UTF-8 is replaced, not refused.
std::string oneLine(const Json& j);

// What a document file records, to tell whether a session changed the document
// without writing its text twice.
struct DocumentContents {
  std::string title;
  double density = 0;
  std::vector<std::string> configurations;
  int activeConfiguration = 0;
  // The document-wide properties, then those of each configuration, each scope's
  // names and values in order packed into one string: a third of the memory of a
  // copy of the properties.
  std::vector<std::string> properties;
  bool operator==(const DocumentContents&) const = default;
};

DocumentContents contentsOf(const sim::SimDocument& doc);

// Whether `doc` holds what `contents` recorded, compared without a second copy.
bool sameContents(const DocumentContents& contents, const sim::SimDocument& doc);

}  // namespace kelvane::cli
