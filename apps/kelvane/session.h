// `kelvane session`: the add-in connected to the simulated host, driven by a script.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace kelvane::cli {

struct SessionOptions {
  std::string addinDir = ".";          // where Kelvane.ini is read and Kelvane.log written
  std::optional<std::string> doc;      // the active document; none: no active document
  std::optional<std::string> out;      // where a changed document goes; default: doc
  std::optional<std::string> script;   // the commands; default: `in`
  std::int32_t cookie = 1;
  bool com = false;                    // Windows build: the registered Kelvane.dll through COM
  bool verbose = false;                // print each error a trap stops: "trace: PROCEDURE: what"
};

// Runs one session and returns the exit status: 0 when the script ran to its end,
// 2 when the script or the document was refused before anything ran, 1 when the
// changed document could not be written. What a person would see goes to `out`.
int runSession(const SessionOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace kelvane::cli
