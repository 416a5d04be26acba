// The small progress dialog of a task started from an Explorer verb
// (IDD_SHELL_TASK_TIP): a status line, a bar, the task text and "取消". It runs
// modally on a thread of its own while the start-up thread runs the
// operation, whose progress reaches it through the run (ShellTaskRun).
#pragma once
#include <windows.h>

#include <string>

#include "controls/progress_ctrl.h"
#include "engine/engine_host.h"
#include "engine/operation.h"
#include "win/dialog.h"
#include "win/handles.h"

class CShellTaskTip;

// What the start-up thread and the dialog's thread share about one run.
// The dialog may come up after the work has already finished; whichever
// side comes second closes it, so it never stays open over a finished task.
// The run is the operation's progress target: it posts each percentage to
// the dialog's thread while a dialog is registered, so the operation's
// thread never waits for the dialog's.
class ShellTaskRun : public ProgressTarget {
 public:
  explicit ShellTaskRun(std::wstring taskText);
  ~ShellTaskRun() override;
  ShellTaskRun(const ShellTaskRun&) = delete;
  ShellTaskRun& operator=(const ShellTaskRun&) = delete;

  // Starts the dialog's thread. False when the thread cannot be made.
  bool StartDialog();
  // The work is over: closes the dialog (now, or as soon as it appears)
  // and waits up to `waitMs` for its thread to end.
  void Finish(DWORD waitMs);

  const std::wstring& taskText() const { return taskText_; }
  // The task's cancel, asked by the dialog's "取消".
  CancelToken& cancel() { return cancel_; }

  // ProgressTarget: the registered dialog, if any.
  HWND Hwnd() const override;
  void SetPercent(float percent) override;

  // Called by the dialog on its own thread: registration with the run and
  // leave. Register returns false when the work is already over.
  bool Register(CShellTaskTip& dialog);
  void Unregister();
  bool finished();

 private:
  std::wstring taskText_;
  CancelToken cancel_;
  mutable CRITICAL_SECTION lock_;
  CShellTaskTip* dialog_ = nullptr;
  bool finished_ = false;
  UniqueHandle thread_;
};

class CShellTaskTip : public Dialog {
 public:
  explicit CShellTaskTip(ShellTaskRun& run);

  void SetPercent(float percent);
  // Closes the dialog once the run has finished.
  void CloseIfFinished();

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  // "取消" only asks the operation to stop; the dialog stays.
  void OnCancel() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void CloseNow();

  ShellTaskRun& run_;
  CKLOProgressCtrl bar_;
  std::wstring percentFormat_;
  HICON smallIcon_ = nullptr;
};
