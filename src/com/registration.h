// Self-registration: DllRegisterServer writes the rows of com/registry_table.h, the
// same rows the installer writes; DllUnregisterServer removes the keys that hold them.
#pragma once

#include "com/win32.h"

namespace kelvane::com {

HRESULT registerServer(HINSTANCE module);
HRESULT unregisterServer(HINSTANCE module);

}  // namespace kelvane::com
