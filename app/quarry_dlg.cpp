#include "app/quarry_dlg.h"

#include "app/about_dlg.h"
#include "app/preferences_dlg.h"
#include "app/quarry_app.h"
#include "win/messages.h"
#include "controls/tip_wnd.h"
#include "mount/mount_view.h"
#include "pages/compare_dlg.h"
#include "resources/ids_compare.h"
#include "resources/resource.h"
#include "tasks/operation_runner.h"
#include "win/message_box.h"
#include "win/notices.h"
#include "win/strings.h"

namespace {
// A key-down from the keyboard hook: wParam = virtual key, lParam = Ctrl held.
// While a close waits for an operation to end, this timer looks whether it has.
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kCloseTimerMs = 100;
// How long a closing window waits for workers that are still running.
constexpr DWORD kWorkerWaitMs = 60000;
}  // namespace

const CQuarryDlg::JumpSlot CQuarryDlg::kJumps[] = {
    {ID_JUMP_APPLY, 1, nullptr, &CQuarryDlg::OpenInApply},
    {ID_JUMP_SPLIT, 2, nullptr, &CQuarryDlg::OpenInAdvanced},
    {ID_JUMP_MERGE, 2, nullptr, &CQuarryDlg::OpenInAdvanced},
    {ID_JUMP_DELETE, 2, nullptr, &CQuarryDlg::OpenInAdvanced},
    {ID_JUMP_MAINTAIN, 2, nullptr, &CQuarryDlg::OpenInAdvanced},
    {ID_JUMP_BROWSER, 4, &CQuarryDlg::ResetBrowser, &CQuarryDlg::OpenInBrowser},
    {ID_JUMP_INFO, 3, nullptr, &CQuarryDlg::OpenInInfo},
    {ID_JUMP_CAPTURE, 0, nullptr, &CQuarryDlg::OpenInCapture},
};

CQuarryDlg::CQuarryDlg(CQuarryApp& app)
    : Dialog(IDD_QUARRY_DIALOG),
      app_(app),
      runner_(app),
      pages_{{&capture_, Role::Tab, IDC_TAB_CAPTURE, IDP_TAB_CAPTURE},
             {&apply_, Role::Tab, IDC_TAB_APPLY, IDP_TAB_APPLY},
             {&advanced_, Role::Tab, IDC_TAB_ADVANCED, IDP_TAB_ADVANCED},
             {&info_, Role::Tab, IDC_TAB_INFO, IDP_TAB_INFO},
             {&browser_, Role::Tab, IDC_TAB_BROWSE, IDP_TAB_BROWSE},
             {&easy_, Role::Easy},
             {&queue_, Role::Queue},
             {&progress_, Role::Progress}} {}

CQuarryDlg::~CQuarryDlg() {
  if (smallIcon_) DestroyIcon(smallIcon_);
}

Dialog* CQuarryDlg::TabPage(int index) {
  if (index < 0 || index >= kTabCount) return nullptr;
  return pages_[index].role == Role::Tab ? pages_[index].page : nullptr;
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
  for (CFormPage* page : {static_cast<CFormPage*>(&capture_), static_cast<CFormPage*>(&apply_),
                          static_cast<CFormPage*>(&advanced_), static_cast<CFormPage*>(&info_),
                          static_cast<CFormPage*>(&browser_), static_cast<CFormPage*>(&easy_)})
    page->Attach(app_, runner_);
  queue_.Attach(app_, runner_);
  progress_.Attach(app_, runner_);
  // Only the pages the window shows at once are made before it is shown:
  // the first tab, and the easy page in easy mode. The rest follow one by
  // one as soon as the window has painted, and at once whenever something
  // needs one of them before that (the task queue and the progress page as
  // soon as a task is queued or an operation starts).
  for (const PageSlot& slot : pages_) {
    const bool now = slot.page == &capture_ || (slot.role == Role::Easy && app_.settings.mode == 1);
    if (now && !EnsurePage(slot)) return false;
  }
  for (int i = 0; i < kTabCount; i++) tabs_[i].AttachDlgItem(hwnd_, pages_[i].tabControl);
  PostMessageW(hwnd_, UM_CREATE_PAGES, 0, 0);
  return true;
}

bool CQuarryDlg::EnsurePage(const PageSlot& slot) {
  if (slot.page->hwnd()) return true;
  // A page made while the window is shown is made hidden, and lies hidden
  // in its place until it is selected: a control shown before its page is
  // laid out would draw itself at once at its template size.
  const bool shown = !IsWindowVisible(hwnd_);
  if (!slot.page->CreateView(hwnd_, shown)) return false;
  if (slot.role != Role::Easy || app_.settings.mode != 1) slot.page->Show(false);
  RECT client;
  GetClientRect(hwnd_, &client);
  if (slot.role == Role::Easy) MoveItem(slot.page->hwnd(), 0, 0, client.right, client.bottom);
  else MoveItem(slot.page->hwnd(), 0, kTabStripHeight, client.right, client.bottom - kTabStripHeight);
  return true;
}

void CQuarryDlg::MakeProgressPages() {
  if (!hwnd_) return;
  for (const PageSlot& slot : pages_)
    if (slot.role == Role::Queue || slot.role == Role::Progress) EnsurePage(slot);
}

void CQuarryDlg::EnsureAllPages() {
  bool all = true;
  for (const PageSlot& slot : pages_) all = EnsurePage(slot) && all;
  if (all) allPagesMade_ = true;
}

void CQuarryDlg::CreateNextPage() {
  // The window is painted first, so that it is seen at once.
  UpdateWindow(hwnd_);
  // Each slot is tried once here; one that cannot be made is tried again
  // only when it is needed.
  while (nextPage_ < kPageCount) {
    const PageSlot& slot = pages_[nextPage_++];
    if (slot.page->hwnd()) continue;
    EnsurePage(slot);
    PostMessageW(hwnd_, UM_CREATE_PAGES, 0, 0);
    return;
  }
  allPagesMade_ = true;
}

bool CQuarryDlg::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  bigIcon_ = LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARRY), IMAGE_ICON, 16, 16, 0));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  app_.mainWindow = hwnd_;
  app_.mainDialog = this;
  // Workers that mount images say so; the mount manager is this window's.
  ListenFor(Notice::kMountsChanged, hwnd_, [] { CMountView::RefreshIfOpen(); });
  ListenFor(Notice::kMountedFromPage, hwnd_, [this] {
    CMountView::RefreshIfOpen();
    if (app_.settings.autoPopMountList) CMountView::Show(hwnd_, app_, runner_);
  });

  AllowDropsFromLowerIntegrity();

  // The window takes its size and place before the pages are made, so that
  // they are made at their size and laid out once.
  SetWindowPos(hwnd_, nullptr, 0, 0, 920, 550, SWP_NOZORDER | SWP_NOMOVE);
  RECT window, screen;
  GetWindowRect(hwnd_, &window);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
  int x = screen.left + ((screen.right - screen.left) - (window.right - window.left)) / 2;
  int y = screen.top + ((screen.bottom - screen.top) - (window.bottom - window.top)) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);

  baseTitle_ = L"KLO Quarry";
  if (!CreatePages()) {
    EndDialog(IDABORT);
    return false;
  }
  SelectTab(0);
  app_.currentPage = &capture_;
  Layout();
  for (int i = 0; i < kTabCount; i++) tabs_[i].SetImage(pages_[i].tabPicture);

  if (app_.settings.mode == 1) SwitchToEasyMode();
  else SwitchToAdvancedMode();

  baseTitle_ += sizeof(void*) == 8 ? L" x64" : L" x86";
  UpdateTitle();

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
  const int tabWidth = w / kTabCount;
  for (int i = 0; i < kTabCount; i++) {
    int width = i == kTabCount - 1 ? w - i * tabWidth + 1 : tabWidth;
    MoveItem(tabs_[i].hwnd(), i * tabWidth, 0, width, kTabStripHeight);
  }
  // The easy page fills the window; every other page lies below the tabs.
  for (const PageSlot& slot : pages_) {
    if (slot.role == Role::Easy) MoveItem(slot.page->hwnd(), 0, 0, w, h);
    else MoveItem(slot.page->hwnd(), 0, kTabStripHeight, w, h - kTabStripHeight);
  }
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

// The task runner's worker is not a page's operation: while the queue runs
// the user moves between the queue and the pages freely (to abort it, or to
// add tasks), and only starting another operation is refused.
bool CQuarryDlg::PageOperationRunning() const {
  return progress_.IsRunning() || (runner_.Running() && !runner_.QueueRunning());
}

bool CQuarryDlg::OperationsRunning() const {
  return runner_.Running() || progress_.IsRunning() || runner_.QueueRunning() || UnmountWorkerRunning();
}

void CQuarryDlg::EnableQueueStart() {
  EnableWindow(queue_.Item(IDC_TASK_START), queue_.RowCount() > 0 && !runner_.QueueRunning());
}

void CQuarryDlg::EnableTabs(bool enable) {
  for (CTabButton& tab : tabs_) {
    EnableWindow(tab.hwnd(), enable ? TRUE : FALSE);
    tab.Invalidate();
  }
}

void CQuarryDlg::SelectTab(int index) {
  if (index >= 0 && index < kTabCount) EnsurePage(pages_[index]);
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
  if (index < 0 || index >= kTabCount || runner_.Busy()) return false;
  if (app_.tipWindow) DestroyWindow(app_.tipWindow->hwnd());
  queue_.SetRememberedTab(SelectedTab());
  queue_.Show(false);
  EnableQueueStart();
  progress_.Show(false);
  SelectTab(index);
  return true;
}

void CQuarryDlg::SwitchToEasyMode() {
  EnsureAllPages();
  for (CTabButton& tab : tabs_) tab.Show(false);
  for (const PageSlot& slot : pages_) slot.page->Show(slot.role == Role::Easy);
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
  MakeProgressPages();
  if (queue_.IsVisible()) return;
  if (app_.currentPage) app_.currentPage->Show(false);
  queue_.SetRememberedTab(SelectedTab());
  for (CTabButton& tab : tabs_) tab.SetSelected(false);
  queue_.Show(true);
  EnableQueueStart();
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

void CQuarryDlg::OnInfoRefresh() {
  EnsureAllPages();
  PostMessageW(info_.hwnd(), WM_COMMAND, MAKEWPARAM(ID_INFO_REFRESH, 0), 0);
}

void CQuarryDlg::QueueShortcut(UINT vk, bool ctrl) { PostMessageW(hwnd_, UM_SHORTCUT, vk, ctrl ? 1 : 0); }

void CQuarryDlg::OnShortcutKey(UINT vk, bool ctrl) {
  shortcutKeysSeen_++;
  EnsureAllPages();
  const bool easy = app_.IsEasyMode();
  // While an operation of a page runs, its progress page stays in place:
  // the shortcuts that would hide it (and bring back the busy page) wait.
  const bool operationRunning = PageOperationRunning();
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
      // Moving between tabs waits, as tab clicks do, while anything is busy
      // (a page's operation or a run of the task queue).
      if (easy || operationRunning || runner_.Busy()) return;
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
      // A result still shown is closed first, as "确定" closes it in the
      // mode it was shown in (in easy mode that forgets the return page).
      CloseProgressPage();
      if (easy) SwitchToAdvancedMode();
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
  EnsureAllPages();
  if (command == ID_COMPARE_IMAGES) {  // the comparison window, with `path` as one of its files
    CCompareDlg::Show(hwnd_, app_, runner_, path, [this](const std::wstring& wim, int image, const std::wstring& folder) {
      if (runner_.Busy()) return;
      JumpTo(ID_JUMP_BROWSER, wim);
      browser_.ShowImageFolder(wim, image, folder);
    });
    return;
  }
  if (runner_.Busy()) return;
  for (const JumpSlot& jump : kJumps) {
    if (jump.command != command) continue;
    if (jump.prepare) (this->*jump.prepare)();
    if (ClickTab(jump.tab)) (this->*jump.open)(command, path);
    return;
  }
}

void CQuarryDlg::ResetBrowser() { browser_.Reset(); }
void CQuarryDlg::OpenInApply(UINT, const std::wstring& path) { apply_.OpenWimFile(path); }
void CQuarryDlg::OpenInAdvanced(UINT command, const std::wstring& path) { advanced_.OpenInChild(command, path); }
void CQuarryDlg::OpenInBrowser(UINT, const std::wstring& path) { browser_.OpenWimFile(path); }
void CQuarryDlg::OpenInInfo(UINT, const std::wstring& path) { info_.AddFile(path); }
void CQuarryDlg::OpenInCapture(UINT, const std::wstring& path) { capture_.SetSourceFolder(path); }

void CQuarryDlg::RequestClose() {
  if (closePending_) return;
  // Changes waiting in the browser page are saved, dropped or kept first.
  if (!browser_.ConfirmLeave([this] { PostMessageW(hwnd_, WM_COMMAND, ID_EXIT, 0); })) return;
  if (!OperationsRunning()) {
    EndDialog(IDCANCEL);
    return;
  }
  int answer = AppMessageBox(hwnd_, LoadStr(IDS_ASK_CLOSE_WHEN_DONE), baseTitle_, MB_ICONQUESTION | MB_YESNO);
  if (answer != IDYES) return;
  if (!OperationsRunning()) {  // it ended while the user was asked
    EndDialog(IDCANCEL);
    return;
  }
  // The user has answered already: the engine stops at its next progress
  // call without asking again, a queue starts no further task, and the
  // window ends once the worker has ended.
  closePending_ = true;
  runner_.RequestCancel(true);
  progress_.SetStatusText(LoadStr(IDS_CLOSE_PENDING));
  SetTimer(hwnd_, kCloseTimer, kCloseTimerMs, nullptr);
}

void CQuarryDlg::OnCloseTimer() {
  if (OperationsRunning()) return;
  KillTimer(hwnd_, kCloseTimer);
  EndDialog(IDCANCEL);
}

// The last guard before the pages go: no worker may still report into them.
void CQuarryDlg::WaitForWorkers() {
  runner_.Wait(kWorkerWaitMs);
  // An unmount stopped half-way would leave a half-saved or half-emptied
  // mount: it is always waited for.
  WaitForUnmountWorker(INFINITE);
  const DWORD start = GetTickCount();
  while (runner_.QueueRunning() && GetTickCount() - start < kWorkerWaitMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void CQuarryDlg::OnMainMenu() {
  SetForegroundWindow(hwnd_);
  SetFocus(hwnd_);
  app_.ShowPopupMenu(PopupMenu::kMain, hwnd_);
}

bool CQuarryDlg::OnCommand(int id, int code, HWND control) {
  for (int i = 0; i < kTabCount; i++) {
    if (id == pages_[i].tabControl && control) {
      if (code == STN_CLICKED || code == STN_DBLCLK) ClickTab(i);
      return true;
    }
  }
  switch (id) {
    case ID_SWITCH_EASY:
      if (!PageOperationRunning()) SwitchToEasyMode();
      return true;
    case ID_SWITCH_ADVANCED:
      if (!PageOperationRunning()) SwitchToAdvancedMode();
      return true;
    case ID_SHOW_TASK_QUEUE:
      if (!PageOperationRunning()) ShowTaskQueue();
      return true;
    case ID_BACKEND_WIMGAPI:
      SelectBackend(kBackendWimgapi);
      return true;
    case ID_BACKEND_WIMLIB:
      SelectBackend(kBackendWimlib);
      return true;
    case ID_EXIT:
      RequestClose();
      return true;
    case ID_PREFERENCES:
      CCfgDlg(app_).DoModal(hwnd_);
      return true;
    case ID_ABOUT:
      CAboutDlg(app_).DoModal(hwnd_);
      return true;
    case ID_SHOW_MOUNTED:
      CMountView::Show(hwnd_, app_, runner_);
      return true;
    case ID_COMPARE_IMAGES:
      JumpTo(ID_COMPARE_IMAGES, L"");
      return true;
    default:
      return false;
  }
}

bool CQuarryDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case UM_SHORTCUT:
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
    case UM_ENABLE_TABS:
      EnableTabs(wParam != 0);
      return true;
    case UM_CLOSE_TASK_QUEUE:
      CloseTaskQueue();
      return true;
    case UM_CREATE_PAGES:
      CreateNextPage();
      return true;
    case WM_TIMER:
      if (wParam != kCloseTimer) return false;
      OnCloseTimer();
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
    case WM_GETMINMAXINFO:
      SetMinTrackSize(lParam, kMinTrackWidth, kMinTrackHeight);
      return true;
    case WM_MOUSEWHEEL:
      // The wheel scrolls the Info page's list while that page is shown.
      if (app_.currentPage == &info_ && info_.IsVisible()) info_.ForwardMouseWheel(wParam, lParam);
      return true;
    case WM_DESTROY:
      // The pages still exist here; they go only after every worker is done.
      KillTimer(hwnd_, kCloseTimer);
      StopListening(Notice::kMountsChanged, hwnd_);
      StopListening(Notice::kMountedFromPage, hwnd_);
      WaitForWorkers();
      if (app_.tipWindow) DestroyWindow(app_.tipWindow->hwnd());
      app_.mainWindow = nullptr;
      app_.mainDialog = nullptr;
      app_.currentPage = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
