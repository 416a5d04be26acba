#include "engine/leftovers.h"

#include <windows.h>

#include <cwchar>
#include <mutex>
#include <set>
#include <vector>

#include "win/long_path.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {

const wchar_t kPrefix[] = L"~quarry-";

ULONGLONG TicksOf(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG OwnStart() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  return TicksOf(created);
}

// Whether the process `pid` that started at `start` still runs. A process
// that cannot be asked is taken as running: its files are never touched.
bool StillRuns(DWORD pid, ULONGLONG start) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  bool runs = true;
  FILETIME created, exited, kernel, user;
  DWORD code = 0;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user))
    runs = TicksOf(created) == start && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return runs;
}

// The owner of a name "~quarry-<pid>-<start>-<rest>"; false for any other name.
bool OwnerOf(const wchar_t* name, DWORD& pid, ULONGLONG& start) {
  const size_t prefix = wcslen(kPrefix);
  if (!StartsWithNoCase(name, kPrefix)) return false;
  const wchar_t* p = name + prefix;
  wchar_t* end = nullptr;
  unsigned long long id = _wcstoui64(p, &end, 16);
  if (end == p || *end != L'-') return false;
  p = end + 1;
  unsigned long long when = _wcstoui64(p, &end, 16);
  if (end == p || *end != L'-') return false;
  pid = static_cast<DWORD>(id);
  start = when;
  return true;
}

std::wstring UserTempFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, path);
  return n && n <= MAX_PATH ? std::wstring(path, n) : std::wstring();
}

const wchar_t kFolderList[] = L"folders.lst";

std::wstring ReadFolderList(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::wstring();
  std::wstring text;
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 20)) {
    text.resize(static_cast<size_t>(size.QuadPart) / sizeof(wchar_t));
    DWORD read = 0;
    if (!ReadFile(file, &text[0], static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr)) read = 0;
    text.resize(read / sizeof(wchar_t));
  }
  CloseHandle(file);
  return text;
}

}  // namespace

void NoteWriteFolder(const std::wstring& folder) {
  static std::mutex lock;
  static std::set<std::wstring> noted;
  std::lock_guard<std::mutex> guard(lock);
  if (folder.empty() || !noted.insert(folder).second) return;
  std::wstring temp = UserTempFolder();
  if (temp.empty()) return;
  HANDLE file = CreateFileW((temp + LeftoverPrefix() + kFolderList).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::wstring line = folder + L"\n";
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
}

void ClearLeftoversOfEndedRuns() {
  std::wstring temp = UserTempFolder();
  if (temp.empty()) return;
  const DWORD self = GetCurrentProcessId();
  std::vector<std::wstring> lists;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((temp + kPrefix + L"*-" + kFolderList).c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      DWORD pid = 0;
      ULONGLONG start = 0;
      if (!OwnerOf(data.cFileName, pid, start) || pid == self || StillRuns(pid, start)) continue;
      lists.push_back(temp + data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  for (const std::wstring& list : lists) {
    std::wstring text = ReadFolderList(list);
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find(L'\n', at);
      if (end == std::wstring::npos) end = text.size();
      if (end > at) ClearLeftovers(text.substr(at, end - at));
      at = end + 1;
    }
    DeleteFileW(list.c_str());
  }
  ClearLeftovers(temp);
}

std::wstring LeftoverPrefix() {
  static const ULONGLONG start = OwnStart();
  return FormatStr(L"%s%lx-%I64x-", kPrefix, static_cast<unsigned long>(GetCurrentProcessId()), start);
}

std::wstring FolderPart(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".\\") : path.substr(0, slash + 1);
}

void ClearLeftovers(const std::wstring& folder) {
  std::wstring base = folder;
  if (base.empty()) base = L".\\";
  if (base.back() != L'\\' && base.back() != L'/') base += L'\\';
  const DWORD self = GetCurrentProcessId();
  std::vector<std::wstring> ended;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(LongPathForm(base + kPrefix + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::wstring name = data.cFileName;
    DWORD pid = 0;
    ULONGLONG start = 0;
    if (!OwnerOf(name.c_str(), pid, start) || HasExtension(name, L".old")) continue;
    if (pid == self || StillRuns(pid, start)) continue;
    ended.push_back(base + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  for (const std::wstring& path : ended) DeleteFileW(LongPathForm(path).c_str());
}
