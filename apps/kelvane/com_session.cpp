#include "com_session.h"

#include <stdexcept>

#include "com_host/addin_client.h"

namespace kelvane::cli {

std::unique_ptr<host::SwAddin> loadRegisteredAddin(const std::string& addinDir, platform::Platform& os) {
  std::unique_ptr<com::RegisteredAddin> addin;
  try {
    addin = std::make_unique<com::RegisteredAddin>(os);
  } catch (const com::ComError& e) {
    throw std::runtime_error(std::string("--com: ") + e.what() + " (is Kelvane.dll registered with regsvr32?)");
  }
  const std::string folder = addin->moduleFolder();
  if (!com::sameFolder(addinDir, folder)) {
    throw std::runtime_error("--com: the add-in's folder is the folder of the registered Kelvane.dll, " + folder +
                             ", not " + addinDir);
  }
  return addin;
}

}  // namespace kelvane::cli
