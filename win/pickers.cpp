#include "win/pickers.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <mutex>

#include "win/system_library.h"

namespace {
std::mutex g_handlerLock;
PickerHandler g_handler;

// Name buffers: one long path, or many of them for a multiple selection.
constexpr DWORD kSingleNameChars = 32768;
constexpr DWORD kMultiNameChars = 1048576;

// "a|b|c||" as the dialog wants it: "a\0b\0c\0\0".
std::vector<wchar_t> FilterPieces(const std::wstring& filter) {
  std::vector<wchar_t> pieces(filter.begin(), filter.end());
  for (wchar_t& c : pieces)
    if (c == L'|') c = L'\0';
  pieces.push_back(L'\0');
  pieces.push_back(L'\0');
  return pieces;
}

// The names of a multiple-selection answer: "folder\0name\0name\0\0", or
// one full path followed by "\0\0".
std::vector<std::wstring> SplitSelection(const wchar_t* buffer) {
  std::vector<std::wstring> parts;
  for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1) parts.emplace_back(p);
  if (parts.size() <= 1) return parts;
  std::wstring folder = parts[0];
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  std::vector<std::wstring> paths;
  for (size_t i = 1; i < parts.size(); i++) paths.push_back(folder + parts[i]);
  return paths;
}

bool ShowFileDialog(const PickerRequest& request, std::vector<std::wstring>& paths) {
  const bool many = request.kind == PickerKind::kOpenMany;
  std::vector<wchar_t> buffer(many ? kMultiNameChars : kSingleNameChars, L'\0');
  std::copy(request.start.begin(), request.start.begin() + std::min<size_t>(request.start.size(), kSingleNameChars - 1),
            buffer.begin());
  std::vector<wchar_t> filter = FilterPieces(request.filter);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = request.owner;
  ofn.lpstrFilter = request.filter.empty() ? nullptr : filter.data();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrDefExt = request.defaultExt.empty() ? nullptr : request.defaultExt.c_str();
  ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  ofn.Flags = OFN_EXPLORER | request.flags;
  if (many) ofn.Flags |= OFN_ALLOWMULTISELECT;
  auto show = SystemFunctionAs<decltype(&GetOpenFileNameW)>(
      L"comdlg32.dll", request.kind == PickerKind::kSave ? "GetSaveFileNameW" : "GetOpenFileNameW");
  if (!show || !show(&ofn)) return false;
  if (many) paths = SplitSelection(buffer.data());
  else paths.emplace_back(buffer.data());
  return true;
}

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

std::wstring PathOfItemList(PCIDLIST_ABSOLUTE items) {
  std::wstring path(kSingleNameChars, L'\0');
  if (!SHGetPathFromIDListEx(items, &path[0], kSingleNameChars, GPFIDL_DEFAULT)) return L"";
  path.resize(wcslen(path.c_str()));
  return path;
}

bool ShowFolderBrowser(const PickerRequest& request, std::vector<std::wstring>& paths) {
  BROWSEINFOW info = {};
  info.hwndOwner = request.owner;
  info.lpszTitle = request.title.empty() ? nullptr : request.title.c_str();
  info.ulFlags = request.flags;
  info.lpfn = BrowseCallback;
  info.lParam = request.start.empty() ? 0 : reinterpret_cast<LPARAM>(request.start.c_str());
  PIDLIST_ABSOLUTE items = SHBrowseForFolderW(&info);
  if (!items) return false;
  std::wstring path = PathOfItemList(items);
  CoTaskMemFree(items);
  if (!path.empty()) paths.push_back(path);
  return true;
}
}  // namespace

PickerHandler SetPickerHandler(PickerHandler handler) {
  std::lock_guard<std::mutex> lock(g_handlerLock);
  PickerHandler previous = std::move(g_handler);
  g_handler = std::move(handler);
  return previous;
}

bool ShowPicker(const PickerRequest& request, std::vector<std::wstring>& paths) {
  paths.clear();
  PickerHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_handlerLock);
    handler = g_handler;
  }
  bool ok = handler ? handler(request, paths)
                    : request.kind == PickerKind::kFolder ? ShowFolderBrowser(request, paths)
                                                          : ShowFileDialog(request, paths);
  if (!ok || paths.empty()) {
    paths.clear();
    return false;
  }
  return true;
}

std::wstring PickPath(const PickerRequest& request) {
  std::vector<std::wstring> paths;
  return ShowPicker(request, paths) ? paths[0] : std::wstring();
}

std::wstring PickFile(HWND owner, PickerKind kind, const std::wstring& filter, const std::wstring& defaultExt,
                      DWORD flags, const std::wstring& start) {
  PickerRequest request;
  request.kind = kind;
  request.owner = owner;
  request.filter = filter;
  request.defaultExt = defaultExt;
  request.flags = flags;
  request.start = start;
  return PickPath(request);
}

std::wstring PickFolder(HWND owner, std::wstring& lastFolder) {
  PickerRequest request;
  request.kind = PickerKind::kFolder;
  request.owner = owner;
  request.start = lastFolder;
  request.flags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  std::wstring path = PickPath(request);
  if (!path.empty()) lastFolder = path;
  return path;
}

bool AskSaveWimPath(HWND owner, std::wstring& path) {
  std::wstring chosen = PickFile(owner, PickerKind::kSave, L"Windows Imaging File (*.WIM)|*.WIM||", L"WIM",
                                 OFN_HIDEREADONLY | OFN_PATHMUSTEXIST, path);
  if (chosen.empty()) return false;
  path = chosen;
  return true;
}
