#include "app/quarry_dlg.h"

#include "app/about_dlg.h"
#include "app/preferences_dlg.h"
#include "app/quarry_app.h"
#include "controls/messages.h"
#include "controls/tip_wnd.h"
#include "mount/mount_view.h"
#include "resources/resource.h"

namespace {
// A key-down from the keyboard hook: wParam = virtual key, lParam = Ctrl held.
constexpr UINT kMsgShortcut = WM_APP + 10;

struct TabInfo {
  int controlId;
  UINT picture;
};
const TabInfo kTabs[CQuarryDlg::kTabCount] = {
    {IDC_TAB_CAPTURE, IDP_TAB_CAPTURE}, {IDC_TAB_APPLY, IDP_TAB_APPLY},   {IDC_TAB_ADVANCED, IDP_TAB_ADVANCED},
    {IDC_TAB_INFO, IDP_TAB_INFO},       {IDC_TAB_BROWSE, IDP_TAB_BROWSE},
};

void Place(HWND hwnd, int x, int y, int w, int h) {
  if (hwnd) SetWindowPos(hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

CQuarryDlg::CQuarryDlg(CQuarryApp& app) : Dialog(IDD_QUARRY_DIALOG), app_(app) {}

CQuarryDlg::~CQuarryDlg() {
  if (smallIcon_) DestroyIcon(smallIcon_);
}

Dialog* CQuarryDlg::TabPage(int index) {
  switch (index) {
    case 0: return &capture_;
    case 1: return &apply_;
    case 2: return &advanced_;
    case 3: return &info_;
    case 4: return &browser_;
    default: return nullptr;
  }
}

int CQuarryDlg::TabOfPage(const Dialog* page) {
  for (int i = 0; i < kTabCount; i++)
    if (TabPage(i) == page) return i;
  return -1;
}

int CQuarryDlg::SelectedTab() const {
  for (int i = 0; i < kTabCount; i++)
    if (tabs_[i].IsSelected()) return i;
  return -1;
}

// Lets files be dropped from programs of lower integrity (Vista and later).
void CQuarryDlg::AllowDropsFromLowerIntegrity() {
  if (app_.windowsVersion.dwMajorVersion < 6) return;
  using FilterFn = BOOL(WINAPI*)(UINT, DWORD);
  auto filter = reinterpret_cast<FilterFn>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilter"));
  if (!filter) return;
  const DWORD kAdd = 1;  // MSGFLT_ADD
  filter(WM_DROPFILES, kAdd);
  filter(WM_COPYDATA, kAdd);
  filter(0x0049, kAdd);  // WM_COPYGLOBALDATA
}

bool CQuarryDlg::CreatePages() {
  Dialog* pages[] = {&capture_, &apply_, &advanced_, &info_, &browser_, &easy_, &queue_, &progress_};
  for (Dialog* page : pages) {
    if (!page->CreateView(hwnd_)) return false;
  }
  for (int i = 0; i < kTabCount; i++) {
    TabPage(i)->Show(false);
    tabs_[i].AttachDlgItem(hwnd_, kTabs[i].controlId);
  }
  queue_.Show(false);
  progress_.Show(false);
  return true;
}

bool CQuarryDlg::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  bigIcon_ = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARRY), IMAGE_ICON, 16, 16, 0));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  app_.mainWindow = hwnd_;
  app_.mainDialog = this;

  AllowDropsFromLowerIntegrity();

  baseTitle_ = L"KLO Quarry";
  if (!CreatePages()) {
    EndDialog(IDABORT);
    return false;
  }
  SelectTab(0);
  app_.currentPage = &capture_;
  Layout();
  for (int i = 0; i < kTabCount; i++) tabs_[i].SetImage(kTabs[i].picture);
  app_.taskQueuePage = &queue_;

  if (app_.settings.mode == 1) SwitchToEasyMode();
  else SwitchToAdvancedMode();

  baseTitle_ += sizeof(void*) == 8 ? L" x64" : L" x86";
  UpdateTitle();

  SetWindowPos(hwnd_, nullptr, 0, 0, 920, 550, SWP_NOZORDER | SWP_NOMOVE);
  RECT window, screen;
  GetWindowRect(hwnd_, &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
  int x = screen.left + ((screen.right - screen.left) - (window.right - window.left)) / 2;
  int y = screen.top + ((screen.bottom - screen.top) - (window.bottom - window.top)) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);

  app_.OpenStartupFile();
  return true;
}

void CQuarryDlg::UpdateTitle() {
  SetText(baseTitle_ + (app_.backendKind == kBackendWimlib ? L" (WIMLIB)" : L" (WIMGAPI)"));
}

void CQuarryDlg::SelectBackend(BackendKind kind) {
  app_.backendKind = kind;
  UpdateTitle();
}

void CQuarryDlg::Layout() {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int w = client.right, h = client.bottom;
  Place(easy_.hwnd(), 0, 0, w, h);
  const int tabWidth = w / kTabCount;
  for (int i = 0; i < kTabCount; i++) {
    int width = i == kTabCount - 1 ? w - i * tabWidth + 1 : tabWidth;
    Place(tabs_[i].hwnd(), i * tabWidth, 0, width, kTabStripHeight);
  }
  Dialog* below[] = {&capture_, &apply_, &advanced_, &info_, &browser_, &queue_, &progress_};
  for (Dialog* page : below) Place(page->hwnd(), 0, kTabStripHeight, w, h - kTabStripHeight);
  PlaceTip();
}

void CQuarryDlg::PlaceTip() {
  if (!app_.tipWindow || !hwnd_) return;
  RECT window, client;
  GetWindowRect(hwnd_, &window);
  GetClientRect(hwnd_, &client);
  int border = ((window.right - window.left) - client.right) / 2;
  app_.tipWindow->Place(window.left + border, window.bottom - client.bottom - border, client.right, client.bottom);
}

void CQuarryDlg::EnableTabs(bool enable) {
  for (CTabButton& tab : tabs_) {
    EnableWindow(tab.hwnd(), enable ? TRUE : FALSE);
    tab.Invalidate();
  }
}

void CQuarryDlg::SelectTab(int index) {
  for (int i = 0; i < kTabCount; i++) tabs_[i].SetSelected(i == index);
  for (int i = 0; i < kTabCount; i++) {
    Dialog* page = TabPage(i);
    page->Show(i == index);
    page->Enable(i == index);
  }
  app_.currentPage = TabPage(index);
  SetFocus(hwnd_);
}

bool CQuarryDlg::ClickTab(int index) {
  if (index < 0 || index >= kTabCount || app_.busyFlag) return false;
  if (app_.tipWindow) DestroyWindow(app_.tipWindow->hwnd());
  queue_.SetRememberedTab(SelectedTab());
  queue_.Show(false);
  queue_.EnableStartIfRows();
  progress_.Show(false);
  SelectTab(index);
  return true;
}

void CQuarryDlg::SwitchToEasyMode() {
  for (CTabButton& tab : tabs_) tab.Show(false);
  Dialog* pages[] = {&apply_, &capture_, &info_, &browser_, &advanced_, &queue_, &progress_};
  for (Dialog* page : pages) page->Show(false);
  easy_.Show(true);
  app_.settings.mode = 1;
  SetFocus(hwnd_);
}

void CQuarryDlg::SwitchToAdvancedMode() {
  easy_.Show(false);
  // Coming back from the task queue, no tab is marked: mark the one of the
  // page that returns.
  if (SelectedTab() < 0 && !queue_.IsVisible()) {
    int tab = TabOfPage(app_.currentPage);
    if (tab >= 0) tabs_[tab].SetSelected(true);
  }
  for (CTabButton& tab : tabs_) tab.Show(true);
  if (app_.currentPage && !queue_.IsVisible()) app_.currentPage->Show(true);
  app_.settings.mode = 2;
  SetFocus(hwnd_);
}

void CQuarryDlg::ShowTaskQueue() {
  if (queue_.IsVisible()) return;
  if (app_.currentPage) app_.currentPage->Show(false);
  queue_.SetRememberedTab(SelectedTab());
  for (CTabButton& tab : tabs_) tab.SetSelected(false);
  queue_.Show(true);
  queue_.EnableStartIfRows();
  SetFocus(hwnd_);
}

void CQuarryDlg::CloseTaskQueue() {
  queue_.Show(false);
  if (app_.currentPage) app_.currentPage->Show(true);
  int remembered = queue_.rememberedTab();
  if (remembered < 0) remembered = TabOfPage(app_.currentPage);
  for (int i = 0; i < kTabCount; i++) tabs_[i].SetSelected(i == remembered);
  SetFocus(hwnd_);
}

// Hides the progress page. A shown result is closed as "确定" does, so the
// page that ran the operation comes back.
void CQuarryDlg::CloseProgressPage() {
  if (progress_.IsShowingResult()) progress_.Close();
  else progress_.Show(false);
}

void CQuarryDlg::MoveTab(int step) {
  int selected = SelectedTab();
  if (selected < 0) return;
  int target = selected + step;
  if (target < 0 || target >= kTabCount) return;
  SelectTab(target);
}

void CQuarryDlg::OnInfoRefresh() { PostMessageW(info_.hwnd(), WM_COMMAND, MAKEWPARAM(ID_INFO_REFRESH, 0), 0); }

void CQuarryDlg::QueueShortcut(UINT vk, bool ctrl) { PostMessageW(hwnd_, kMsgShortcut, vk, ctrl ? 1 : 0); }

void CQuarryDlg::OnShortcutKey(UINT vk, bool ctrl) {
  const bool easy = app_.IsEasyMode();
  // While an operation of a page runs, its progress page stays in place:
  // the shortcuts that would hide it (and bring back the busy page) wait.
  const bool operationRunning = progress_.IsRunning();
  switch (vk) {
    case VK_TAB:
      if (!ctrl || operationRunning) return;
      CloseProgressPage();
      if (easy) PostMessageW(hwnd_, UM_SWITCH_ADVANCED, 0, 0);
      else SwitchToEasyMode();
      return;
    case VK_RETURN:
      if (progress_.IsShowingResult()) progress_.Close();
      return;
    case VK_PRIOR:
    case VK_NEXT:
      if (easy || operationRunning) return;
      CloseProgressPage();
      MoveTab(vk == VK_PRIOR ? -1 : 1);
      return;
    case VK_DELETE:
      if (easy_.IsVisible()) easy_.Clear();
      return;
    case 'M':
      if (ctrl) PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(ID_SHOW_MOUNTED, 0), 0);
      return;
    case 'P':
      if (ctrl) PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(ID_PREFERENCES, 0), 0);
      return;
    case 'O':
      if (ctrl && app_.currentPage == &info_) PostMessageW(info_.hwnd(), WM_COMMAND, MAKEWPARAM(ID_INFO_OPEN, 0), 0);
      return;
    case 'Q':
      if (!ctrl || operationRunning) return;
      if (easy) SwitchToAdvancedMode();
      CloseProgressPage();
      if (queue_.IsVisible()) CloseTaskQueue();
      else ShowTaskQueue();
      return;
    case VK_F5:
      // F5 refreshes the Info page while it is the page shown.
      if (app_.currentPage == &info_ && info_.IsVisible()) OnInfoRefresh();
      return;
    default:
      return;
  }
}

void CQuarryDlg::JumpTo(UINT command, const std::wstring& path) {
  if (app_.busyFlag) return;
  switch (command) {
    case ID_JUMP_APPLY:
      if (ClickTab(1)) apply_.OpenWimFile(path);
      return;
    case ID_JUMP_SPLIT:
    case ID_JUMP_MERGE:
    case ID_JUMP_DELETE:
      if (ClickTab(2)) advanced_.OpenInChild(command, path);
      return;
    case ID_JUMP_BROWSER:
      browser_.Reset();
      if (ClickTab(4)) browser_.OpenWimFile(path);
      return;
    case ID_JUMP_INFO:
      if (ClickTab(3)) info_.AddFile(path);
      return;
    case ID_JUMP_CAPTURE:
      if (ClickTab(0)) capture_.SetSourceFolder(path);
      return;
    default:
      return;
  }
}

void CQuarryDlg::OnMainMenu() {
  SetForegroundWindow(hwnd_);
  SetFocus(hwnd_);
  app_.ShowPopupMenu(0, hwnd_);
}

bool CQuarryDlg::OnCommand(int id, int code, HWND control) {
  for (int i = 0; i < kTabCount; i++) {
    if (id == kTabs[i].controlId && control) {
      if (code == STN_CLICKED || code == STN_DBLCLK) ClickTab(i);
      return true;
    }
  }
  switch (id) {
    case ID_SWITCH_EASY:
      SwitchToEasyMode();
      return true;
    case ID_SWITCH_ADVANCED:
      SwitchToAdvancedMode();
      return true;
    case ID_SHOW_TASK_QUEUE:
      ShowTaskQueue();
      return true;
    case ID_BACKEND_WIMGAPI:
      SelectBackend(kBackendWimgapi);
      return true;
    case ID_BACKEND_WIMLIB:
      SelectBackend(kBackendWimlib);
      return true;
    case ID_EXIT:
      EndDialog(IDCANCEL);
      return true;
    case ID_PREFERENCES:
      CCfgDlg(app_).DoModal(hwnd_);
      return true;
    case ID_ABOUT:
      CAboutDlg(app_).DoModal(hwnd_);
      return true;
    case ID_SHOW_MOUNTED:
      CMountView::Show(hwnd_);
      return true;
    case ID_MOUNT_REFRESH:  // posted by workers after a mount
      CMountView::RefreshIfOpen();
      return true;
    default:
      return false;
  }
}

bool CQuarryDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case kMsgShortcut:
      OnShortcutKey(static_cast<UINT>(wParam), lParam != 0);
      return true;
    case UM_SHOW_MAIN_MENU:
      OnMainMenu();
      return true;
    case UM_SWITCH_ADVANCED:
      SwitchToAdvancedMode();
      return true;
    case UM_REFRESH_INFO:
      OnInfoRefresh();
      return true;
    case WM_INITMENUPOPUP:
      app_.UpdateBackendMenu(reinterpret_cast<HMENU>(wParam));
      return true;
    case WM_SIZE:
      Layout();
      return false;
    case WM_MOVE:
    case WM_MOVING:
    case WM_EXITSIZEMOVE:
      PlaceTip();
      return false;
    case WM_SETFOCUS:
      // The main window keeps the focus it is given instead of handing it
      // back to the control that had it last: that control may sit in a
      // page that is hidden or disabled by now, and a dialog manager that
      // searches mnemonics from there never comes back to it.
      return true;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = kMinTrackWidth;
      info->ptMinTrackSize.y = kMinTrackHeight;
      return true;
    }
    case WM_MOUSEWHEEL:
      // The wheel scrolls the Info page's list while that page is shown.
      if (app_.currentPage == &info_ && info_.IsVisible()) info_.ForwardMouseWheel(wParam, lParam);
      return true;
    case WM_DESTROY:
      if (app_.tipWindow) DestroyWindow(app_.tipWindow->hwnd());
      app_.mainWindow = nullptr;
      app_.mainDialog = nullptr;
      app_.currentPage = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
