// Progress, cancellation and error reporting shared by every operation of
// both back ends. All of it is called directly on the thread that runs the
// operation; nothing here posts window messages.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_host.h"
#include "engine/operation.h"

// Sends a percentage to the operation's progress target while it is shown.
void ReportProgress(ProgressTarget* target, float percent);

// Sets the status line of the operation's progress target, while its window exists.
void ReportStatusText(ProgressTarget* target, const std::wstring& text);

// The error box text for a failed back-end call and an error number.
std::wstring ApiErrorText(const std::wstring& functionName, DWORD error);

// Notes the failed back-end call for the result's reason (reads
// GetLastError first) and shows it unless the operation's errors are quiet.
void ShowApiError(const OperationContext& context, const std::wstring& functionName);

// Asks the operation's host whether to stop, if the user pressed an abort
// button since the last question. Clears the request before asking.
// Returns true when the answer is to stop.
bool AskAbortIfRequested(const OperationContext& context);

// True when the operation is to stop now: a request already confirmed by
// the caller (not cleared, no question), or a request the user confirms
// through the abort question.
bool AbortRequested(const OperationContext& context);

// One wimlib operation as WimlibProgress sees it (its context): the
// operation's own context (progress target, cancel, host) and whether the
// user stopped it. Once `aborted` is set, every later progress call of the
// operation aborts too.
class CaptureSkips;
struct WimlibOperation {
  const OperationContext* context = nullptr;
  bool aborted = false;
  // A capture's decisions about what it leaves out: the special files the
  // library reports leaving out, and its scan errors, which may be ignored.
  CaptureSkips* skips = nullptr;
};

// WIMGAPI message callbacks of apply/mount, export and split; userData is
// the operation's OperationContext.
DWORD CALLBACK ApplyMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);
DWORD CALLBACK ExportMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);
DWORD CALLBACK SplitMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);

// The percentage for a wimlib byte count, or a negative value when nothing is
// to be reported (the operation's own end reports 100).
float WimlibPercent(uint64_t done, uint64_t total);

// wimlib progress function of every wimlib operation. With a WimlibOperation
// as context, percentages go to its target and any message stops the
// operation once the user has asked for it (the call then fails with
// WIMLIB_ERR_ABORTED_BY_PROGRESS).
enum wimlib_progress_status WimlibProgress(enum wimlib_progress_msg msg, union wimlib_progress_info* info,
                                           void* context);

// The items one capture leaves out, and its decisions about files the back
// end cannot read, for both back ends. Built from the request on the
// capture's thread; what it learns goes into the request's report.
class CaptureSkips {
 public:
  explicit CaptureSkips(const CaptureRequest& request);
  CaptureSkips(const CaptureSkips&) = delete;
  CaptureSkips& operator=(const CaptureSkips&) = delete;

  // An item no answer could bring into the image (a name with no Windows
  // form, a special file); `reasonId` names why.
  void LeftOut(const wchar_t* path, UINT reasonId);
  // The back end cannot read `path` for `reason`: true when the item is to
  // be skipped (it is then listed), false when the capture is to stop.
  bool SkipUnreadable(const wchar_t* path, const std::wstring& reason);
  // True when the capture stopped at an unreadable file by the stored
  // choice rather than by the user's answer: the capture then fails.
  bool StoppedByRule() const { return stoppedByRule_; }
  size_t Count() const { return report_->skipped.size(); }

 private:
  static std::wstring PathText(const wchar_t* path);

  UnreadablePolicy policy_;
  UnreadableQuestion ask_;
  void* askContext_;
  CaptureReport own_;
  CaptureReport* report_;
  bool stoppedByRule_ = false;
};
