// Unmounting images on a worker thread. One unmount worker runs at a time
// in the process, whatever started it. The worker reports to the window
// that started it only through PostToWindowThread, so a window that goes
// away in the meantime is never written into, and what it was still to be
// told is freed with it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/engine_host.h"
// One image to unmount, taken from a row of the mount manager.
struct UnmountJob {
  std::wstring mountPath;
  std::wstring wimPath;
  DWORD index = 0;
  bool commit = false;  // mounted for writing: ask whether to save
  bool asNewImage = false;  // saved as a new image, the mounted one kept
  bool stale = false;   // a stale record: discard it, nothing to save
  bool writable = false;  // mounted for writing
  bool mounting = false;  // still being mounted: cannot be unmounted yet
  const Backends* backends = nullptr;  // bound for the program's life
  EngineHost* host = nullptr;          // told of failures; none: nothing shown
};

// Why the image at a mount path could not be unmounted, in one line.
struct UnmountFailure {
  std::wstring mountPath;
  std::wstring reason;
};

// What the worker tells its window, each on the window's thread and in
// this order for every job: started (the mount path now being unmounted),
// failed (only when it could not be unmounted), jobDone; finished once
// after the last job, when the worker has ended its work. A report left
// empty is not given.
struct UnmountReports {
  std::function<void(const std::wstring& mountPath)> started;
  std::function<void(const UnmountFailure& failure)> failed;
  std::function<void()> jobDone;
  std::function<void()> finished;
};

// Starts the worker for the jobs; false when one is already running (or no
// thread could be made), and nothing is started. `window` owns the
// worker's questions and receives its reports.
bool StartUnmountWorker(HWND window, std::vector<UnmountJob> jobs, UnmountReports reports);

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
