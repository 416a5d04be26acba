// Every open, save and folder question of the program goes through these
// pickers, so that tests can answer them without a common dialog on the
// screen. No picker cuts a path: the dialogs get buffers as long as a path
// can be, and the folder browser's answer is read through its item list.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

enum class PickerKind {
  kOpen,      // one existing file
  kOpenMany,  // one or more files
  kSave,      // a file to write
  kFolder,    // a folder (the shell folder browser)
};

struct PickerRequest {
  PickerKind kind = PickerKind::kOpen;
  HWND owner = nullptr;
  std::wstring title;       // empty: the dialog's own title
  std::wstring filter;      // file pickers: pieces separated by "|", e.g. "Text (*.TXT)|*.TXT||"
  std::wstring defaultExt;  // file pickers: without the dot
  std::wstring start;       // folder picker: the folder selected when it opens;
                            // file pickers: the name the dialog starts with
  DWORD flags = 0;          // file pickers: OFN_ flags besides OFN_EXPLORER;
                            // folder picker: BIF_ flags
};

// Answers a picker instead of the user: fills `paths` and returns true for
// OK, false for Cancel.
typedef std::function<bool(const PickerRequest& request, std::vector<std::wstring>& paths)> PickerHandler;

// Installs a handler that answers every picker instead of the real dialogs;
// an empty one restores the dialogs. Returns the previous handler.
PickerHandler SetPickerHandler(PickerHandler handler);

// Shows the picker (or asks the handler). True with at least one path on
// OK; false, with `paths` empty, on Cancel.
bool ShowPicker(const PickerRequest& request, std::vector<std::wstring>& paths);

// The first path chosen, or an empty text on Cancel.
std::wstring PickPath(const PickerRequest& request);

// A file picker in one call (kind kOpen or kSave): the chosen path or "".
std::wstring PickFile(HWND owner, PickerKind kind, const std::wstring& filter, const std::wstring& defaultExt,
                      DWORD flags, const std::wstring& start = std::wstring());

// The folder picker of the pages: opens at `lastFolder` (the settings'
// [DIR] Last) and stores the choice there. Empty on Cancel.
std::wstring PickFolder(HWND owner, std::wstring& lastFolder);

// The save picker for a new WIM file, starting at `path`; on OK `path`
// becomes the choice.
bool AskSaveWimPath(HWND owner, std::wstring& path);
