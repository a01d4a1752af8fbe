// The DLL's entry points: DllMain and the four exports of an in-process server.
#include "com/registration.h"
#include "com/server.h"

using kelvane::com::module;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    module().instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return kelvane::com::getClassObject(clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return module().canUnload() ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return kelvane::com::registerServer(module().instance);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return kelvane::com::unregisterServer(module().instance);
}
