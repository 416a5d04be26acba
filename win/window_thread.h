// The one way from a worker thread to a window's thread: RunOnWindowThread
// hands a piece of work to the thread that owns a window, runs it there
// and returns when it is done. Every window and dialog of the window layer
// answers it in its shared window procedure, before its own handlers, so
// no page has to forward anything.
//
// The work runs only while the window exists: a window that is gone (or
// going) runs nothing and the call returns false, so a worker never writes
// into a window that is closing.
#pragma once
#include <windows.h>

#include <functional>

// Runs `work` on the thread of `window` (at once when called on that
// thread) and returns when it is done; false, nothing run, when the window
// does not exist.
bool RunOnWindowThread(HWND window, const std::function<void()>& work);

// The shared window procedures' part: true (with the result to return)
// when `msg` carried work from RunOnWindowThread, which has then run.
bool RunHandedWork(UINT msg, LPARAM lParam, LRESULT& result);
