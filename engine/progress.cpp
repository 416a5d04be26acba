#include "engine/progress.h"

#include "engine/failure_reason.h"
#include "resources/ids_skip.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {

bool IsShown(HWND hwnd) { return hwnd && IsWindowVisible(hwnd); }

}  // namespace

void ReportProgress(ProgressTarget* target, float percent) {
  if (target && IsShown(target->Hwnd())) target->SetPercent(percent);
}

void ReportStatusText(ProgressTarget* target, const std::wstring& text) {
  if (target && target->Hwnd()) target->SetStatusText(text);
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

void ShowApiError(const OperationContext& context, const std::wstring& functionName) {
  DWORD error = GetLastError();
  NoteWin32Failure(error);
  context.ShowError(ApiErrorText(functionName, error));
}

bool AskAbortIfRequested(const OperationContext& context) {
  if (!context.cancel || !context.cancel->TakeRequest()) return false;
  return context.host ? context.host->ConfirmAbort() : true;
}

bool AbortRequested(const OperationContext& context) {
  const CancelToken* cancel = context.cancel;
  if (cancel && cancel->Requested() && cancel->Confirmed()) return true;
  return AskAbortIfRequested(context);
}

namespace {
const OperationContext& ContextOf(PVOID userData) {
  static const OperationContext none;
  return userData ? *static_cast<const OperationContext*>(userData) : none;
}
}  // namespace

// Every message of a long call is a chance to stop it: the library sends
// percentages while it writes, long after the last file event.
DWORD CALLBACK ApplyMessageCallback(DWORD msg, WPARAM wParam, LPARAM, PVOID userData) {
  const OperationContext& context = ContextOf(userData);
  if (AbortRequested(context)) return WIM_MSG_ABORT_IMAGE;
  if (msg == WIM_MSG_PROGRESS) ReportProgress(context.progress, static_cast<float>(wParam));
  return WIM_MSG_SUCCESS;
}

DWORD CALLBACK ExportMessageCallback(DWORD, WPARAM, LPARAM, PVOID userData) {
  return AbortRequested(ContextOf(userData)) ? WIM_MSG_ABORT_IMAGE : WIM_MSG_SUCCESS;
}

DWORD CALLBACK SplitMessageCallback(DWORD msg, WPARAM, LPARAM, PVOID userData) {
  const OperationContext& context = ContextOf(userData);
  if (AbortRequested(context)) return WIM_MSG_ABORT_IMAGE;
  if (msg == WIM_MSG_SPLIT) ReportStatusText(context.progress, LoadStr(IDS_SPLITTING));
  return WIM_MSG_SUCCESS;
}

float WimlibPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0.0f;
  float percent = static_cast<float>(done * 100) / static_cast<float>(total);
  return percent < 100.0f ? percent : -1.0f;
}

namespace {

// During a capture: special files (FIFOs, sockets, devices) the library has
// left out are listed; a name that is not UTF-8 is left out and listed; any
// other scan error is skipped or stops the capture, as the capture decides.
// False when the capture is to stop here.
bool TakeCaptureMessage(WimlibOperation& operation, enum wimlib_progress_msg msg, union wimlib_progress_info* info) {
  CaptureSkips* skips = operation.skips;
  if (msg == WIMLIB_PROGRESS_MSG_SCAN_DENTRY) {
    if (info->scan.status == decltype(info->scan)::WIMLIB_SCAN_DENTRY_UNSUPPORTED)
      skips->LeftOut(info->scan.cur_path, IDS_SKIP_SPECIAL_FILE);
    return true;
  }
  if (msg != WIMLIB_PROGRESS_MSG_HANDLE_ERROR || info->handle_error.will_ignore) return true;
  const wchar_t* path = info->handle_error.path;
  int code = info->handle_error.error_code;
  if (code == WIMLIB_ERR_INVALID_UTF8_STRING) {
    skips->LeftOut(path, IDS_SKIP_FOREIGN_NAME);
    info->handle_error.will_ignore = true;
    return true;
  }
  if (skips->SkipUnreadable(path, WimlibReasonText(code))) {
    info->handle_error.will_ignore = true;
    return true;
  }
  // The failure names this file; an answer of the user's is an abort.
  NoteWimlibProgressError(msg, info);
  if (!skips->StoppedByRule()) operation.aborted = true;
  return false;
}

}  // namespace

enum wimlib_progress_status WimlibProgress(enum wimlib_progress_msg msg, union wimlib_progress_info* info,
                                           void* context) {
  WimlibOperation* operation = static_cast<WimlibOperation*>(context);
  if (operation && operation->skips && info && !operation->aborted &&
      !TakeCaptureMessage(*operation, msg, info))
    return WIMLIB_PROGRESS_STATUS_ABORT;
  NoteWimlibProgressError(msg, info);
  if (operation && (operation->aborted || (operation->context && AbortRequested(*operation->context)))) {
    operation->aborted = true;
    return WIMLIB_PROGRESS_STATUS_ABORT;
  }
  if (!info) return WIMLIB_PROGRESS_STATUS_CONTINUE;
  float percent = -1.0f;
  switch (msg) {
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
      percent = WimlibPercent(info->extract.completed_bytes, info->extract.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
      NoteWriteProgress(info->write_streams.completed_bytes);
      percent = WimlibPercent(info->write_streams.completed_bytes, info->write_streams.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART:
      NoteWriteProgress(info->split.completed_bytes);
      percent = WimlibPercent(info->split.completed_bytes, info->split.total_bytes);
      break;
    case WIMLIB_PROGRESS_MSG_SPLIT_END_PART:
      NoteWriteProgress(info->split.completed_bytes);
      break;
    default:
      break;
  }
  if (percent >= 0.0f && operation && operation->context) ReportProgress(operation->context->progress, percent);
  return WIMLIB_PROGRESS_STATUS_CONTINUE;
}

CaptureSkips::CaptureSkips(const CaptureRequest& request)
    : policy_(request.unreadable),
      ask_(request.ask),
      askContext_(request.askContext),
      report_(request.report ? request.report : &own_) {
  *report_ = CaptureReport();
}

std::wstring CaptureSkips::PathText(const wchar_t* path) {
  return path && *path ? std::wstring(path) : LoadStr(IDS_SKIP_UNKNOWN_PATH);
}

void CaptureSkips::LeftOut(const wchar_t* path, UINT reasonId) {
  report_->skipped.push_back({PathText(path), LoadStr(reasonId)});
}

bool CaptureSkips::SkipUnreadable(const wchar_t* path, const std::wstring& reason) {
  std::wstring where = PathText(path);
  if (policy_ == UnreadablePolicy::kAsk) {
    if (!ask_) {
      policy_ = UnreadablePolicy::kStop;
    } else {
      UnreadableChoice choice = ask_(askContext_, where, reason);
      if (choice == UnreadableChoice::kStop) return false;  // the user's own abort
      if (choice == UnreadableChoice::kSkipAll) policy_ = UnreadablePolicy::kSkip;
      report_->skipped.push_back({where, FormatStr(LoadStr(IDS_SKIP_UNREADABLE).c_str(), reason.c_str())});
      return true;
    }
  }
  if (policy_ == UnreadablePolicy::kSkip) {
    report_->skipped.push_back({where, FormatStr(LoadStr(IDS_SKIP_UNREADABLE).c_str(), reason.c_str())});
    return true;
  }
  report_->stoppedAt = where;
  report_->stopReason = reason;
  stoppedByRule_ = true;
  return false;
}
