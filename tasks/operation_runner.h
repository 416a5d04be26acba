// The operation runner: the one place that starts a worker for an operation
// of a page or for a run of the task queue, and the one owner of the state a
// run shares with the rest of the program — the busy flag, the running
// operation's cancel token, the queue-run flag and the enabled state of the
// main window's tabs.
//
// An operation is a value: a title, a body that runs on the worker with the
// operation's context and owns copies of everything it needs (taken on the
// user-interface thread when the operation is made), and the display it
// reports to. The runner alone begins and ends the display and tells the
// end: Start (busy on, a new cancel token, tabs off, worker started) ... on
// the worker: the display's OperationBegun, the body, the failure's reason,
// the display's OperationEnded, then tabs on and busy off — the last two
// steps on the user-interface thread, in one go, so that a display showing
// its result never sees the runner still busy.
//
// The main window owns one runner and hands it to every page it creates.
// Every member is called on the user-interface thread, except
// RequestCancel, which any thread may call.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/operation.h"
#include "win/handles.h"

struct Workbench;

// How one operation ended.
struct OperationOutcome {
  EngineResult result = kResultSuccess;
  CaptureReport report;  // what a capture left out (or the file it stopped at)
  std::wstring reason;   // why it failed, read by the runner on the worker
};

// Where an operation shows that it runs and how it ended: the progress
// page, the task queue page, or a page that shows its own busy state.
class OperationDisplay : public ProgressTarget {
 public:
  // User-interface thread: the operation starts.
  virtual void OperationBegun(const std::wstring& title) = 0;
  // User-interface thread: the operation has ended.
  virtual void OperationEnded(const OperationOutcome& outcome) = 0;
};

// What the runner runs. The body runs on the worker; what it captures it
// owns (copies, never the page's fields).
struct Operation {
  std::wstring title;
  std::function<OperationOutcome(const OperationContext& context)> body;
  OperationDisplay* display = nullptr;  // must outlive the operation's window work
};

class OperationRunner {
 public:
  explicit OperationRunner(Workbench& bench);
  ~OperationRunner();
  OperationRunner(const OperationRunner&) = delete;
  OperationRunner& operator=(const OperationRunner&) = delete;

  // Starts `operation` as the operation of a page. False, starting nothing,
  // while an operation or a queue run is under way or when the thread
  // cannot be created (the busy flag and the tabs are then given back).
  bool Start(Operation operation);
  // Starts `operation` as a run of the task queue: as Start, with quiet
  // errors, and the queue-run flag set until it ends.
  bool StartQueue(Operation operation);

  // Asks the running operation to stop. With `confirmed`, the user has
  // been asked already and the engine stops without its own question.
  void RequestCancel(bool confirmed = false);

  // True, after telling the user so in a box owned by `owner`, while the
  // task queue runs. Every page calls it first, before any question or
  // dialog of its own and before it changes anything.
  bool RefuseWhileQueueRuns(HWND owner) const;

  bool QueueRunning() const { return queueRunning_; }
  bool Busy() const { return busyFlag_; }
  // True from Start until the worker's thread has ended (which may be a
  // moment after its result was reported).
  bool Running() const;
  // Waits up to `timeoutMs` for the workers to end, dispatching the
  // messages they send to this thread meanwhile; true when none runs.
  bool Wait(DWORD timeoutMs);

  // Enables or disables the main window's tabs.
  void EnableTabs(bool enable) const;

 private:
  struct Run;
  bool Launch(Operation operation, bool queue);
  // The worker thread's part: begin, run the body, end.
  static void Work(Run& run);
  // The end of an operation: tabs on, busy off (and the queue-run flag).
  void Finished(bool queue);
  void ForgetEndedWorkers() const;

  Workbench& bench_;
  std::atomic<bool> busyFlag_{false};
  std::atomic<bool> queueRunning_{false};
  // The cancel token of the operation running now; RequestCancel reaches
  // it from any thread.
  mutable SRWLOCK cancelLock_ = SRWLOCK_INIT;
  std::shared_ptr<CancelToken> cancel_;
  // Threads that may still run: the last one, and any earlier one that had
  // reported its result but not yet returned when the next one started.
  mutable std::vector<UniqueHandle> workers_;
};
