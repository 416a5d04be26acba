#include "tasks/task_queue_page.h"

#include <uxtheme.h>

#include "win/messages.h"
#include "resources/resource.h"
#include "tasks/task_runner.h"
#include "win/message_box.h"
#include "win/pickers.h"
#include "win/strings.h"
#include "win/window_thread.h"

namespace {
// Bars are redrawn from progress reports at most this often.
constexpr DWORD kRedrawIntervalMs = 33;

void AddColumn(HWND list, int index, const std::wstring& caption, int width, int format) {
  LVCOLUMNW column = {LVCF_TEXT | LVCF_WIDTH | LVCF_FMT};
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(caption.c_str());
  ListView_InsertColumn(list, index, &column);
}
}  // namespace

CPage_TaskQueue::CPage_TaskQueue() : Dialog(IDD_PAGE_TASK_QUEUE) {}

CPage_TaskQueue::~CPage_TaskQueue() {
  if (closeIcon_) DestroyIcon(closeIcon_);
}

void CPage_TaskQueue::OnInitialUpdate() {
  Workbench& app = *bench_;
  list_.AttachDlgItem(hwnd_, IDC_TASK_LIST);
  currentBar_.AttachDlgItem(hwnd_, IDC_TASK_CURRENT_BAR);
  overallBar_.AttachDlgItem(hwnd_, IDC_TASK_OVERALL_BAR);

  // Columns: the state picture, then the task type, source and target, and
  // why a task of the last run failed.
  std::vector<std::wstring> captions = SplitFields(LoadStr(IDS_TASK_COLUMNS));
  captions.resize(3);
  AddColumn(list_, 0, L"", 32, LVCFMT_CENTER);
  AddColumn(list_, 1, captions[0], 100, LVCFMT_LEFT);
  AddColumn(list_, 2, captions[1], 280, LVCFMT_LEFT);
  AddColumn(list_, 3, captions[2], 280, LVCFMT_LEFT);
  AddColumn(list_, 4, LoadStr(IDS_QUEUE_REASON_COLUMN), 280, LVCFMT_LEFT);
  SetWindowTheme(list_, L"explorer", nullptr);
  ListView_SetExtendedListViewStyleEx(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                                      LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  if (HIMAGELIST images = app.StateImages()) {
    ListView_SetImageList(list_, images, LVSIL_NORMAL);
    ListView_SetImageList(list_, images, LVSIL_SMALL);
  }

  // "<" shows a picture instead of its text from Windows Vista on.
  if (app.windowsVersion.dwMajorVersion >= 6) {
    closeIcon_ = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_BACK), IMAGE_ICON, 16, 16, 0));
    HWND close = Item(IDC_TASK_CLOSE);
    if (closeIcon_ && close) {
      SetWindowLongPtrW(close, GWL_STYLE, GetWindowLongPtrW(close, GWL_STYLE) | BS_ICON);
      SendMessageW(close, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(closeIcon_));
    }
  }

  EnableWindow(Item(IDC_TASK_START), FALSE);
  EnableWindow(Item(IDC_TASK_ABORT), FALSE);
  EnableWindow(Item(IDC_TASK_SAVE), FALSE);

  dragImages_ = CreateDragImageHelper();
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, dragImages_.get());
  dropTarget_->Register();

  currentBar_.SetRange(0, 100);
  currentBar_.SetPos(0);
  currentBar_.StartAnimation();
  currentBar_.SetMarquee(false);
  overallBar_.SetRange(0, 100);
  overallBar_.SetPos(0);
  overallBar_.StartAnimation();
  overallBar_.SetMarquee(false);
  app.taskQueuePage = this;
}

int CPage_TaskQueue::RowCount() const { return list_.hwnd() ? ListView_GetItemCount(list_.hwnd()) : 0; }

void CPage_TaskQueue::EnableStartIfRows() {
  // A run under way keeps its start button disabled whatever asks.
  EnableWindow(Item(IDC_TASK_START), RowCount() > 0 && !runner_->QueueRunning());
}

// Reports may come thousands of times a second; the bars follow at most
// about thirty times a second, and always at 100.
bool CPage_TaskQueue::ThrottleRedraw(float percent) {
  DWORD now = GetTickCount();
  if (percent < 100.0f && now - lastRedraw_ < kRedrawIntervalMs) return false;
  lastRedraw_ = now;
  return true;
}

float TaskQueueOverallValue(float currentOverall, float percent) {
  int finishedTasks = static_cast<int>(currentOverall) / 100;
  return static_cast<float>(finishedTasks * 100) + percent;
}

void CPage_TaskQueue::SetPercent(float percent) {
  SetCurrentPercent(percent);
  SetOverallValue(TaskQueueOverallValue(OverallValue(), percent));
}

void CPage_TaskQueue::SetCurrentPercent(float percent) {
  redrawNow_ = ThrottleRedraw(percent);
  if (redrawNow_) currentBar_.SetPos(percent);
}

float CPage_TaskQueue::OverallValue() const { return overall_; }

void CPage_TaskQueue::SetOverallValue(float value) {
  overall_ = value;
  if (redrawNow_) overallBar_.SetPos(value);
}

void CPage_TaskQueue::AddTask(const std::wstring& source, const std::wstring& target, const TaskRecord& record,
                              bool showTip) {
  HWND list = list_.hwnd();
  LVITEMW item = {LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM};
  item.iItem = ListView_GetItemCount(list);
  item.pszText = const_cast<wchar_t*>(L"");
  item.iImage = kTaskPictureWaiting;
  item.lParam = reinterpret_cast<LPARAM>(new TaskRecord(record));
  int row = ListView_InsertItem(list, &item);
  if (row < 0) {
    delete reinterpret_cast<TaskRecord*>(item.lParam);
    return;
  }
  std::wstring caption = TaskRowCaption(record);
  ListView_SetItemText(list, row, 1, const_cast<wchar_t*>(caption.c_str()));
  ListView_SetItemText(list, row, 2, const_cast<wchar_t*>(source.c_str()));
  ListView_SetItemText(list, row, 3, const_cast<wchar_t*>(target.c_str()));
  if (!showTip) return;
  int count = RowCount();
  std::wstring text = LoadFilledStr(count == 1 ? IDS_ONE_TASK_ADDED : IDS_TASKS_ADDED, {std::to_wstring(count)});
  bench_->ShowTip(text);
}

std::vector<TaskListRow> CPage_TaskQueue::Rows() const {
  std::vector<TaskListRow> rows;
  HWND list = list_.hwnd();
  int n = RowCount();
  for (int i = 0; i < n; i++) {
    TaskListRow row;
    row.srcPath = ListItemText(list, i, 2);
    row.desPath = ListItemText(list, i, 3);
    LVITEMW item = {LVIF_PARAM};
    item.iItem = i;
    ListView_GetItem(list, &item);
    if (item.lParam) row.record = *reinterpret_cast<TaskRecord*>(item.lParam);
    rows.push_back(row);
  }
  return rows;
}

int CPage_TaskQueue::RowPicture(int row) const {
  LVITEMW item = {LVIF_IMAGE};
  item.iItem = row;
  return ListView_GetItem(list_.hwnd(), &item) ? item.iImage : -1;
}

bool CPage_TaskQueue::TakeRunSnapshot() {
  std::vector<TaskListRow> rows = Rows();
  runFirst_ = resumeFrom_ < static_cast<LONG>(rows.size()) ? static_cast<int>(resumeFrom_) : 0;
  resumeFrom_ = 0;
  runRows_.assign(rows.begin() + runFirst_, rows.end());
  return !runRows_.empty();
}

void CPage_TaskQueue::StoppedAt(int row) { resumeFrom_ = runFirst_ + row; }

void CPage_TaskQueue::SetRowPicture(int row, int picture) {
  LVITEMW item = {LVIF_IMAGE};
  item.iItem = runFirst_ + row;
  item.iImage = picture;
  SendMessageW(list_.hwnd(), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void CPage_TaskQueue::SetRowReason(int row, const std::wstring& reason) {
  LVITEMW item = {};
  item.iSubItem = kReasonColumn;
  item.pszText = const_cast<wchar_t*>(reason.c_str());
  SendMessageW(list_.hwnd(), LVM_SETITEMTEXTW, runFirst_ + row, reinterpret_cast<LPARAM>(&item));
}

// Each step of a run also names the bar's value in its window text
// ("value/maximum"), which is what accessibility tools read from it.
void CPage_TaskQueue::NameBar(CKLOProgressCtrl& bar, float value, float maximum) {
  if (bar.hwnd())
    SendMessageW(bar.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(FormatStr(L"%.0f/%.0f", value, maximum).c_str()));
}

void CPage_TaskQueue::SetCurrentBar(float value) {
  currentBar_.SetPos(value);
  NameBar(currentBar_, value, 100);
}

void CPage_TaskQueue::SetOverallBar(float value) {
  overall_ = value;
  overallBar_.SetPos(value);
  NameBar(overallBar_, value, runMaximum_);
  if (overallBar_.hwnd()) RedrawWindow(overallBar_.hwnd(), nullptr, nullptr, RDW_INVALIDATE);
}

void CPage_TaskQueue::ResetBars() {
  overall_ = 0;
  overallBar_.SetPos(0);
  currentBar_.SetPos(0);
  NameBar(overallBar_, 0, runMaximum_);
  NameBar(currentBar_, 0, 100);
}

// The runner has set its flags and disabled the tabs when it started the run.
void CPage_TaskQueue::OperationBegun(const std::wstring&) {
  const int rows = static_cast<int>(runRows_.size());
  // Rows before a resumed run keep the pictures of the run that did them.
  for (int i = 0; runFirst_ + i < RowCount(); i++) {
    SetRowPicture(i, kTaskPictureWaiting);
    SetRowReason(i, std::wstring());
  }
  EnableWindow(Item(IDC_TASK_START), FALSE);
  EnableWindow(Item(IDC_TASK_ABORT), TRUE);
  overall_ = 0;
  runMaximum_ = static_cast<float>(rows) * 100;
  overallBar_.SetRange(0, runMaximum_);
  NameBar(overallBar_, 0, runMaximum_);
  overallBar_.SetPos(0);
  overallBar_.StartAnimation();
  overallBar_.SetMarquee(false);
  lastRedraw_ = 0;
}

void CPage_TaskQueue::OperationEnded(const OperationOutcome&) {
  NameBar(currentBar_, currentBar_.pos(), 100);
  EnableStartIfRows();
  EnableWindow(Item(IDC_TASK_ABORT), FALSE);
}

// Delete and load would change the rows under a running queue.
bool CPage_TaskQueue::RefuseWhileRunning() {
  if (!runner_->QueueRunning()) return false;
  AppMessageBox(hwnd_, LoadStr(IDS_TASK_RUNNER_BUSY), L"Quarry", MB_OK | MB_ICONEXCLAMATION);
  return true;
}

void CPage_TaskQueue::DeleteSelectedRows() {
  if (RefuseWhileRunning()) return;
  HWND list = list_.hwnd();
  for (int i = RowCount() - 1; i >= 0; i--)
    if (ListView_GetItemState(list, i, LVIS_SELECTED) & LVIS_SELECTED) ListView_DeleteItem(list, i);
  resumeFrom_ = 0;  // the rows moved: the next run takes them all
  if (RowCount() == 0) EnableWindow(Item(IDC_TASK_START), FALSE);
}

void CPage_TaskQueue::FreeRow(LPARAM data) { delete reinterpret_cast<TaskRecord*>(data); }

void CPage_TaskQueue::OnStart() {
  EnableWindow(Item(IDC_TASK_START), FALSE);
  if (!StartTaskQueue(this, *bench_, *runner_)) EnableStartIfRows();
}

void CPage_TaskQueue::OnLoad() {
  if (RefuseWhileRunning()) return;
  std::wstring path = PickFile(hwnd_, PickerKind::kOpen, LoadStr(IDS_TASK_FILTER_LOAD), L"Task", OFN_HIDEREADONLY);
  if (path.empty()) return;
  std::vector<TaskListRow> rows = LoadTaskList(path);
  ListView_DeleteAllItems(list_.hwnd());
  resumeFrom_ = 0;
  for (const TaskListRow& row : rows) AddTask(row.srcPath, row.desPath, row.record, false);
  EnableStartIfRows();
}

void CPage_TaskQueue::OnSave() {
  std::wstring path = PickFile(hwnd_, PickerKind::kSave, LoadStr(IDS_TASK_FILTER_SAVE), L"Task", OFN_HIDEREADONLY);
  if (path.empty()) return;
  SaveTaskList(path, Rows());
}

bool CPage_TaskQueue::OnCommand(int id, int code, HWND control) {
  Workbench& app = *bench_;
  switch (id) {
    case IDC_TASK_CLOSE:
      if (app.mainWindow) SendMessageW(app.mainWindow, UM_CLOSE_TASK_QUEUE, 0, 0);
      return true;
    case IDC_TASK_ABORT:
      runner_->RequestCancel();
      return true;
    case IDC_TASK_START:
      if (code == BN_CLICKED) OnStart();
      return true;
    case IDC_TASK_LOAD:
      if (code == BN_CLICKED) OnLoad();
      return true;
    case IDC_TASK_SAVE:
      if (code == BN_CLICKED) OnSave();
      return true;
    default:
      return false;
  }
}

bool CPage_TaskQueue::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_TASK_LIST) return false;
  switch (header->code) {
    case LVN_DELETEITEM:
      FreeRow(reinterpret_cast<NMLISTVIEW*>(header)->lParam);
      return false;
    case LVN_KEYDOWN:
      if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_DELETE) DeleteSelectedRows();
      return false;
    case LVN_ITEMCHANGED:
    case LVN_INSERTITEM:
      EnableWindow(Item(IDC_TASK_SAVE), RowCount() > 0);
      EnableStartIfRows();
      return false;
    default:
      return false;
  }
}

void CPage_TaskQueue::Layout(int w, int h) {
  MoveItem(list_.hwnd(), -1, -1, w + 2, h - 150);
  MoveItem(Item(IDC_TASK_START), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_TASK_ABORT), w - 220, h - 40, 95, 25);
  MoveItem(Item(IDC_TASK_LOAD), 55, h - 40, 95, 25);
  MoveItem(Item(IDC_TASK_SAVE), 165, h - 40, 95, 25);
  MoveItem(Item(IDC_TASK_CLOSE), 15, h - 40, 25, 25);
  MoveItem(currentBar_.hwnd(), 15, h - 135, w - 30, 25);
  MoveItem(overallBar_.hwnd(), 15, h - 100, w - 30, 25);
  MoveItem(Item(IDC_SEPARATOR), -1, h - 60, w + 2, 2);
}

bool CPage_TaskQueue::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return false;
    case WM_DESTROY:
      if (dropTarget_) dropTarget_->Revoke();
      if (bench_->taskQueuePage == this) bench_->taskQueuePage = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
