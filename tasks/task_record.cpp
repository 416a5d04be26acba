#include "tasks/task_record.h"

#include <cwchar>

#include "resources/ids_incremental.h"
#include "resources/resource.h"
#include "win/strings.h"

void SetTaskText(wchar_t (&field)[kTaskTextChars], const std::wstring& text) {
  size_t n = text.size() < kTaskTextChars - 1 ? text.size() : kTaskTextChars - 1;
  // A character outside the Basic Multilingual Plane takes two units; the
  // cut never leaves the first of them alone.
  if (n < text.size() && n > 0 && IS_HIGH_SURROGATE(text[n - 1])) --n;
  wmemcpy(field, text.data(), n);
  field[n] = L'\0';
}

std::wstring TaskTypeCaption(BYTE type) {
  // The list reads "0:创建新镜像;1:追加镜像卷;2:解开镜像;3:挂载;".
  std::wstring list = LoadStr(IDS_TASK_TYPES);
  std::wstring key = FormatStr(L"%d:", type);
  for (size_t pos = list.find(key); pos != std::wstring::npos; pos = list.find(key, pos + 1)) {
    if (pos != 0 && list[pos - 1] != L';') continue;  // "1:" inside "11:"
    size_t start = pos + key.size();
    size_t end = list.find(L';', start);
    return list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
  }
  return FormatStr(L"%d", type);
}

std::wstring TaskRowCaption(const TaskRecord& record) {
  std::wstring caption = TaskTypeCaption(record.TaskType);
  if (record.TaskType != kTaskCaptureAppend || record.TemplateImage == 0) return caption;
  if (record.TemplateImage < 0) return LoadFilledStr(IDS_TEMPLATE_ROW_LAST, {caption});
  return LoadFilledStr(IDS_TEMPLATE_ROW_INDEX, {caption, std::to_wstring(record.TemplateImage)});
}
