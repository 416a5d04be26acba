// Notices that any thread gives without knowing who answers them. The
// window that answers a notice listens for it on its own thread; each
// notice given then runs that answer on the window's thread through
// PostToWindowThread (win/window_thread.h): in the order given, and never
// once the window is gone.
#pragma once
#include <windows.h>

#include <functional>

enum class Notice {
  // An image was mounted: what lists the mounts is out of date.
  kMountsChanged,
  // An image was mounted from a page, which the user watched: as
  // kMountsChanged, and the list of mounts may come up.
  kMountedFromPage,
};

// `answer` runs on `window`'s thread for every later notice of that kind;
// it replaces what answered that notice before.
void ListenFor(Notice notice, HWND window, std::function<void()> answer);

// `window` no longer answers `notice` (nothing happens when another
// window answers it now).
void StopListening(Notice notice, HWND window);

// Gives the notice, from any thread: true when a window answers it.
bool GiveNotice(Notice notice);
