#include "tasks/task_list_file.h"

#include <algorithm>
#include <cwchar>

#include "app/settings.h"
#include "win/strings.h"

namespace {

const wchar_t kListSection[] = L"TASKLIST";
const wchar_t kCountKey[] = L"Count";
constexpr size_t kLongestPathChars = 32767;

std::wstring TaskSection(size_t index) { return FormatStr(L"TASK%u", static_cast<unsigned>(index)); }

// The number of rows a load may produce: Count, but no further than the
// highest-numbered TASK section present.
size_t RowsToLoad(const std::wstring& path, int count) {
  if (count <= 0) return 0;
  size_t limit = 0;
  for (const std::wstring& name : ReadProfileSectionNames(path)) {
    if (name.size() < 5 || _wcsnicmp(name.c_str(), L"TASK", 4) != 0) continue;
    if (name.find_first_not_of(L"0123456789", 4) != std::wstring::npos || name.size() > 14) continue;
    if (name[4] == L'0' && name.size() > 5) continue;  // "TASK01" is not the section of row 1
    unsigned long long index = wcstoull(name.c_str() + 4, nullptr, 10);
    if (index < static_cast<unsigned long long>(count)) limit = std::max(limit, static_cast<size_t>(index) + 1);
  }
  return limit;
}

bool WriteText(const std::wstring& path, const std::wstring& section, const wchar_t* key, const std::wstring& value) {
  return WritePrivateProfileStringW(section.c_str(), key, value.c_str(), path.c_str()) != FALSE;
}

bool WriteNumber(const std::wstring& path, const std::wstring& section, const wchar_t* key, int value) {
  return WriteText(path, section, key, FormatStr(L"%d", value));
}

bool WriteRow(const std::wstring& path, const std::wstring& s, const TaskListRow& row) {
  const TaskRecord& r = row.record;
  return WriteText(path, s, L"SrcPath", row.srcPath) && WriteText(path, s, L"DesPath", row.desPath) &&
         WriteNumber(path, s, L"TaskType", r.TaskType) && WriteNumber(path, s, L"CompressType", r.CompressType) &&
         WriteNumber(path, s, L"ImageIndex", r.ImageIndex) && WriteNumber(path, s, L"Verify", r.Verify) &&
         WriteNumber(path, s, L"Writable", r.Writable) && WriteNumber(path, s, L"BootIndex", r.BootIndex) &&
         WriteNumber(path, s, L"DisableACL", r.DisableACL) && WriteText(path, s, L"Name", r.Name) &&
         WriteText(path, s, L"Description", r.Description) && WriteText(path, s, L"DsipName", r.DsipName) &&
         WriteText(path, s, L"DispDescription", r.DispDescription) && WriteText(path, s, L"SKUFlag", r.SKUFlag);
}

TaskListRow ReadRow(const std::wstring& path, const std::wstring& section) {
  const wchar_t* s = section.c_str();
  TaskListRow row;
  TaskRecord& r = row.record;
  r.TaskType = static_cast<BYTE>(ReadProfileInt(path, s, L"TaskType"));
  r.ImageIndex = ReadProfileInt(path, s, L"ImageIndex");
  r.CompressType = ReadProfileInt(path, s, L"CompressType");
  r.BootIndex = ReadProfileInt(path, s, L"BootIndex");
  r.Verify = ReadProfileInt(path, s, L"Verify");
  r.Writable = ReadProfileInt(path, s, L"Writable");
  r.DisableACL = ReadProfileInt(path, s, L"DisableACL");
  SetTaskText(r.Name, ReadProfileText(path, s, L"Name"));
  SetTaskText(r.Description, ReadProfileText(path, s, L"Description"));
  SetTaskText(r.DsipName, ReadProfileText(path, s, L"DsipName"));
  SetTaskText(r.DispDescription, ReadProfileText(path, s, L"DispDescription"));
  SetTaskText(r.SKUFlag, ReadProfileText(path, s, L"SKUFlag"));
  // Paths are read whole, however long: a cut path would name another file.
  row.desPath = ReadProfileTextUpTo(path, s, L"DesPath", kLongestPathChars);
  row.srcPath = ReadProfileTextUpTo(path, s, L"SrcPath", kLongestPathChars);
  return row;
}

// The profile functions look for a file named without a folder in the
// Windows folder; a task list named that way is meant where it is.
std::wstring FullPath(const std::wstring& path) {
  std::wstring buffer(kLongestPathChars + 1, L'\0');
  DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), &buffer[0], nullptr);
  return (n > 0 && n < buffer.size()) ? buffer.substr(0, n) : path;
}

}  // namespace

bool SaveTaskList(const std::wstring& name, const std::vector<TaskListRow>& rows) {
  const std::wstring path = FullPath(name);
  EnsureUnicodeProfile(path);
  if (!WriteNumber(path, kListSection, kCountKey, static_cast<int>(rows.size()))) return false;
  for (size_t i = 0; i < rows.size(); ++i)
    if (!WriteRow(path, TaskSection(i), rows[i])) return false;
  return true;
}

std::vector<TaskListRow> LoadTaskList(const std::wstring& name) {
  const std::wstring path = FullPath(name);
  std::vector<TaskListRow> rows;
  size_t n = RowsToLoad(path, ReadProfileInt(path, kListSection, kCountKey));
  for (size_t j = 0; j < n; ++j) rows.push_back(ReadRow(path, TaskSection(j)));
  return rows;
}
