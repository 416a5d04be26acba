// The task queue page (template 153): the queued captures, applies and
// mounts, two progress bars and the buttons to run, abort, load, save and
// close. The main window shows it in place of the tab pages and remembers
// which tab was selected, so that closing the page restores that tab.
#pragma once
#include <string>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "controls/progress_ctrl.h"
#include "engine/engine_host.h"
#include "win/dialog.h"

class CPage_TaskQueue : public Dialog, public TaskQueueTarget, private OleDropHandler {
 public:
  CPage_TaskQueue();
  ~CPage_TaskQueue() override;

  // TaskQueueTarget
  HWND Hwnd() const override { return hwnd_; }
  void SetCurrentPercent(float percent) override;
  float OverallValue() const override;
  void SetOverallValue(float value) override;

  // The tab that was selected when the page was shown (-1: none).
  void SetRememberedTab(int index) { rememberedTab_ = index; }
  int rememberedTab() const { return rememberedTab_; }

  int RowCount() const;
  // "开始执行" is enabled exactly when the list holds rows.
  void EnableStartIfRows();

  CWimListCtrl& list() { return list_; }

 protected:
  void OnInitialUpdate() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // The page takes no drop; it is a drop target only for the drag image.
  DWORD OnOleDrop(IDataObject*, DWORD, POINTL) override { return DROPEFFECT_NONE; }
  void Layout(int width, int height);

  CWimListCtrl list_;
  CKLOProgressCtrl currentBar_;
  CKLOProgressCtrl overallBar_;
  HICON closeIcon_ = nullptr;
  int rememberedTab_ = 0;
  ComPtr<IDropTargetHelper> dragImages_;
  ComPtr<CMyOleTarget> dropTarget_;
};
