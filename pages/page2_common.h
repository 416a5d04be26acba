// Helpers shared by the split, merge/export and delete/edit pages: the
// open and save pickers for WIM files, path tests, questions, list-view cells, the look-up of image
// values in a file's XML information, and the hand-over of window work
// from a worker thread to the user-interface thread.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <functional>
#include <string>
#include <vector>

#include "pages/page_paths.h"

// --- File dialogs ---------------------------------------------------------

// The pickers for WIM files (win/pickers.h): default extension ".WIM" and
// the filter "Windows Imaging File (*.WIM)". Several files to open:
bool PickWimFiles(HWND owner, std::vector<std::wstring>& paths);
// One file to open or save: its path, or empty on Cancel.
std::wstring PickWimFile(HWND owner, bool save, DWORD flags = 0);

// --- Paths ----------------------------------------------------------------

// True when the last four characters are ".wim" (ASCII case ignored).
bool HasWimExtension(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Full path of any length (the path itself when it cannot be resolved).
std::wstring FullPath(const std::wstring& path);
// True when both name the same file: full paths equal, ASCII case ignored.
bool SamePath(const std::wstring& a, const std::wstring& b);
// ASCII-case-insensitive comparison.
bool EqualNoCase(const std::wstring& a, const std::wstring& b);

// --- Messages -------------------------------------------------------------

// A message box owned by the main window.
int PageMessage(const std::wstring& text, const std::wstring& caption, UINT style);
// The confirmation form: the path, one blank, then the question.
bool AskAboutPath(const std::wstring& path, UINT questionId, UINT captionId, UINT icon);
// Moves the keyboard focus to the main window.
void FocusMainWindow();
HWND MainWindow();

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
void PrepareReportList(HWND list);
// The headings of string 253, split at ";".
std::wstring InfoColumnHeading(int piece);

// --- Worker to user-interface thread --------------------------------------

// Runs `work` on the thread of `window` and returns when it is done; false
// (nothing run) when the window no longer exists.
bool RunOnWindowThread(HWND window, const std::function<void()>& work);
// The message a page must answer with HandleRunOnWindowThread.
extern const UINT kMsgRunOnWindowThread;
bool HandleRunOnWindowThread(UINT msg, LPARAM lParam);

// --- Drops ----------------------------------------------------------------

// The files of dropped data (CF_HDROP), whole whatever their length.
std::vector<std::wstring> DroppedFiles(IDataObject* data);

// --- Operations -----------------------------------------------------------

class Dialog;
// StartOperation, after waiting briefly for a worker that has already
// given BusyFlag back but whose thread has not quite ended.
bool StartPageOperation(Dialog* page, DWORD(WINAPI* work)(void*), void* arg);
// For an operation without the progress page: gives BusyFlag back and
// enables the tabs again. Called on the user-interface thread.
void EndPageOperation();
