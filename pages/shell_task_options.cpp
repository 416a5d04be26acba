#include "pages/shell_task_options.h"

#include "pages/save_option_dlg.h"
#include "tasks/workbench.h"

void OfferBackendOf(const Workbench& bench, CSaveOptionDlg& options) {
  options.backend = bench.backendKind;
  options.backends = &bench.backends;
  options.tempFolder = bench.tempFolder;
}

bool AskCaptureOptions(HWND owner, const Workbench& bench, bool append, const std::wstring& target,
                       CaptureChoice& choice) {
  CSaveOptionDlg options;
  OfferBackendOf(bench, options);
  options.appendMode = append ? 1 : 0;
  options.wimPath = target;
  if (options.DoModal(owner) != IDOK) return false;
  choice.compression = options.compressionType;
  choice.info.flags = options.editionFlag;
  choice.info.bootIndex = options.bootIndex;
  choice.info.wimBoot = options.wimBoot;
  return true;
}
