// What the engine needs from the application: the bound back ends, the
// shared flags, the progress displays and the main window. The application
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

// The progress page: percentage display and status line.
class ProgressPageTarget {
 public:
  virtual ~ProgressPageTarget() = default;
  virtual HWND Hwnd() const = 0;
  virtual void SetPercent(float percent) = 0;
  virtual void SetStatusText(const std::wstring& text) = 0;
};

// The task queue page: a bar for the running task and one for the whole run
// whose hundreds count the finished tasks.
class TaskQueueTarget {
 public:
  virtual ~TaskQueueTarget() = default;
  virtual HWND Hwnd() const = 0;
  virtual void SetCurrentPercent(float percent) = 0;
  virtual float OverallValue() const = 0;
  virtual void SetOverallValue(float value) = 0;
};

// The small dialog of a task started from an Explorer verb.
class ShellTaskTarget {
 public:
  virtual ~ShellTaskTarget() = default;
  virtual HWND Hwnd() const = 0;
  virtual void SetPercent(float percent) = 0;
};

struct EngineHost {
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

  // Progress displays; null while the window does not exist.
  ProgressPageTarget* progressPage = nullptr;
  TaskQueueTarget* taskQueuePage = nullptr;
  ShellTaskTarget* shellTaskDialog = nullptr;

  HWND mainWindow = nullptr;   // owner of error and abort message boxes
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
