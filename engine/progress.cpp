#include "engine/progress.h"

#include "engine/failure_reason.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {

bool IsShown(HWND hwnd) { return hwnd && IsWindowVisible(hwnd); }

}  // namespace

float TaskQueueOverallValue(float currentOverall, float percent) {
  int finishedTasks = static_cast<int>(currentOverall) / 100;
  return static_cast<float>(finishedTasks * 100) + percent;
}

void ReportProgress(float percent) {
  EngineHost& host = Host();
  if (host.progressPage && IsShown(host.progressPage->Hwnd())) host.progressPage->SetPercent(percent);
  if (TaskQueueTarget* queue = host.taskQueuePage; queue && IsShown(queue->Hwnd())) {
    queue->SetCurrentPercent(percent);
    queue->SetOverallValue(TaskQueueOverallValue(queue->OverallValue(), percent));
  }
  if (host.shellTaskDialog && IsShown(host.shellTaskDialog->Hwnd())) host.shellTaskDialog->SetPercent(percent);
}

void ReportStatusText(const std::wstring& text) {
  EngineHost& host = Host();
  if (host.mainWindow && host.progressPage && host.progressPage->Hwnd()) host.progressPage->SetStatusText(text);
}

std::wstring ApiErrorText(const std::wstring& functionName, DWORD error) {
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                 nullptr, error, 0x400, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  std::wstring text = FormatStr(L"%s\nError Code: %d\n%s", functionName.c_str(), static_cast<int>(error),
                                message ? message : L"");
  if (message) LocalFree(message);
  return text;
}

void ShowApiError(const std::wstring& functionName) {
  DWORD error = GetLastError();
  NoteWin32Failure(error);
  AppMessageBox(Host().mainWindow, ApiErrorText(functionName, error), L"Quarry", MB_ICONERROR);
}

bool AskAbortIfRequested() {
  EngineHost& host = Host();
  if (!host.cancelRequested) return false;
  host.cancelRequested = 0;
  int answer = AppMessageBox(host.mainWindow, LoadStr(IDS_ASK_ABORT), LoadStr(IDS_ASK_ABORT_CAPTION),
                             MB_ICONQUESTION | MB_YESNO);
  return answer == IDYES;
}

bool AbortRequested() {
  EngineHost& host = Host();
  if (host.cancelRequested && host.cancelConfirmed) return true;
  return AskAbortIfRequested();
}

// Every message of a long call is a chance to stop it: the library sends
// percentages while it writes, long after the last file event.
DWORD CALLBACK ApplyMessageCallback(DWORD msg, WPARAM wParam, LPARAM, PVOID) {
  if (AbortRequested()) return WIM_MSG_ABORT_IMAGE;
  if (msg == WIM_MSG_PROGRESS) ReportProgress(static_cast<float>(wParam));
  return WIM_MSG_SUCCESS;
}

DWORD CALLBACK ExportMessageCallback(DWORD, WPARAM, LPARAM, PVOID) {
  return AbortRequested() ? WIM_MSG_ABORT_IMAGE : WIM_MSG_SUCCESS;
}

DWORD CALLBACK SplitMessageCallback(DWORD msg, WPARAM, LPARAM, PVOID userData) {
  if (AbortRequested()) return WIM_MSG_ABORT_IMAGE;
  if (msg == WIM_MSG_SPLIT && userData) ReportStatusText(LoadStr(IDS_SPLITTING));
  return WIM_MSG_SUCCESS;
}

float WimlibPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0.0f;
  float percent = static_cast<float>(done * 100) / static_cast<float>(total);
  return percent < 100.0f ? percent : -1.0f;
}

enum wimlib_progress_status WimlibProgress(enum wimlib_progress_msg msg, union wimlib_progress_info* info,
                                           void* context) {
  NoteWimlibProgressError(msg, info);
  WimlibAbort* abort = static_cast<WimlibAbort*>(context);
  if (abort && (abort->aborted || AbortRequested())) {
    abort->aborted = true;
    return WIMLIB_PROGRESS_STATUS_ABORT;
  }
  if (!info) return WIMLIB_PROGRESS_STATUS_CONTINUE;
  float percent = -1.0f;
  switch (msg) {
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
      percent = WimlibPercent(info->extract.completed_bytes, info->extract.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
      percent = WimlibPercent(info->write_streams.completed_bytes, info->write_streams.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART:
      percent = WimlibPercent(info->split.completed_bytes, info->split.total_bytes);
      break;
    default:
      break;
  }
  if (percent >= 0.0f) ReportProgress(percent);
  return WIMLIB_PROGRESS_STATUS_CONTINUE;
}
