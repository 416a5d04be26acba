// The information dialog (IDD_WIM_INFO, "Informations"): the XML text of a
// WIM file (mode 0) or a per-image text view with one tab per image
// (mode 1), each image's section led by its Windows facts. Modeless; several may be open at once, each deletes itself
// when its window is destroyed.
#pragma once
#include <string>

#include "engine/image_xml.h"
#include "win/dialog.h"

class CWimInfoDlg : public Dialog {
 public:
  static constexpr int kMinTrackWidth = 500;
  static constexpr int kMinTrackHeight = 540;

  // Creates the dialog on the heap for the file and shows it; returns its
  // window (null when it could not be created). Mode 1 opens at image
  // `image` (the first when the file has no such image).
  static HWND Open(const std::wstring& path, HWND parent, int mode, int image = 1);

 protected:
  bool OnInitDialog() override;
  void OnOK() override { DestroyWindow(hwnd_); }
  void OnCancel() override { DestroyWindow(hwnd_); }
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnFinalDestroy() override { delete this; }

 private:
  CWimInfoDlg(const std::wstring& path, int mode, int image);
  void InitDetails(const class WimFileReader& reader, bool readable);
  void ShowImage(int index);
  void Layout(int width, int height);

  std::wstring path_;
  int mode_;
  int image_;
  std::wstring lines_;
  ImageXml images_;
};
