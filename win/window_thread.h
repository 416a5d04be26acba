// Starting a worker, and the ways from a worker thread to a window's thread.
// StartThread runs a function on a new thread. RunOnWindowThread
// hands a piece of work to the thread that owns a window, runs it there
// and returns when it is done; PostToWindowThread leaves the work there
// and returns at once. Every window and dialog of the window layer answers
// both in its shared window procedure, before its own handlers, so no page
// has to forward anything, and no worker needs a message of its own.
//
// Work runs only while its window exists: a window that is gone runs
// nothing, so a worker never writes into a window that has closed.
#pragma once
#include <windows.h>

#include <functional>

#include "win/handles.h"

// Starts a thread that runs `body` and ends. The thread owns the function
// and everything it holds, and frees them when it has run. An empty handle
// when no thread could be started: `body` has then been freed unrun, and
// whatever the caller set up for it is the caller's to undo.
UniqueHandle StartThread(std::function<void()> body);

// Runs `work` on the thread of `window` (at once when called on that
// thread) and returns when it is done; false, nothing run, when the window
// does not exist.
bool RunOnWindowThread(HWND window, const std::function<void()>& work);

// Leaves `work` for the thread of `window` and returns at once, from any
// thread (the window's own too: the work then runs when that thread next
// takes its messages). The posts to one window run in the order they were
// made, one at a time.
//
// The work is kept until its turn. If the window is destroyed before then,
// the work never runs: it is freed on the window's thread as the window
// goes, together with everything it holds. When `window` is not a window
// of this layer, or is already gone, nothing is kept: the call returns
// false and `work` is freed before it returns.
bool PostToWindowThread(HWND window, std::function<void()> work);

// The shared window procedures' part: true (with the result to return)
// when `msg` carried work from RunOnWindowThread or PostToWindowThread for
// `window`, which has then run.
bool RunHandedWork(HWND window, UINT msg, LPARAM lParam, LRESULT& result);

// The window layer's part when `window` is no longer bound to its object:
// frees the posted work that has not run yet, without running it.
void DropPostedWork(HWND window);
