// The main window: a modal dialog that hosts the pages, the menu, the title
// with the selected back end and the keyboard shortcuts.
#pragma once
#include <string>

#include "win/dialog.h"

class CQuarryApp;

class CQuarryDlg : public Dialog {
 public:
  explicit CQuarryDlg(CQuarryApp& app);

  // Title := base title + " (WIMGAPI)" or " (WIMLIB)" for the selected back end.
  void UpdateTitle();
  const std::wstring& baseTitle() const { return baseTitle_; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}  // Enter never closes the main window
  void OnCancel() override { EndDialog(IDCANCEL); }
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void OnInitMenuPopup(HMENU menu);
  void SelectBackend(int kind);

  CQuarryApp& app_;
  std::wstring baseTitle_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
};
