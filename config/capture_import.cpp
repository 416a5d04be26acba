#include "config/capture_import.h"

#include <windows.h>

#include "win/handles.h"
#include "win/long_path.h"
#include "win/paths.h"

namespace {

struct ImportHeader {
  const wchar_t* line;
  CaptureListKind list;
};

const ImportHeader kHeaders[] = {
    {L"[ExclusionList]", kListExclude},
    {L"[CompressionExclusionList]", kListNoCompress},
    {L"[AlignmentList]", kListAlignment},
    {L"[ExclusionException]", kListException},
};

// The header a line names, or -1.
int HeaderList(const std::wstring& line) {
  for (const ImportHeader& h : kHeaders)
    if (EqualNoCase(line, h.line)) return h.list;
  return -1;
}

bool HasContent(const std::wstring& line) { return line.find_first_not_of(L" \r\n") != std::wstring::npos; }

std::wstring Decode(UINT codePage, DWORD flags, const char* data, size_t size, bool* ok) {
  *ok = true;
  if (size == 0) return {};
  int n = MultiByteToWideChar(codePage, flags, data, static_cast<int>(size), nullptr, 0);
  if (n <= 0) {
    *ok = false;
    return {};
  }
  std::wstring text(n, L'\0');
  MultiByteToWideChar(codePage, flags, data, static_cast<int>(size), &text[0], n);
  return text;
}

}  // namespace

std::wstring DecodeImportText(const std::string& bytes) {
  bool ok = false;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    if (!text.empty()) memcpy(&text[0], bytes.data() + 2, text.size() * sizeof(wchar_t));
    return text;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return Decode(CP_UTF8, 0, bytes.data() + 3, bytes.size() - 3, &ok);
  std::wstring text = Decode(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), bytes.size(), &ok);
  if (ok) return text;
  return Decode(CP_ACP, 0, bytes.data(), bytes.size(), &ok);
}

StoredCaptureLists ParseCaptureImport(const std::wstring& text) {
  StoredCaptureLists lists;
  int current = -1;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.pop_back();  // the rest of a CR LF line end

    int header = HeaderList(line);
    if (header >= 0) {
      current = header;
    } else if (current >= 0 && HasContent(line) && IsStorablePattern(line)) {
      lists.entries[current].push_back({line, true});
    }
  }
  return lists;
}

bool ImportCaptureFile(const std::wstring& path, StoredCaptureLists& lists) {
  lists = StoredCaptureLists();
  UniqueHandle file(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxImportFileBytes))
    return false;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() && !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) return false;
  bytes.resize(got);
  lists = ParseCaptureImport(DecodeImportText(bytes));
  return true;
}
