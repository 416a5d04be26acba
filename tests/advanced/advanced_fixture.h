// The main window of Quarry run on a user-interface thread of its own
// inside the test program, exactly as Quarry.exe runs it (the modal main
// dialog), so the test thread can click and type into it, answer its
// message boxes and file dialogs through their seams, and wait for its
// modal dialogs to appear. Files are judged with wimlib-imagex.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"
#include "gui.h"
#include "harness.h"
#include "held_operation.h"

struct ShownMessage {
  std::wstring text;
  std::wstring caption;
  UINT style = 0;
};

class AdvancedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Back end by the main menu's command.
  void UseBackend(BackendKind kind);
  // The "高级" tab, and one of its pages by radio button.
  void ShowAdvancedTab();
  void ClickRadio(int id);
  // Shows the delete page and opens `wim` there with its "打开" button (the
  // picker answering with it).
  void OpenOnDeletePage(const std::wstring& wim);

  CPage_Advanced& host() { return dialog_->advancedPage(); }
  HWND hostWnd() { return host().hwnd(); }
  HWND splitWnd() { return host().splitPage().hwnd(); }
  HWND mergeWnd() { return host().mergePage().hwnd(); }
  HWND deleteWnd() { return host().deletePage().hwnd(); }
  HWND progressWnd() { return dialog_->progressPage().hwnd(); }
  // The main window's operation runner: busy while an operation or a run
  // of the task queue goes on.
  OperationRunner& runner() { return dialog_->runner(); }

  // An operation that holds the runner (in a run of the task queue with
  // `queue`), started on the window's thread, as every operation is; it
  // ends, on that thread too, when EndHeld is given it.
  std::unique_ptr<qtest::HeldOperation> HoldRunner(bool queue);
  void EndHeld(std::unique_ptr<qtest::HeldOperation>& held);

  // A click that may open a modal dialog: posted, so the test goes on.
  void PostClick(HWND parent, int id);
  // A click whose effects are done when it returns.
  void Click(HWND parent, int id) { qtest::ClickButton(parent, id); }
  void Type(HWND parent, int id, const std::wstring& text) { qtest::TypeText(GetDlgItem(parent, id), text); }
  std::wstring Text(HWND parent, int id) { return qtest::WindowText(GetDlgItem(parent, id)); }
  // Runs code on the window's thread (for page calls that are not clicks).
  void OnUiThread(const std::function<void()>& work);

  // Message boxes: every one is recorded; `answer` decides the button.
  std::function<int(const ShownMessage&)> answer;
  std::vector<ShownMessage> Messages();
  bool WaitForMessage(const std::wstring& text, DWORD timeoutMs = 20000);
  void ClearMessages();
  // File dialogs: the next answers, one per dialog (empty = Cancel).
  void QueueFileAnswer(std::vector<std::wstring> paths);
  int FileDialogsShown();

  // The progress page: waits for the result and returns its text; presses
  // "确定" so the page that ran the operation shows again.
  std::wstring WaitForResult(DWORD timeoutMs = 120000);

  // A modal dialog of the program with this caption, or null.
  HWND WaitForDialog(const std::wstring& caption, DWORD timeoutMs = 20000);

  // List view of a page.
  int Rows(HWND list);
  std::wstring Cell(HWND list, int row, int column);
  int RowImage(HWND list, int row);
  void SelectRows(HWND list, const std::vector<int>& rows);
  void ClickCell(HWND list, int row, int column, UINT message = WM_LBUTTONDOWN);

  // Files made with wimlib-imagex from a fresh tree: `images` images of
  // the tree named "Image 1", "Image 2"... Extra options go to capture.
  std::wstring MakeWim(const std::wstring& name, int images, const std::string& options = "");
  // A one-image file of `files` files of incompressible data, each of
  // `bytes` bytes, captured from a fresh folder (returned in `folder`).
  std::wstring MakeNoiseWim(const std::wstring& name, int files, size_t bytes, std::wstring* folder = nullptr);
  // The folder a MakeWim file was captured from.
  std::wstring SourceTree() const { return tree_; }
  // "wimlib-imagex info" output of a file.
  std::string Info(const std::wstring& wim, const std::string& extra = "");
  // One field ("Name", "Boot Index", ...) of image `image` (0: the file's header part).
  std::string InfoField(const std::wstring& wim, int image, const std::string& field);
  int ImageCount(const std::wstring& wim);

  std::wstring dir_;
  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CQuarryDlg> dialog_;
  HWND main_ = nullptr;

 private:
  static DWORD WINAPI UiThread(void* self);
  std::wstring tree_;
  HANDLE uiThread_ = nullptr;
  HANDLE ready_ = nullptr;
  std::mutex lock_;
  std::vector<ShownMessage> messages_;
  std::vector<std::vector<std::wstring>> fileAnswers_;
  int fileDialogs_ = 0;
};
