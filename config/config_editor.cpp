#include "config/config_editor.h"

#include <uxtheme.h>

#include "config/settings.h"
#include "config/capture_import.h"
#include "config/import_dlg.h"
#include "resources/resource.h"
#include "resources/popup_menus.h"
#include "win/message_box.h"
#include "win/messages.h"
#include "win/strings.h"

namespace {
constexpr int kTextChars = 32768;  // patterns are never cut

bool IsBlank(const std::wstring& text) { return text.find_first_not_of(L' ') == std::wstring::npos; }

// A root's check box was clicked: wParam is the root, lParam its state
// before the click. Handled once the tree has toggled the box.

}  // namespace

CEditCfgDLG::CEditCfgDLG(const std::wstring& settingsPath, CaptureLists& lists)
    : Dialog(IDD_CONFIG_EDITOR), settingsPath_(settingsPath), lists_(lists) {}

bool CEditCfgDLG::IsStorablePattern(const std::wstring& pattern) {
  return pattern.find_first_of(L"|:") == std::wstring::npos;
}

bool CEditCfgDLG::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY))));
  HWND tree = Tree();
  SetWindowTheme(tree, L"explorer", nullptr);
  // Taking the check-box style away and back makes the tree build its
  // check-box pictures.
  LONG_PTR style = GetWindowLongPtrW(tree, GWL_STYLE);
  SetWindowLongPtrW(tree, GWL_STYLE, style & ~TVS_CHECKBOXES);
  SetWindowLongPtrW(tree, GWL_STYLE, style | TVS_CHECKBOXES);
  TreeView_SetItemHeight(tree, 25);

  StoredCaptureLists stored = ReadStoredCaptureLists(settingsPath_);
  if (stored.Empty()) stored = DefaultCaptureLists();
  Fill(stored, false);
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  return true;
}

void CEditCfgDLG::CreateRoots() {
  std::vector<std::wstring> captions = SplitFields(LoadStr(IDS_CONFIG_LIST_NAMES));
  for (int i = 0; i < kCaptureListCount; i++) {
    std::wstring caption = i < static_cast<int>(captions.size()) ? captions[i] : kCaptureListNames[i];
    TVINSERTSTRUCTW insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = &caption[0];
    roots_[i] = TreeView_InsertItem(Tree(), &insert);
  }
}

HTREEITEM CEditCfgDLG::AddChild(HTREEITEM root, const std::wstring& text, bool checked) {
  std::wstring copy = text;
  TVINSERTSTRUCTW insert = {};
  insert.hParent = root;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT;
  insert.item.pszText = &copy[0];
  HTREEITEM item = TreeView_InsertItem(Tree(), &insert);
  if (item) SetChecked(item, checked);
  return item;
}

// Empties the tree and shows `lists`: every root ticked; roots with
// entries expanded (all four when expandAll).
void CEditCfgDLG::Fill(const StoredCaptureLists& lists, bool expandAll) {
  HWND tree = Tree();
  TreeView_DeleteAllItems(tree);
  CreateRoots();
  for (int i = 0; i < kCaptureListCount; i++) {
    for (const CaptureListEntry& entry : lists.entries[i]) AddChild(roots_[i], entry.pattern, entry.enabled);
    if (expandAll || !lists.entries[i].empty()) TreeView_Expand(tree, roots_[i], TVE_EXPAND);
    SetChecked(roots_[i], true);
  }
  TreeView_EnsureVisible(tree, roots_[0]);
}

std::wstring CEditCfgDLG::ItemTextOf(HTREEITEM item) const {
  std::wstring text(kTextChars, L'\0');
  TVITEMW tv = {TVIF_TEXT};
  tv.hItem = item;
  tv.pszText = &text[0];
  tv.cchTextMax = kTextChars;
  if (!TreeView_GetItem(Tree(), &tv)) return L"";
  text.resize(wcslen(text.c_str()));
  return text;
}

bool CEditCfgDLG::IsChecked(HTREEITEM item) const { return TreeView_GetCheckState(Tree(), item) == 1; }

void CEditCfgDLG::SetChecked(HTREEITEM item, bool on) { TreeView_SetCheckState(Tree(), item, on ? TRUE : FALSE); }

StoredCaptureLists CEditCfgDLG::TreeContents() const {
  StoredCaptureLists lists;
  HWND tree = Tree();
  for (int i = 0; i < kCaptureListCount; i++) {
    for (HTREEITEM child = TreeView_GetChild(tree, roots_[i]); child; child = TreeView_GetNextSibling(tree, child))
      lists.entries[i].push_back({ItemTextOf(child), IsChecked(child)});
  }
  return lists;
}

void CEditCfgDLG::RestoreDefaults() {
  if (AppMessageBox(hwnd_, LoadStr(IDS_ASK_LOAD_DEFAULTS), L"Quarry", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  Fill(DefaultCaptureLists(), false);
}

void CEditCfgDLG::Import() {
  std::wstring path = AskImportFile(hwnd_);
  if (path.empty()) return;
  StoredCaptureLists lists;
  bool read = ImportCaptureFile(path, lists);
  Fill(lists, true);
  if (!read) AppMessageBox(hwnd_, path + L"\n" + LoadStr(IDS_IMPORT_FAILED), L"Quarry", MB_ICONERROR);
}

void CEditCfgDLG::AddEntry() {
  HWND tree = Tree();
  HTREEITEM selected = TreeView_GetSelection(tree);
  if (!selected) return;
  HTREEITEM parent = TreeView_GetParent(tree, selected);
  HTREEITEM root = parent ? parent : selected;
  HTREEITEM item = AddChild(root, L"         ", true);
  if (!item) return;
  TreeView_Expand(tree, root, TVE_EXPAND);
  TreeView_SelectItem(tree, item);
  SetFocus(tree);
  TreeView_EditLabel(tree, item);
}

void CEditCfgDLG::DeleteEntry() {
  HWND tree = Tree();
  HTREEITEM selected = TreeView_GetSelection(tree);
  if (selected && TreeView_GetParent(tree, selected)) TreeView_DeleteItem(tree, selected);
}

void CEditCfgDLG::EditEntry() {
  HWND tree = Tree();
  HTREEITEM selected = TreeView_GetSelection(tree);
  if (selected && TreeView_GetParent(tree, selected)) {
    SetFocus(tree);
    TreeView_EditLabel(tree, selected);
  }
}

void CEditCfgDLG::ShowContextMenu() {
  HWND tree = Tree();
  TVHITTESTINFO hit = {};
  GetCursorPos(&hit.pt);
  POINT screen = hit.pt;
  ScreenToClient(tree, &hit.pt);
  HTREEITEM item = TreeView_HitTest(tree, &hit);
  TreeView_SelectItem(tree, item);
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_MAIN));
  HMENU popup = FindPopupMenu(menu, PopupMenu::kCaptureListTree);
  if (popup) {
    HTREEITEM selected = TreeView_GetSelection(tree);
    bool child = selected && TreeView_GetParent(tree, selected);
    EnableMenuItem(popup, ID_TREE_ADD, MF_BYCOMMAND | (child || !selected ? MF_GRAYED : MF_ENABLED));
    EnableMenuItem(popup, ID_TREE_DELETE, MF_BYCOMMAND | (child ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(popup, ID_TREE_EDIT, MF_BYCOMMAND | (child ? MF_ENABLED : MF_GRAYED));
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, hwnd_, nullptr);
  }
  if (menu) DestroyMenu(menu);
}

// A click on a root's check box gives all its children the root's new state.
void CEditCfgDLG::OnCheckClick() {
  HWND tree = Tree();
  TVHITTESTINFO hit = {};
  GetCursorPos(&hit.pt);
  ScreenToClient(tree, &hit.pt);
  HTREEITEM item = TreeView_HitTest(tree, &hit);
  if (!item || !(hit.flags & TVHT_ONITEMSTATEICON) || TreeView_GetParent(tree, item)) return;
  PostMessageW(hwnd_, UM_ROOT_CHECKED, reinterpret_cast<WPARAM>(item), IsChecked(item) ? 1 : 0);
}

void CEditCfgDLG::OnRootChecked(HTREEITEM root, bool before) {
  // The children take the root's new state, the opposite of its old one.
  bool newState = !before;
  SetChecked(root, newState);
  for (HTREEITEM child = TreeView_GetChild(Tree(), root); child; child = TreeView_GetNextSibling(Tree(), child))
    SetChecked(child, newState);
}

bool CEditCfgDLG::OnEndLabelEdit(NMTVDISPINFOW* info) {
  HTREEITEM item = info->item.hItem;
  // One answer per edit, however often the tree reports its end.
  if (item != editing_) return false;
  editing_ = nullptr;
  if (info->item.pszText) {
    std::wstring text = info->item.pszText;
    if (IsStorablePattern(text)) return true;  // the tree takes the text as typed
    AppMessageBox(hwnd_, LoadStr(IDS_BAD_PATTERN), L"Quarry", MB_ICONEXCLAMATION);
  }
  // Cancelled or refused: an entry that never got a text goes away.
  if (IsBlank(ItemTextOf(item))) TreeView_DeleteItem(Tree(), item);
  return false;
}

bool CEditCfgDLG::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_TREE) return false;
  switch (header->code) {
    case TVN_BEGINLABELEDITW: {
      auto* info = reinterpret_cast<NMTVDISPINFOW*>(header);
      const bool root = TreeView_GetParent(Tree(), info->item.hItem) == nullptr;
      result = root ? TRUE : FALSE;  // roots keep their captions
      editing_ = root ? nullptr : info->item.hItem;
      return true;
    }
    case TVN_ENDLABELEDITW:
      result = OnEndLabelEdit(reinterpret_cast<NMTVDISPINFOW*>(header)) ? TRUE : FALSE;
      return true;
    case TVN_KEYDOWN: {
      WORD key = reinterpret_cast<NMTVKEYDOWN*>(header)->wVKey;
      if (key == VK_DELETE) DeleteEntry();
      // Space toggles the selected item's box as a click on it does.
      HTREEITEM selected = TreeView_GetSelection(Tree());
      if (key == VK_SPACE && selected && !TreeView_GetParent(Tree(), selected))
        PostMessageW(hwnd_, UM_ROOT_CHECKED, reinterpret_cast<WPARAM>(selected), IsChecked(selected) ? 1 : 0);
      return false;
    }
    case NM_RCLICK:
      ShowContextMenu();
      result = TRUE;
      return true;
    case NM_CLICK:
      OnCheckClick();
      return false;
    default:
      return false;
  }
}

bool CEditCfgDLG::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_CFG_IMPORT:
      Import();
      return true;
    case IDC_CFG_DEFAULTS:
      RestoreDefaults();
      return true;
    case ID_TREE_ADD:
      AddEntry();
      return true;
    case ID_TREE_DELETE:
      DeleteEntry();
      return true;
    case ID_TREE_EDIT:
      EditEntry();
      return true;
    default:
      return false;
  }
}

void CEditCfgDLG::OnOK() {
  // Enter while a label is being edited ends the edit, not the dialog.
  if (editing_) {
    TreeView_EndEditLabelNow(Tree(), FALSE);
    return;
  }
  StoredCaptureLists lists = TreeContents();
  WriteStoredCaptureLists(lists, settingsPath_);
  // Only the lists are taken up again, exactly as just stored (enabled
  // patterns, whole): the back end, mode and last folder that this session
  // holds in memory stay as they are. A capture running now works on its
  // own copy of the lists.
  CaptureLists enabled;
  for (int i = 0; i < kCaptureListCount; i++)
    for (const CaptureListEntry& entry : lists.entries[i])
      if (entry.enabled) enabled.patterns[i].push_back(entry.pattern);
  lists_ = enabled;
  EndDialog(IDOK);
}

void CEditCfgDLG::Layout(int w, int h) {
  MoveItem(Tree(), 15, 18, w - 30, h - 36 - 50, true);
  MoveItem(Item(IDCANCEL), w - 100, h - 40, 85, 25, true);
  MoveItem(Item(IDOK), w - 200, h - 40, 85, 25, true);
  MoveItem(Item(IDC_CFG_DEFAULTS), w - 300, h - 40, 85, 25, true);
  MoveItem(Item(IDC_CFG_IMPORT), 15, h - 40, 95, 25, true);
}

bool CEditCfgDLG::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return true;
    case WM_GETMINMAXINFO:
      SetMinTrackSize(lParam, 518, 470);
      return true;
    case UM_ROOT_CHECKED:
      OnRootChecked(reinterpret_cast<HTREEITEM>(wParam), lParam != 0);
      return true;
    case WM_COMMAND:
      // Escape while a label is being edited cancels the edit only.
      if (LOWORD(wParam) == IDCANCEL && editing_) {
        TreeView_EndEditLabelNow(Tree(), TRUE);
        return true;
      }
      return Dialog::HandleMessage(msg, wParam, lParam, result);
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
