#include "tasks/task_queue_page.h"

#include <uxtheme.h>

#include "app/quarry_app.h"
#include "controls/messages.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {

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
  CQuarryApp* app = CQuarryApp::Instance();
  list_.AttachDlgItem(hwnd_, IDC_TASK_LIST);
  currentBar_.AttachDlgItem(hwnd_, IDC_TASK_CURRENT_BAR);
  overallBar_.AttachDlgItem(hwnd_, IDC_TASK_OVERALL_BAR);

  // Columns: the state picture, then the task type, source and target.
  std::vector<std::wstring> captions = SplitFields(LoadStr(IDS_TASK_COLUMNS));
  captions.resize(3);
  AddColumn(list_, 0, L"", 32, LVCFMT_CENTER);
  AddColumn(list_, 1, captions[0], 100, LVCFMT_LEFT);
  AddColumn(list_, 2, captions[1], 280, LVCFMT_LEFT);
  AddColumn(list_, 3, captions[2], 280, LVCFMT_LEFT);
  SetWindowTheme(list_, L"explorer", nullptr);
  ListView_SetExtendedListViewStyleEx(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                                      LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  if (app && app->stateImages) {
    ListView_SetImageList(list_, app->stateImages, LVSIL_NORMAL);
    ListView_SetImageList(list_, app->stateImages, LVSIL_SMALL);
  }

  // "<" shows a picture instead of its text from Windows Vista on.
  if (app && app->windowsVersion.dwMajorVersion >= 6) {
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
}

int CPage_TaskQueue::RowCount() const { return list_.hwnd() ? ListView_GetItemCount(list_.hwnd()) : 0; }

void CPage_TaskQueue::EnableStartIfRows() { EnableWindow(Item(IDC_TASK_START), RowCount() > 0); }

void CPage_TaskQueue::SetCurrentPercent(float percent) { currentBar_.SetPos(percent); }

float CPage_TaskQueue::OverallValue() const { return overallBar_.pos(); }

void CPage_TaskQueue::SetOverallValue(float value) { overallBar_.SetPos(value); }

bool CPage_TaskQueue::OnCommand(int id, int code, HWND control) {
  CQuarryApp* app = CQuarryApp::Instance();
  switch (id) {
    case IDC_TASK_CLOSE:
      if (app && app->mainWindow) SendMessageW(app->mainWindow, UM_CLOSE_TASK_QUEUE, 0, 0);
      return true;
    case IDC_TASK_ABORT:
      if (app) app->cancelRequested = 1;
      return true;
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
      if (CQuarryApp* app = CQuarryApp::Instance(); app && app->taskQueuePage == this) app->taskQueuePage = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
