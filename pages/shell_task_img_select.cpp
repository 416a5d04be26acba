#include "pages/shell_task_img_select.h"

#include <commctrl.h>

#include "engine/backend.h"
#include "engine/image_xml.h"
#include "win/window.h"
#include "engine/wim_file_reader.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {
std::wstring TrimLeft(const std::wstring& text) {
  size_t first = text.find_first_not_of(L' ');
  return first == std::wstring::npos ? L"" : text.substr(first);
}

// Icon number 1 of the program's own executable, 48 x 48.
HICON ProgramIcon48() {
  const std::wstring program = ModuleFilePath(nullptr);
  HICON icon = nullptr;
  UINT id = 0;
  if (PrivateExtractIconsW(program.c_str(), 1, 48, 48, &icon, &id, 1, 0) != 1) icon = nullptr;
  return icon;
}
}  // namespace

CShellTaskImgSelectDlg::CShellTaskImgSelectDlg(std::wstring wimPath, bool mount)
    : Dialog(IDD_SHELL_IMAGE_SELECT), wimPath_(std::move(wimPath)), mount_(mount) {}

std::wstring CShellTaskImgSelectDlg::ImageLine(const WimFileReader& reader, int index) {
  // The file's images, indexed once when it was read: a look-up does not
  // scan the whole XML again.
  auto value = [&](const wchar_t* tag) { return reader.ImageValue(index, tag); };
  return TrimLeft(FormatStr(L"%s   Files:%s   Folders:%s   Expanded size:%s Bytes   %s", value(L"<NAME>").c_str(),
                            value(L"<FILECOUNT>").c_str(), value(L"<DIRCOUNT>").c_str(),
                            value(L"<TOTALBYTES>").c_str(), value(L"<FLAGS>").c_str()));
}

bool CShellTaskImgSelectDlg::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARRY), IMAGE_ICON, 16, 16, 0));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY))));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  list_.SetRowHeight(60);
  list_.AttachDlgItem(hwnd_, IDC_SELECT_LIST);
  list_.SetIcon(ProgramIcon48());
  ListView_SetExtendedListViewStyle(list_.hwnd(), LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
  FillList();
  EnableWindow(Item(IDOK), FALSE);
  ShowWindow(Item(IDC_SELECT_WRITABLE), mount_ ? SW_SHOW : SW_HIDE);
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  SetForegroundWindow(hwnd_);
  return true;
}

void CShellTaskImgSelectDlg::FillList() {
  WimFileReader reader;
  reader.Read(wimPath_);
  RECT client;
  GetClientRect(list_.hwnd(), &client);
  LVCOLUMNW column = {LVCF_WIDTH};
  column.cx = 0;
  ListView_InsertColumn(list_.hwnd(), 0, &column);
  column.cx = client.right;
  ListView_InsertColumn(list_.hwnd(), 1, &column);
  std::wstring volume = SplitFields(LoadStr(IDS_INFO_COLUMNS))[0];
  const int count = reader.HasImageTag() ? static_cast<int>(reader.ListedImageCount()) : 0;
  for (int u = 1; u <= count; u++) {
    std::wstring first = FormatStr(L"%s %d", volume.c_str(), u);
    LVITEMW item = {LVIF_TEXT};
    item.iItem = u - 1;
    item.pszText = &first[0];
    // Straight to the list view: a file may hold thousands of images.
    int row = static_cast<int>(SendPastSubclass(list_.hwnd(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    std::wstring second = ImageLine(reader, u);
    LVITEMW cell = {};
    cell.iSubItem = 1;
    cell.pszText = &second[0];
    SendPastSubclass(list_.hwnd(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&cell));
  }
}

void CShellTaskImgSelectDlg::Choose(int row) {
  if (row < 0) return;
  image_ = row + 1;
  writable_ = mount_ && IsDlgButtonChecked(hwnd_, IDC_SELECT_WRITABLE) == BST_CHECKED;
  if (smallIcon_) DestroyIcon(smallIcon_);
  smallIcon_ = nullptr;
  EndDialog(IDOK);
}

void CShellTaskImgSelectDlg::OnOK() {
  if (!IsWindowEnabled(Item(IDOK))) return;
  Choose(ListView_GetSelectionMark(list_.hwnd()));
}

bool CShellTaskImgSelectDlg::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_SELECT_LIST) return false;
  if (header->code == NM_CLICK || header->code == LVN_ITEMCHANGED) {
    EnableWindow(Item(IDOK), ListView_GetSelectedCount(list_.hwnd()) == 1);
    return false;
  }
  if (header->code == NM_DBLCLK) {
    auto* activate = reinterpret_cast<NMITEMACTIVATE*>(header);
    if (activate->iItem >= 0) Choose(activate->iItem);
    return true;
  }
  return false;
}

void CShellTaskImgSelectDlg::Layout(int w, int h) {
  MoveItem(Item(IDOK), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_SELECT_WRITABLE), 15, h - 40, 250, 25);
  MoveItem(list_.hwnd(), 15, 15, w - 30, h - 30 - 40);
  if (list_.hwnd()) ListView_SetColumnWidth(list_.hwnd(), 1, w - 30 - 4);
}

bool CShellTaskImgSelectDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return true;
    case WM_GETMINMAXINFO:
      SetMinTrackSize(lParam, 430, 360);
      return true;
    case WM_DESTROY:
      if (smallIcon_) DestroyIcon(smallIcon_);
      smallIcon_ = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
