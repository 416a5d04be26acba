// The Capture page (IDD_PAGE_CAPTURE): captures a folder into a new WIM file
// ("创建") or as a further image of an existing one ("追加"), at once with
// the progress page in its place or through the task queue.
#pragma once
#include <string>

#include "controls/drag_drop.h"
#include "config/capture_lists.h"
#include "engine/engine.h"
#include "engine/image_info.h"
#include "pages/form_page.h"

class CPage_Capture : public CFormPage {
 public:
  CPage_Capture();

  // Puts a folder into the source field (the "捕获" jump of other pages).
  void SetSourceFolder(const std::wstring& folder);
  const std::wstring& sourceFolder() const { return sourceFolder_; }

  // The request is valid: the source is an existing folder, the WIM path
  // ends in ".wim" (any case) and does not lie inside the source folder.
  static bool PathsValid(const std::wstring& source, const std::wstring& wimPath);

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;

 private:
  void ReadFields();
  void UpdateButtons();
  void PickSource();
  void PickWimFile();
  void OnCreateOrAppend(bool append);
  bool ConfirmTarget(bool append);
  void SelectWimText();
  void QueueTask(bool append);
  // What the fields and the options ask for, as one capture.
  CaptureRequest TakeRequest(bool append) const;
  void StartCapture(bool append);

  CDropTargetEdit sourceEdit_;
  CDropTargetEdit wimEdit_;
  std::wstring sourceFolder_;
  std::wstring wimFile_;
  std::wstring name_, displayName_, description_, displayDescription_;
  int compression_ = 1;
  int templateImage_ = 0;  // of an append: see CaptureRequest::templateImage
  ImageInfo info_;
};
