// The only page of the easy mode (IDD_PAGE_EASY): one large drop area for a
// folder or a WIM file, then the other end of the operation dropped or
// picked below it, and the buttons of the operations that fit the pair:
// "捕获" for a folder, "应用" and "挂载" for a WIM file.
#pragma once
#include <functional>
#include <string>

#include "pages/shell_task_options.h"
#include "config/capture_lists.h"
#include "controls/drag_drop.h"
#include "pages/form_page.h"
#include "win/gdiplus.h"

class CPage_Easy : public CFormPage, public OleDropHandler {
 public:
  enum Mode { kModeNone = 0, kModeCapture = 2, kModeApply = 4 };

  CPage_Easy();
  ~CPage_Easy() override;

  // Empties the page ("清除", "全部清除", the Delete key); ignored while
  // the page is hidden.
  void Clear();
  bool filled() const { return filled_; }
  const std::wstring& sourcePath() const { return source_; }
  const std::wstring& targetPath() const { return target_; }
  int mode() const { return mode_; }

  // Item class of a path: 2 an existing folder, 4 an image file name (".wim",
  // ".esd", a split set's first part ".swm"), -1 else.
  static int ClassOf(const std::wstring& path);

  // A drop of files at a screen point (the drop target's handler).
  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;
  // The first dropped path counted by the rules of a drop, at a client point.
  void DropPath(const std::wstring& path, POINT clientPoint);

  RECT SourceBox() const;
  RECT TargetBox() const;

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;
  void OnMainMenuButton() override;

 private:
  RECT DropArea() const;
  void UpdateMode();
  void OnDoubleClick(POINT clientPoint);
  void OnCapture();
  void OnApply();
  void OnMount();
  void Paint(HDC dc, const RECT& client);
  void PaintEmpty(HDC dc, const RECT& area, const RECT& client);
  void PaintFilled(HDC dc);
  void PaintBox(HDC dc, const RECT& box, const std::wstring& path, UINT picture);
  void PaintArrow(HDC dc, const RECT& from, const RECT& to);
  const PngImage* Picture(UINT id) const;

  // Runs `body` with the progress page in this page's place, which it
  // comes back to.
  void StartEasyOperation(std::function<OperationOutcome(const OperationContext&)> body);

  bool filled_ = false;
  std::wstring source_;
  std::wstring target_;
  int mode_ = kModeNone;
  int image_ = 1;
  bool writable_ = false;
  bool append_ = false;
  CaptureChoice choice_;
  PngImage emptyPicture_;
  PngImage folderPicture_;
  PngImage wimPicture_;
  ComPtr<IDropTargetHelper> dragImages_;
  ComPtr<CMyOleTarget> dropTarget_;
  bool tipTimerStarted_ = false;
};
