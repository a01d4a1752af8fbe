// `kelvane session --com` (Windows build only): the add-in is the registered
// Kelvane.dll, loaded through COM as the CAD host loads it, instead of the add-in
// compiled into the program.
#pragma once

#include <memory>
#include <string>

#include "host/host.h"
#include "platform/platform.h"

namespace kelvane::cli {

// Creates the registered swAddIn. Its folder is that of its DLL, so `addinDir` must
// name that folder. The add-in's message boxes and process starts go to `os`.
// Throws std::runtime_error saying what is wrong.
std::unique_ptr<host::SwAddin> loadRegisteredAddin(const std::string& addinDir, platform::Platform& os);

}  // namespace kelvane::cli
