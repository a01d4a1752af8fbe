#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kelvane::platform {

// Windows' rule for the program name of a command line: a leading quotation mark runs
// to the next one, otherwise the name ends at the first blank or tab. The rest of the
// line, less the blanks and tabs before it, is one argument as it stands, the way a
// Windows program receives its command line as one text: an unquoted path with blanks
// stays one path, and nothing in it is interpreted.
std::vector<std::string> splitCommandLine(const std::string& commandLine) {
  std::string program;
  std::size_t rest = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    const auto close = commandLine.find('"', 1);
    program = commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    rest = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    rest = std::min(commandLine.find_first_of(" \t"), commandLine.size());
    program = commandLine.substr(0, rest);
  }
  rest = std::min(commandLine.find_first_not_of(" \t", rest), commandLine.size());
  std::vector<std::string> words = {program};
  if (rest < commandLine.size()) words.push_back(commandLine.substr(rest));
  return words;
}

}  // namespace kelvane::platform
