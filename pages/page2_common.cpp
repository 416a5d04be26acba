#include "pages/page2_common.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>

#include <mutex>

#include "engine/image_xml.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/strings.h"


namespace {
std::mutex g_dialogLock;
FileDialogHandler g_dialogHandler;

// A name buffer for the dialog: large enough for many long paths.
constexpr size_t kSingleNameBuffer = 32768;
constexpr size_t kMultiNameBuffer = 1048576;

const wchar_t kWimOpenFilter[] = L"Windows Imaging File (*.WIM;*.ESD)\0*.WIM;*.ESD\0\0";
// Saving offers both kinds; the chosen one gives a typed name its extension.
const wchar_t kWimSaveFilter[] =
    L"Windows Imaging File (*.WIM)\0*.WIM\0Windows Imaging File, solid (*.ESD)\0*.ESD\0\0";

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
}  // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
  std::lock_guard<std::mutex> lock(g_dialogLock);
  FileDialogHandler previous = std::move(g_dialogHandler);
  g_dialogHandler = std::move(handler);
  return previous;
}

bool PickWimFiles(const FileDialogRequest& request, std::vector<std::wstring>& paths) {
  paths.clear();
  FileDialogHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_dialogLock);
    handler = g_dialogHandler;
  }
  if (handler) return handler(request, paths) && !paths.empty();

  std::vector<wchar_t> buffer(request.multiSelect ? kMultiNameBuffer : kSingleNameBuffer, L'\0');
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = request.owner;
  ofn.lpstrFilter = request.save ? kWimSaveFilter : kWimOpenFilter;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrDefExt = L"WIM";
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | request.flags;
  if (request.multiSelect) ofn.Flags |= OFN_ALLOWMULTISELECT;
  BOOL ok = request.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return false;
  if (request.multiSelect) paths = SplitSelection(buffer.data());
  else paths.emplace_back(buffer.data());
  return !paths.empty();
}

std::wstring PickWimFile(HWND owner, bool save, DWORD flags) {
  FileDialogRequest request;
  request.owner = owner;
  request.save = save;
  request.flags = flags;
  std::vector<std::wstring> paths;
  return PickWimFiles(request, paths) ? paths[0] : std::wstring();
}

std::wstring ImageValue(const std::wstring& xml, int index, const wchar_t* openTag) {
  return GetImageXmlValue(xml, index, openTag);  // decoded once, by the reader
}

void InsertListColumn(HWND list, int column, const std::wstring& heading, int format, int width) {
  LVCOLUMNW col = {};
  col.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  col.fmt = format;
  col.cx = width;
  col.pszText = const_cast<wchar_t*>(heading.c_str());
  col.iSubItem = column;
  SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col));
}

int AppendListRow(HWND list, int image, const std::vector<std::wstring>& cells) {
  LVITEMW item = {};
  item.mask = LVIF_IMAGE | LVIF_TEXT;
  item.iItem = ListRowCount(list);
  item.iImage = image;
  item.pszText = const_cast<wchar_t*>(cells.empty() ? L"" : cells[0].c_str());
  int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return row;
  for (size_t c = 1; c < cells.size(); c++) SetListCell(list, row, static_cast<int>(c), cells[c]);
  return row;
}

std::wstring ListCell(HWND list, int row, int column) {
  // Grows the buffer until the whole text fits: paths are never cut.
  for (size_t size = 512;; size *= 4) {
    std::wstring buffer(size, L'\0');
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = &buffer[0];
    item.cchTextMax = static_cast<int>(size);
    LRESULT length = SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    if (static_cast<size_t>(length) + 1 < size || size > 65536) {
      buffer.resize(wcslen(buffer.c_str()));
      return buffer;
    }
  }
}

void SetListCell(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

int ListRowImage(HWND list, int row) {
  LVITEMW item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

void SetListRowImage(HWND list, int row, int image) {
  LVITEMW item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iImage = image;
  SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  ListView_RedrawItems(list, row, row);
}

int ListRowCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

bool ListRowSelected(HWND list, int row) { return (ListView_GetItemState(list, row, LVIS_SELECTED) & LVIS_SELECTED) != 0; }

int ListSelectedCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0)); }

void PrepareReportList(HWND list, HIMAGELIST stateImages) {
  DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  SetWindowTheme(list, L"explorer", nullptr);
  if (stateImages) SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(stateImages));
}

std::wstring InfoColumnHeading(int piece) {
  std::vector<std::wstring> pieces = SplitFields(LoadStr(IDS_INFO_COLUMNS));
  return piece >= 0 && piece < static_cast<int>(pieces.size()) ? pieces[piece] : std::wstring();
}

std::vector<std::wstring> DroppedFiles(IDataObject* data) {
  std::vector<std::wstring> files;
  if (!data) return files;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(data->GetData(&format, &medium))) return files;
  if (auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; i++) {
      UINT length = DragQueryFileW(drop, i, nullptr, 0);
      if (length == 0) continue;
      std::wstring path(length + 1, L'\0');
      length = DragQueryFileW(drop, i, &path[0], length + 1);
      path.resize(length);
      if (!path.empty()) files.push_back(path);
    }
    GlobalUnlock(medium.hGlobal);
  }
  ReleaseStgMedium(&medium);
  return files;
}

