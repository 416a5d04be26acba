// What one operation carries with it through the engine: its cancel, where
// its progress goes and whom it tells and asks. Every operation has its own;
// nothing of it is shared with another operation or kept by the program.
//
// The user-interface thread makes the context and the back-end choice
// before the operation's worker starts and hands them to MakeEngine; the
// worker reads them, the user-interface thread only asks the cancel token to
// stop the operation.
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

#include "config/capture_lists.h"
#include "engine/backend.h"
#include "engine/engine_host.h"

// One operation's cancel. Request may be called on any thread; the running
// operation looks at it at its next progress call.
class CancelToken {
 public:
  CancelToken() = default;
  CancelToken(const CancelToken&) = delete;
  CancelToken& operator=(const CancelToken&) = delete;

  // Asks the operation to stop. With `confirmed` the caller has asked the
  // user already: the operation then stops without its own question, and
  // the request stays set.
  void Request(bool confirmed = false) {
    if (confirmed) cancelConfirmed_ = true;
    cancelRequested_ = true;
  }
  // Forgets any request: an operation about to start begins with none.
  void Clear() {
    cancelRequested_ = false;
    cancelConfirmed_ = false;
  }
  bool Requested() const { return cancelRequested_; }
  bool Confirmed() const { return cancelConfirmed_; }
  // True once for every unconfirmed request, which it clears (the
  // operation asks the user about it); false when none is pending.
  bool TakeRequest() { return cancelRequested_.exchange(false); }

 private:
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> cancelConfirmed_{false};
};

// The context of one operation, handed to the engine that runs it.
struct OperationContext {
  ProgressTarget* progress = nullptr;  // where percentages go; none when null
  CancelToken* cancel = nullptr;       // none: the operation cannot be stopped
  // Whom the operation tells of failures and notices and asks whether to
  // stop; none: nothing is shown and a cancel request is taken as meant.
  EngineHost* host = nullptr;
  // Failures are only noted (for the result's reason), never shown; the
  // abort question is still asked.
  bool quietErrors = false;

  // Shows `text` as a failure unless errors are quiet.
  void ShowError(const std::wstring& text) const {
    if (host && !quietErrors) host->ShowError(text);
  }
  // A notice is told even when errors are quiet.
  void ShowNotice(EngineNotice notice) const {
    if (host) host->ShowNotice(notice);
  }
};

// The back end an operation runs on and what it takes from the settings,
// copied on the user-interface thread when the operation is started: the
// preferences may change the program's own while it runs.
struct BackendChoice {
  BackendKind backend = kBackendWimgapi;
  std::wstring tempFolder;    // the temporary folder given to WIMGAPI
  CaptureLists captureLists;  // consulted by the WIMGAPI capture
  bool runningFromDriveX = false;  // Windows PE: temporary files go to the WIM's drive
};
