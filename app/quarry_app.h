// The application object: owns what several parts of the program share
// (back ends, settings, capture lists, flags, the shared image list, the
// progress displays, the overlay tip) and runs start-up, the main window
// and exit.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/command_line.h"
#include "config/settings.h"
#include "controls/control_context.h"
#include "tasks/workbench.h"
#include "win/gdiplus.h"
#include "win/handles.h"

class CMyTipWnd;
class CPage_Progress;
class CPage_TaskQueue;
class CQuarryDlg;
class Dialog;

class CQuarryApp : public Workbench {
 public:
  CQuarryApp();
  ~CQuarryApp();

  // Start-up, the main window (or a shell task) and exit; the process's exit code.
  int Run(const std::wstring& commandLine);

  // The one application object of the process.
  static CQuarryApp* Instance();

  // Steps of Run, public so tests can drive them one by one. InitInstance
  // may be called once; ExitInstance undoes it and saves settings and lists.
  void InitInstance();
  void ExitInstance();

  // The command line: true when the main window is to be shown, false when
  // a shell task ran instead and the program is to end.
  bool HandleCommandLine(const std::wstring& commandLine);

  // Called by the main window at the end of its initialisation: opens the
  // file named on the command line (/I, /E or a bare path) on its page.
  void OpenStartupFile();

  // Shows a notice over the main window for five seconds, replacing any
  // notice still shown.
  void ShowTip(const std::wstring& text) override;
  // Opens a popup of IDR_MENU_MAIN at the cursor; its commands go to `owner`.
  void ShowPopupMenu(PopupMenu which, HWND owner) override;
  void JumpTo(UINT command, const std::wstring& path) override;
  // Radio mark and greying of the back-end items of an opening menu.
  void UpdateBackendMenu(HMENU menu) const override;
  void MakeProgressViews() const override;

  std::wstring programPath;    // full path of the executable
  std::wstring programFolder;  // with the trailing "\"
  HICON stateIcons[kListIconCount] = {};

  // The file to open once the main window is up (kOpen, kInformation,
  // kEdit), or kNone.
  CommandKind shellTaskKind = CommandKind::kNone;
  std::wstring shellTaskPath;

  CQuarryDlg* mainDialog = nullptr;
  CMyTipWnd* tipWindow = nullptr;    // the overlay tip, null when none

 private:
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
  void MakeStateImages() override;

  GdiplusSession gdiplus_;
  UniqueHook keyboardHook_;
  OleSession ole_;  // drag and drop with the shell, on this thread
  CQuarryApp* previous_ = nullptr;
};
