// The page behind the "高级" tab (IDD_PAGE_ADVANCED): four radio buttons along
// its top choose which of the split, merge/export, delete/edit and
// maintenance pages is shown below them. The host creates the four pages at
// its initial update and keeps them until it is destroyed.
#pragma once
#include <string>

#include "pages/form_page.h"
#include "pages/page2_delete.h"
#include "pages/page2_maintain.h"
#include "pages/page2_merge.h"
#include "pages/page2_split.h"

class CPage_Advanced : public CFormPage {
 public:
  CPage_Advanced();
  // The pages of the host work for the same program and runner.
  void Attach(Workbench& bench, OperationRunner& runner) override {
    CFormPage::Attach(bench, runner);
    split_.Attach(bench, runner);
    merge_.Attach(bench, runner);
    delete_.Attach(bench, runner);
    maintain_.Attach(bench, runner);
  }

  // Shows the page of a radio button (IDC_ADVANCED_SPLIT, _MERGE, _DELETE
  // or _MAINTAIN), hides the others and marks that button alone.
  void SelectChild(int buttonId);
  // The radio button of the page shown.
  int selectedChild() const { return selected_; }

  // Brings the page of a jump command (split, merge/export, delete/edit)
  // forward with a file from another page; so does the maintenance jump.
  void OpenInChild(UINT command, const std::wstring& path);
  // The file of the last jump.
  const std::wstring& lastFile() const { return lastFile_; }

  CPage2_Split& splitPage() { return split_; }
  CPage2_Merge& mergePage() { return merge_; }
  CPage2_Delete& deletePage() { return delete_; }
  CPage2_Maintain& maintainPage() { return maintain_; }

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  void Layout(int width, int height) override;

 private:
  void ShowChild(int buttonId);
  Dialog* ChildOf(int buttonId);

  int selected_ = 0;
  std::wstring lastFile_;
  CPage2_Split split_;
  CPage2_Merge merge_;
  CPage2_Delete delete_;
  CPage2_Maintain maintain_;
};
