// "编辑信息" (IDD_EDIT_INFO): the name, description, display name, display
// description, edition flag and boot mark of one image, edited for the
// delete and edit page.
#pragma once
#include <string>

#include "win/dialog.h"

class CEditInfoDlg : public Dialog {
 public:
  CEditInfoDlg();

  // The ten edition entries of the list, in their order.
  static const wchar_t* const kEditions[10];

  // Fields: set before DoModal, read after OK.
  std::wstring name;
  std::wstring description;
  std::wstring displayName;
  std::wstring displayDescription;
  std::wstring flags;  // edition text; empty for none
  bool boot = false;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void FillEditions();
  void ReadTexts();
  HWND Editions() const { return Item(1065); }

  bool filling_ = false;
};
