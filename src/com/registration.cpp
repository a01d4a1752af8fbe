#include "com/registration.h"

#include "com/boundary.h"
#include "com/registry_table.h"
#include "com/wrappers.h"
#include "platform/windows_platform.h"

namespace kelvane::com {

namespace {

using platform::utf16ToUtf8;
using platform::utf8ToUtf16;

HKEY rootKey(registry::Root root) {
  return root == registry::Root::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
}

std::wstring modulePath(HINSTANCE module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) check(HRESULT_FROM_WIN32(GetLastError()), "GetModuleFileNameW");
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void checkWin32(LSTATUS status, const std::string& what) {
  if (status != ERROR_SUCCESS) check(HRESULT_FROM_WIN32(static_cast<DWORD>(status)), what);
}

void write(const registry::Row& row) {
  HKEY key = nullptr;
  checkWin32(RegCreateKeyExW(rootKey(row.root), utf8ToUtf16(row.key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                             &key, nullptr),
             "creating " + row.key);
  const std::wstring name = utf8ToUtf16(row.name);
  LSTATUS status;
  if (row.isNumber) {
    const DWORD number = row.number;
    status = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  } else {
    const std::wstring text = utf8ToUtf16(row.text);
    status = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
  checkWin32(status, "writing " + row.key + "\\" + row.name);
}

}  // namespace

HRESULT registerServer(HINSTANCE module) {
  const HRESULT hr = guardedHr(IID_NULL, nullptr, [&] {
    for (const registry::Row& row : registry::rows(utf16ToUtf8(modulePath(module)))) write(row);
    return S_OK;
  });
  // Half a registration is worse than none.
  if (FAILED(hr)) unregisterServer(module);
  return hr;
}

HRESULT unregisterServer(HINSTANCE) {
  return guardedHr(IID_NULL, nullptr, [&] {
    HRESULT result = S_OK;
    for (const registry::OwnedKey& owned : registry::ownedKeys()) {
      const LSTATUS status = RegDeleteTreeW(rootKey(owned.root), utf8ToUtf16(owned.key).c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result)) {
        result = HRESULT_FROM_WIN32(static_cast<DWORD>(status));
      }
    }
    return result;
  });
}

}  // namespace kelvane::com
