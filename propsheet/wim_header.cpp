// Reading the WIM header of one file and formatting its facts for the page.
#include "wim_header.h"

#include <commctrl.h>
#include <cwchar>

#include "module.h"
#include "resource.h"

namespace tessel {

namespace {

// Header fields, little-endian, at these offsets.
constexpr size_t kOffVersion = 12;
constexpr size_t kOffFlags = 16;
constexpr size_t kOffGuid = 24;
constexpr size_t kOffPartNumber = 40;
constexpr size_t kOffTotalParts = 42;
constexpr size_t kOffImageCount = 44;
constexpr size_t kOffBootIndex = 120;

DWORD Le32(const BYTE* p) {
  return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

WORD Le16(const BYTE* p) { return WORD(p[0] | p[1] << 8); }

// Closes a file handle when it goes out of scope.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (Valid()) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

std::wstring Format(const wchar_t* fmt, ...) {
  wchar_t buf[64];
  va_list args;
  va_start(args, fmt);
  int n = vswprintf(buf, 64, fmt, args);
  va_end(args);
  return n > 0 ? std::wstring(buf, n) : std::wstring();
}

// The GUID bytes in registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::wstring FormatGuid(const BYTE* g) {
  return Format(L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned)Le32(g), (unsigned)Le16(g + 4),
                (unsigned)Le16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
}

std::wstring FormatCompression(DWORD flags) {
  if (!(flags & kFlagCompressed)) return L"None";
  std::wstring text;
  if (flags & kFlagXpress) text += L"Xpress";
  if (flags & kFlagLzx) text += L"LZX";
  if (text.empty() && (flags & kFlagLzms)) text = L"LZMS";
  return text;
}

// Reads up to `size` bytes from the start of the file; returns the count.
DWORD ReadPrefix(HANDLE file, BYTE* buf, DWORD size) {
  DWORD total = 0;
  while (total < size) {
    DWORD got = 0;
    if (!ReadFile(file, buf + total, size - total, &got, nullptr) || got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace

std::vector<std::wstring> FormatHeaderValues(const BYTE* h) {
  DWORD version = Le32(h + kOffVersion);
  std::vector<std::wstring> values;
  values.push_back(Format(L"%d.%d", int(version >> 16), int((version >> 8) & 0xFF)));
  values.push_back(FormatGuid(h + kOffGuid));
  // The count and the boot index are unsigned 32-bit fields.
  values.push_back(Format(L"%u", (unsigned)Le32(h + kOffImageCount)));
  values.push_back(FormatCompression(Le32(h + kOffFlags)));
  values.push_back(Format(L"%d/%d", int(Le16(h + kOffPartNumber)), int(Le16(h + kOffTotalParts))));
  values.push_back(Format(L"%u", (unsigned)Le32(h + kOffBootIndex)));
  return values;
}

std::vector<std::wstring> SplitRowLabels(const std::wstring& text, size_t count) {
  std::vector<std::wstring> labels;
  size_t start = 0;
  while (labels.size() < count) {
    if (start >= text.size()) {
      labels.emplace_back();
      continue;
    }
    size_t colon = text.find(L':', start);
    size_t end = colon == std::wstring::npos ? text.size() : colon + 1;
    labels.push_back(text.substr(start, end - start));
    start = end;
  }
  return labels;
}

std::vector<std::wstring> ReadHeaderRows(const wchar_t* path, const std::vector<std::wstring>& labels) {
  std::vector<std::wstring> rows;
  // Read-only, and no sharing: a file that another process has open (for
  // example a mounted image) is not shown.
  FileHandle file(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return rows;

  BYTE header[kHeaderReadSize] = {};
  if (ReadPrefix(file.Get(), header, kHeaderReadSize) < kWimHeaderSize) return rows;

  std::vector<std::wstring> values = FormatHeaderValues(header);
  for (size_t i = 0; i < values.size(); ++i) {
    std::wstring label = i < labels.size() ? labels[i] : std::wstring();
    rows.push_back(label + L" " + values[i]);
  }
  return rows;
}

void FillInfoList(HWND tree, const wchar_t* path) {
  wchar_t text[256] = {};
  LoadStringW(ModuleInstance(), IDS_ROW_LABELS, text, 256);
  std::vector<std::wstring> rows = ReadHeaderRows(path, SplitRowLabels(text, kRowCount));
  for (std::wstring& row : rows) {
    TVINSERTSTRUCTW ins = {};
    ins.hParent = TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = &row[0];
    SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
  }
}

}  // namespace tessel
