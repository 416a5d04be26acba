// The preferences dialog (IDD_PREFERENCES, "使用偏好"): temporary folder, the
// mounted-images pop-up, file association, Explorer integration, and the
// way into the capture configuration editor.
#pragma once
#include <string>

#include "win/dialog.h"

class CQuarryApp;

class CCfgDlg : public Dialog {
 public:
  explicit CCfgDlg(CQuarryApp& app);

  const std::wstring& tempFolder() const { return tempFolder_; }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnOK() override;

 private:
  bool Checked(int id) const;
  void Check(int id, bool on);

  CQuarryApp& app_;
  std::wstring tempFolder_;  // follows edit IDC_PREF_TEMP
};
