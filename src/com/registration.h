// Self-registration: the COM classes, their ProgIDs, the type library and the host's
// add-in entry. Unregistration removes exactly those entries.
#pragma once

#include <string>
#include <vector>

#include "com/win32.h"

namespace kelvane::com {

// One registry value the server writes, for the tests and for unregistration.
struct RegistryEntry {
  HKEY root;
  std::wstring key;
  std::wstring name;   // "" for the key's default value
  DWORD type;          // REG_SZ or REG_DWORD
  std::wstring text;   // for REG_SZ
  DWORD number = 0;    // for REG_DWORD
};

// Every value DllRegisterServer writes for the module file at `modulePath`, and the
// keys DllUnregisterServer removes (each with everything below it).
std::vector<RegistryEntry> registryEntries(const std::wstring& modulePath);
std::vector<std::pair<HKEY, std::wstring>> ownedKeys();

HRESULT registerServer(HINSTANCE module);
HRESULT unregisterServer(HINSTANCE module);

}  // namespace kelvane::com
