#include "tasks/operation.h"

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"

namespace {
HANDLE g_worker = nullptr;  // the worker started last; owned here

void ForgetEndedWorker() {
  if (g_worker && WaitForSingleObject(g_worker, 0) == WAIT_OBJECT_0) {
    CloseHandle(g_worker);
    g_worker = nullptr;
  }
}

void SetTabsEnabled(CQuarryApp* app, bool enable) {
  if (app && app->mainDialog) app->mainDialog->EnableTabs(enable);
}
}  // namespace

bool StartOperation(Dialog* page, OperationProc work, void* arg) {
  (void)page;
  CQuarryApp* app = CQuarryApp::Instance();
  if (!app) return false;
  ForgetEndedWorker();
  if (g_worker || app->taskRunnerActive) return false;
  if (InterlockedCompareExchange(&app->busyFlag, 1, 0) != 0) return false;
  app->cancelRequested = 0;
  SetTabsEnabled(app, false);
  HANDLE thread = CreateThread(nullptr, 0, work, arg, 0, nullptr);
  if (!thread) {
    app->busyFlag = 0;
    SetTabsEnabled(app, true);
    return false;
  }
  g_worker = thread;
  return true;
}

bool OperationRunning() {
  ForgetEndedWorker();
  return g_worker != nullptr;
}

bool WaitForOperation(DWORD timeoutMs) {
  if (!g_worker) return true;
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) break;
    DWORD r = MsgWaitForMultipleObjects(1, &g_worker, FALSE, timeoutMs - elapsed, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) break;
    MSG msg;  // let the worker's SendMessage calls through
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  ForgetEndedWorker();
  return g_worker == nullptr;
}
