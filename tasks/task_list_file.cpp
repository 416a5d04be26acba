#include "tasks/task_list_file.h"

#include <cwchar>
#include <map>

#include "config/profile_document.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {

const wchar_t kListSection[] = L"TASKLIST";
const wchar_t kCountKey[] = L"Count";
// Most rows that loading makes up for missing sections (see LoadTaskList).
const size_t kMaxMissingRows = 10000;

std::wstring TaskSection(size_t index) { return FormatStr(L"TASK%u", static_cast<unsigned>(index)); }
std::wstring Decimal(int value) { return FormatStr(L"%d", value); }

const wchar_t kTemplateKey[] = L"TemplateImage";

// The keys of a row, in the order they are written: fourteen, and for a
// capture its template. A row of another type whose section still holds a
// template key from an earlier save gets it cleared.
void WriteRow(ProfileSection& s, const TaskListRow& row) {
  const TaskRecord& r = row.record;
  s.Set(L"SrcPath", row.srcPath);
  s.Set(L"DesPath", row.desPath);
  s.Set(L"TaskType", Decimal(r.TaskType));
  s.Set(L"CompressType", Decimal(r.CompressType));
  s.Set(L"ImageIndex", Decimal(r.ImageIndex));
  s.Set(L"Verify", Decimal(r.Verify));
  s.Set(L"Writable", Decimal(r.Writable));
  s.Set(L"BootIndex", Decimal(r.BootIndex));
  s.Set(L"DisableACL", Decimal(r.DisableACL));
  s.Set(L"Name", r.Name);
  s.Set(L"Description", r.Description);
  s.Set(L"DsipName", r.DsipName);
  s.Set(L"DispDescription", r.DispDescription);
  s.Set(L"SKUFlag", r.SKUFlag);
  if (r.TaskType == kTaskCaptureNew || r.TaskType == kTaskCaptureAppend) s.Set(kTemplateKey, Decimal(r.TemplateImage));
  else if (s.Find(kTemplateKey)) s.Set(kTemplateKey, Decimal(0));
}

TaskListRow ReadRow(const ProfileSection& s) {
  TaskListRow row;
  TaskRecord& r = row.record;
  r.TaskType = static_cast<BYTE>(s.Number(L"TaskType"));
  r.ImageIndex = s.Number(L"ImageIndex");
  r.CompressType = s.Number(L"CompressType");
  r.BootIndex = s.Number(L"BootIndex");
  r.Verify = s.Number(L"Verify");
  r.Writable = s.Number(L"Writable");
  r.DisableACL = s.Number(L"DisableACL");
  r.TemplateImage = s.Number(kTemplateKey);
  SetTaskText(r.Name, s.Text(L"Name"));
  SetTaskText(r.Description, s.Text(L"Description"));
  SetTaskText(r.DsipName, s.Text(L"DsipName"));
  SetTaskText(r.DispDescription, s.Text(L"DispDescription"));
  SetTaskText(r.SKUFlag, s.Text(L"SKUFlag"));
  row.desPath = s.Text(L"DesPath");  // paths are taken whole
  row.srcPath = s.Text(L"SrcPath");
  return row;
}

// "TASK" followed by a row number in decimal without leading zeros, in any
// case: the only names the section of a row can have.
bool RowNumber(const std::wstring& name, unsigned& number) {
  if (name.size() < 5 || name.size() > 14 || !StartsWithNoCase(name, L"TASK")) return false;
  if (name.find_first_not_of(L"0123456789", 4) != std::wstring::npos) return false;
  if (name[4] == L'0' && name.size() > 5) return false;
  unsigned long long n = wcstoull(name.c_str() + 4, nullptr, 10);
  if (n > 0x7FFFFFFF) return false;  // beyond any Count
  number = static_cast<unsigned>(n);
  return true;
}

}  // namespace

bool SaveTaskList(const std::wstring& name, const std::vector<TaskListRow>& rows) {
  // The profile functions look for a file named without a folder in the
  // Windows folder; a task list named that way is meant where it is.
  const std::wstring path = FullPath(name);
  // A file that exists but cannot be read is not replaced: its other
  // sections would be lost.
  ProfileDocument document;
  if (!ReadProfileDocument(path, document, true)) return false;
  document.Section(kListSection).Set(kCountKey, Decimal(static_cast<int>(rows.size())));
  for (size_t i = 0; i < rows.size(); ++i) WriteRow(document.Section(TaskSection(i)), rows[i]);
  return WriteProfileDocument(path, document);
}

std::vector<TaskListRow> LoadTaskList(const std::wstring& name) {
  ProfileDocument document;
  std::vector<TaskListRow> rows;
  if (!ReadProfileDocument(FullPath(name), document, false)) return rows;
  const ProfileSection* list = document.Find(kListSection);
  const int count = list ? list->Number(kCountKey) : 0;
  if (count <= 0) return rows;

  // The rows' sections by number; a later section of a number is not read.
  std::map<unsigned, const ProfileSection*> sections;
  for (const ProfileSection& s : document.Sections()) {
    unsigned number = 0;
    if (RowNumber(s.name, number) && number < static_cast<unsigned>(count) && document.Find(s.name) == &s)
      sections.emplace(number, &s);
  }
  if (sections.empty()) return rows;

  // Rows run from 0 to the highest section present; a row whose section is
  // missing is made from the defaults of its keys, as a missing key is, so
  // every row keeps its number. A file with huge gaps (a lone section with
  // a huge number) claims more rows than any queue holds: then only the
  // rows present are taken, so loading costs what the file holds.
  const unsigned end = sections.rbegin()->first + 1;
  if (end - sections.size() > kMaxMissingRows) {
    for (const auto& entry : sections) rows.push_back(ReadRow(*entry.second));
    return rows;
  }
  rows.resize(end);
  for (const auto& entry : sections) rows[entry.first] = ReadRow(*entry.second);
  return rows;
}

TaskListRow RowOfTask(const TaskRequest& task) {
  TaskListRow row;
  TaskRecord& r = row.record;
  r.TaskType = task.type;
  if (task.type == kTaskCaptureNew || task.type == kTaskCaptureAppend) {
    const CaptureRequest& c = task.capture;
    row.srcPath = c.source;
    row.desPath = c.wimPath;
    r.CompressType = c.compression;
    r.BootIndex = c.info.bootIndex;
    r.Verify = c.verify;
    r.DisableACL = c.noSecurity;
    r.TemplateImage = task.type == kTaskCaptureAppend ? c.templateImage : kTemplateNone;
    SetTaskText(r.Name, c.info.name);
    SetTaskText(r.DsipName, c.info.displayName);
    SetTaskText(r.Description, c.info.description);
    SetTaskText(r.DispDescription, c.info.displayDescription);
    SetTaskText(r.SKUFlag, c.info.flags);
  } else {
    const MountRequest& m = task.image;
    row.srcPath = m.wimPath;
    row.desPath = m.folder;
    r.ImageIndex = m.index;
    r.Writable = task.type == kTaskMount && m.writable;
    r.Verify = m.verify;
    r.DisableACL = m.noSecurity;
  }
  return row;
}

TaskRequest TaskOfRow(const TaskListRow& row) {
  const TaskRecord& r = row.record;
  TaskRequest task;
  task.type = r.TaskType;
  CaptureRequest& c = task.capture;
  c.source = row.srcPath;
  c.wimPath = row.desPath;
  c.compression = r.CompressType;
  c.append = r.TaskType == kTaskCaptureAppend;
  c.templateImage = c.append && r.TemplateImage >= kTemplateLastImage ? r.TemplateImage : kTemplateNone;
  c.verify = r.Verify != 0;
  c.noSecurity = r.DisableACL != 0;
  c.info.bootIndex = r.BootIndex;
  c.info.name = r.Name;
  c.info.description = r.Description;
  c.info.displayName = r.DsipName;
  c.info.displayDescription = r.DispDescription;
  c.info.flags = r.SKUFlag;
  c.info.wimBoot = 0;
  MountRequest& m = task.image;
  m.wimPath = row.srcPath;
  m.folder = row.desPath;
  m.index = r.ImageIndex;
  m.verify = r.Verify != 0;
  m.noSecurity = r.DisableACL != 0;
  m.writable = r.Writable != 0;
  return task;
}
