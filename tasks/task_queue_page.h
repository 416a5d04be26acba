// The task queue page (IDD_PAGE_TASK_QUEUE): the queued captures, applies and
// mounts, two progress bars and the buttons to run, abort, load, save and
// close. The main window shows it in place of the tab pages and remembers
// which tab was selected, so that closing the page restores that tab.
#pragma once
#include <string>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "controls/progress_ctrl.h"
#include "engine/engine_host.h"
#include "tasks/operation_runner.h"
#include "tasks/task_list_file.h"
#include "tasks/workbench.h"
#include "win/dialog.h"

// The overall-bar value of the task queue for a new percentage of the running
// task: the finished tasks (hundreds of the current value) plus the percent.
float TaskQueueOverallValue(float currentOverall, float percent);

class CPage_TaskQueue : public Dialog, public OperationDisplay, private OleDropHandler {
 public:
  CPage_TaskQueue();

  // The program around the page and the runner of its runs; given before
  // the page is created.
  void Attach(Workbench& bench, OperationRunner& runner) {
    bench_ = &bench;
    runner_ = &runner;
  }
  ~CPage_TaskQueue() override;

  // ProgressTarget: the running task's bar, and the overall bar whose
  // hundreds count the finished tasks.
  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float percent) override;

  void SetCurrentPercent(float percent);
  float OverallValue() const;
  void SetOverallValue(float value);

  // The tab that was selected when the page was shown (-1: none).
  void SetRememberedTab(int index) { rememberedTab_ = index; }
  int rememberedTab() const { return rememberedTab_; }

  int RowCount() const;
  // "开始执行" is enabled exactly when the list holds rows and no run is
  // under way.
  void EnableStartIfRows();

  // Appends a row: waiting picture, type caption, source and target; the
  // row keeps its own copy of the record. With showTip, tells how many
  // tasks the queue holds now.
  void AddTask(const std::wstring& source, const std::wstring& target, const TaskRecord& record, bool showTip);
  void AddTask(const TaskListRow& row, bool showTip) { AddTask(row.srcPath, row.desPath, row.record, showTip); }
  // The rows as they stand (user-interface thread).
  std::vector<TaskListRow> Rows() const;
  // The picture of a row (kTaskPicture...), -1 when there is no such row.
  int RowPicture(int row) const;

  // OperationDisplay: a run of the queue begins and ends.
  void OperationBegun(const std::wstring& title) override;
  void OperationEnded(const OperationOutcome& outcome) override;

  // Runner side. TakeRunSnapshot copies the rows for a run on the
  // user-interface thread: every row, or, after a run the user stopped,
  // the rows from the stopped one on. The other calls come from the
  // run's worker, name rows by their place in the run, and do their
  // window work on the user-interface thread.
  bool TakeRunSnapshot();
  const std::vector<TaskListRow>& runRows() const { return runRows_; }
  void SetRowPicture(int row, int picture);
  // Why the row's task failed (empty: clears it), in the last column.
  void SetRowReason(int row, const std::wstring& reason);
  static constexpr int kReasonColumn = 4;
  void SetCurrentBar(float value);
  void SetOverallBar(float value);
  void ResetBars();
  // The run stopped at its row `row` (the user's abort): the next start
  // resumes there. A run that reaches its end starts the next one afresh.
  void StoppedAt(int row);

  CWimListCtrl& list() { return list_; }

 protected:
  void OnInitialUpdate() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // The page takes no drop; it is a drop target only for the drag image.
  DWORD OnOleDrop(IDataObject*, DWORD, POINTL) override { return DROPEFFECT_NONE; }
  void Layout(int width, int height);
  void OnStart();
  void OnLoad();
  void OnSave();
  void DeleteSelectedRows();
  bool RefuseWhileRunning();
  void FreeRow(LPARAM data);
  bool ThrottleRedraw(float percent);
  static void NameBar(CKLOProgressCtrl& bar, float value, float maximum);

  CWimListCtrl list_;
  CKLOProgressCtrl currentBar_;
  CKLOProgressCtrl overallBar_;
  HICON closeIcon_ = nullptr;
  int rememberedTab_ = 0;
  ComPtr<IDropTargetHelper> dragImages_;
  ComPtr<CMyOleTarget> dropTarget_;
  std::vector<TaskListRow> runRows_;  // the rows of the run under way
  int runFirst_ = 0;                  // list row of the run's first row
  volatile LONG resumeFrom_ = 0;      // list row the next start begins with
  volatile float overall_ = 0;        // overall value, also between redraws
  DWORD lastRedraw_ = 0;
  volatile bool redrawNow_ = true;
  float runMaximum_ = 100;              // tick of the last bar redraw from a report
  Workbench* bench_ = nullptr;
  OperationRunner* runner_ = nullptr;
};
