// What every operation reports to: its result codes, its progress target
// and the host that tells and asks the user.
#pragma once
#include <windows.h>

#include <string>

// Result codes of every engine operation.
enum : int {
  kResultSuccess = 0,
  kResultAborted = 1235,  // ERROR_REQUEST_ABORTED: cancelled by the user
  kResultFailed = -1,     // failure, already reported unless errors are quiet
  kResultNotBound = -99,  // a back-end function the operation needs is missing
};
typedef int EngineResult;

// Where one operation's progress goes: the progress page, the task queue
// page or the small dialog of a task started from an Explorer verb. An
// operation's context names its target; the engine reports to it on the thread that
// runs the operation.
class ProgressTarget {
 public:
  virtual ~ProgressTarget() = default;
  // Percentages go only to a shown window, the status line to an existing one.
  virtual HWND Hwnd() const = 0;
  virtual void SetPercent(float percent) = 0;
  virtual void SetStatusText(const std::wstring& text) { (void)text; }
};

// What an operation tells the user beside a failed call, which the
// application shows in its own words.
enum class EngineNotice {
  kSplitPartTooSmall,  // the part size is below the file's largest resource
};

// The engine's way to the person at the program. The application shows
// these in its message boxes, from the thread that runs the operation. The
// defaults are those of a host without a user: nothing is shown and an
// abort request is taken as meant.
struct EngineHost {
  virtual ~EngineHost() = default;
  // A failed library call: `text` names the call, the error number and the
  // system's message for it.
  virtual void ShowError(const std::wstring& text) { (void)text; }
  virtual void ShowNotice(EngineNotice notice) { (void)notice; }
  // Asked when the user pressed an abort button during an operation: true
  // when the operation is to stop.
  virtual bool ConfirmAbort() { return true; }
};
