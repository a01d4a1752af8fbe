#include "pagedef/parser.h"
#include "tools/tools.h"

namespace kelvane {

// A Windows command line, backslashes and all; the path is passed unquoted. No trap:
// a failure to start the editor reaches the caller.
void editIni(State& s) {
  const std::string commandLine = s.platform.EnvironmentVariable("WINDIR") +
                                  "\\system32\\notepad " + s.platform.ModuleFolder() + "\\" +
                                  pagedef::kIniFileName;
  s.platform.StartProcess(commandLine);
}

}  // namespace kelvane
