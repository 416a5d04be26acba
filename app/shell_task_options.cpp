#include "app/shell_task_options.h"

#if __has_include("pages/save_option_dlg.h")
#include "pages/save_option_dlg.h"
#define QUARRY_HAS_SAVE_OPTIONS 1
#endif

bool AskCaptureOptions(HWND owner, bool append, const std::wstring& target, CaptureChoice& choice) {
#ifdef QUARRY_HAS_SAVE_OPTIONS
#error "wire the capture options dialog here"
#else
  // Without the capture options dialog in this build the capture takes
  // the usual settings: maximum compression, no boot image, no edition.
  (void)owner;
  (void)append;
  (void)target;
  choice.compression = 2;
  return true;
#endif
}
