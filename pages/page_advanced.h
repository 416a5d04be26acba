// The page behind the "高级" tab (template 132): three radio buttons along
// its top choose which of the split, merge/export and delete/edit pages is
// shown below them.
#pragma once
#include <string>

#include "pages/form_page.h"

class CPage_Advanced : public CFormPage {
 public:
  CPage_Advanced();

  // Shows the page of a radio button (IDC_ADVANCED_SPLIT, _MERGE or
  // _DELETE) and marks that button alone.
  void SelectChild(int buttonId);
  // The radio button of the page shown.
  int selectedChild() const { return selected_; }

  // Brings the page of a jump command (split, merge/export, delete/edit)
  // forward with a file from another page.
  void OpenInChild(UINT command, const std::wstring& path);
  const std::wstring& lastFile() const { return lastFile_; }

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  void Layout(int width, int height) override;

 private:
  int selected_ = 0;
  std::wstring lastFile_;
};
