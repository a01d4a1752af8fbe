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

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "sim/sim.h"

namespace kelvane::cli {

using Json = nlohmann::ordered_json;

// A document file that cannot be used. The message names the file and the problem.
class DocumentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the document file at `path` into `doc`. Throws DocumentError.
void loadDocument(const std::string& path, sim::SimDocument& doc);

// Fills `doc` from the text of a document file; throws DocumentError naming only the
// problem.
void parseDocument(const std::string& text, sim::SimDocument& doc);

// The document in the file's form, every member present. Writing it and reading it
// back gives the same document.
Json documentJson(const sim::SimDocument& doc);

// The text of a document file: the JSON form, indented, ending with a line break.
std::string documentText(const sim::SimDocument& doc);

// JSON text of `j` on one line; text that is not UTF-8 is replaced, not refused.
std::string oneLine(const Json& j);

}  // namespace kelvane::cli
