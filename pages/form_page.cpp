#include "pages/form_page.h"

#include "app/quarry_app.h"
#include "controls/messages.h"
#include "resources/resource.h"

void CFormPage::OnInitialUpdate() {
  if (menuButton_.AttachDlgItem(hwnd_, IDC_MAIN_MENU)) menuButton_.SetImage(IDP_MENU_BUTTON);
}

void CFormPage::OnMainMenuButton() {
  CQuarryApp* app = CQuarryApp::Instance();
  if (app && app->mainWindow) PostMessageW(app->mainWindow, UM_SHOW_MAIN_MENU, 0, 0);
}

bool CFormPage::OnCommand(int id, int code, HWND control) {
  if (id == IDC_MAIN_MENU && code == BN_CLICKED) {
    OnMainMenuButton();
    return true;
  }
  return false;
}

void CFormPage::Layout(int width, int height) {
  MoveItem(Item(IDC_MAIN_MENU), 15, height - 40, 25, 25);
  MoveItem(Item(IDC_SEPARATOR), -1, height - 60, width + 2, 2);
}

bool CFormPage::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_SIZE) {
    Layout(LOWORD(lParam), HIWORD(lParam));
    return false;
  }
  return Dialog::HandleMessage(msg, wParam, lParam, result);
}
