#include "win/system_library.h"

#include <string>

FARPROC SystemFunction(const wchar_t* dll, const char* name) {
  // Only from the system folder, named in full: a DLL of the same name
  // beside a file the user opened, or in the current folder, is never
  // taken instead (the search flag that says so is missing on Windows 7
  // without its update, and on the Windows PE made from it). Loading a
  // loaded DLL again only counts it once more; none is freed.
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + dll;
  HMODULE module = LoadLibraryW(path.c_str());
  return module ? GetProcAddress(module, name) : nullptr;
}
