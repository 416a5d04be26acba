// The capture options for a new export destination.
#include "pages/page2_merge_export.h"
#include "pages/save_option_dlg.h"
#include "pages/shell_task_options.h"

bool AskNewDestinationOptions(HWND owner, const Workbench& bench, const std::wstring& destination, int& compression,
                              int& wimBoot) {
  CSaveOptionDlg options;
  OfferBackendOf(bench, options);
  options.appendMode = 0;
  options.wimPath = destination;
  options.defaultOnly = 1;
  if (options.DoModal(owner) != IDOK) return false;
  compression = options.compressionType;
  wimBoot = options.wimBoot;
  return true;
}
