// What the operation pages, the task queue, the progress page and the mount
// manager need from the program around them: the settings, the shared state
// pictures, the main window with its tabs, menus, tip and jumps, and the
// progress displays. The application implements it; the main window hands
// it to every page it creates, so no page looks for the application.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "config/capture_lists.h"
#include "config/settings.h"
#include "engine/backend.h"
#include "engine/engine_host.h"
#include "engine/operation.h"
#include "resources/popup_menus.h"

class CPage_Progress;
class CPage_TaskQueue;
class Dialog;

struct Workbench : EngineHost {
  virtual ~Workbench() = default;

  // Shows a notice over the main window for five seconds.
  virtual void ShowTip(const std::wstring& text) = 0;
  // Opens a popup of the main menu resource at the cursor; its commands go
  // to `owner`.
  virtual void ShowPopupMenu(PopupMenu which, HWND owner) = 0;
  // Moves the main window to the page of a jump command with `path`.
  virtual void JumpTo(UINT command, const std::wstring& path) = 0;
  // Radio mark and greying of the back-end items of an opening menu.
  virtual void UpdateBackendMenu(HMENU menu) const = 0;

  // The engine's errors, notices and abort question as message boxes owned
  // by the main window.
  void ShowError(const std::wstring& text) override;
  void ShowNotice(EngineNotice notice) override;
  bool ConfirmAbort() override;

  bool IsEasyMode() const { return settings.mode == 1; }
  // The progress page and the task queue page. The main window makes them
  // after it has painted itself; asked for before that, they are made
  // first (user-interface thread). Null only when they cannot be made.
  CPage_Progress* ProgressView() const;
  CPage_TaskQueue* TaskQueueView() const;
  // Where an operation started from a page reports: the progress page.
  ProgressTarget* PageProgress() const;
  // Where a task of the queue reports: the task queue page.
  ProgressTarget* QueueProgress() const;
  // The shared 24 x 24 state pictures, made at their first use: no page the
  // window shows at start needs them (user-interface thread). Null when
  // they cannot be made.
  HIMAGELIST StateImages();
  // Gives the keyboard focus to the main window, if there is one.
  void FocusMainWindow() const {
    if (mainWindow) SetFocus(mainWindow);
  }

  // The back end an operation started now runs on, with what it takes from
  // the settings (user-interface thread).
  BackendChoice Choice() const;
  BackendChoice Choice(BackendKind backend) const;

  // The back ends bound at start-up, for the program's life.
  Backends backends;
  BackendKind backendKind = kBackendWimgapi;  // the one selected now
  HWND mainWindow = nullptr;       // owner of the program's message boxes
  std::wstring tempFolder;         // the temporary folder given to WIMGAPI
  bool runningFromDriveX = false;  // Windows PE: temporary files go to the WIM's drive
  CaptureLists captureLists;       // reloaded on the user-interface thread only

  // Where settings and capture lists are read and written.
  std::wstring settingsPath;
  Settings settings;

  OSVERSIONINFOEXW windowsVersion = {};
  bool visualStylesActive = false;
  Dialog* currentPage = nullptr;     // the tab page last shown
  // The progress displays; null while their windows do not exist.
  CPage_Progress* progressPage = nullptr;
  CPage_TaskQueue* taskQueuePage = nullptr;

 protected:
  // Makes the windows of the progress displays that do not exist yet.
  virtual void MakeProgressViews() const {}
  // Makes stateImages_ (and the pictures the lists draw from).
  virtual void MakeStateImages() {}

  HIMAGELIST stateImages_ = nullptr;
};
