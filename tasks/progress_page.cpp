#include "tasks/progress_page.h"

#include "win/messages.h"
#include "resources/ids_skip.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {
constexpr COLORREF kTextColour = RGB(99, 99, 99);
}  // namespace

CPage_Progress::CPage_Progress() : Dialog(IDD_PAGE_PROGRESS), percentFormat_(LoadStr(IDS_PERCENT_DONE)) {}

UINT CPage_Progress::ResultPicture(int result) {
  if (result == kResultSuccess) return IDP_RESULT_OK;
  if (result == kResultAborted) return IDP_RESULT_CANCELLED;
  return IDP_RESULT_FAILED;
}

UINT CPage_Progress::ResultText(int result) {
  if (result == kResultSuccess) return IDS_OP_SUCCEEDED;
  if (result == kResultAborted) return IDS_OP_CANCELLED;
  return IDS_OP_FAILED;
}

void CPage_Progress::OnInitialUpdate() {
  bar_.AttachDlgItem(hwnd_, IDC_PROGRESS_BAR);
  picture_.AttachDlgItem(hwnd_, IDC_PROGRESS_PICTURE);
  textFont_.reset(CreateFontW(26, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma"));
  SendDlgItemMessageW(hwnd_, IDC_PROGRESS_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(textFont_.get()), FALSE);

  bar_.SetRange(0, 100);
  bar_.SetPos(0);
  bar_.StartAnimation();
  bench_->progressPage = this;
  SetItemText(IDC_PROGRESS_TITLE, L"");

  // The button that opens the list of what a capture left out, beside
  // "确定" while such a result shows.
  skippedButton_ = CreateWindowExW(0, L"BUTTON", LoadStr(IDS_SKIP_SHOW_LIST).c_str(),
                                   WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 95, 25, hwnd_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_SKIPPED)),
                                   GetModuleHandleW(nullptr), nullptr);
  if (skippedButton_)
    SendMessageW(skippedButton_, WM_SETFONT, SendMessageW(Item(IDC_PROGRESS_OK), WM_GETFONT, 0, 0), FALSE);
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
}

bool CPage_Progress::IsShowingResult() const {
  return IsVisible() && IsWindowVisible(Item(IDC_PROGRESS_OK));
}

void CPage_Progress::SetDescription(const std::wstring& text) {
  if (IsVisible()) SetItemText(IDC_PROGRESS_TITLE, text);
}

void CPage_Progress::SetStatusText(const std::wstring& text) { SetItemText(IDC_PROGRESS_TEXT, text); }

void CPage_Progress::SetPercent(float percent) {
  if (percent > 0 && bar_.IsMarquee()) bar_.SetMarquee(false);
  bar_.SetPos(percent);
  SetItemText(IDC_PROGRESS_TEXT, FormatStr(percentFormat_.c_str(), static_cast<double>(percent)));
}

// The runner has set the busy flag and disabled the tabs when it started
// the operation; the page that runs it goes disabled under this one.
void CPage_Progress::OperationBegun(const std::wstring& title) {
  Workbench& app = *bench_;
  {
    app.FocusMainWindow();
    Dialog* page = app.IsEasyMode() ? returnPage_ : app.currentPage;
    if (page && page->hwnd()) EnableWindow(page->hwnd(), FALSE);
  }
  running_ = true;

  ShowWindow(Item(IDC_PROGRESS_PICTURE), SW_HIDE);
  ShowReason(std::wstring());
  if (skippedButton_) ShowWindow(skippedButton_, SW_HIDE);
  ShowWindow(Item(IDC_PROGRESS_TITLE), SW_SHOW);
  SetItemText(IDC_PROGRESS_TEXT, LoadStr(IDS_PREPARING));

  bar_.SetRange(0, 100);
  bar_.SetMarquee(true);
  bar_.StartAnimation();
  bar_.SetPos(0);

  ShowWindow(Item(IDC_PROGRESS_BAR), SW_SHOW);
  ShowWindow(Item(IDC_PROGRESS_OK), SW_HIDE);
  ShowWindow(Item(IDC_PROGRESS_ABORT), SW_SHOW);
  ShowOnTop();
  SetDescription(title);
}

void CPage_Progress::OperationEnded(const OperationOutcome& outcome) {
  // Items left out matter only for an image that was made.
  skipped_ = outcome.result == kResultSuccess ? outcome.report.skipped : std::vector<SkippedItem>();
  reason_ = outcome.reason;
  bar_.SetPos(100);
  ShowResult(outcome.result);
}

void CPage_Progress::ShowResult(int result) {
  picture_.SetImage(ResultPicture(result));
  ShowWindow(Item(IDC_PROGRESS_PICTURE), SW_SHOW);
  std::wstring text = LoadStr(ResultText(result));
  if (!skipped_.empty())
    text = FormatStr(LoadStr(IDS_SKIP_RESULT).c_str(), text.c_str(), static_cast<int>(skipped_.size()));
  SetItemText(IDC_PROGRESS_TEXT, text);
  ShowReason(reason_);
  if (skippedButton_) ShowWindow(skippedButton_, skipped_.empty() ? SW_HIDE : SW_SHOW);
  ShowWindow(Item(IDC_PROGRESS_BAR), SW_HIDE);
  ShowWindow(Item(IDC_PROGRESS_OK), SW_SHOW);
  ShowWindow(Item(IDC_PROGRESS_ABORT), SW_HIDE);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
  ShowOnTop();
  ShowWindow(Item(IDC_PROGRESS_TITLE), SW_HIDE);
  SetItemText(IDC_PROGRESS_TITLE, L"");
  running_ = false;
  bench_->FocusMainWindow();
}

void CPage_Progress::ShowReason(const std::wstring& reason) {
  SetItemText(IDC_PROGRESS_REASON, reason);
  ShowWindow(Item(IDC_PROGRESS_REASON), reason.empty() ? SW_HIDE : SW_SHOW);
}

void CPage_Progress::Close() {
  Show(false);
  Workbench& app = *bench_;
  {
    Dialog* page = app.IsEasyMode() ? returnPage_ : app.currentPage;
    if (app.IsEasyMode()) returnPage_ = nullptr;
    if (page && page->hwnd()) {
      ShowWindow(page->hwnd(), SW_SHOW);
      EnableWindow(page->hwnd(), TRUE);
    }
    app.FocusMainWindow();
  }
}

bool CPage_Progress::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_PROGRESS_OK:
      Close();
      return true;
    case IDC_PROGRESS_ABORT:
      runner_->RequestCancel();
      return true;
    case IDC_PROGRESS_SKIPPED:
      if (code == BN_CLICKED && skippedViewer_ && !skipped_.empty())
        skippedViewer_(bench_->mainWindow ? bench_->mainWindow : hwnd_, skipped_);
      return true;
    default:
      return false;
  }
}

void CPage_Progress::Layout(int w, int h) {
  MoveItem(bar_.hwnd(), 15, h - 110, w - 30, 25);
  MoveItem(Item(IDC_PROGRESS_OK), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_PROGRESS_ABORT), w - 110, h - 40, 95, 25);
  if (skippedButton_) MoveItem(skippedButton_, w - 215, h - 40, 95, 25);
  MoveItem(Item(IDC_SEPARATOR), -1, h - 60, w + 2, 2);
  MoveItem(Item(IDC_PROGRESS_TEXT), 0, h - 190, w, 30);
  MoveItem(Item(IDC_PROGRESS_REASON), 15, h - 155, w - 30, 22);
  MoveItem(picture_.hwnd(), (w - 64) / 2, (h - 64) / 2 - 70, 64, 64);
  MoveItem(Item(IDC_PROGRESS_TITLE), 0, (h - 50) / 2 - 70, w, 50);
}

bool CPage_Progress::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_SIZE:
      Layout(LOWORD(lParam), HIWORD(lParam));
      return false;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kTextColour);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      return true;
    }
    case WM_DESTROY:
      if (bench_->progressPage == this) bench_->progressPage = nullptr;
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
