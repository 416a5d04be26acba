// The operation runner: the one place that starts a worker for an
// operation of a page or for a run of the task queue, and the one owner of
// the state a run shares with the rest of the program — the busy flag, the
// cancel request, the quiet-errors flag of a queue run, the queue-run flag
// and the enabled state of the main window's tabs.
//
// The main window owns one runner and hands it to every page it creates.
// Every member is called on the user-interface thread, except
// RequestCancel, which any thread may call.
//
// A page operation: Start (busy on, cancel cleared, tabs off, worker
// started) ... the worker's progress page Begin and Finish; Finish calls
// Finished (tabs on, busy off). A queue run: StartQueue ... the queue
// page's end of run calls QueueFinished. The cancel request is cleared only
// by Start and StartQueue, so a cancel that arrives before the worker's
// first progress report still reaches it.
#pragma once
#include <windows.h>

#include <vector>

struct Workbench;

using OperationProc = DWORD(WINAPI*)(void* arg);

class OperationRunner {
 public:
  explicit OperationRunner(Workbench& bench);
  ~OperationRunner();
  OperationRunner(const OperationRunner&) = delete;
  OperationRunner& operator=(const OperationRunner&) = delete;

  // Starts `work(arg)` as the operation of a page. False, starting
  // nothing, while an operation or a queue run is under way or when the
  // thread cannot be created (the flags and tabs are then given back).
  bool Start(OperationProc work, void* arg);
  // Starts `work(arg)` as a run of the task queue: as Start, and the
  // queue-run flag and quiet errors are set until QueueFinished.
  bool StartQueue(OperationProc work, void* arg);

  // The end of a page operation, told by the progress page with its result.
  void Finished();
  // The end of a queue run, told by the queue page.
  void QueueFinished();

  // Asks the running operation to stop. With `confirmed`, the user has
  // been asked already and the engine stops without its own question.
  void RequestCancel(bool confirmed = false);

  // True, after telling the user so in a box owned by `owner`, while the
  // task queue runs. Every page calls it first, before any question or
  // dialog of its own and before it changes anything.
  bool RefuseWhileQueueRuns(HWND owner) const;

  bool QueueRunning() const;
  bool Busy() const;
  // True from Start until the worker's thread has ended (which may be a
  // moment after its result was reported).
  bool Running() const;
  // Waits up to `timeoutMs` for the workers to end, dispatching the
  // messages they send to this thread meanwhile; true when none runs.
  bool Wait(DWORD timeoutMs);

  // Enables or disables the main window's tabs.
  void EnableTabs(bool enable) const;

 private:
  bool Launch(OperationProc work, void* arg, bool queue);
  void ForgetEndedWorkers() const;

  Workbench& bench_;
  // Threads that may still run: the last one, and any earlier one that had
  // reported its result but not yet returned when the next one started.
  mutable std::vector<HANDLE> workers_;
};
