// `kelvane check`: reads a page definition with the add-in's own parser and reports
// what it declares, its line error, and what deserves a second look.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace kelvane::cli {

struct CheckOptions {
  std::string addinDir = ".";          // DIR/Kelvane.ini when no file is given
  std::optional<std::string> doc;      // the document for {FILE_NAME} and {DENSITY}
  std::optional<std::string> file;     // the page definition to read
  bool strict = false;                 // warnings fail the check
};

// Exit status: 0 read (warnings allowed unless strict), 1 a line error or, when
// strict, a warning, 2 a file that cannot be used.
int runCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kelvane::cli
