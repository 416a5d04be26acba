#include "engine/write_beside.h"

#include <windows.h>

#include <cwchar>

#include "engine/failure_reason.h"
#include "engine/leftovers.h"
#include "win/long_path.h"
#include "win/strings.h"

namespace {

// "\\?\C:\a" -> "C:\a", "\\?\UNC\server\share" -> "\\server\share".
std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

// Whether `path` itself (not what it names) is a symbolic link.
bool IsSymbolicLink(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(LongPathForm(path).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && data.dwReserved0 == IO_REPARSE_TAG_SYMLINK;
}

}  // namespace

std::wstring WriteTargetOf(const std::wstring& target) {
  // Opening follows every link; the handle then knows the file's own path.
  HANDLE file = CreateFileW(LongPathForm(target).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && IsSymbolicLink(target)) {
      NoteWin32Failure(ERROR_CANT_RESOLVE_FILENAME);
      return std::wstring();
    }
    return target;
  }
  std::wstring final(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(file, &final[0], static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  if (n >= final.size()) {
    final.resize(n + 1);
    n = GetFinalPathNameByHandleW(file, &final[0], static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(file);
  if (n == 0 || n >= final.size()) return target;
  final.resize(n);
  return WithoutLongPrefix(final);
}

std::wstring TempFileBeside(const std::wstring& target) {
  const std::wstring written = WriteTargetOf(target);
  if (written.empty()) return std::wstring();
  const std::wstring folder = FolderPart(written);
  // What a killed write of an earlier run left here goes first.
  ClearLeftovers(folder);
  NoteWriteFolder(folder);
  static volatile LONG counter = 0;
  for (int attempt = 0; attempt < 1000; attempt++) {
    std::wstring name = folder + LeftoverPrefix() + FormatStr(L"%ld.tmp", InterlockedIncrement(&counter));
    HANDLE file = CreateFileW(LongPathForm(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return name;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    NoteWin32Failure(error);
    return std::wstring();
  }
  NoteWin32Failure(ERROR_FILE_EXISTS);
  return std::wstring();
}

EngineResult PutInPlace(const std::wstring& temp, const std::wstring& target, EngineResult result, bool replace) {
  if (result == kResultSuccess) {
    const std::wstring written = WriteTargetOf(target);
    if (written.empty())
      result = kResultFailed;
    else if (!MoveFileExW(LongPathForm(temp).c_str(), LongPathForm(written).c_str(),
                          replace ? MOVEFILE_REPLACE_EXISTING : 0))
      result = (NoteWin32Failure(GetLastError()), kResultFailed);
  }
  if (result != kResultSuccess) DeleteFileW(LongPathForm(temp).c_str());
  return result;
}
