// Taking files and folders out of an image on a worker thread. Each worker
// opens the WIM file itself and has its own target folder, so the browser
// page can move on, or let go of its own copy of the WIM, while a worker
// runs.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "controls/progress_ctrl.h"
#include "engine/backend.h"
#include "engine/engine_host.h"
#include "engine/operation.h"
#include "win/dialog.h"
#include "win/handles.h"

struct ExtractJob {
  std::wstring wimPath;
  int image = 1;
  std::vector<std::wstring> paths;  // inside the image
  std::wstring target;              // folder the items land in, directly
  const Backends* backends = nullptr;  // bound for the program's life
};

// Extracts the job's paths (a split set's further parts referenced) into
// its target; each selected item lands directly in the target folder.
// Progress goes to `progress` alone (none when null); a request of `cancel`
// stops it. Returns wimlib's result (0 on success), or 1235 when it was
// cancelled; failures show no message.
int ExtractSelection(const ExtractJob& job, ProgressTarget* progress = nullptr, CancelToken* cancel = nullptr);

// Runs the job on a worker thread while the small "正在提取文件" dialog is
// shown modally over `owner`; returns wimlib's result once the worker has
// ended (0 on success, 1235 when the user stopped it with "中止"). A
// failure's reason, in one line, goes to `reason`.
int ExtractWithDialog(HWND owner, const ExtractJob& job, std::wstring* reason = nullptr);

// Extract and open: the job's single file goes into a fresh folder of its
// own below `tempFolder` and is opened with the shell. The folder stays
// while a viewer may use it: it is removed when this process ends
// (RemoveOwnOpenFolders) or, failing that, at the next start
// (RemoveLeftoverOpenFolders); at once when the extraction or the launch
// fails, which is then told in a box. Runs on a worker thread of its own;
// false when none could be started.
bool StartExtractAndOpen(const ExtractJob& job, const std::wstring& tempFolder, const std::wstring& fileName);

// A new, empty folder below `parent` with a name no other extraction uses;
// empty on failure.
std::wstring MakeUniqueFolder(const std::wstring& parent);

// Deletes a folder and everything in it (for the folders made above only).
void DeleteOwnFolder(const std::wstring& folder);

// Removes the extract-and-open folders this process made (at exit).
void RemoveOwnOpenFolders();
// Removes the extract-and-open folders below `tempFolder` left by Quarry
// processes that have ended (at start-up); those of running ones stay.
void RemoveLeftoverOpenFolders(const std::wstring& tempFolder);

// Extract-and-open workers still running in this process.
int OpenWorkersRunning();

// The modal dialog shown while a job runs: a line of text and a bar, which
// the worker's progress reaches through this dialog alone.
class CExtractTipDlg : public Dialog, public ProgressTarget {
 public:
  explicit CExtractTipDlg(const ExtractJob& job);

  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float percent) override;
  // wimlib's result of the job, once the dialog has ended.
  int extractResult() const { return extractResult_; }
  // Why the job failed, once the dialog has ended; empty after success.
  const std::wstring& failureReason() const { return failureReason_; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  bool OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void OnAbort();
  // The worker has ended (or never started): the dialog goes.
  void OnWorkerEnded();
  // The worker thread's part: the extraction, then its end told.
  static void Work(CExtractTipDlg* dialog);
  const ExtractJob& job_;
  CKLOProgressCtrl bar_;
  UniqueHandle thread_;
  int extractResult_ = kResultFailed;  // set by the worker before it ends
  CancelToken cancel_;                 // asked by "中止", read by the worker
  std::wstring failureReason_;         // written by the worker before it ends
};
