#include "engine/failure_reason.h"

#include "engine/backend.h"

#include "engine/engine_host.h"
#include "engine/wimlib_api.h"
#include "resources/ids_failure.h"
#include "resources/ids_maintain.h"
#include "resources/ids_mounts.h"
#include "win/strings.h"

namespace {

// Plain data only: the record lives in thread-local storage of worker
// threads that the program starts and ends with CreateThread.
struct ThreadRecord {
  int source;
  int code;
  bool diskFull;
  wchar_t path[1024];
  wchar_t target[1024];
  // The least free space on the target's volume seen during the write, and
  // the most output between two looks (what the last look may have missed).
  bool sampled;
  ULONGLONG lowestFree;
  ULONGLONG lastCompleted;
  ULONGLONG largestStep;
};

thread_local ThreadRecord t_record;

// Below this much free space a failed write is taken for a full volume.
constexpr ULONGLONG kNearlyFullBytes = 1024 * 1024;

void CopyInto(wchar_t (&out)[1024], const wchar_t* text) {
  lstrcpynW(out, text ? text : L"", 1024);
}

// Free bytes of the volume that holds `path`, asking the nearest folder
// that exists; false when none can be asked.
bool FreeBytesAt(std::wstring path, ULONGLONG& free) {
  while (!path.empty()) {
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
      free = available.QuadPart;
      return true;
    }
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) return false;
    path.resize(slash);
  }
  return false;
}

bool TargetIsFull() {
  ULONGLONG free = 0;
  if (!t_record.target[0]) return false;
  if (FreeBytesAt(t_record.target, free) && free < kNearlyFullBytes) return true;
  // The space ran out while the data were written, and the failed write
  // was undone since.
  return t_record.sampled && t_record.lowestFree < kNearlyFullBytes + t_record.largestStep;
}

// wimlib errors of writing output: a full volume shows itself only as
// one of these.
bool IsOutputError(int code) {
  switch (code) {
    case WIMLIB_ERR_WRITE:
    case WIMLIB_ERR_OPEN:
    case WIMLIB_ERR_MKDIR:
    case WIMLIB_ERR_LINK:
    case WIMLIB_ERR_SET_ATTRIBUTES:
    case WIMLIB_ERR_SET_TIMESTAMPS:
    case WIMLIB_ERR_SET_REPARSE_DATA:
    case WIMLIB_ERR_SET_SECURITY:
    case WIMLIB_ERR_SET_SHORT_NAME:
    case WIMLIB_ERR_SET_XATTR:
    case WIMLIB_ERR_RENAME:
      return true;
    default:
      return false;
  }
}

UINT WimlibReasonId(int code) {
  switch (code) {
    case WIMLIB_ERR_INVALID_RESOURCE_HASH:
      return IDS_REASON_HASH;
    case WIMLIB_ERR_DECOMPRESSION:
      return IDS_REASON_DECOMPRESS;
    case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
    case WIMLIB_ERR_METADATA_NOT_FOUND:
    case WIMLIB_ERR_INVALID_LOOKUP_TABLE_ENTRY:
    case WIMLIB_ERR_INVALID_REPARSE_DATA:
    case WIMLIB_ERR_INVALID_UTF16_STRING:
    case WIMLIB_ERR_XML:
    case WIMLIB_ERR_IMAGE_COUNT:
      return IDS_REASON_METADATA;
    case WIMLIB_ERR_INTEGRITY:
    case WIMLIB_ERR_INVALID_INTEGRITY_TABLE:
    case WIMLIB_ERR_INVALID_CHUNK_SIZE:
    case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
    case WIMLIB_ERR_UNEXPECTED_END_OF_FILE:
    case WIMLIB_ERR_RESOURCE_ORDER:
      return IDS_REASON_DAMAGED;
    case WIMLIB_ERR_NOT_A_WIM_FILE:
    case WIMLIB_ERR_UNKNOWN_VERSION:
    case WIMLIB_ERR_INVALID_HEADER:
    case WIMLIB_ERR_INVALID_PIPABLE_WIM:
      return IDS_REASON_NOT_WIM;
    case WIMLIB_ERR_RESOURCE_NOT_FOUND:
    case WIMLIB_ERR_SPLIT_INVALID:
    case WIMLIB_ERR_WIM_IS_INCOMPLETE:
      return IDS_REASON_PART_MISSING;
    case WIMLIB_ERR_WIM_IS_READONLY:
    case WIMLIB_ERR_INSUFFICIENT_PRIVILEGES:
      return IDS_REASON_ACCESS_DENIED;
    case WIMLIB_ERR_PATH_DOES_NOT_EXIST:
      return IDS_REASON_PATH_NOT_FOUND;
    case WIMLIB_ERR_WIM_IS_ENCRYPTED:
      return IDS_REASON_ENCRYPTED;
    case WIMLIB_ERR_ALREADY_LOCKED:
    case WIMLIB_ERR_CONCURRENT_MODIFICATION_DETECTED:
      return IDS_REASON_IN_USE;
    default:
      return 0;
  }
}

UINT Win32ReasonId(DWORD code) {
  switch (code) {
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
    case ERROR_CRC:
      return IDS_REASON_DAMAGED;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return IDS_REASON_DISK_FULL;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return IDS_REASON_ACCESS_DENIED;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      return IDS_REASON_PATH_NOT_FOUND;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
      return IDS_REASON_IN_USE;
    case ERROR_BAD_FORMAT:
      return IDS_REASON_NOT_WIM;
    case ERROR_FILE_INVALID:
      return IDS_REASON_WIM_REPLACED;
    case ERROR_FILE_READ_ONLY:
      return IDS_REASON_WIM_NEVER_WRITABLE;
    default:
      return 0;
  }
}

// The library's own text for an error number; empty when it offers none
// (or is not loaded: only a loaded library made the error).
std::wstring WimlibOwnText(int code) {
  HMODULE module = GetModuleHandleW(kWimlibModuleName);
  if (!module) return std::wstring();
  using ErrorString = decltype(&::wimlib_get_error_string);
  auto text = reinterpret_cast<ErrorString>(reinterpret_cast<void*>(GetProcAddress(module, "wimlib_get_error_string")));
  const wchar_t* own = text ? text(static_cast<enum wimlib_error_code>(code)) : nullptr;
  return own ? own : L"";
}

std::wstring SystemText(DWORD code) {
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                 nullptr, code, 0x400, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  std::wstring text = message ? message : L"";
  if (message) LocalFree(message);
  return text;
}

// Line breaks of the system's and the library's texts become spaces: the
// reason is shown on one line.
std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text)
    if (c == L'\r' || c == L'\n') c = L' ';
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return text;
}

}  // namespace

void ClearFailure() { t_record = ThreadRecord(); }

void NoteOperationTarget(const std::wstring& path) {
  CopyInto(t_record.target, path.c_str());
  t_record.sampled = false;
  t_record.lowestFree = 0;
  t_record.lastCompleted = 0;
  t_record.largestStep = 0;
}

void NoteWriteProgress(unsigned long long completedBytes) {
  ULONGLONG free = 0;
  if (!t_record.target[0] || !FreeBytesAt(t_record.target, free)) return;
  if (completedBytes > t_record.lastCompleted) {
    ULONGLONG step = completedBytes - t_record.lastCompleted;
    if (step > t_record.largestStep) t_record.largestStep = step;
  }
  t_record.lastCompleted = completedBytes;
  if (!t_record.sampled || free < t_record.lowestFree) t_record.lowestFree = free;
  t_record.sampled = true;
}

int NoteWimlibFailure(int code) {
  if (code == 0 || code == WIMLIB_ERR_ABORTED_BY_PROGRESS) return code;
  // The file of an earlier error report belongs to this failure only when
  // the library ends with that same error.
  if (t_record.source != kFailureWimlib || t_record.code != code) t_record.path[0] = 0;
  t_record.source = kFailureWimlib;
  t_record.code = code;
  t_record.diskFull = IsOutputError(code) && TargetIsFull();
  return code;
}

void NoteWin32Failure(DWORD code) {
  if (code == 0 || code == ERROR_REQUEST_ABORTED) return;
  DWORD last = GetLastError();
  t_record.source = kFailureWin32;
  t_record.code = static_cast<int>(code);
  t_record.diskFull = false;
  t_record.path[0] = 0;
  SetLastError(last);
}

void NoteMountedFailure(const std::wstring& folder) {
  t_record.source = kFailureMounted;
  t_record.code = 0;
  t_record.diskFull = false;
  CopyInto(t_record.path, folder.c_str());
}

void NoteWimlibProgressError(int msg, const void* progressInfo) {
  if (msg != WIMLIB_PROGRESS_MSG_HANDLE_ERROR || !progressInfo) return;
  const auto* info = static_cast<const wimlib_progress_info*>(progressInfo);
  if (info->handle_error.will_ignore) return;
  NoteWimlibFailure(info->handle_error.error_code);
  CopyInto(t_record.path, info->handle_error.path);
}

FailureRecord LastFailure() {
  FailureRecord record;
  record.source = static_cast<FailureSource>(t_record.source);
  record.code = t_record.code;
  record.diskFull = t_record.diskFull;
  record.path = t_record.path;
  return record;
}

std::wstring WimlibReasonText(int code) {
  if (UINT id = WimlibReasonId(code)) return LoadStr(id);
  std::wstring own = OneLine(WimlibOwnText(code));
  return FormatStr(LoadStr(IDS_REASON_WIMLIB).c_str(), code, own.c_str());
}

std::wstring Win32ReasonText(DWORD code) {
  if (UINT id = Win32ReasonId(code)) return LoadStr(id);
  std::wstring own = OneLine(SystemText(code));
  return FormatStr(LoadStr(IDS_REASON_WIN32).c_str(), static_cast<int>(code), own.c_str());
}

std::wstring FailureText(const FailureRecord& record) {
  std::wstring reason;
  if (record.source == kFailureNone) return reason;
  if (record.source == kFailureMounted) return FormatStr(LoadStr(IDS_REASON_MOUNTED).c_str(), record.path.c_str());
  if (record.diskFull)
    reason = LoadStr(IDS_REASON_DISK_FULL);
  else if (record.source == kFailureWimlib)
    reason = WimlibReasonText(record.code);
  else
    reason = Win32ReasonText(static_cast<DWORD>(record.code));
  if (record.path.empty()) return reason;
  return FormatStr(LoadStr(IDS_REASON_WITH_FILE).c_str(), reason.c_str(), record.path.c_str());
}

std::wstring FailureText() { return FailureText(LastFailure()); }
