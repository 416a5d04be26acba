// The shell tasks: capture, quick capture, apply and mount started from an
// Explorer verb, run on the start-up thread without the main window while
// CShellTaskTip shows their progress; and the file and folder choosers the
// tasks share with the pages.
#pragma once
#include <windows.h>

#include <string>

#include "win/paths.h"  // LastComponent, IsInsideFolder, FileExists

// True for "C:", "C:\" and "\\server\share" style roots.
bool IsDriveRoot(const std::wstring& folder);

// /C (quick = false) and /Q (quick = true): captures `folder` into a WIM
// file, beside the folder and named after it for /Q, chosen in a save
// dialog for /C. An existing file is never replaced without asking; a
// drive root, a missing folder and a file inside the folder are refused.
void RunShellCapture(const std::wstring& folder, bool quick);

// /A (mount = false) and /M (mount = true): applies or mounts an image of
// `wimPath` onto a folder chosen in the folder browser.
void RunShellApplyOrMount(const std::wstring& wimPath, bool mount);
