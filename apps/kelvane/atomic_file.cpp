#include "atomic_file.h"

#include "platform/whole_file.h"
#ifdef _WIN32
#include "platform/windows_platform.h"
#endif

namespace kelvane::cli {

void writeFileAtomically(const std::string& path, const std::string& text) {
  try {
#ifdef _WIN32
    // The program's paths are in the ANSI code page, the platform's in UTF-8.
    platform::writeWholeFile(platform::ansiToUtf8(path), text);
#else
    platform::writeWholeFile(path, text);
#endif
  } catch (const platform::PlatformError& e) {
    throw WriteError(e.what());
  }
}

}  // namespace kelvane::cli
