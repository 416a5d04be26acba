// The image chooser (IDD_SHELL_IMAGE_SELECT, "Quarry - 选择一个镜像"): one tile per
// image of a WIM file, read straight from the file, and for a mount the
// box "可写方式挂载". Used by the shell tasks and the easy page.
#pragma once
#include <string>

#include "controls/list_ctrls.h"
#include "engine/wim_file_reader.h"
#include "win/dialog.h"

class CShellTaskImgSelectDlg : public Dialog {
 public:
  CShellTaskImgSelectDlg(std::wstring wimPath, bool mount);

  // After IDOK: the chosen image (1-based) and the writable box.
  int image() const { return image_; }
  bool writable() const { return writable_; }

  // The text of an image's second line, from the file's XML information.
  static std::wstring ImageLine(const WimFileReader& reader, int index);

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void FillList();
  void Layout(int width, int height);
  void Choose(int row);

  std::wstring wimPath_;
  bool mount_;
  int image_ = 1;
  bool writable_ = false;
  CTilesListCtrl list_;
  HICON smallIcon_ = nullptr;
};
