#include "tasks/operation_runner.h"

#include "engine/failure_reason.h"
#include "resources/ids_capture_apply.h"
#include "tasks/workbench.h"
#include "win/message_box.h"
#include "win/messages.h"
#include "win/strings.h"
#include "win/window_thread.h"

namespace {
constexpr DWORD kLingeringWorkerWaitMs = 5000;

// Waits for one thread while letting the messages it sends to this thread
// through. Returns false when the time ran out first.
bool WaitPumpingSentMessages(HANDLE thread, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, timeoutMs - elapsed, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return true;
    MSG msg;  // dispatches the worker's SendMessage calls
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
}  // namespace

// One operation on its way: what the worker owns.
struct OperationRunner::Run {
  OperationRunner* runner = nullptr;
  Operation operation;
  std::shared_ptr<CancelToken> cancel;
  OperationContext context;
  bool queue = false;
};

OperationRunner::OperationRunner(Workbench& bench) : bench_(bench) {}

OperationRunner::~OperationRunner() = default;

void OperationRunner::ForgetEndedWorkers() const {
  for (size_t i = 0; i < workers_.size();) {
    if (WaitForSingleObject(workers_[i].get(), 0) == WAIT_OBJECT_0) workers_.erase(workers_.begin() + i);
    else i++;
  }
}

void OperationRunner::EnableTabs(bool enable) const {
  if (bench_.mainWindow) SendMessageW(bench_.mainWindow, UM_ENABLE_TABS, enable ? 1 : 0, 0);
}

bool OperationRunner::Launch(Operation operation, bool queue) {
  if (!operation.body || queueRunning_) return false;
  // A worker that has reported its end may not quite have returned yet.
  if (!busyFlag_ && Running()) Wait(kLingeringWorkerWaitMs);
  bool idle = false;
  if (!busyFlag_.compare_exchange_strong(idle, true)) return false;
  auto run = std::make_unique<Run>();
  run->runner = this;
  run->queue = queue;
  run->cancel = std::make_shared<CancelToken>();
  run->context.progress = operation.display;
  run->context.cancel = run->cancel.get();
  run->context.host = &bench_;
  run->context.quietErrors = queue;
  run->operation = std::move(operation);
  AcquireSRWLockExclusive(&cancelLock_);
  cancel_ = run->cancel;
  ReleaseSRWLockExclusive(&cancelLock_);
  if (queue) queueRunning_ = true;
  EnableTabs(false);
  std::shared_ptr<Run> shared(std::move(run));
  UniqueHandle thread = StartThread([shared] { Work(*shared); });
  if (!thread) {
    Finished(queue);
    return false;
  }
  workers_.push_back(std::move(thread));
  return true;
}

void OperationRunner::Work(Run& run) {
  OperationDisplay* display = run.operation.display;
  HWND window = display ? display->Hwnd() : nullptr;
  // What an earlier operation on this thread noted is not this one's failure.
  ClearFailure();
  if (display) RunOnWindowThread(window, [&] { display->OperationBegun(run.operation.title); });
  OperationOutcome outcome = run.operation.body(run.context);
  // Read here, on the thread where the engine noted it.
  if (outcome.result != kResultSuccess && outcome.result != kResultAborted && outcome.reason.empty())
    outcome.reason = FailureText();
  OperationRunner* runner = run.runner;
  const bool queue = run.queue;
  bool handed = display && RunOnWindowThread(window, [&] {
    runner->Finished(queue);
    display->OperationEnded(outcome);
  });
  if (!handed) runner->Finished(queue);
}

void OperationRunner::Finished(bool queue) {
  EnableTabs(true);
  if (queue) queueRunning_ = false;
  busyFlag_ = false;
}

bool OperationRunner::Start(Operation operation) { return Launch(std::move(operation), false); }

bool OperationRunner::StartQueue(Operation operation) { return Launch(std::move(operation), true); }

void OperationRunner::RequestCancel(bool confirmed) {
  AcquireSRWLockShared(&cancelLock_);
  std::shared_ptr<CancelToken> cancel = cancel_;
  ReleaseSRWLockShared(&cancelLock_);
  if (cancel) cancel->Request(confirmed);
}

bool OperationRunner::RefuseWhileQueueRuns(HWND owner) const {
  if (!queueRunning_) return false;
  AppMessageBox(owner, LoadStr(IDS_TASK_RUNNER_BUSY), L"Quarry", MB_OK | MB_ICONEXCLAMATION);
  return true;
}

bool OperationRunner::Running() const {
  ForgetEndedWorkers();
  return !workers_.empty();
}

bool OperationRunner::Wait(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  std::vector<HANDLE> workers;  // a copy: waiting dispatches messages
  for (const UniqueHandle& thread : workers_) workers.push_back(thread.get());
  for (HANDLE thread : workers) {
    const DWORD elapsed = GetTickCount() - start;
    if (!WaitPumpingSentMessages(thread, elapsed < timeoutMs ? timeoutMs - elapsed : 0)) break;
  }
  ForgetEndedWorkers();
  return workers_.empty();
}
