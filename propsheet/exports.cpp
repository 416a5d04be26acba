// Entry point and the four exports of the extension module (see tessel.def).
#include <windows.h>

#include "class_factory.h"
#include "module.h"
#include "server.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    tessel::SetModuleInstance(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return tessel::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) { return tessel::GetClassObject(clsid, riid, ppv); }

STDAPI DllRegisterServer() { return tessel::RegisterServer(); }

STDAPI DllUnregisterServer() { return tessel::UnregisterServer(); }
