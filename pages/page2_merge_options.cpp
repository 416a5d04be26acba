// The capture options for a new export destination.
#include "pages/page2_merge_export.h"
#include "pages/save_option_dlg.h"

bool AskNewDestinationOptions(HWND owner, const std::wstring& destination, int& compression, int& wimBoot) {
  CSaveOptionDlg options;
  options.appendMode = 0;
  options.wimPath = destination;
  options.defaultOnly = 1;
  if (options.DoModal(owner) != IDOK) return false;
  compression = options.compressionType;
  wimBoot = options.wimBoot;
  return true;
}
