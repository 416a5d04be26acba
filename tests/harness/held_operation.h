// An operation that holds the runner for as long as a test needs: busy, or
// in a run of the task queue. Its body waits until the test releases it or
// the operation's cancel is requested (as a real operation stops at its
// next progress call), so a test can look at everything the program does
// while an operation runs, and at the end.
#pragma once
#include <windows.h>

#include <atomic>

#include "tasks/operation_runner.h"

namespace qtest {

class HeldOperation {
 public:
  // Starts the operation through `runner` (as a queue run with `queue`);
  // started() tells whether the runner took it.
  HeldOperation(OperationRunner& runner, bool queue, OperationDisplay* display = nullptr)
      : runner_(runner), release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    Operation held;
    held.display = display;
    HANDLE release = release_;
    std::atomic<bool>* cancelled = &cancelled_;
    held.body = [release, cancelled](const OperationContext& context) {
      while (WaitForSingleObject(release, 20) == WAIT_TIMEOUT) {
        if (context.cancel && context.cancel->Requested()) {
          *cancelled = true;
          return OperationOutcome{kResultAborted};
        }
      }
      return OperationOutcome{kResultSuccess};
    };
    started_ = queue ? runner.StartQueue(std::move(held)) : runner.Start(std::move(held));
  }
  ~HeldOperation() {
    Release();
    runner_.Wait(30000);
    CloseHandle(release_);
  }
  HeldOperation(const HeldOperation&) = delete;
  HeldOperation& operator=(const HeldOperation&) = delete;

  bool started() const { return started_; }
  // True once the body saw its cancel requested (it then ends, cancelled).
  bool cancelled() const { return cancelled_; }
  // Lets the body end; the runner then gives back its hold.
  void Release() { SetEvent(release_); }

 private:
  OperationRunner& runner_;
  HANDLE release_;
  std::atomic<bool> cancelled_{false};
  bool started_ = false;
};

}  // namespace qtest
