// The open-file dialog of the configuration editor's "导入": a capture
// configuration file ("Configuration File (*.INI)" or "Text File (*.TXT)").
#pragma once
#include <windows.h>

#include <string>

// The chosen file, or "" when the user cancelled.
std::wstring AskImportFile(HWND owner);
