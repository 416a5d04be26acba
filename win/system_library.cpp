#include "win/system_library.h"

#include "win/paths.h"

FARPROC SystemFunction(const wchar_t* dll, const char* name) {
  // Only from the system folder, named in full: a DLL of the same name
  // beside a file the user opened, or in the current folder, is never
  // taken instead (the search flag that says so is missing on Windows 7
  // without its update, and on the Windows PE made from it). Loading a
  // loaded DLL again only counts it once more; none is freed.
  const std::wstring folder = SystemFolder();
  if (folder.empty()) return nullptr;
  HMODULE module = LoadLibraryW(JoinPath(folder, dll).c_str());
  return module ? GetProcAddress(module, name) : nullptr;
}
