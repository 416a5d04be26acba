#include "win/system_library.h"

FARPROC SystemFunction(const wchar_t *dll, const char *name) {
  // Only from the system folder: a DLL of the same name beside a file the
  // user opened, or in the current folder, is never taken instead. Loading
  // a loaded DLL again only counts it once more; none is freed.
  HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? GetProcAddress(module, name) : nullptr;
}
