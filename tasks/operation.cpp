#include "tasks/operation.h"

#include <vector>

#include "app/quarry_app.h"
#include "controls/messages.h"
#include "resources/ids_capture_apply.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {
// Threads of the operations started here that may still run: the last one,
// and any earlier one that had reported its result but not yet returned
// when the next operation started. Touched on the user-interface thread only.
std::vector<HANDLE>& Workers() {
  static std::vector<HANDLE> workers;
  return workers;
}

void ForgetEndedWorkers() {
  std::vector<HANDLE>& workers = Workers();
  for (size_t i = 0; i < workers.size();) {
    if (WaitForSingleObject(workers[i], 0) == WAIT_OBJECT_0) {
      CloseHandle(workers[i]);
      workers.erase(workers.begin() + i);
    } else {
      i++;
    }
  }
}

void SetTabsEnabled(CQuarryApp* app, bool enable) {
  if (app->mainWindow) SendMessageW(app->mainWindow, UM_ENABLE_TABS, enable ? 1 : 0, 0);
}

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

// The page has hidden itself already; the progress page's Begin disables it
// (it knows the easy mode's return page), so `page` needs no work here.
bool StartOperation(Dialog* page, OperationProc work, void* arg) {
  (void)page;
  CQuarryApp* app = CQuarryApp::Instance();
  if (!app || !work) return false;
  ForgetEndedWorkers();
  if (app->taskRunnerActive) return false;
  if (InterlockedCompareExchange(&app->busyFlag, 1, 0) != 0) return false;
  app->cancelRequested = 0;
  app->cancelConfirmed = 0;
  SetTabsEnabled(app, false);
  HANDLE thread = CreateThread(nullptr, 0, work, arg, 0, nullptr);
  if (!thread) {
    InterlockedExchange(&app->busyFlag, 0);
    SetTabsEnabled(app, true);
    return false;
  }
  Workers().push_back(thread);
  return true;
}

bool RefuseWhileQueueRuns(HWND owner) {
  CQuarryApp* app = CQuarryApp::Instance();
  if (!app || !app->taskRunnerActive) return false;
  AppMessageBox(owner, LoadStr(IDS_TASK_RUNNER_BUSY), L"Quarry", MB_OK | MB_ICONEXCLAMATION);
  return true;
}

bool OperationRunning() {
  ForgetEndedWorkers();
  return !Workers().empty();
}

bool WaitForOperation(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  const std::vector<HANDLE> workers = Workers();  // a copy: waiting dispatches messages
  for (HANDLE thread : workers) {
    const DWORD elapsed = GetTickCount() - start;
    if (!WaitPumpingSentMessages(thread, elapsed < timeoutMs ? timeoutMs - elapsed : 0)) break;
  }
  ForgetEndedWorkers();
  return Workers().empty();
}
