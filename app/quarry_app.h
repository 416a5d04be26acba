// The application object: owns what several parts of the program share
// (back ends, settings, flags, progress displays) and runs start-up, the
// main window and exit.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/settings.h"
#include "engine/engine_host.h"

class CQuarryDlg;

class CQuarryApp : public EngineHost {
 public:
  CQuarryApp();
  ~CQuarryApp();

  // Start-up, the main window (or a shell task) and exit; the process's exit code.
  int Run(const std::wstring& commandLine);

  // The one application object of the process.
  static CQuarryApp* Instance();

  // Steps of Run, public so tests can drive them one by one.
  void InitInstance();
  void ExitInstance();

  Settings settings;
  std::wstring programPath;    // full path of the executable
  std::wstring programFolder;  // with the trailing "\"
  OSVERSIONINFOEXW windowsVersion = {};
  bool visualStylesActive = false;
  HIMAGELIST stateImages = nullptr;  // shared 24x24 state pictures
  CQuarryDlg* mainDialog = nullptr;

 private:
  ULONG_PTR gdiplusToken_ = 0;
  HHOOK keyboardHook_ = nullptr;
  CQuarryApp* previous_ = nullptr;
};
