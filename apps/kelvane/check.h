// `kelvane check`: reads a page definition with the add-in's own parser and reports
// what it declares, its line error, and what deserves a second look.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "ini_warnings.h"
#include "pagedef/model.h"
#include "sim/sim.h"

namespace kelvane::cli {

struct CheckOptions {
  std::string addinDir = ".";          // DIR/Kelvane.ini when no file is given
  std::optional<std::string> doc;      // the document for {FILE_NAME} and {DENSITY}
  std::optional<std::string> file;     // the page definition to read
  bool strict = false;                 // warnings fail the check
};

// What the check finds in one file.
struct CheckReport {
  bool read = false;                  // the add-in's parser accepted the file
  std::vector<std::string> messages;  // the parser's message boxes when it did not
  std::optional<int> errorLine;       // the line its line error names
  std::string reason;                 // why the parser stopped at that line
  pagedef::PageDefinition model;      // what it built
  std::vector<IniWarning> warnings;   // when it read
  std::vector<std::string> lines;     // the file's lines as the parser read them
};

// Reads `file` as the add-in reads FOLDER/Kelvane.ini, the placeholders against the
// active document of `host`.
CheckReport checkDefinition(const std::string& folder, const std::string& file, sim::SimHost& host);

// Exit status: 0 read (warnings allowed unless strict), 1 a line error or, when
// strict, a warning, 2 a file that cannot be used.
int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kelvane::cli
