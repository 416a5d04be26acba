// Unmounting images on a worker thread. One unmount worker runs at a time
// in the process, whatever started it. The worker reports to the window
// that started it only by posting messages, so a window that goes away in
// the meantime is never written into.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/engine_host.h"

#include "win/messages.h"

// One image to unmount, taken from a row of the mount manager.
struct UnmountJob {
  std::wstring mountPath;
  std::wstring wimPath;
  DWORD index = 0;
  bool commit = false;  // mounted for writing: ask whether to save
  bool stale = false;   // a stale record: discard it, nothing to save
  bool writable = false;  // mounted for writing
  bool mounting = false;  // still being mounted: cannot be unmounted yet
  const Backends* backends = nullptr;  // bound for the program's life
  EngineHost* host = nullptr;          // told of failures; none: nothing shown
};

// The worker posts UM_UNMOUNT_STARTED, _REFRESH, _FINISHED and _FAILED
// (see win/messages.h) to its window.

// Why the image at a mount path could not be unmounted, in one line.
struct UnmountFailure {
  std::wstring mountPath;
  std::wstring reason;
};

// Starts the worker for the jobs; false when one is already running (or no
// thread could be made), and nothing is started.
bool StartUnmountWorker(HWND window, std::vector<UnmountJob> jobs);

// True while an unmount worker runs.
bool UnmountWorkerRunning();

// Waits up to timeoutMs for the running worker to end (true when none runs).
// Messages sent to this thread are dispatched while it waits.
bool WaitForUnmountWorker(DWORD timeoutMs);

// Unmounts one image on the calling thread (the worker's step); true when
// the image is no longer mounted.
bool UnmountOne(HWND owner, const UnmountJob& job);

// Removes the emptied mount folder and makes it again, empty. Never
// recursive: a folder that still holds anything is left as it is. Waits at
// most timeoutMs for the folder to disappear.
void RecreateMountFolder(const std::wstring& folder, DWORD timeoutMs = 10000);
