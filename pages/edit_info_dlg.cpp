#include "pages/edit_info_dlg.h"

#include <commctrl.h>

#include "pages/page2_common.h"
#include "resources/resource.h"

const wchar_t* const CEditInfoDlg::kEditions[10] = {
    L"None",          L"Business",         L"Enterprise",     L"HomeBasic", L"HomePremium",
    L"ServerDatacenter", L"ServerEnterprise", L"ServerStandard", L"Starter",   L"WindowsPE"};

CEditInfoDlg::CEditInfoDlg() : Dialog(IDD_EDIT_INFO) {}

void CEditInfoDlg::FillEditions() {
  for (int i = 0; i < 10; i++) {
    COMBOBOXEXITEMW item = {};
    item.mask = CBEIF_TEXT;
    item.iItem = i;
    item.pszText = const_cast<wchar_t*>(kEditions[i]);
    SendMessageW(Editions(), CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

bool CEditInfoDlg::OnInitDialog() {
  // Filling one edit reports a change that reads all four back: the
  // fields must not be read while the others are still empty.
  filling_ = true;
  SetItemText(IDC_EDIT_NAME, name);
  SetItemText(IDC_EDIT_DESCRIPTION, description);
  SetItemText(IDC_EDIT_DISPLAY_NAME, displayName);
  SetItemText(IDC_EDIT_DISPLAY_DESC, displayDescription);
  filling_ = false;
  FillEditions();
  if (flags.empty()) flags = kEditions[0];
  int selected = -1;
  for (int i = 0; i < 10 && selected < 0; i++)
    if (EqualNoCase(flags, kEditions[i])) selected = i;
  SendMessageW(Editions(), CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  CheckDlgButton(hwnd_, IDC_EDIT_BOOT, boot ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CEditInfoDlg::ReadTexts() {
  name = ItemText(IDC_EDIT_NAME);
  description = ItemText(IDC_EDIT_DESCRIPTION);
  displayName = ItemText(IDC_EDIT_DISPLAY_NAME);
  displayDescription = ItemText(IDC_EDIT_DISPLAY_DESC);
}

void CEditInfoDlg::OnOK() {
  ReadTexts();
  int selected = static_cast<int>(SendMessageW(Editions(), CB_GETCURSEL, 0, 0));
  // "None" means no edition; a flag that matched no entry stays unless an
  // entry was picked.
  if (selected == 0) flags.clear();
  else if (selected > 0 && selected < 10) flags = kEditions[selected];
  else if (EqualNoCase(flags, kEditions[0])) flags.clear();
  boot = IsDlgButtonChecked(hwnd_, IDC_EDIT_BOOT) == BST_CHECKED;
  Dialog::OnOK();
}

bool CEditInfoDlg::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_EDIT_NAME:
    case IDC_EDIT_DESCRIPTION:
    case IDC_EDIT_DISPLAY_NAME:
    case IDC_EDIT_DISPLAY_DESC:
      if (code == EN_CHANGE && !filling_) ReadTexts();
      return true;
    case IDC_EDIT_EDITION:
      if (code == CBN_SELCHANGE) {
        int selected = static_cast<int>(SendMessageW(Editions(), CB_GETCURSEL, 0, 0));
        if (selected == 0) flags.clear();
        else if (selected > 0 && selected < 10) flags = kEditions[selected];
      }
      return true;
    default:
      return false;
  }
}
