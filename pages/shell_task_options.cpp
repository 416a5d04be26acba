#include "pages/shell_task_options.h"

#include "pages/save_option_dlg.h"

bool AskCaptureOptions(HWND owner, bool append, const std::wstring& target, CaptureChoice& choice) {
  CSaveOptionDlg options;
  options.appendMode = append ? 1 : 0;
  options.wimPath = target;
  if (options.DoModal(owner) != IDOK) return false;
  choice.compression = options.compressionType;
  choice.info.flags = options.editionFlag;
  choice.info.bootIndex = options.bootIndex;
  choice.info.wimBoot = options.wimBoot;
  return true;
}
