// The popups of the menu resource IDR_MENU_MAIN by name. Each is known by
// the command of its first item, never by its place in the resource, so a
// popup moved or added there still opens as itself.
#pragma once
#include <windows.h>

#include "resources/resource.h"

enum class PopupMenu : UINT {
  kMain = ID_SWITCH_EASY,              // the "M" buttons of the advanced pages
  kEasyMain = ID_SWITCH_ADVANCED,      // the menu button of the easy page
  kInfo = ID_INFO_COPY,                // the information page
  kMounts = ID_MOUNT_UNMOUNT,          // the mounted-images window
  kCaptureListTree = ID_TREE_ADD,      // the tree of the capture configuration editor
  kMergeExport = ID_MERGE_ADD,         // the merge and export page
  kApply = ID_APPLY_OPEN,              // the apply page
  kEasyContext = ID_EASY_CLEAR_ALL,    // a right click on the easy page
  kDeleteEdit = ID_DELETE_OPEN,        // the delete and edit page
  kBrowser = ID_BROWSER_EXTRACT,       // the browser page
};

// The popup of `menu` (a loaded IDR_MENU_MAIN) whose first item is the
// popup's command; null when the resource has none.
inline HMENU FindPopupMenu(HMENU menu, PopupMenu which) {
  int count = menu ? GetMenuItemCount(menu) : 0;
  for (int i = 0; i < count; i++) {
    HMENU popup = GetSubMenu(menu, i);
    if (popup && GetMenuItemID(popup, 0) == static_cast<UINT>(which)) return popup;
  }
  return nullptr;
}
