#include "tasks/operation_runner.h"

#include "win/messages.h"
#include "resources/ids_capture_apply.h"
#include "tasks/workbench.h"
#include "win/message_box.h"
#include "win/strings.h"

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

OperationRunner::OperationRunner(Workbench& bench) : bench_(bench) {}

OperationRunner::~OperationRunner() {
  for (HANDLE thread : workers_) CloseHandle(thread);
}

void OperationRunner::ForgetEndedWorkers() const {
  for (size_t i = 0; i < workers_.size();) {
    if (WaitForSingleObject(workers_[i], 0) == WAIT_OBJECT_0) {
      CloseHandle(workers_[i]);
      workers_.erase(workers_.begin() + i);
    } else {
      i++;
    }
  }
}

void OperationRunner::EnableTabs(bool enable) const {
  if (bench_.mainWindow) SendMessageW(bench_.mainWindow, UM_ENABLE_TABS, enable ? 1 : 0, 0);
}

bool OperationRunner::Launch(OperationProc work, void* arg, bool queue) {
  if (!work || bench_.taskRunnerActive) return false;
  // A worker that has reported its end may not quite have returned yet.
  if (!bench_.busyFlag && Running()) Wait(kLingeringWorkerWaitMs);
  if (InterlockedCompareExchange(&bench_.busyFlag, 1, 0) != 0) return false;
  bench_.cancelRequested = 0;
  bench_.cancelConfirmed = 0;
  if (queue) {
    bench_.taskRunnerActive = 1;
    bench_.quietErrors = 1;
  }
  EnableTabs(false);
  HANDLE thread = CreateThread(nullptr, 0, work, arg, 0, nullptr);
  if (!thread) {
    if (queue) QueueFinished();
    else Finished();
    return false;
  }
  workers_.push_back(thread);
  return true;
}

bool OperationRunner::Start(OperationProc work, void* arg) { return Launch(work, arg, false); }

bool OperationRunner::StartQueue(OperationProc work, void* arg) { return Launch(work, arg, true); }

void OperationRunner::Finished() {
  EnableTabs(true);
  InterlockedExchange(&bench_.busyFlag, 0);
}

void OperationRunner::QueueFinished() {
  bench_.taskRunnerActive = 0;
  bench_.quietErrors = 0;
  Finished();
}

void OperationRunner::RequestCancel(bool confirmed) {
  if (confirmed) InterlockedExchange(&bench_.cancelConfirmed, 1);
  InterlockedExchange(&bench_.cancelRequested, 1);
}

bool OperationRunner::RefuseWhileQueueRuns(HWND owner) const {
  if (!bench_.taskRunnerActive) return false;
  AppMessageBox(owner, LoadStr(IDS_TASK_RUNNER_BUSY), L"Quarry", MB_OK | MB_ICONEXCLAMATION);
  return true;
}

bool OperationRunner::QueueRunning() const { return bench_.taskRunnerActive != 0; }

bool OperationRunner::Busy() const { return bench_.busyFlag != 0; }

bool OperationRunner::Running() const {
  ForgetEndedWorkers();
  return !workers_.empty();
}

bool OperationRunner::Wait(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  const std::vector<HANDLE> workers = workers_;  // a copy: waiting dispatches messages
  for (HANDLE thread : workers) {
    const DWORD elapsed = GetTickCount() - start;
    if (!WaitPumpingSentMessages(thread, elapsed < timeoutMs ? timeoutMs - elapsed : 0)) break;
  }
  ForgetEndedWorkers();
  return workers_.empty();
}
