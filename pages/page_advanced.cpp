#include "pages/page_advanced.h"

#include "resources/resource.h"

namespace {
const int kButtons[3] = {IDC_ADVANCED_SPLIT, IDC_ADVANCED_MERGE, IDC_ADVANCED_DELETE};
}

CPage_Advanced::CPage_Advanced() : CFormPage(IDD_PAGE_ADVANCED) {}

void CPage_Advanced::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  SelectChild(IDC_ADVANCED_SPLIT);
}

void CPage_Advanced::SelectChild(int buttonId) {
  for (int id : kButtons) CheckDlgButton(hwnd_, id, id == buttonId ? BST_CHECKED : BST_UNCHECKED);
  selected_ = buttonId;
}

void CPage_Advanced::OpenInChild(UINT command, const std::wstring& path) {
  switch (command) {
    case ID_JUMP_SPLIT:
      SelectChild(IDC_ADVANCED_SPLIT);
      break;
    case ID_JUMP_MERGE:
      SelectChild(IDC_ADVANCED_MERGE);
      break;
    case ID_JUMP_DELETE:
      SelectChild(IDC_ADVANCED_DELETE);
      break;
    default:
      return;
  }
  lastFile_ = path;
}

bool CPage_Advanced::OnCommand(int id, int code, HWND control) {
  for (int button : kButtons) {
    if (id == button && code == BN_CLICKED) {
      selected_ = id;
      return true;
    }
  }
  return CFormPage::OnCommand(id, code, control);
}

void CPage_Advanced::Layout(int width, int height) {
  // The radio buttons along the top edge, the child pages below from y 50.
  int x = 15;
  for (int id : kButtons) {
    if (HWND button = Item(id)) SetWindowPos(button, nullptr, x, 15, 150, 22, SWP_NOZORDER | SWP_NOACTIVATE);
    x += 165;
  }
  CFormPage::Layout(width, height);
}
