#include "pages/form_page.h"

#include "win/messages.h"
#include "pages/page2_common.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/strings.h"

void CFormPage::OnInitialUpdate() {
  if (menuButton_.AttachDlgItem(hwnd_, IDC_MAIN_MENU)) menuButton_.SetImage(IDP_MENU_BUTTON);
}

void CFormPage::OnMainMenuButton() {
  if (bench_->mainWindow) PostMessageW(bench_->mainWindow, UM_SHOW_MAIN_MENU, 0, 0);
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

int CFormPage::PageMessage(const std::wstring& text, const std::wstring& caption, UINT style) const {
  return AppMessageBox(MainWindow(), text, caption, style);
}

bool CFormPage::AskAboutPath(const std::wstring& path, UINT questionId, UINT captionId, UINT icon) const {
  std::wstring caption = captionId ? LoadStr(captionId) : std::wstring();
  return PageMessage(path + L" " + LoadStr(questionId), caption, MB_YESNO | icon) == IDYES;
}

void CFormPage::PrepareReportList(HWND list) const { ::PrepareReportList(list, bench_->StateImages()); }
