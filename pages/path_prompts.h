// The two common path questions of the capture, apply and task queue
// pages: the shell's folder browser and the open / save file dialogs.
// Neither cuts a path: the file dialogs get a buffer as long as a path can
// be, and the folder browser's result is read through its item list.
#pragma once
#include <windows.h>

#include <string>

// The shell folder browser (file-system folders only, with an edit box and
// the new dialog style), owned by `owner`, starting at `start`. Returns the
// chosen folder or an empty text.
std::wstring BrowseForFolder(HWND owner, const std::wstring& start);

// The open (save = false) or save-as dialog. `filter` is written with "|"
// between its pieces and ends in "||"; `defaultExt` without the dot; flags
// are OFN_ flags added to OFN_EXPLORER. Returns the chosen path or "".
std::wstring AskFilePath(HWND owner, bool save, const std::wstring& filter, const wchar_t* defaultExt, DWORD flags);
