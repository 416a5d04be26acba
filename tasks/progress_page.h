// The progress page (IDD_PAGE_PROGRESS): shown in place of a page while that
// page's operation runs on a worker thread. A big text line, a bar, the
// operation's description and, at the end, a result picture and text.
//
// The runner begins and ends it on the user-interface thread; SetPercent and
// SetStatusText are called on the worker.
#pragma once
#include <string>

#include <vector>

#include "controls/progress_ctrl.h"
#include "engine/engine.h"
#include "engine/engine_host.h"
#include "tasks/operation_runner.h"
#include "tasks/workbench.h"
#include "win/dialog.h"
#include "win/handles.h"

class CPage_Progress : public Dialog, public OperationDisplay {
 public:
  CPage_Progress();

  // The program around the page and the runner whose operations it shows;
  // given before the page is created.
  void Attach(Workbench& bench, OperationRunner& runner) {
    bench_ = &bench;
    runner_ = &runner;
  }

  // ProgressTarget
  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float percent) override;
  void SetStatusText(const std::wstring& text) override;

  // OperationDisplay. Begun: disables the page that runs the operation and
  // shows this page with the marquee bar and the operation's title. Ended:
  // shows the result picture and text (a capture's success that left items
  // out says how many, and offers the list through the viewer the page was
  // given), why it failed and the "确定" button.
  void OperationBegun(const std::wstring& title) override;
  void OperationEnded(const OperationOutcome& outcome) override;
  // What opens the list of the items a capture left out (the pages layer
  // has the dialog); set by the pages that run captures.
  using SkippedViewer = void (*)(HWND owner, const std::vector<SkippedItem>& items);
  void SetSkippedViewer(SkippedViewer viewer) { skippedViewer_ = viewer; }
  // The items the last finished operation left out.
  const std::vector<SkippedItem>& skipped() const { return skipped_; }
  // The operation's description line (IDC_PROGRESS_TITLE); written only while the page shows.
  void SetDescription(const std::wstring& text);

  // "确定": hides the page and shows the page that started the operation.
  void Close();

  // The easy page makes itself the page to return to.
  void SetReturnPage(Dialog* page) { returnPage_ = page; }
  Dialog* returnPage() const { return returnPage_; }

  // True between the operation's beginning and its end.
  bool IsRunning() const { return running_; }
  // True while the result is shown and "确定" waits to be pressed.
  bool IsShowingResult() const;

  CKLOProgressCtrl& bar() { return bar_; }
  CKLOPngImgBox& picture() { return picture_; }

  // The result picture and text of a result code.
  static UINT ResultPicture(int result);
  static UINT ResultText(int result);

 protected:
  void OnInitialUpdate() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void ShowResult(int result);
  // Shows why the operation failed under the result text; hidden when empty.
  void ShowReason(const std::wstring& reason);
  void Layout(int width, int height);

  CKLOProgressCtrl bar_;
  CKLOPngImgBox picture_;
  GdiObject<HFONT> textFont_;
  std::wstring percentFormat_;
  Dialog* returnPage_ = nullptr;
  Workbench* bench_ = nullptr;
  OperationRunner* runner_ = nullptr;
  std::wstring reason_;  // why the finished operation failed
  std::vector<SkippedItem> skipped_;  // what the finished capture left out
  SkippedViewer skippedViewer_ = nullptr;
  HWND skippedButton_ = nullptr;
  volatile bool running_ = false;
};
