#include "pages/path_prompts.h"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>

namespace {
// Long enough for the longest path the system accepts.
constexpr DWORD kPathBufferChars = 32768;

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

std::wstring PathOfItemList(PIDLIST_ABSOLUTE items) {
  std::vector<wchar_t> buffer(kPathBufferChars);
  using GetPathEx = BOOL(WINAPI*)(PCIDLIST_ABSOLUTE, PWSTR, DWORD, int);
  auto getPathEx = reinterpret_cast<GetPathEx>(GetProcAddress(GetModuleHandleW(L"shell32.dll"), "SHGetPathFromIDListEx"));
  BOOL ok = getPathEx ? getPathEx(items, buffer.data(), kPathBufferChars, 0)
                      : SHGetPathFromIDListW(items, buffer.data());
  return ok ? std::wstring(buffer.data()) : std::wstring();
}
}  // namespace

std::wstring BrowseForFolder(HWND owner, const std::wstring& start) {
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE items = SHBrowseForFolderW(&info);
  if (!items) return L"";
  std::wstring path = PathOfItemList(items);
  CoTaskMemFree(items);
  return path;
}

std::wstring AskFilePath(HWND owner, bool save, const std::wstring& filter, const wchar_t* defaultExt, DWORD flags) {
  std::wstring pieces = filter;
  for (wchar_t& c : pieces)
    if (c == L'|') c = L'\0';
  std::vector<wchar_t> buffer(kPathBufferChars, L'\0');
  OPENFILENAMEW ofn = {sizeof(ofn)};
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = pieces.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = kPathBufferChars;
  ofn.lpstrDefExt = defaultExt;
  ofn.Flags = OFN_EXPLORER | flags;
  BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  return ok ? std::wstring(buffer.data()) : std::wstring();
}
