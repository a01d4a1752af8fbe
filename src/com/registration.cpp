#include "com/registration.h"

#include "com/boundary.h"
#include "com/wrappers.h"
#include "kelvane.h"

namespace kelvane::com {

namespace {

constexpr const wchar_t* kTitle = L"Kelvane 1.1";
constexpr const wchar_t* kDescription =
    L"Edits the active document's custom properties on a property page declared in Kelvane.ini";
constexpr WORD kLibraryMajor = 1;
constexpr WORD kLibraryMinor = 1;

struct ClassInfo {
  const CLSID& clsid;
  const wchar_t* progId;
  const wchar_t* name;
};

const ClassInfo kClasses[] = {
    {CLSID_swAddIn, L"Kelvane.swAddIn", L"Kelvane add-in"},
    {CLSID_swPropMgrHdlr, L"Kelvane.swPropMgrHdlr", L"Kelvane page handler"},
};

std::wstring guidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring classKey(const ClassInfo& c) { return L"CLSID\\" + guidText(c.clsid); }
std::wstring addinKey() { return L"SOFTWARE\\SolidWorks\\Addins\\" + guidText(CLSID_swAddIn); }

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

void checkWin32(LSTATUS status, const std::wstring& what) {
  if (status != ERROR_SUCCESS) check(HRESULT_FROM_WIN32(static_cast<DWORD>(status)), toUtf8(what));
}

void write(const RegistryEntry& e) {
  HKEY key = nullptr;
  checkWin32(RegCreateKeyExW(e.root, e.key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
             L"creating " + e.key);
  LSTATUS status;
  if (e.type == REG_DWORD) {
    status = RegSetValueExW(key, e.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&e.number),
                            sizeof e.number);
  } else {
    status = RegSetValueExW(key, e.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(e.text.c_str()),
                            static_cast<DWORD>((e.text.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
  checkWin32(status, L"writing " + e.key + L"\\" + e.name);
}

RegistryEntry text(HKEY root, std::wstring key, std::wstring name, std::wstring value) {
  return {root, std::move(key), std::move(name), REG_SZ, std::move(value)};
}

}  // namespace

std::vector<RegistryEntry> registryEntries(const std::wstring& path) {
  std::vector<RegistryEntry> entries;
  const std::wstring library = guidText(LIBID_Kelvane);
  for (const ClassInfo& c : kClasses) {
    const std::wstring key = classKey(c);
    entries.push_back(text(HKEY_CLASSES_ROOT, key, L"", c.name));
    entries.push_back(text(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"", path));
    entries.push_back(text(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"));
    entries.push_back(text(HKEY_CLASSES_ROOT, key + L"\\ProgID", L"", c.progId));
    entries.push_back(text(HKEY_CLASSES_ROOT, key + L"\\TypeLib", L"", library));
    entries.push_back(text(HKEY_CLASSES_ROOT, key + L"\\Version", L"", L"1.1"));
    entries.push_back(text(HKEY_CLASSES_ROOT, c.progId, L"", c.name));
    entries.push_back(text(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L"\\CLSID", L"", guidText(c.clsid)));
  }
  entries.push_back({HKEY_LOCAL_MACHINE, addinKey(), L"", REG_DWORD, L"", 1});
  entries.push_back(text(HKEY_LOCAL_MACHINE, addinKey(), L"Title", kTitle));
  entries.push_back(text(HKEY_LOCAL_MACHINE, addinKey(), L"Description", kDescription));
  return entries;
}

std::vector<std::pair<HKEY, std::wstring>> ownedKeys() {
  std::vector<std::pair<HKEY, std::wstring>> keys;
  for (const ClassInfo& c : kClasses) {
    keys.emplace_back(HKEY_CLASSES_ROOT, classKey(c));
    keys.emplace_back(HKEY_CLASSES_ROOT, c.progId);
  }
  keys.emplace_back(HKEY_LOCAL_MACHINE, addinKey());
  return keys;
}

HRESULT registerServer(HINSTANCE module) {
  const HRESULT hr = guardedHr(IID_NULL, nullptr, [&] {
    const std::wstring path = modulePath(module);
    for (const RegistryEntry& e : registryEntries(path)) write(e);
    ComPtr<ITypeLib> library;
    check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()), "loading the type library");
    std::wstring file = path;  // RegisterTypeLib takes a mutable string
    check(RegisterTypeLib(library.get(), file.data(), nullptr), "registering the type library");
    return S_OK;
  });
  // Half a registration is worse than none.
  if (FAILED(hr)) unregisterServer(module);
  return hr;
}

HRESULT unregisterServer(HINSTANCE) {
  return guardedHr(IID_NULL, nullptr, [&] {
    HRESULT result = S_OK;
    for (const auto& [root, key] : ownedKeys()) {
      const LSTATUS status = RegDeleteTreeW(root, key.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result)) {
        result = HRESULT_FROM_WIN32(static_cast<DWORD>(status));
      }
    }
    const HRESULT hr = UnRegisterTypeLib(LIBID_Kelvane, kLibraryMajor, kLibraryMinor, LOCALE_NEUTRAL,
                                         sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    // A library that is not registered is already as it should be.
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY && SUCCEEDED(result)) {
      result = hr;
    }
    return result;
  });
}

}  // namespace kelvane::com
