// The application object: owns what several parts of the program share
// (back ends, settings, capture lists, flags, the shared image list, the
// progress displays, the overlay tip) and runs start-up, the main window
// and exit.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/command_line.h"
#include "app/settings.h"
#include "controls/control_context.h"
#include "engine/engine_host.h"
#include "win/gdiplus.h"

class CMyTipWnd;
class CPage_Progress;
class CPage_TaskQueue;
class CQuarryDlg;
class Dialog;

class CQuarryApp : public EngineHost {
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
  void ShowTip(const std::wstring& text);
  // Opens popup `index` of menu 139 at the cursor; its commands go to `owner`.
  void ShowPopupMenu(int index, HWND owner);
  // Radio mark and greying of the back-end items of an opening menu.
  void UpdateBackendMenu(HMENU menu) const;

  bool IsEasyMode() const { return settings.mode == 1; }
  CPage_Progress* ProgressView() const;
  CPage_TaskQueue* TaskQueueView() const;

  // Where settings and capture lists are read and written; by default the
  // INI file beside the executable.
  std::wstring settingsPath;
  Settings settings;

  std::wstring programPath;    // full path of the executable
  std::wstring programFolder;  // with the trailing "\"
  OSVERSIONINFOEXW windowsVersion = {};
  bool visualStylesActive = false;
  HIMAGELIST stateImages = nullptr;  // shared 24x24 state pictures
  HICON stateIcons[kListIconCount] = {};

  // The file to open once the main window is up (kOpen, kInformation,
  // kEdit), or kNone.
  CommandKind shellTaskKind = CommandKind::kNone;
  std::wstring shellTaskPath;

  CQuarryDlg* mainDialog = nullptr;
  Dialog* currentPage = nullptr;     // the tab page last shown
  CMyTipWnd* tipWindow = nullptr;    // the overlay tip, null when none
  // Set by the task runner for the whole of a run of the queue; while it is
  // set no page starts an operation and the queue's rows stay as they are.
  volatile LONG taskRunnerActive = 0;

 private:
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
  void BuildStateImages();

  GdiplusSession gdiplus_;
  HHOOK keyboardHook_ = nullptr;
  bool oleStarted_ = false;
  CQuarryApp* previous_ = nullptr;
};
