// What the custom-drawn controls take from the application: whether visual
// styles were active at start-up, the row icons of the report lists, and
// the private clipboard format that marks the program's own drag data.
// The application fills it once at start-up, before any control exists.
#pragma once
#include <windows.h>
#include <commctrl.h>

constexpr int kListIconCount = 6;

struct ControlContext {
  bool themed = false;
  // Row icons of CWimListCtrl outside file-list mode, by image index 0-5.
  HICON listIcons[kListIconCount] = {};
  // Image list of the browser's file icons (file-list mode), set by the browser.
  HIMAGELIST fileIcons = nullptr;
};

ControlContext& Controls();

// The clipboard format that the program's drag sources add to their data;
// every drop target of the program refuses data that carries it. Registered
// on first use under a fixed name.
CLIPFORMAT PrivateClipboardFormat();
