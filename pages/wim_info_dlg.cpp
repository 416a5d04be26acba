#include "pages/wim_info_dlg.h"

#include <commctrl.h>

#include <algorithm>

#include "engine/wim_file_reader.h"
#include "pages/info_rows.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {
std::wstring FileName(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

CWimInfoDlg::CWimInfoDlg(const std::wstring& path, int mode, int image)
    : Dialog(IDD_WIM_INFO), path_(path), mode_(mode), image_(image) {}

HWND CWimInfoDlg::Open(const std::wstring& path, HWND parent, int mode, int image) {
  auto* dialog = new CWimInfoDlg(path, mode, image);
  if (!dialog->Create(parent)) {
    delete dialog;
    return nullptr;
  }
  ShowWindow(dialog->hwnd(), SW_SHOW);
  return dialog->hwnd();
}

bool CWimInfoDlg::OnInitDialog() {
  WimFileReader reader;
  bool readable = reader.Read(path_);
  SetText(FileName(path_));
  if (mode_ == 0) {
    ShowWindow(Item(IDC_WIMINFO_TAB), SW_HIDE);
    ShowWindow(Item(IDC_WIMINFO_STATUS), SW_HIDE);
    SetItemText(IDC_WIMINFO_EDIT, readable ? reader.xmlText : L"");
  } else {
    InitDetails(reader, readable);
  }
  RECT window;
  GetWindowRect(hwnd_, &window);
  int width = std::max<int>(window.right - window.left, kMinTrackWidth);
  int height = std::max<int>(window.bottom - window.top, kMinTrackHeight);
  SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  return true;
}

void CWimInfoDlg::InitDetails(const WimFileReader& reader, bool readable) {
  if (!readable) return;
  lines_ = XmlToLines(reader.xmlText);
  images_ = reader.Images();
  std::vector<std::wstring> names = SplitFields(LoadStr(IDS_INFO_COLUMNS));
  std::vector<std::wstring> summary = SplitFields(LoadStr(IDS_INFO_SUMMARY));
  HWND tab = Item(IDC_WIMINFO_TAB);
  const uint32_t images = reader.ListedImageCount();
  for (uint32_t n = 1; n <= images; n++) {
    std::wstring caption = FormatStr(L"%s %d", names.empty() ? L"" : names[0].c_str(), static_cast<int>(n));
    if (n == reader.BootIndex()) caption += L" (BOOT)";
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = &caption[0];
    TabCtrl_InsertItem(tab, static_cast<int>(n - 1), &item);
  }
  SetText(GetText() + FormatStr(L"   GUID:%s", GuidText(reader).c_str()));
  if (summary.size() >= 5) {
    std::wstring version = FormatStr(L"%d.%d", reader.MajorVersion(), reader.MinorVersion());
    std::wstring status = summary[1] + L"  " + CompressionText(reader, false) + L"    " +
                          FormatStr(summary[2].c_str(), reader.PartNumber(), reader.TotalParts()) + L"    " +
                          FormatStr(summary[4].c_str(), version.c_str());
    SetItemText(IDC_WIMINFO_STATUS, status);
  }
  int first = image_ >= 1 && static_cast<uint32_t>(image_) <= images ? image_ : 1;
  if (images > 0) TabCtrl_SetCurSel(tab, first - 1);
  ShowImage(first);
}

// The image's Windows facts, a blank line, then all of its XML as lines.
void CWimInfoDlg::ShowImage(int index) {
  std::wstring facts = images_.HasImage(index) ? WindowsFacts(images_, index) + L"\r\n" : std::wstring();
  SetItemText(IDC_WIMINFO_EDIT, facts + ImageSection(lines_, index));
}

bool CWimInfoDlg::OnNotify(NMHDR* header, LRESULT&) {
  if (header->idFrom == IDC_WIMINFO_TAB && header->code == TCN_SELCHANGE) {
    ShowImage(TabCtrl_GetCurSel(header->hwndFrom) + 1);
    return true;
  }
  return false;
}

void CWimInfoDlg::Layout(int width, int height) {
  const int margin = 10;
  const int bottom = height - 40;
  int top = margin;
  if (mode_ == 1) {
    MoveItem(Item(IDC_WIMINFO_TAB), margin, margin, width - 2 * margin, 26);
    top = margin + 30;
    MoveItem(Item(IDC_WIMINFO_STATUS), margin, height - 30, width - 130, 20);
  }
  MoveItem(Item(IDC_WIMINFO_EDIT), margin, top, width - 2 * margin, bottom - top);
  MoveItem(Item(IDOK), width - 95, height - 33, 85, 25);
}

bool CWimInfoDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return false;
    case WM_GETMINMAXINFO:
      SetMinTrackSize(lParam, kMinTrackWidth, kMinTrackHeight);
      return true;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
