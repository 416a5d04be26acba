// Shared ground of the look-inside tests: the main window made inside the
// test program, WIM files made by wimlib-imagex (the independent judge),
// and reading rows back from the real list controls.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "../gui/frame_fixture.h"

namespace look {

// "wimlib-imagex <args>" on the Linux side.
qtest::UnixResult Imagex(const std::string& args);
// A Windows path quoted for the shell, as its Unix path.
std::string Q(const std::wstring& winPath);

// Captures `source` into `wim` (appending when it exists); extra options
// such as "--compress=LZX". True on success.
bool Capture(const std::wstring& source, const std::wstring& wim, const std::string& name,
             const std::string& extra = "");

// The cell texts of a list view in this process.
std::wstring Cell(HWND list, int row, int column);
std::vector<std::wstring> Column(HWND list, int column);
// The cell text of a list view in another process.
std::wstring RemoteCell(HWND list, int row, int column);

// The row whose column holds `text` (-1 when none).
int FindRow(HWND list, int column, const std::wstring& text);
// Selects exactly the given rows.
void SelectRows(HWND list, const std::vector<int>& rows);

// The text on the clipboard.
std::wstring ClipboardText();

// Clicks the heading of `column` of a report list with the mouse and waits
// until the list has handled it. False when the heading is not there.
bool ClickListHeader(HWND list, int column);

using qtest::FindTopWindow;

}  // namespace look
