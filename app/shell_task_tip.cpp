#include "app/shell_task_tip.h"

#include "win/messages.h"
#include "resources/resource.h"
#include "win/strings.h"

ShellTaskRun::ShellTaskRun(std::wstring taskText) : taskText_(std::move(taskText)) {
  InitializeCriticalSection(&lock_);
}

ShellTaskRun::~ShellTaskRun() {
  if (thread_) {
    Finish(INFINITE);
    CloseHandle(thread_);
  }
  DeleteCriticalSection(&lock_);
}

DWORD WINAPI ShellTaskRun::ThreadProc(void* self) {
  auto* run = static_cast<ShellTaskRun*>(self);
  CShellTaskTip tip(*run);
  tip.DoModal(nullptr);
  return 0;
}

bool ShellTaskRun::StartDialog() {
  thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
  return thread_ != nullptr;
}

void ShellTaskRun::Finish(DWORD waitMs) {
  EnterCriticalSection(&lock_);
  finished_ = true;
  if (dialog_) PostMessageW(dialog_, UM_PROGRESS_DONE, 0, 0);
  LeaveCriticalSection(&lock_);
  if (thread_) WaitForSingleObject(thread_, waitMs);
}

HWND ShellTaskRun::Hwnd() const {
  EnterCriticalSection(&lock_);
  HWND dialog = dialog_;
  LeaveCriticalSection(&lock_);
  return dialog;
}

void ShellTaskRun::SetPercent(float percent) {
  EnterCriticalSection(&lock_);
  if (dialog_) PostMessageW(dialog_, UM_SHELL_TASK_PERCENT, static_cast<WPARAM>(percent * 1000.0f), 0);
  LeaveCriticalSection(&lock_);
}

bool ShellTaskRun::Register(HWND dialog) {
  EnterCriticalSection(&lock_);
  bool open = !finished_;
  if (open) dialog_ = dialog;
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
  if (!run_.Register(hwnd_)) PostMessageW(hwnd_, UM_PROGRESS_DONE, 0, 0);
  return true;
}

void CShellTaskTip::SetPercent(float percent) {
  if (percent > 0 && bar_.IsMarquee()) bar_.SetMarquee(false);
  bar_.SetPos(percent);
  SetItemText(IDC_SHELL_TIP_STATUS, FormatStr(percentFormat_.c_str(), static_cast<double>(percent)));
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
    case UM_SHELL_TASK_PERCENT:
      SetPercent(static_cast<float>(wParam) / 1000.0f);
      return true;
    case UM_PROGRESS_DONE:
      // The bar at 100 posts this too; an engine that reports 100 before
      // its work is done must not take the dialog away from the user.
      if (run_.finished()) CloseNow();
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
