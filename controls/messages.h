// Private window messages of the program (WM_USER + 101 and up). Pages,
// controls and worker threads send or post them to the main window or to a
// page; the table of who sends what lives with the main window.
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
};
