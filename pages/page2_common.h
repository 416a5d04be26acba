// Helpers shared by the split, merge/export and delete/edit pages: the
// open and save dialogs for WIM files (with a seam so tests can answer
// them), path tests, questions, list-view cells, the look-up of image
// values in a file's XML information, and the hand-over of window work
// from a worker thread to the user-interface thread.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "win/paths.h"
#include "win/window_thread.h"

// --- File dialogs ---------------------------------------------------------

struct FileDialogRequest {
  HWND owner = nullptr;
  bool save = false;          // save dialog, else open dialog
  bool multiSelect = false;   // several files may be chosen (open only)
  DWORD flags = 0;            // OFN_* flags besides the ones the helper adds
};

// Answers a file dialog instead of the user: fills `paths` and returns
// true for OK, false for Cancel.
typedef std::function<bool(const FileDialogRequest& request, std::vector<std::wstring>& paths)> FileDialogHandler;

// Installs a handler that answers instead of the real dialog; an empty one
// restores the real dialog. Returns the previous handler.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

// The common dialog for WIM files: default extension ".WIM" and the filter
// "Windows Imaging File (*.WIM)". Paths of any length come back whole.
bool PickWimFiles(const FileDialogRequest& request, std::vector<std::wstring>& paths);
// One file: the first path chosen, or empty on Cancel.
std::wstring PickWimFile(HWND owner, bool save, DWORD flags = 0);

// --- Paths ----------------------------------------------------------------


// --- Image values ---------------------------------------------------------

// The text of an element of an image as a person reads it: the XML value
// with its character references decoded ("&amp;" becomes "&").
std::wstring ImageValue(const std::wstring& xml, int index, const wchar_t* openTag);

// --- List views -----------------------------------------------------------

void InsertListColumn(HWND list, int column, const std::wstring& heading, int format, int width);
int AppendListRow(HWND list, int image, const std::vector<std::wstring>& cells);
std::wstring ListCell(HWND list, int row, int column);
void SetListCell(HWND list, int row, int column, const std::wstring& text);
int ListRowImage(HWND list, int row);
void SetListRowImage(HWND list, int row, int image);
int ListRowCount(HWND list);
bool ListRowSelected(HWND list, int row);
int ListSelectedCount(HWND list);
// The report-list look of the program: full-row select, double buffering,
// the "explorer" theme and the shared small image list.
void PrepareReportList(HWND list, HIMAGELIST stateImages);
// The headings of IDS_INFO_COLUMNS, split at ";".
std::wstring InfoColumnHeading(int piece);

// --- Drops ----------------------------------------------------------------

// The files of dropped data (CF_HDROP), whole whatever their length.
std::vector<std::wstring> DroppedFiles(IDataObject* data);
