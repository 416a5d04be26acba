#include "app/quarry_dlg.h"

#include "app/quarry_app.h"
#include "resources/resource.h"

CQuarryDlg::CQuarryDlg(CQuarryApp& app) : Dialog(IDD_QUARRY_DIALOG), app_(app) {}

bool CQuarryDlg::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  bigIcon_ = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARRY), IMAGE_ICON, 16, 16, 0));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  app_.mainWindow = hwnd_;

  baseTitle_ = L"KLO Quarry";
  baseTitle_ += sizeof(void*) == 8 ? L" x64" : L" x86";
  UpdateTitle();

  SetWindowPos(hwnd_, nullptr, 0, 0, 920, 550, SWP_NOZORDER | SWP_NOMOVE);
  RECT window, screen;
  GetWindowRect(hwnd_, &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
  int x = screen.left + ((screen.right - screen.left) - (window.right - window.left)) / 2;
  int y = screen.top + ((screen.bottom - screen.top) - (window.bottom - window.top)) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
  return true;
}

void CQuarryDlg::UpdateTitle() {
  SetText(baseTitle_ + (app_.backendKind == kBackendWimlib ? L" (WIMLIB)" : L" (WIMGAPI)"));
}

void CQuarryDlg::SelectBackend(int kind) {
  app_.backendKind = static_cast<BackendKind>(kind);
  UpdateTitle();
}

void CQuarryDlg::OnInitMenuPopup(HMENU menu) {
  const Backends& b = app_.backends;
  bool wimgapiChecked = app_.backendKind == kBackendWimgapi && b.WimgapiAvailable();
  bool wimlibChecked = app_.backendKind == kBackendWimlib && b.WimlibAvailable();
  CheckMenuItem(menu, ID_BACKEND_WIMGAPI, MF_BYCOMMAND | MF_UNCHECKED);
  CheckMenuItem(menu, ID_BACKEND_WIMLIB, MF_BYCOMMAND | MF_UNCHECKED);
  if (wimgapiChecked) CheckMenuRadioItem(menu, ID_BACKEND_WIMGAPI, ID_BACKEND_WIMLIB, ID_BACKEND_WIMGAPI, MF_BYCOMMAND);
  if (wimlibChecked) CheckMenuRadioItem(menu, ID_BACKEND_WIMGAPI, ID_BACKEND_WIMLIB, ID_BACKEND_WIMLIB, MF_BYCOMMAND);
  EnableMenuItem(menu, ID_BACKEND_WIMGAPI, MF_BYCOMMAND | (b.WimgapiAvailable() ? MF_ENABLED : MF_GRAYED));
  EnableMenuItem(menu, ID_BACKEND_WIMLIB, MF_BYCOMMAND | (b.WimlibAvailable() ? MF_ENABLED : MF_GRAYED));
}

bool CQuarryDlg::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case ID_BACKEND_WIMGAPI:
      SelectBackend(kBackendWimgapi);
      return true;
    case ID_BACKEND_WIMLIB:
      SelectBackend(kBackendWimlib);
      return true;
    case ID_EXIT:
      EndDialog(IDCANCEL);
      return true;
    default:
      return false;
  }
}

bool CQuarryDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_INITMENUPOPUP:
      OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
      return true;
    case WM_CONTEXTMENU: {
      // Until the pages carry their own menu buttons, the main menu opens
      // from a right click anywhere in the window.
      HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_MAIN));
      POINT pt;
      GetCursorPos(&pt);
      TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
      DestroyMenu(menu);
      return true;
    }
    case WM_DESTROY:
      app_.mainWindow = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
