#include "app/shell_task_tip.h"

#include "win/messages.h"
#include "resources/resource.h"
#include "win/strings.h"
#include "win/window_thread.h"

ShellTaskRun::ShellTaskRun(std::wstring taskText) : taskText_(std::move(taskText)) {
  InitializeCriticalSection(&lock_);
}

ShellTaskRun::~ShellTaskRun() {
  if (thread_) Finish(INFINITE);
  DeleteCriticalSection(&lock_);
}

bool ShellTaskRun::StartDialog() {
  thread_ = StartThread([this] {
    CShellTaskTip tip(*this);
    tip.DoModal(nullptr);
  });
  return thread_.valid();
}

void ShellTaskRun::Finish(DWORD waitMs) {
  EnterCriticalSection(&lock_);
  finished_ = true;
  if (CShellTaskTip* tip = dialog_) PostToWindowThread(tip->hwnd(), [tip] { tip->CloseIfFinished(); });
  LeaveCriticalSection(&lock_);
  if (thread_) WaitForSingleObject(thread_.get(), waitMs);
}

HWND ShellTaskRun::Hwnd() const {
  EnterCriticalSection(&lock_);
  HWND dialog = dialog_ ? dialog_->hwnd() : nullptr;
  LeaveCriticalSection(&lock_);
  return dialog;
}

void ShellTaskRun::SetPercent(float percent) {
  EnterCriticalSection(&lock_);
  if (CShellTaskTip* tip = dialog_) PostToWindowThread(tip->hwnd(), [tip, percent] { tip->SetPercent(percent); });
  LeaveCriticalSection(&lock_);
}

bool ShellTaskRun::Register(CShellTaskTip& dialog) {
  EnterCriticalSection(&lock_);
  bool open = !finished_;
  if (open) dialog_ = &dialog;
  LeaveCriticalSection(&lock_);
  return open;
}

void ShellTaskRun::Unregister() {
  EnterCriticalSection(&lock_);
  dialog_ = nullptr;
  LeaveCriticalSection(&lock_);
}

bool ShellTaskRun::finished() {
  EnterCriticalSection(&lock_);
  bool done = finished_;
  LeaveCriticalSection(&lock_);
  return done;
}

CShellTaskTip::CShellTaskTip(ShellTaskRun& run)
    : Dialog(IDD_SHELL_TASK_TIP), run_(run), percentFormat_(LoadStr(IDS_PERCENT_DONE)) {}

bool CShellTaskTip::OnInitDialog() {
  bar_.AttachDlgItem(hwnd_, IDC_SHELL_TIP_BAR);
  bar_.SetRange(0, 100);
  bar_.StartAnimation();
  bar_.SetPos(0);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUARRY), IMAGE_ICON, 16, 16, 0));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY))));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  SetItemText(IDC_SHELL_TIP_TASK, run_.taskText());
  SetForegroundWindow(hwnd_);
  // The work may have ended before this dialog came up: then it goes at once.
  if (!run_.Register(*this)) PostToWindowThread(hwnd_, [this] { CloseIfFinished(); });
  return true;
}

void CShellTaskTip::SetPercent(float percent) {
  if (percent > 0 && bar_.IsMarquee()) bar_.SetMarquee(false);
  bar_.SetPos(percent);
  SetItemText(IDC_SHELL_TIP_STATUS, FormatStr(percentFormat_.c_str(), static_cast<double>(percent)));
}

void CShellTaskTip::CloseIfFinished() {
  if (run_.finished()) CloseNow();
}

void CShellTaskTip::OnCancel() {
  run_.cancel().Request();
}

void CShellTaskTip::CloseNow() {
  run_.Unregister();
  if (smallIcon_) DestroyIcon(smallIcon_);
  smallIcon_ = nullptr;
  EndDialog(IDCANCEL);
}

bool CShellTaskTip::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case UM_PROGRESS_DONE:
      // The bar at 100: an engine that reports 100 before its work is done
      // must not take the dialog away from the user.
      CloseIfFinished();
      return true;
    case WM_MOVE:
      if (run_.finished() && static_cast<int>(bar_.pos()) >= 100) CloseNow();
      return false;
    case WM_CLOSE:
      OnCancel();
      return true;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
