// Starting an operation of a page on a worker thread.
//
// There is one way to start one: StartOperation, called on the
// user-interface thread. It takes BusyFlag there, before the worker exists,
// so that between the click and the worker's first report no tab click,
// shortcut, jump or other page can start a second operation or switch the
// page away. The worker then calls the progress page's Begin and Finish as
// usual; Finish gives BusyFlag back.
#pragma once
#include <windows.h>

class Dialog;

using OperationProc = DWORD(WINAPI*)(void* arg);

// Starts `work(arg)` on a new worker thread as the operation of `page`.
// Sets BusyFlag (atomically, so two starts cannot both succeed), clears
// CancelRequested and disables the tabs first. Returns false, starting
// nothing, when an operation or the task runner is already running or the
// thread cannot be created (BusyFlag and the tabs are then given back).
// The page hides itself before the call; the worker calls the progress
// page's Begin first and its Finish last, which gives BusyFlag back.
bool StartOperation(Dialog* page, OperationProc work, void* arg);

// True, after telling the user so with IDS_TASK_RUNNER_BUSY in a box owned
// by `owner`, while the task queue runs. Every page calls it first, before
// any question or dialog of its own and before it changes anything, so a
// refused operation leaves the page as it was.
bool RefuseWhileQueueRuns(HWND owner);

// True from StartOperation until the worker's thread has ended (which may
// be a moment after its result was reported).
bool OperationRunning();

// Waits up to `timeoutMs` for the workers of the operations to end; true
// when they have ended (or none runs). Called on the user-interface thread
// while the window closes, so it keeps dispatching sent messages: a worker
// that is handing window work to this thread is not dead-locked.
bool WaitForOperation(DWORD timeoutMs);
