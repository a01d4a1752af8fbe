// Session scripts: one command per line, read whole and checked before anything runs.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvane::cli {

struct Command {
  enum class Kind { Menu, Text, Select, Check, Press, Help, Close, Set, Fail, Show, Dump, Disconnect };

  Kind kind = Kind::Menu;
  int line = 0;              // 1-based line of the script
  std::int32_t id = 0;       // text, select, check, press: the control id
  std::int32_t number = 0;   // select: entry index; check: 0 or 1; close: reason; fail: N
  std::string text;          // text: the text typed; set: the caption; fail: the operation
  std::string value;         // set: the value
};

// A line that is not a command; what() names the script and the line.
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The commands of `script`. Blank lines and lines starting with "#" are skipped; a
// line that is not a command throws ScriptError naming `scriptName` and the line.
std::vector<Command> parseScript(const std::string& script, const std::string& scriptName);

// One line per command, for --help.
extern const char* const kScriptHelp;

}  // namespace kelvane::cli
