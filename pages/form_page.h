// The common ground of the operation pages: a child form view on a dialog
// template, created once by the main window (or by the advanced page host)
// and kept until the window closes. A page whose template has the "M"
// button (IDC_MAIN_MENU) gets it drawn as a picture button that opens the main menu.
#pragma once
#include <string>

#include "controls/buttons.h"
#include "tasks/operation_runner.h"
#include "tasks/workbench.h"
#include "win/dialog.h"

class CFormPage : public Dialog {
 public:
  using Dialog::Dialog;

  // The program around the page and the runner of its operations; given by
  // the window that creates the page, before it creates it.
  virtual void Attach(Workbench& bench, OperationRunner& runner) {
    bench_ = &bench;
    runner_ = &runner;
  }

 protected:
  // Enter and Escape belong to the main window, never to a page.
  void OnOK() override {}
  void OnCancel() override {}
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // Places the controls for a client size; by default the "M" button at
  // the bottom left and the separator line 60 pixels above the bottom.
  virtual void Layout(int width, int height);
  // The "M" button: the main menu of the main window.
  virtual void OnMainMenuButton();

  // The page's operation, started by the runner (see OperationRunner).
  bool StartOperation(Operation operation) { return runner_->Start(std::move(operation)); }
  bool RefuseWhileQueueRuns(HWND owner) const { return runner_->RefuseWhileQueueRuns(owner); }

  HWND MainWindow() const { return bench_->mainWindow; }
  void FocusMainWindow() const {
    bench_->FocusMainWindow();
  }
  // A message box owned by the main window.
  int PageMessage(const std::wstring& text, const std::wstring& caption, UINT style) const;
  // The confirmation form: the path, one blank, then the question.
  bool AskAboutPath(const std::wstring& path, UINT questionId, UINT captionId, UINT icon) const;
  // Gives a report list the program's look and the shared state pictures.
  void PrepareReportList(HWND list) const;

  CIconButton menuButton_;
  Workbench* bench_ = nullptr;
  OperationRunner* runner_ = nullptr;
};
