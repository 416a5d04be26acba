#include "mount/mount_view.h"

#include <shellapi.h>
#include <uxtheme.h>

#include "engine/engine.h"
#include "resources/ids_mounts.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {
CMountView* g_view = nullptr;  // the one open window

constexpr DWORD kListStyles = 0x00810020;  // full-row select, double buffer, transparent shadow text

struct ColumnSpec {
  int width;
  int format;
};
const ColumnSpec kColumns[] = {{32, LVCFMT_LEFT},  {200, LVCFMT_LEFT},   {80, LVCFMT_RIGHT},
                               {200, LVCFMT_LEFT}, {60, LVCFMT_CENTER}, {100, LVCFMT_CENTER}};

}  // namespace

CMountView::CMountView(Workbench& bench, const OperationRunner& runner)
    : Dialog(IDD_MOUNT_VIEW), bench_(bench), runner_(runner) {}

CMountView* CMountView::Instance() { return g_view; }

CMountView* CMountView::Show(HWND owner, Workbench& bench, const OperationRunner& runner) {
  if (!g_view) {
    auto* view = new CMountView(bench, runner);
    if (!view->Create(owner)) {
      delete view;
      return nullptr;
    }
    g_view = view;
  }
  g_view->closePending_ = false;
  ShowWindow(g_view->hwnd(), SW_SHOW);
  SetForegroundWindow(g_view->hwnd());
  return g_view;
}

void CMountView::RefreshIfOpen() {
  if (g_view && g_view->hwnd()) g_view->Refresh();
}

bool CMountView::OnInitDialog() {
  icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_QUARRY));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  list_.AttachDlgItem(hwnd_, IDC_MOUNT_LIST);
  SetWindowTheme(list_.hwnd(), L"explorer", nullptr);
  if (HIMAGELIST images = bench_.StateImages()) ListView_SetImageList(list_.hwnd(), images, LVSIL_SMALL);
  ListView_SetExtendedListViewStyleEx(list_.hwnd(), kListStyles, kListStyles);
  CreateColumns();
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  Refresh();
  return true;
}

void CMountView::CreateColumns() {
  std::vector<std::wstring> captions = SplitFields(LoadStr(IDS_MOUNT_COLUMNS));
  for (int i = 0; i < 6; i++) {
    std::wstring caption = i == 0 || i - 1 >= static_cast<int>(captions.size()) ? L"" : captions[i - 1];
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.cx = kColumns[i].width;
    column.fmt = kColumns[i].format;
    column.pszText = &caption[0];
    ListView_InsertColumn(list_.hwnd(), i, &column);
  }
}

void CMountView::Layout(int width, int height) {
  MoveItem(list_.hwnd(), 15, 20, width - 30, height - 40 - 30);
  MoveItem(Item(IDCANCEL), width - 110, height - 40, 95, 25);
  MoveItem(Item(IDC_MOUNT_UNMOUNT), width - 220, height - 40, 95, 25);
  MoveItem(Item(IDC_MOUNT_AS_NEW_IMAGE), 15, height - 36, std::max(0, width - 250), 20);
}

void CMountView::Refresh() {
  std::vector<MountRecord> records;
  if (MakeEngine(bench_.backends, BackendChoice())->ListMounts(records) != kResultSuccess) return;
  records_ = std::move(records);
  FillRows();
}

void CMountView::FillRows() {
  HWND list = list_.hwnd();
  ListView_DeleteAllItems(list);
  const std::wstring stale = LoadStr(IDS_MOUNT_STALE), mounting = LoadStr(IDS_MOUNT_MOUNTING),
                     copy = LoadStr(IDS_MOUNT_COPY);
  for (size_t i = 0; i < records_.size(); i++) {
    const MountRecord& r = records_[i];
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(L"");
    item.iImage = 0;
    int row = ListView_InsertItem(list, &item);
    std::wstring index = FormatStr(L"%d", static_cast<int>(r.index));
    std::wstring access = LoadStr(r.writable ? IDS_MOUNT_READ_WRITE : IDS_MOUNT_READ_ONLY);
    ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(r.wimPath.c_str()));
    ListView_SetItemText(list, row, 2, &index[0]);
    ListView_SetItemText(list, row, 3, const_cast<wchar_t*>(r.mountPath.c_str()));
    ListView_SetItemText(list, row, 4, &access[0]);
    std::wstring status = FailureReason(r.mountPath);
    if (status.empty()) status = r.stale ? stale : r.mounting ? mounting : r.copy ? copy : std::wstring();
    if (!status.empty()) ListView_SetItemText(list, row, 5, const_cast<wchar_t*>(status.c_str()));
  }
  ShowCurrentStatus();
  UpdateButton();
}

// Why the last unmount of the image at `mountPath` failed; empty when it
// did not fail.
std::wstring CMountView::FailureReason(const std::wstring& mountPath) const {
  for (const UnmountFailure& failure : failures_)
    if (EqualNoCase(failure.mountPath, mountPath)) return failure.reason;
  return std::wstring();
}

void CMountView::ForgetFailure(const std::wstring& mountPath) {
  for (size_t i = failures_.size(); i-- > 0;)
    if (EqualNoCase(failures_[i].mountPath, mountPath)) failures_.erase(failures_.begin() + i);
}

// Writes "正在卸载..." into the row of the image being unmounted.
void CMountView::ShowCurrentStatus() {
  if (unmounting_.empty()) return;
  HWND list = list_.hwnd();
  std::wstring text = LoadStr(IDS_UNMOUNTING);
  for (int row = 0; row < ListView_GetItemCount(list); row++) {
    if (EqualNoCase(ListItemText(list, row, 3), unmounting_)) {
      ListView_SetItemText(list, row, 5, &text[0]);
      return;
    }
  }
}

void CMountView::UpdateButton() {
  EnableWindow(Item(IDC_MOUNT_UNMOUNT), ListView_GetSelectedCount(list_.hwnd()) > 0);
}

std::vector<UnmountJob> CMountView::SelectedJobs() const {
  std::vector<UnmountJob> jobs;
  HWND list = list_.hwnd();
  const std::wstring readOnly = LoadStr(IDS_MOUNT_READ_ONLY);
  for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list, row, LVNI_SELECTED)) {
    UnmountJob job;
    job.backends = &bench_.backends;
    job.host = &bench_;
    job.mountPath = ListItemText(list, row, 3);
    job.wimPath = ListItemText(list, row, 1);
    job.index = static_cast<DWORD>(wcstoul(ListItemText(list, row, 2).c_str(), nullptr, 10));
    job.commit = !EqualNoCase(ListItemText(list, row, 4), readOnly);
    job.asNewImage = IsDlgButtonChecked(hwnd_, IDC_MOUNT_AS_NEW_IMAGE) == BST_CHECKED;
    if (row < static_cast<int>(records_.size())) {
      job.stale = records_[row].stale;
      job.mounting = records_[row].mounting;
      job.writable = records_[row].writable;
    }
    if (job.stale) job.commit = false;
    jobs.push_back(job);
  }
  return jobs;
}

bool CMountView::UnmountSelected() {
  if (UnmountWorkerRunning() || runner_.RefuseWhileQueueRuns(hwnd_)) return false;
  std::vector<UnmountJob> jobs = SelectedJobs();
  for (const UnmountJob& job : jobs) {
    if (!job.mounting) continue;
    std::wstring text = LoadFilledStr(IDS_MOUNT_STILL_MOUNTING, {job.mountPath});
    AppMessageBox(hwnd_, text, L"", MB_OK | MB_ICONINFORMATION);
    return false;
  }
  UnmountReports reports;
  reports.started = [this](const std::wstring& mountPath) { OnUnmountStarted(mountPath); };
  reports.failed = [this](const UnmountFailure& failure) { OnUnmountFailed(failure); };
  reports.jobDone = [this] { OnUnmountJobDone(); };
  reports.finished = [this] { OnUnmountFinished(); };
  return StartUnmountWorker(hwnd_, std::move(jobs), std::move(reports));
}

void CMountView::OnUnmountStarted(const std::wstring& mountPath) {
  unmounting_ = mountPath;
  ForgetFailure(unmounting_);
  ShowCurrentStatus();
}

void CMountView::OnUnmountFailed(const UnmountFailure& failure) {
  ForgetFailure(failure.mountPath);
  failures_.push_back(failure);
}

void CMountView::OnUnmountJobDone() {
  unmounting_.clear();
  Refresh();
}

void CMountView::OnUnmountFinished() {
  unmounting_.clear();
  Refresh();
  if (closePending_) DestroyWindow(hwnd_);
}

bool CMountView::UnmountAll() {
  if (UnmountWorkerRunning()) return false;
  ListView_SetItemState(list_.hwnd(), -1, LVIS_SELECTED, LVIS_SELECTED);
  return UnmountSelected();
}

void CMountView::OpenMountFolder() {
  int row = ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED);
  if (row < 0) return;
  std::wstring folder = ListItemText(list_.hwnd(), row, 3);
  ShellExecuteW(GetDesktopWindow(), L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CMountView::GreyMenu(HMENU menu) {
  int selected = ListView_GetSelectedCount(list_.hwnd());
  int rows = ListView_GetItemCount(list_.hwnd());
  EnableMenuItem(menu, ID_MOUNT_UNMOUNT, MF_BYCOMMAND | (selected ? MF_ENABLED : MF_GRAYED));
  EnableMenuItem(menu, ID_MOUNT_UNMOUNT_ALL, MF_BYCOMMAND | (rows ? MF_ENABLED : MF_GRAYED));
  EnableMenuItem(menu, ID_MOUNT_OPEN_FOLDER, MF_BYCOMMAND | (selected > 1 ? MF_GRAYED : MF_ENABLED));
}

void CMountView::ShowContextMenu() {
  bench_.ShowPopupMenu(PopupMenu::kMounts, hwnd_);
}

void CMountView::OnCancel() {
  // While an unmount runs the window only hides; it goes when the worker ends.
  if (UnmountWorkerRunning()) {
    closePending_ = true;
    ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  DestroyWindow(hwnd_);
}

bool CMountView::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_MOUNT_UNMOUNT:
      if (code == BN_CLICKED) UnmountSelected();
      return true;
    case ID_MOUNT_UNMOUNT: UnmountSelected(); return true;
    case ID_MOUNT_UNMOUNT_ALL: UnmountAll(); return true;
    case ID_MOUNT_REFRESH: Refresh(); return true;
    case ID_MOUNT_OPEN_FOLDER: OpenMountFolder(); return true;
    default: return false;
  }
}

bool CMountView::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_MOUNT_LIST) return false;
  switch (header->code) {
    case LVN_ITEMCHANGED:
      UpdateButton();
      return false;
    case NM_DBLCLK: {
      auto* activate = reinterpret_cast<NMITEMACTIVATE*>(header);
      if (activate->iSubItem == 0 && activate->iItem >= 0) UnmountSelected();
      return true;
    }
    case NM_RCLICK:
      ShowContextMenu();
      result = 1;
      return true;
    case LVN_KEYDOWN:
      if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_F5) Refresh();
      return true;
    default:
      return false;
  }
}

bool CMountView::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_ACTIVATE:
      Refresh();
      return false;
    case WM_INITMENUPOPUP:
      if (!HIWORD(lParam)) GreyMenu(reinterpret_cast<HMENU>(wParam));
      return true;
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}

void CMountView::OnFinalDestroy() {
  if (g_view == this) g_view = nullptr;
  delete this;
}
