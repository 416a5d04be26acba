// Private window messages of the program: every one in this one table, in
// one range, each with a number of its own. Pages and controls send or post
// them to the main window or to a page on the window's own thread. A worker
// thread has no message of its own: what it hands to a window goes through
// RunOnWindowThread or PostToWindowThread (win/window_thread.h).
#pragma once
#include <windows.h>

enum : UINT {
  // Sent by RunOnWindowThread; lParam: the work, run on receipt.
  UM_RUN_ON_WINDOW_THREAD = WM_APP + 1,
  // Posted by PostToWindowThread, one for each piece of work: the next
  // piece kept for the window is due.
  UM_RUN_POSTED_WORK = WM_APP + 2,

  // Posted to the main window by its keyboard hook: wParam the key, lParam
  // 1 with Ctrl.
  UM_SHORTCUT = WM_APP + 10,
  // Posted to the main window by a page's "M" button: open the main menu.
  UM_SHOW_MAIN_MENU = WM_APP + 11,
  // Posted to the main window: switch to the advanced mode.
  UM_SWITCH_ADVANCED = WM_APP + 12,
  // Posted to the main window after a file changed: refresh the Info page.
  UM_REFRESH_INFO = WM_APP + 13,

  // Sent to the main window by the progress page and by whoever starts or
  // ends an operation: wParam 1 enables the five tab buttons, 0 disables
  // them; both redraw them.
  UM_ENABLE_TABS = WM_APP + 20,
  // Sent to the main window by the task queue page's "<" button: close the
  // queue and go back to the tab shown before it.
  UM_CLOSE_TASK_QUEUE = WM_APP + 21,

  // Sent by a drop-target edit to its parent page after a file was dropped
  // into it; wParam = the edit's control id.
  UM_EDIT_DROPPED = WM_APP + 30,
  // Posted to a progress bar's parent when the bar reaches 100.
  UM_PROGRESS_DONE = WM_APP + 31,
  // Shell change notification of the browser page.
  UM_SHELL_CHANGE = WM_APP + 32,
  // Posted to the configuration editor after a root's check box changed;
  // wParam: the root item, lParam: 1 when checked.
  UM_ROOT_CHECKED = WM_APP + 33,
  // Posted to the main window by itself once it is shown: the pages the
  // window does not show at once are made, one per message.
  UM_CREATE_PAGES = WM_APP + 34,
};

namespace private_messages {
constexpr UINT kAll[] = {UM_RUN_ON_WINDOW_THREAD, UM_RUN_POSTED_WORK, UM_SHORTCUT,     UM_SHOW_MAIN_MENU,
                         UM_SWITCH_ADVANCED,      UM_REFRESH_INFO,    UM_ENABLE_TABS,  UM_CLOSE_TASK_QUEUE,
                         UM_EDIT_DROPPED,         UM_PROGRESS_DONE,   UM_SHELL_CHANGE, UM_ROOT_CHECKED,
                         UM_CREATE_PAGES};
constexpr bool AllDistinct() {
  for (UINT a : kAll) {
    int seen = 0;
    for (UINT b : kAll) seen += a == b;
    if (seen != 1) return false;
  }
  return true;
}
static_assert(AllDistinct(), "two private messages share a number");
}  // namespace private_messages
