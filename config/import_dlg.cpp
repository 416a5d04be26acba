#include "config/import_dlg.h"

#include <commdlg.h>

#include "win/pickers.h"

std::wstring AskImportFile(HWND owner) {
  return PickFile(owner, PickerKind::kOpen, L"Configuration File (*.INI)|*.INI|Text File (*.TXT)|*.TXT||", L"ini",
                  OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
}
