// The mount manager (IDD_MOUNT_VIEW, "当前挂载的镜像"): a modeless window that
// lists every image mounted through WIMGAPI and unmounts them, with or
// without saving, refreshes the list and opens mount folders. One window
// at most exists; it deletes itself when destroyed.
#pragma once
#include <string>
#include <vector>

#include "controls/list_ctrls.h"
#include "engine/mounts.h"
#include "mount/unmount_worker.h"
#include "tasks/operation_runner.h"
#include "tasks/workbench.h"
#include "win/dialog.h"

class CMountView : public Dialog {
 public:
  // Creates the window if there is none (owned by `owner`, working for
  // `bench` and refusing while `runner` runs the queue) and shows it.
  static CMountView* Show(HWND owner, Workbench& bench, const OperationRunner& runner);
  // The open window, or null.
  static CMountView* Instance();
  // Refreshes the open window's list, if there is one (after a mount).
  static void RefreshIfOpen();

  // Rebuilds the list from the library.
  void Refresh();
  // Starts the unmount worker for the selected rows; false when nothing is
  // selected or an unmount is already running.
  bool UnmountSelected();
  // Selects every row, then unmounts them.
  bool UnmountAll();
  // Opens the mount folder of the first selected row in Explorer.
  void OpenMountFolder();

  const std::vector<MountRecord>& records() const { return records_; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnFinalDestroy() override;

 private:
  CMountView(Workbench& bench, const OperationRunner& runner);
  void CreateColumns();
  void Layout(int width, int height);
  void FillRows();
  void ShowCurrentStatus();
  std::wstring FailureReason(const std::wstring& mountPath) const;
  void ForgetFailure(const std::wstring& mountPath);
  void UpdateButton();
  void ShowContextMenu();
  void GreyMenu(HMENU menu);
  std::vector<UnmountJob> SelectedJobs() const;
  // The unmount worker's reports, on this window's thread.
  void OnUnmountStarted(const std::wstring& mountPath);
  void OnUnmountFailed(const UnmountFailure& failure);
  void OnUnmountJobDone();
  void OnUnmountFinished();

  CWimListCtrl list_;
  std::vector<MountRecord> records_;
  std::wstring unmounting_;    // mount path of the image being unmounted
  std::vector<UnmountFailure> failures_;  // why images could not be unmounted
  bool closePending_ = false;  // closed while an unmount ran: destroy at its end
  HICON icon_ = nullptr;
  Workbench& bench_;
  const OperationRunner& runner_;
};
