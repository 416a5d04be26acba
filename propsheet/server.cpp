// DllRegisterServer and DllUnregisterServer.
#include "server.h"

#include <oleauto.h>

#include <string>

#include "module.h"
#include "registrar.h"
#include "resource.h"
#include "tessel_idl.h"

namespace tessel {

namespace {

// The Approved list of shell extensions, and our value in it.
const wchar_t kApprovedKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kClsidText[] = L"{8BAC8316-CC4B-43e3-A7FD-A8178E003869}";
const wchar_t kApprovedText[] = L"Quarry Shell Extension";

// Windows 9x/ME set the top bit of the version; they have no Approved list.
bool IsNtFamily() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return (GetVersion() & 0x80000000u) == 0;
#pragma GCC diagnostic pop
}

// The registry script resource as text (UTF-8 in the module).
bool LoadScript(std::wstring* text) {
  HINSTANCE module = ModuleInstance();
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(IDR_REGISTRY), L"REGISTRY");
  if (!res) return false;
  HGLOBAL data = LoadResource(module, res);
  DWORD size = SizeofResource(module, res);
  const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
  if (!bytes || size == 0) return false;
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes, (int)size, nullptr, 0);
  if (n <= 0) return false;
  text->assign(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes, (int)size, &(*text)[0], n);
  return true;
}

HRESULT RunScript(bool install) {
  std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  std::wstring script;
  if (!LoadScript(&script)) return HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return RunRegistryScript(script, {{L"MODULE", path}}, install);
}

HRESULT RegisterTypeLibrary() {
  std::wstring path = ModulePath();
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
  if (FAILED(hr)) return hr;
  hr = RegisterTypeLib(lib, &path[0], nullptr);
  lib->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary() {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &lib);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) {
    // Not registered (any more) counts as removed.
    BSTR registered = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                        &registered))) {
      SysFreeString(registered);
      hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    }
    lib->ReleaseTLibAttr(attr);
  }
  lib->Release();
  return hr;
}

}  // namespace

HRESULT RegisterServer() {
  if (IsNtFamily()) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
      return E_ACCESSDENIED;
    LONG err = RegSetValueExW(key, kClsidText, 0, REG_SZ, reinterpret_cast<const BYTE*>(kApprovedText),
                              sizeof kApprovedText);
    RegCloseKey(key);
    if (err != ERROR_SUCCESS) return E_ACCESSDENIED;
  }
  HRESULT hr = RunScript(true);
  if (FAILED(hr)) return hr;
  return RegisterTypeLibrary();
}

HRESULT UnregisterServer() {
  if (IsNtFamily()) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApprovedKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueW(key, kClsidText);
      RegCloseKey(key);
    }
  }
  HRESULT hr = RunScript(false);
  HRESULT hrLib = UnregisterTypeLibrary();
  return FAILED(hr) ? hr : hrLib;
}

}  // namespace tessel
