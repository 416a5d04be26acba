// What the engine needs from the application: the bound back ends, the
// shared flags, and a way to tell and ask the user. The application
// object derives from EngineHost and installs itself at start-up; tests
// install their own.
#pragma once
#include <windows.h>

#include <string>

#include "config/capture_lists.h"
#include "engine/backend.h"

// Result codes of every engine operation.
enum : int {
  kResultSuccess = 0,
  kResultAborted = 1235,  // ERROR_REQUEST_ABORTED: cancelled by the user
  kResultFailed = -1,     // failure, already reported unless errors are quiet
  kResultNotBound = -99,  // a back-end function the operation needs is missing
};
typedef int EngineResult;

// Where one operation's progress goes: the progress page, the task queue
// page or the small dialog of a task started from an Explorer verb. A
// request names its target; the engine reports to it on the thread that
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

  Backends backends;
  BackendKind backendKind = kBackendWimgapi;

  // Flags shared between the UI thread and the workers. Plain integers: one
  // side writes, the other reads, and a stale read only delays a reaction.
  volatile LONG cancelRequested = 0;
  // Set together with cancelRequested by a caller that has already asked
  // the user: the running operation then stops without asking again, and
  // leaves both flags for that caller to clear.
  volatile LONG cancelConfirmed = 0;
  volatile LONG quietErrors = 0;
  volatile LONG busyFlag = 0;

  HWND mainWindow = nullptr;   // owner of the application's message boxes
  std::wstring tempFolder;     // temporary folder given to WIMGAPI engines
  bool runningFromDriveX = false;  // Windows PE: temporary files go to the WIM's drive

  // The capture lists consulted by the WIMGAPI capture callback.
  CaptureLists captureLists;
};

// A copy of the host's capture lists, for a WIMGAPI capture. Taken on the
// user-interface thread (which alone reloads the lists) before the worker
// of the capture is started, and handed to it.
CaptureLists SnapshotCaptureLists();

// The host the engine reports to. Never null after SetEngineHost.
EngineHost& Host();
void SetEngineHost(EngineHost* host);
