// Helpers shared by the split, merge/export and delete/edit pages: the
// open and save pickers for WIM files, path tests, questions, list-view cells, the look-up of image
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

// The pickers for WIM files (win/pickers.h): default extension ".WIM" and
// the filter "Windows Imaging File (*.WIM)". Several files to open:
bool PickWimFiles(HWND owner, std::vector<std::wstring>& paths);
// One file to open or save: its path, or empty on Cancel.
std::wstring PickWimFile(HWND owner, bool save, DWORD flags = 0);

// --- Paths ----------------------------------------------------------------


// --- Image values ---------------------------------------------------------

// The text of an element of an image as a person reads it: the XML value
// with its character references decoded ("&amp;" becomes "&").
std::wstring ImageValue(const std::wstring& xml, int index, const wchar_t* openTag);

// --- List views -----------------------------------------------------------

void InsertListColumn(HWND list, int column, const std::wstring& heading, int format, int width);
int AppendListRow(HWND list, int image, const std::vector<std::wstring>& cells);
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
