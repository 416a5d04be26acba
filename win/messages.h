// Private window messages of the program: every one in this one table,
// each number used once (two at WM_USER + 101 share a number on purpose:
// they go to different windows). Pages, controls and worker threads send or
// post them to the main window or to a page. Work that a worker hands to a
// window's thread goes through RunOnWindowThread (win/window_thread.h).
#pragma once
#include <windows.h>

enum : UINT {
  // Posted to the main window by a page's "M" button: open the main menu.
  UM_SHOW_MAIN_MENU = WM_USER + 101,
  // Sent by a drop-target edit to its parent page after a file was dropped
  // into it; wParam = the edit's control id. Shares its number with
  // UM_SHOW_MAIN_MENU: the main window never receives it.
  UM_EDIT_DROPPED = WM_USER + 101,
  // Posted to a progress bar's parent when the bar reaches 100.
  UM_PROGRESS_DONE = WM_USER + 102,
  // Posted to the main window: switch to the advanced mode.
  UM_SWITCH_ADVANCED = WM_USER + 104,
  // Shell change notification of the browser page.
  UM_SHELL_CHANGE = WM_USER + 105,
  // Posted to the main window after a file changed: refresh the Info page.
  UM_REFRESH_INFO = WM_USER + 108,

  // Sent to the main window by the progress page and by whoever starts or
  // ends an operation: wParam 1 enables the five tab buttons, 0 disables
  // them; both redraw them.
  UM_ENABLE_TABS = WM_APP + 20,
  // Sent to the main window by the task queue page's "<" button: close the
  // queue and go back to the tab shown before it.
  UM_CLOSE_TASK_QUEUE = WM_APP + 21,

  // Sent by RunOnWindowThread; lParam: the work, run on receipt.
  UM_RUN_ON_WINDOW_THREAD = WM_APP + 1,
  // Posted to the main window by its keyboard hook: wParam the key, lParam
  // 1 with Ctrl.
  UM_SHORTCUT = WM_APP + 10,
  // Posted to the about box when the update check has its answer.
  UM_UPDATE_CHECKED = WM_APP + 23,
  // Posted to the configuration editor after a root's check box changed;
  // wParam: the root item, lParam: 1 when checked.
  UM_ROOT_CHECKED = WM_APP + 30,
  // Posted by the unmount worker to the mount manager. STARTED: lParam a
  // new std::wstring with the mount path now being unmounted, deleted by
  // the receiver; REFRESH: one job is done; FINISHED: the worker has ended;
  // FAILED: an image could not be unmounted, lParam a new UnmountFailure,
  // deleted by the receiver.
  UM_UNMOUNT_STARTED = WM_APP + 40,
  UM_UNMOUNT_REFRESH = WM_APP + 41,
  UM_UNMOUNT_FINISHED = WM_APP + 42,
  UM_UNMOUNT_FAILED = WM_APP + 43,
  // Posted to the extraction dialog of the browser when its worker ended.
  UM_EXTRACT_DONE = WM_APP + 50,
  // Posted to the shell-task dialog by the operation's thread: wParam the
  // percentage done, in thousandths.
  UM_SHELL_TASK_PERCENT = WM_APP + 51,
};
