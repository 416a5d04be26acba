#include "pages/page2_common.h"

#include <commctrl.h>
#include <commdlg.h>
#include <uxtheme.h>

#include "engine/image_xml.h"
#include "resources/resource.h"
#include "win/long_path.h"
#include "win/message_box.h"
#include "win/pickers.h"
#include "win/strings.h"
#include "win/window.h"


namespace {
const wchar_t kWimOpenFilter[] = L"Windows Imaging File (*.WIM;*.ESD)|*.WIM;*.ESD||";
// Saving offers both kinds; the chosen one gives a typed name its extension.
const wchar_t kWimSaveFilter[] =
    L"Windows Imaging File (*.WIM)|*.WIM|Windows Imaging File, solid (*.ESD)|*.ESD||";
}  // namespace

bool PickWimFiles(HWND owner, std::vector<std::wstring>& paths) {
  PickerRequest request;
  request.kind = PickerKind::kOpenMany;
  request.owner = owner;
  request.filter = kWimOpenFilter;
  request.defaultExt = L"WIM";
  request.flags = OFN_HIDEREADONLY;
  return ShowPicker(request, paths);
}

std::wstring PickWimFile(HWND owner, bool save, DWORD flags) {
  return PickFile(owner, save ? PickerKind::kSave : PickerKind::kOpen, save ? kWimSaveFilter : kWimOpenFilter, L"WIM",
                  OFN_HIDEREADONLY | flags);
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
  // Straight to the list view, as every call of a long fill: through the
  // subclass chain each message costs a look-up of the chain's data.
  item.iItem = static_cast<int>(SendPastSubclass(list, LVM_GETITEMCOUNT, 0, 0));
  item.iImage = image;
  item.pszText = const_cast<wchar_t*>(cells.empty() ? L"" : cells[0].c_str());
  int row = static_cast<int>(SendPastSubclass(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return row;
  for (size_t c = 1; c < cells.size(); c++) SetListCell(list, row, static_cast<int>(c), cells[c]);
  return row;
}

void SetListCell(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendPastSubclass(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
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

