// A Quarry.exe of its own per test (own settings file, chosen back end),
// and what the tests need to drive and read its pages from outside: button
// presses that may open modal windows, answers to message boxes and file
// dialogs, list rows read through the other process's memory, real mouse
// clicks, and wimlib-imagex as the judge of the files made.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "gui.h"
#include "harness.h"

namespace catest {

class QuarryPages : public ::testing::Test {
 protected:
  // Starts Quarry with the back end (0 WIMGAPI, 1 wimlib) in advanced mode;
  // `moreIni` is added to its Quarry.ini.
  void StartQuarry(int backend, const std::string& moreIni = std::string());
  void TearDown() override;

  HWND Page(int templateId) const { return GetDlgItem(main_, templateId); }
  // Posts a button click, so a modal window it opens does not block the test.
  void Press(HWND page, int id);
  void SetText(HWND page, int id, const std::wstring& text);
  void SetCheck(HWND page, int id, bool on);

  // A visible dialog or message box of Quarry whose caption is `caption`.
  HWND WaitDialog(const std::wstring& caption, DWORD timeoutMs = 30000);
  // A visible message box with this text; null after the time-out.
  HWND WaitMessage(const std::wstring& text, DWORD timeoutMs = 30000);
  // True when no dialog or message box besides the main window shows.
  bool NoDialogShown() const;

  // The progress page's result text once "确定" shows; presses "确定".
  std::wstring WaitOperationResult(DWORD timeoutMs = 120000);

  // Answers the capture options dialog with OK (compression button id or 0
  // for the default, boot mark, edition index).
  void AcceptOptions(int compressionId = 0, bool boot = false, int edition = 0);

  // Answers an open or save file dialog with a path.
  void AnswerFileDialog(const std::wstring& path);

  // List rows of the Quarry process.
  int RowCount(HWND list) const;
  int RowImage(HWND list, int row) const;
  std::wstring CellText(HWND list, int row, int column) const;
  void SetRowState(HWND list, int row, UINT state);
  // A real left click on a cell (screen input).
  void ClickCell(HWND list, int row, int column);

  std::wstring folder_;
  qtest::QuarryProcess quarry_;
  HWND main_ = nullptr;
};

// wimlib-imagex info of a file (or of one image), as text.
std::string WimInfo(const std::wstring& wim, int image = 0);
// The value after "Key:" on the first line that starts with it.
std::string InfoValue(const std::string& info, const std::string& key);
// Extracts an image with wimlib-imagex and compares the tree with a
// folder (diff -r); empty when equal, else the differences.
std::string DiffAppliedImage(const std::wstring& wim, int image, const std::wstring& folder);
// diff -r of two folders; empty when equal.
std::string DiffFolders(const std::wstring& a, const std::wstring& b);

}  // namespace catest
