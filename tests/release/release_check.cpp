// What the release test asks of the installed program, from inside the Wine
// prefix it was installed into:
//
//   release_check window EXE       waits until a process started from EXE
//                                  shows a visible top-level window, prints
//                                  its title and closes it
//   release_check page FOLDER NAME the property page of FOLDER\NAME, as
//                                  Explorer gets it: the extension created
//                                  through COM from its registration, the
//                                  file handed over in a shell data object,
//                                  its page shown in a property sheet; prints
//                                  the DLL it came from and the page's rows
//   release_check hold FLAG        keeps the installed extension loaded, as
//                                  Explorer does after showing a page: prints
//                                  "held" once it is, and lets go when the
//                                  file FLAG exists
//
// Exit code 0 when everything asked for is there; what failed goes to stderr.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const CLSID kClsid = {0x8bac8316, 0xcc4b, 0x43e3, {0xa7, 0xfd, 0xa8, 0x17, 0x8e, 0x00, 0x38, 0x69}};

// A hang guard, not a measure: the program is given a minute and more to
// show its window on a loaded machine.
const DWORD kWindowWaitMs = 180000;

void Print(const std::wstring& text) {
  std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
  std::fputs(utf8.c_str(), stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

void Fail(const char* what) {
  std::fprintf(stderr, "release_check: %s\n", what);
  std::fflush(stderr);
}

std::wstring ImageOf(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return L"";
  wchar_t buffer[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  std::wstring image;
  if (QueryFullProcessImageNameW(process, 0, buffer, &size)) image = buffer;
  CloseHandle(process);
  return image;
}

struct WindowSearch {
  std::wstring exe;
  HWND found = nullptr;
  DWORD pid = 0;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (lstrcmpiW(ImageOf(pid).c_str(), search->exe.c_str()) != 0) return TRUE;
  // The main window, not a message box the program might show first.
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (std::wstring(title).rfind(L"KLO Quarry", 0) != 0) return TRUE;
  search->found = window;
  search->pid = pid;
  return FALSE;
}

int CheckWindow(const std::wstring& exe) {
  WindowSearch search{exe};
  const DWORD start = GetTickCount();
  while (!search.found) {
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (GetTickCount() - start > kWindowWaitMs) {
      Fail("no visible window of the program");
      return 1;
    }
    Sleep(100);
  }
  wchar_t title[256] = {};
  GetWindowTextW(search.found, title, 256);
  Print(std::wstring(L"window: ") + title);
  // Ended as a user ends it; the program saves its settings on the way.
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, search.pid);
  PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (process && WaitForSingleObject(process, kWindowWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process, 1);
    CloseHandle(process);
    Fail("the program did not end when its window was closed");
    return 1;
  }
  if (process) CloseHandle(process);
  return 0;
}

// The shell's own data object for one file, as Explorer hands it over.
IDataObject* ShellDataObject(const std::wstring& folder, const std::wstring& name) {
  IShellFolder* desktop = nullptr;
  IShellFolder* parent = nullptr;
  PIDLIST_ABSOLUTE folderPidl = nullptr;
  PIDLIST_RELATIVE child = nullptr;
  IDataObject* data = nullptr;
  std::wstring copy = name;
  if (SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
      SUCCEEDED(SHParseDisplayName(folder.c_str(), nullptr, &folderPidl, 0, nullptr)) &&
      SUCCEEDED(desktop->BindToObject(folderPidl, nullptr, IID_IShellFolder, (void**)&parent)) &&
      SUCCEEDED(parent->ParseDisplayName(nullptr, nullptr, &copy[0], nullptr, &child, nullptr))) {
    PCUITEMID_CHILD children[1] = {static_cast<PCUITEMID_CHILD>(child)};
    parent->GetUIObjectOf(nullptr, 1, children, IID_IDataObject, nullptr, (void**)&data);
  }
  if (child) CoTaskMemFree(child);
  if (folderPidl) CoTaskMemFree(folderPidl);
  if (parent) parent->Release();
  if (desktop) desktop->Release();
  return data;
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages) {
  reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
  return TRUE;
}

std::wstring ModuleOf(const wchar_t* name) {
  HMODULE module = GetModuleHandleW(name);
  wchar_t path[MAX_PATH] = {};
  if (module) GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

int CheckPage(const std::wstring& folder, const std::wstring& name) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  if (FAILED(OleInitialize(nullptr))) return Fail("OleInitialize"), 1;
  IShellExtInit* init = nullptr;
  HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, (void**)&init);
  if (FAILED(hr) || !init) {
    std::fprintf(stderr, "release_check: CoCreateInstance of the extension: 0x%08lx\n", hr);
    return 1;
  }
  Print(L"server: " + ModuleOf(L"Tessel64.dll"));
  IDataObject* data = ShellDataObject(folder, name);
  if (!data) return Fail("no shell data object for the file"), 1;
  hr = init->Initialize(nullptr, data, nullptr);
  data->Release();
  if (FAILED(hr)) return Fail("Initialize refused the file"), 1;
  IShellPropSheetExt* sheetExt = nullptr;
  if (FAILED(init->QueryInterface(IID_IShellPropSheetExt, (void**)&sheetExt)) || !sheetExt)
    return Fail("no IShellPropSheetExt"), 1;
  std::vector<HPROPSHEETPAGE> pages;
  hr = sheetExt->AddPages(CollectPage, reinterpret_cast<LPARAM>(&pages));
  sheetExt->Release();
  init->Release();
  if (FAILED(hr) || pages.size() != 1) return Fail("the extension added no page"), 1;

  PROPSHEETHEADERW header = {};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
  header.pszCaption = name.c_str();
  header.nPages = 1;
  header.phpage = pages.data();
  HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
  if (!sheet || sheet == reinterpret_cast<HWND>(-1)) return Fail("the property sheet was not created"), 1;
  HWND page = PropSheet_GetCurrentPageHwnd(sheet);
  HWND tree = page ? GetDlgItem(page, 210) : nullptr;
  int rows = 0;
  for (HTREEITEM item = tree ? TreeView_GetRoot(tree) : nullptr; item; item = TreeView_GetNextSibling(tree, item)) {
    wchar_t text[512] = {};
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = 512;
    TreeView_GetItem(tree, &tv);
    Print(std::wstring(L"row: ") + text);
    rows++;
  }
  DestroyWindow(sheet);
  OleUninitialize();
  if (rows == 0) return Fail("the page lists nothing"), 1;
  return 0;
}

int HoldExtension(const std::wstring& flag) {
  if (FAILED(CoInitialize(nullptr))) return Fail("CoInitialize"), 1;
  IUnknown* object = nullptr;
  HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, (void**)&object);
  if (FAILED(hr) || !object) return Fail("the extension could not be created"), 1;
  // In use as a loaded library is in use on Windows: the file cannot be
  // deleted or overwritten while it is held. Wine lets a loaded library
  // go, so the file is also held open without sharing its deletion.
  const std::wstring module = ModuleOf(L"Tessel64.dll");
  HANDLE file = CreateFileW(module.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail("the extension's file could not be held"), 1;
  Print(L"held: " + module);
  // Let go when told to, or after a generous hang guard.
  const DWORD start = GetTickCount();
  while (GetFileAttributesW(flag.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < kWindowWaitMs)
    Sleep(100);
  CloseHandle(file);
  object->Release();
  CoUninitialize();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"window") return CheckWindow(argv[2]);
  if (argc == 4 && std::wstring(argv[1]) == L"page") return CheckPage(argv[2], argv[3]);
  if (argc == 3 && std::wstring(argv[1]) == L"hold") return HoldExtension(argv[2]);
  Fail("usage: release_check window EXE | page FOLDER NAME | hold FLAG");
  return 2;
}
