// The browser page's drag-out to Explorer and the shell's Properties.
//
// A drag offers Explorer a hidden placeholder file of 128 bytes under a
// name of its own. Explorer creates it in the folder where the user drops;
// the shell's creation notice tells the page which folder that was, the
// placeholder is deleted and the selection is extracted there.
#include <shlobj.h>

#include <atomic>

#include "controls/drag_drop.h"
#include "win/messages.h"
#include "pages/page_browser.h"
#include "win/long_path.h"
#include "win/paths.h"

namespace {
constexpr DWORD kPlaceholderBytes = 128;
std::atomic<unsigned> g_dragCounter{0};

// The folder holding `path`. A drive root keeps its backslash: "C:" alone
// would name the current directory of that drive, not its root.
std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return L"";
  if (slash == 2 && path[1] == L':') return path.substr(0, 3);
  return path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// True only for the hidden 128-byte file a drag of ours leaves behind.
bool IsPlaceholderFile(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  return (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && data.nFileSizeHigh == 0 &&
         data.nFileSizeLow == kPlaceholderBytes;
}

HGLOBAL PlaceholderDescriptor(const std::wstring& name) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(FILEGROUPDESCRIPTORW));
  if (!memory) return nullptr;
  auto* group = static_cast<FILEGROUPDESCRIPTORW*>(GlobalLock(memory));
  group->cItems = 1;
  FILEDESCRIPTORW& file = group->fgd[0];
  file.dwFlags = FD_ATTRIBUTES | FD_FILESIZE;
  file.dwFileAttributes = FILE_ATTRIBUTE_HIDDEN;
  file.nFileSizeLow = kPlaceholderBytes;
  lstrcpynW(file.cFileName, name.c_str(), MAX_PATH);
  GlobalUnlock(memory);
  return memory;
}
}  // namespace

void CPage_Browser::RegisterShellNotify() {
  PIDLIST_ABSOLUTE desktop = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktop))) return;
  SHChangeNotifyEntry entry = {desktop, TRUE};
  notifyId_ = SHChangeNotifyRegister(hwnd_, SHCNRF_ShellLevel, SHCNE_CREATE, UM_SHELL_CHANGE, 1, &entry);
  CoTaskMemFree(desktop);
}

std::wstring CPage_Browser::BeginDragOut() {
  // The tick count alone repeats every ten seconds; process id, tick count
  // and a counter make the name of each drag its own.
  placeholder_ = L"Temp" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-" +
                 std::to_wstring(g_dragCounter++) + L".TMP";
  dragPending_ = true;
  return placeholder_;
}

void CPage_Browser::EndDragOut(DWORD effect) {
  // A drag that was refused or cancelled creates nothing to wait for.
  if (effect == DROPEFFECT_NONE) dragPending_ = false;
}

void CPage_Browser::RunDragOut() {
  if (RefuseWhileQueueRuns(GetAncestor(hwnd_, GA_ROOT))) return;
  ComPtr<CMyOleSource> source = CMyOleSource::Create();
  if (!source) return;
  std::wstring name = BeginDragOut();
  HGLOBAL descriptor = PlaceholderDescriptor(name);
  if (!descriptor) {
    EndDragOut(DROPEFFECT_NONE);
    return;
  }
  source->CacheGlobalData(static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILEDESCRIPTORW)), descriptor);
  source->OfferFileContents();
  EndDragOut(source->DoDragDrop(DROPEFFECT_COPY | DROPEFFECT_MOVE));
}

void CPage_Browser::OnShellCreated(const std::wstring& createdPath) {
  if (!dragPending_ || placeholder_.empty()) return;
  if (!EqualNoCase(NameOf(createdPath), placeholder_)) return;
  // Only our own placeholder marks the drop folder, and only it is deleted.
  if (!IsPlaceholderFile(createdPath)) return;
  dragPending_ = false;
  SetFileAttributesW(LongPathForm(createdPath).c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(LongPathForm(createdPath).c_str());
  if (mode_ == kInsideImage) ExtractTo(FolderOf(createdPath));
}

ComPtr<IDataObject> CPage_Browser::PropertiesData(const std::vector<std::wstring>& paths) {
  ComPtr<IDataObject> data;
  ComPtr<IShellFolder> desktop;
  if (paths.empty() || FAILED(SHGetDesktopFolder(desktop.put()))) return data;
  std::vector<PIDLIST_RELATIVE> pidls;
  bool parsed = true;
  for (const std::wstring& path : paths) {
    PIDLIST_RELATIVE pidl = nullptr;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(path.c_str()), nullptr, &pidl,
                                         nullptr))) {
      parsed = false;
      break;
    }
    pidls.push_back(pidl);
  }
  if (parsed)
    desktop->GetUIObjectOf(nullptr, static_cast<UINT>(pidls.size()), const_cast<PCUITEMID_CHILD_ARRAY>(pidls.data()),
                           IID_IDataObject, nullptr, reinterpret_cast<void**>(data.put()));
  for (PIDLIST_RELATIVE pidl : pidls) CoTaskMemFree(pidl);
  return data;
}

void CPage_Browser::Properties() {
  std::vector<std::wstring> paths;
  if (mode_ == kComputer) paths = SelectedPaths();
  else if (!wimPath_.empty()) paths.push_back(wimPath_);
  ComPtr<IDataObject> data = PropertiesData(paths);
  if (data) SHMultiFileProperties(data.get(), 0);
}
