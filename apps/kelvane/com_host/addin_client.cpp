#include "com_host/addin_client.h"

#include <cstring>

#include "com/boundary.h"

namespace kelvane::com {

namespace {

// Where the redirected imports go. An import table entry is a bare function pointer
// with no room for context, hence this one pointer per process.
platform::Platform* redirectTarget = nullptr;

int WINAPI recordMessageBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  try {
    redirectTarget->ShowMessage(toUtf8(std::wstring_view(text ? text : L"")));
    return IDOK;
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
}

BOOL WINAPI recordCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                LPPROCESS_INFORMATION process) {
  try {
    const wchar_t* line = commandLine ? commandLine : application ? application : L"";
    redirectTarget->StartProcess(toUtf8(std::wstring_view(line)));
  } catch (...) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  // Handles of our own for the caller to close; nothing was started.
  const HANDLE self = GetCurrentProcess();
  *process = PROCESS_INFORMATION{};
  DuplicateHandle(self, self, self, &process->hProcess, 0, FALSE, DUPLICATE_SAME_ACCESS);
  DuplicateHandle(self, GetCurrentThread(), self, &process->hThread, 0, FALSE, DUPLICATE_SAME_ACCESS);
  process->dwProcessId = GetCurrentProcessId();
  process->dwThreadId = GetCurrentThreadId();
  return TRUE;
}

struct Redirection {
  const char* dll;
  const char* function;
  void* replacement;
};

const Redirection kRedirections[] = {
    {"user32.dll", "MessageBoxW", reinterpret_cast<void*>(&recordMessageBox)},
    {"kernel32.dll", "CreateProcessW", reinterpret_cast<void*>(&recordCreateProcess)},
};

void writeSlot(void** slot, void* value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) {
    check(HRESULT_FROM_WIN32(GetLastError()), "VirtualProtect");
  }
  *slot = value;
  VirtualProtect(slot, sizeof *slot, old, &old);
}

std::wstring fullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(written);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  return full;
}

}  // namespace

Apartment::Apartment() { check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx"); }

Apartment::~Apartment() { CoUninitialize(); }

ImportRedirect::ImportRedirect(HMODULE module, platform::Platform& os) {
  if (redirectTarget) throw ComError(E_UNEXPECTED, "imports are redirected already");
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
    const char* dll = reinterpret_cast<const char*>(base + d->Name);
    if (!d->OriginalFirstThunk) continue;  // no names to go by
    auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      const char* function = reinterpret_cast<const char*>(byName->Name);
      for (const Redirection& r : kRedirections) {
        if (_stricmp(dll, r.dll) != 0 || std::strcmp(function, r.function) != 0) continue;
        auto** slot = reinterpret_cast<void**>(&slots->u1.Function);
        patches_.push_back({slot, *slot});
        writeSlot(slot, r.replacement);
      }
    }
  }
  redirectTarget = &os;
}

ImportRedirect::~ImportRedirect() {
  for (const Patch& p : patches_) {
    try {
      writeSlot(p.slot, p.original);
    } catch (const ComError&) {
      // The module keeps the redirection; the target below stays valid until exit.
    }
  }
  redirectTarget = nullptr;
}

RegisteredAddin::RegisteredAddin(platform::Platform& os) {
  check(CoCreateInstance(CLSID_swAddIn, nullptr, CLSCTX_INPROC_SERVER, IID_ISwAddin, addin_.putVoid()),
        "creating the registered Kelvane.swAddIn");
  // The module that serves the object: the one whose code its vtable points into.
  const void* vtable = *reinterpret_cast<void* const*>(addin_.get());
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(vtable), &module_)) {
    check(HRESULT_FROM_WIN32(GetLastError()), "finding the add-in's module");
  }
  redirect_ = std::make_unique<ImportRedirect>(module_, os);
}

RegisteredAddin::~RegisteredAddin() {
  // The host may still hold page handlers and the callback object; they let go of the
  // add-in now, before the apartment closes and the module may be unloaded.
  for (const auto& object : held_) object->detach();
  held_.clear();
  redirect_.reset();
  addin_.reset();
}

std::string RegisteredAddin::moduleFolder() const {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(module_, path, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4) check(HRESULT_FROM_WIN32(GetLastError()), "GetModuleFileNameW");
  std::wstring file(path, n);
  return toUtf8(file.substr(0, file.find_last_of(L"\\/")));
}

bool RegisteredAddin::SwAddIn_ConnectToSW(std::shared_ptr<host::Application> thisSW, std::int32_t cookie) {
  ComPtr<IDispatch> app = serveApplication(std::move(thisSW), [this](std::shared_ptr<AddinObject> object) {
    held_.push_back(std::move(object));
  });
  VARIANT_BOOL connected = VARIANT_FALSE;
  checkCall(addin_->ConnectToSW(app.get(), cookie, &connected));
  return connected != VARIANT_FALSE;
}

bool RegisteredAddin::SwAddIn_DisconnectFromSW() {
  VARIANT_BOOL disconnected = VARIANT_FALSE;
  checkCall(addin_->DisconnectFromSW(&disconnected));
  return disconnected != VARIANT_FALSE;
}

bool sameFolder(const std::string& a, const std::string& b) {
  const std::wstring x = fullPath(toUtf16(a));
  const std::wstring y = fullPath(toUtf16(b));
  return CompareStringOrdinal(x.c_str(), -1, y.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace kelvane::com
