// Progress, cancellation and error reporting shared by every operation of
// both back ends. All of it is called directly on the thread that runs the
// operation; nothing here posts window messages.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/engine_host.h"

// Sends a percentage to every visible progress display: the progress page,
// the task queue page (current bar, and the overall bar whose hundreds count
// finished tasks) and the shell-task dialog.
void ReportProgress(float percent);

// The overall-bar value of the task queue for a new percentage of the running
// task: the finished tasks (hundreds of the current value) plus the percent.
float TaskQueueOverallValue(float currentOverall, float percent);

// Sets the progress page's status line, when the main window and the page exist.
void ReportStatusText(const std::wstring& text);

// The error box text for a failed back-end call and an error number.
std::wstring ApiErrorText(const std::wstring& functionName, DWORD error);

// Shows the error box for the failed back-end call (reads GetLastError first).
void ShowApiError(const std::wstring& functionName);

// Asks whether to abort the running operation, if the user pressed an abort
// button since the last question. Clears the request before asking. Returns
// true when the user answered Yes.
bool AskAbortIfRequested();

// True when the running operation is to stop now: a request already
// confirmed by the caller (not cleared, no question), or a request the user
// confirms through the abort question.
bool AbortRequested();

// The abort state of one wimlib operation, given to WimlibProgress as its
// context. Once set, every later progress call of the operation aborts too.
struct WimlibAbort {
  bool aborted = false;
};

// WIMGAPI message callbacks of apply/mount, export and split.
DWORD CALLBACK ApplyMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);
DWORD CALLBACK ExportMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);
DWORD CALLBACK SplitMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);

// The percentage for a wimlib byte count, or a negative value when nothing is
// to be reported (the operation's own end reports 100).
float WimlibPercent(uint64_t done, uint64_t total);

// wimlib progress function of every wimlib operation. With a WimlibAbort as
// context, any message stops the operation once the user has asked for it
// (the call then fails with WIMLIB_ERR_ABORTED_BY_PROGRESS).
enum wimlib_progress_status WimlibProgress(enum wimlib_progress_msg msg, union wimlib_progress_info* info,
                                           void* context);
