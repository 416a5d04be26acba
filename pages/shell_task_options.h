// The capture settings that the capture options dialog hands to a capture
// started from Explorer or from the easy page.
#pragma once
#include <windows.h>

#include <string>

#include "engine/image_info.h"

struct CaptureChoice {
  int compression = 2;  // 0 none, 1 XPRESS, 2 LZX
  ImageInfo info;       // bootIndex, flags and wimBoot come from the dialog
};

class CSaveOptionDlg;
struct Workbench;

// Opens the capture options dialog for `target`, in its append mode when
// `append`, else in its create mode, for the back end `bench` has selected.
// False when the user cancelled.
bool AskCaptureOptions(HWND owner, const Workbench& bench, bool append, const std::wstring& target,
                       CaptureChoice& choice);
// Gives the options dialog the back end `bench` has selected.
void OfferBackendOf(const Workbench& bench, CSaveOptionDlg& options);
