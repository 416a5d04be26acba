#include "pages/page_info.h"

#include <commdlg.h>
#include <shellapi.h>

#include "pages/page2_common.h"
#include "pages/wim_info_dlg.h"
#include "resources/ids_compare.h"
#include "resources/resource.h"
#include "win/paths.h"
#include "win/pickers.h"
#include "win/strings.h"
#include "win/window.h"

CPage_Info::CPage_Info() : CFormPage(IDD_PAGE_INFO) {}

CPage_Info::~CPage_Info() {
  if (dropTarget_) dropTarget_->Revoke();
}

void CPage_Info::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  list_.AttachDlgItem(hwnd_, IDC_INFO_LIST);
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH;
  column.cx = 2000;
  ListView_InsertColumn(list_.hwnd(), 0, &column);
  ListView_SetExtendedListViewStyleEx(list_.hwnd(), LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                                      LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, CreateDragImageHelper().get());
  if (dropTarget_) dropTarget_->Register();
}

void CPage_Info::Layout(int width, int height) {
  MoveItem(list_.hwnd(), 0, 0, width, height);
}

void CPage_Info::SetEmpty(bool empty) {
  list_.SetEmpty(empty);
  list_.Invalidate(true);
}

void CPage_Info::InsertRows(size_t from) {
  HWND list = list_.hwnd();
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);  // drawn once, when every row is in
  for (size_t i = from; i < rows_.size(); i++) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(rows_[i].text.c_str());
    // -1 would mean "ask the owner"; the owner answers with the row's level.
    item.iImage = rows_[i].level;
    item.lParam = rows_[i].level;
    SendPastSubclass(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void CPage_Info::DeleteRows() {
  ListView_DeleteAllItems(list_.hwnd());
  rows_.clear();
}

void CPage_Info::AppendFile(const std::wstring& path) {
  size_t from = rows_.size();
  AppendInfoRows(path, rows_);
  InsertRows(from);
  files_.push_back(path);
  SetEmpty(false);
}

void CPage_Info::AddFile(const std::wstring& path) {
  files_.clear();
  AppendFile(path);
}

void CPage_Info::CopyAll() {
  std::wstring text = InfoRowsAsText(rows_);
  HWND edit = Item(IDC_INFO_COPY_EDIT);
  SetWindowTextW(edit, text.c_str());
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_COPY, 0, 0);
}

void CPage_Info::ClearAll() {
  DeleteRows();
  SetEmpty(true);
}

// Also after "全部清除": the remembered files come back (the list is only
// cleared, the files stay remembered).
void CPage_Info::Refresh() {
  if (rows_.empty() && files_.empty()) return;
  DeleteRows();
  std::vector<std::wstring> files = std::move(files_);
  files_.clear();
  for (const std::wstring& file : files) AppendFile(file);
}

void CPage_Info::OpenFiles() {
  PickerRequest request;
  request.kind = PickerKind::kOpenMany;
  request.owner = hwnd_;
  request.filter = L"Windows Imaging File (*.WIM;*.ESD)|*.WIM;*.ESD|All Files (*.*)|*.*||";
  request.defaultExt = L"WIM";
  request.flags = OFN_HIDEREADONLY;
  std::vector<std::wstring> paths;
  if (!ShowPicker(request, paths)) return;
  DeleteRows();
  files_.clear();
  SetEmpty(false);
  for (const std::wstring& path : paths) AppendFile(path);
}

std::wstring CPage_Info::SelectedFile() const {
  int row = ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED);
  if (row < 0 || row >= static_cast<int>(rows_.size())) return L"";
  if (rows_[row].text == L"---") {
    row++;
    if (row >= static_cast<int>(rows_.size())) return L"";
  }
  for (; row >= 0; row--)
    if (rows_[row].level == 0) return rows_[row].text;
  return L"";
}

void CPage_Info::DropFiles(const std::vector<std::wstring>& paths) {
  if (paths.size() == 1 && IsExistingFolder(paths[0])) {
    SetEmpty(true);
    return;
  }
  for (const std::wstring& path : paths)
    if (!IsExistingFolder(path)) AppendFile(path);
  SetEmpty(false);
}

DWORD CPage_Info::OnOleDrop(IDataObject* data, DWORD effect, POINTL) {
  DropFiles(DroppedFiles(data));
  return effect;
}

void CPage_Info::OpenInfoDialog(int mode) {
  std::wstring file = SelectedFile();
  if (!file.empty()) CWimInfoDlg::Open(file, hwnd_, mode);
}

void CPage_Info::GreyMenu(HMENU menu) {
  const bool noFile = rows_.empty() || SelectedFile().empty();
  const UINT state = MF_BYCOMMAND | (noFile ? MF_GRAYED : MF_ENABLED);
  for (UINT id : {ID_INFO_SHOW_XML, ID_INFO_DETAILS, ID_INFO_CLEAR, ID_INFO_COPY}) EnableMenuItem(menu, id, state);
  int count = GetMenuItemCount(menu);
  if (count >= 3) EnableMenuItem(menu, count - 3, MF_BYPOSITION | (noFile ? MF_GRAYED : MF_ENABLED));
  if (rows_.empty()) EnableMenuItem(menu, ID_INFO_CLEAR, MF_BYCOMMAND | MF_GRAYED);
}

void CPage_Info::ShowContextMenu() {
  bench_->ShowPopupMenu(PopupMenu::kInfo, hwnd_);
}

bool CPage_Info::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case ID_INFO_COPY: CopyAll(); return true;
    case ID_INFO_CLEAR: ClearAll(); return true;
    case ID_INFO_SHOW_XML: OpenInfoDialog(0); return true;
    case ID_INFO_DETAILS: OpenInfoDialog(1); return true;
    case ID_INFO_REFRESH: Refresh(); return true;
    case ID_INFO_OPEN: OpenFiles(); return true;
    case ID_COMPARE_IMAGES: bench_->JumpTo(ID_COMPARE_IMAGES, SelectedFile()); return true;
    case ID_JUMP_APPLY:
    case ID_JUMP_SPLIT:
    case ID_JUMP_MERGE:
    case ID_JUMP_DELETE:
    case ID_JUMP_BROWSER: {
      std::wstring file = SelectedFile();
      Workbench& app = *bench_;
      if (!file.empty()) app.JumpTo(id, file);
      return true;
    }
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage_Info::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_INFO_LIST) return false;
  switch (header->code) {
    case NM_RCLICK:
      ShowContextMenu();
      result = 1;
      return true;
    case LVN_GETDISPINFOW: {
      // Rows of level -1 keep that level when the list asks for it.
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      if (info->item.mask & LVIF_IMAGE) info->item.iImage = -1;
      return true;
    }
    case LVN_KEYDOWN: {
      auto* key = reinterpret_cast<NMLVKEYDOWN*>(header);
      // F5 comes through the main window's shortcut handling.
      if (key->wVKey == 'C' && (GetKeyState(VK_CONTROL) & 0x8000)) CopyAll();
      return true;
    }
    default:
      return false;
  }
}

bool CPage_Info::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_INITMENUPOPUP && !HIWORD(lParam)) {
    HMENU menu = reinterpret_cast<HMENU>(wParam);
    if (GetMenuItemID(menu, 0) == ID_INFO_COPY) GreyMenu(menu);
    return true;
  }
  return CFormPage::HandleMessage(msg, wParam, lParam, result);
}

void CPage_Info::ForwardMouseWheel(WPARAM wParam, LPARAM lParam) {
  if (list_.hwnd()) SendMessageW(list_.hwnd(), WM_MOUSEWHEEL, wParam, lParam);
}
