#include "config/import_dlg.h"

#include <commdlg.h>

std::wstring AskImportFile(HWND owner) {
  constexpr DWORD kChars = 32768;
  std::wstring buffer(kChars, L'\0');
  static const wchar_t kFilter[] = L"Configuration File (*.INI)\0*.INI\0Text File (*.TXT)\0*.TXT\0";
  OPENFILENAMEW ofn = {sizeof ofn};
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = &buffer[0];
  ofn.nMaxFile = kChars;
  ofn.lpstrDefExt = L"ini";
  ofn.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (!GetOpenFileNameW(&ofn)) return L"";
  buffer.resize(wcslen(buffer.c_str()));
  return buffer;
}
