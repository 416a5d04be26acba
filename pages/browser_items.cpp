#include "pages/browser_items.h"

#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <numeric>

#include "pages/browser_edits.h"
#include "win/strings.h"
#include "win/window_thread.h"

namespace {
const int64_t kUnixEpochTicks = 116444736000000000LL;

bool ToLocal(int64_t ticks, const TIME_ZONE_INFORMATION& zone, SYSTEMTIME& local) {
  ULARGE_INTEGER value;
  value.QuadPart = static_cast<ULONGLONG>(ticks);
  FILETIME utc = {value.LowPart, value.HighPart};
  SYSTEMTIME system;
  return FileTimeToSystemTime(&utc, &system) && SystemTimeToTzSpecificLocalTime(&zone, &system, &local);
}

// Writes a formatted text into `out`, cut to `capacity` characters with
// the terminating zero.
void WriteFormatted(wchar_t* out, int capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(out, static_cast<size_t>(capacity), format, args);
  va_end(args);
  if (n < 0 || n >= capacity) out[capacity - 1] = 0;
}

void WriteSize(uint64_t size, CellStyle style, wchar_t* out, int capacity) {
  const unsigned long long n = size;
  if (style == CellStyle::kComputerSize && size >= 1024)
    WriteFormatted(out, capacity, L"%llu KB", (n + 512) / 1024);
  else
    WriteFormatted(out, capacity, L"%llu Bytes", n);
}

void WriteTime(int64_t ticks, CellStyle style, const TIME_ZONE_INFORMATION& zone, wchar_t* out, int capacity) {
  SYSTEMTIME t;
  if (!ToLocal(ticks, zone, t)) {
    out[0] = 0;
    return;
  }
  WriteFormatted(out, capacity, style == CellStyle::kFileTime ? L"%04d-%02d-%02d %02d:%02d" : L"%d-%02d-%02d %02d:%02d",
           t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
}
}  // namespace

std::wstring ComputerSizeText(uint64_t size) {
  wchar_t text[40];
  WriteSize(size, CellStyle::kComputerSize, text, 40);
  return text;
}

std::wstring BytesText(uint64_t size) {
  wchar_t text[40];
  WriteSize(size, CellStyle::kBytes, text, 40);
  return text;
}

int64_t TicksOf(const FILETIME& utc) {
  return static_cast<int64_t>((static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime);
}

int64_t TicksOfUnix(int64_t seconds, int32_t nanoseconds) {
  return seconds * 10000000LL + nanoseconds / 100 + kUnixEpochTicks;
}

std::wstring FileTimeText(const FILETIME& utc, const TIME_ZONE_INFORMATION& zone) {
  wchar_t text[40];
  WriteTime(TicksOf(utc), CellStyle::kFileTime, zone, text, 40);
  return text;
}

std::wstring UnixTimeText(int64_t seconds, int32_t nanoseconds, const TIME_ZONE_INFORMATION& zone) {
  wchar_t text[40];
  WriteTime(TicksOfUnix(seconds, nanoseconds), CellStyle::kUnixTime, zone, text, 40);
  return text;
}

void WriteCellText(const BrowserItem& item, int column, const TIME_ZONE_INFORMATION& zone, wchar_t* out,
                   int capacity) {
  if (!out || capacity <= 0) return;
  out[0] = 0;
  switch (column) {
    case 0: lstrcpynW(out, item.NameText(), capacity); break;
    case 1: lstrcpynW(out, item.TypeText().c_str(), capacity); break;
    case 2:
      if (item.sizeStyle != CellStyle::kBlank) WriteSize(item.size, item.sizeStyle, out, capacity);
      break;
    case 3:
      if (item.compressedStyle != CellStyle::kBlank) WriteSize(item.compressed, item.compressedStyle, out, capacity);
      break;
    case 4:
      if (item.timeStyle != CellStyle::kBlank) WriteTime(item.time, item.timeStyle, zone, out, capacity);
      break;
    default: break;
  }
}

std::wstring CellText(const BrowserItem& item, int column, const TIME_ZONE_INFORMATION& zone) {
  if (column == 0) return std::wstring(item.Name());
  if (column == 1) return item.TypeText();
  wchar_t text[64];
  WriteCellText(item, column, zone, text, 64);
  return text;
}

// Byte strings that order as lstrcmpW orders the texts they are made of,
// kept in one buffer: the keys of one chunk of rows.
class TextKeys {
 public:
  TextKeys(size_t count, LCID lcid) : lcid_(lcid) { offsets_.reserve(count + 1); }
  void Add(std::wstring_view text) {
    const size_t at = bytes_.size();
    offsets_.push_back(at);
    const int length = static_cast<int>(text.size());
    int made = 0;
    if (length) {
      // Most keys fit in room for a few bytes a character, so most texts
      // are mapped in one call; a longer key is asked for its size first.
      const int room = length * 8 + 32;
      bytes_.resize(at + static_cast<size_t>(room));
      made = LCMapStringW(lcid_, LCMAP_SORTKEY, text.data(), length, reinterpret_cast<wchar_t*>(&bytes_[at]), room);
      if (made <= 0) {
        const int need = LCMapStringW(lcid_, LCMAP_SORTKEY, text.data(), length, nullptr, 0);
        if (need > 0) {
          bytes_.resize(at + static_cast<size_t>(need));
          made = LCMapStringW(lcid_, LCMAP_SORTKEY, text.data(), length, reinterpret_cast<wchar_t*>(&bytes_[at]),
                              need);
        }
      }
      if (made <= 0) {
        failed_ = true;
        made = 0;
      }
    }
    bytes_.resize(at + static_cast<size_t>(made) + 1);
    bytes_.back() = 0;
  }
  bool failed() const { return failed_; }
  const char* Key(size_t i) const { return &bytes_[offsets_[i]]; }

 private:
  LCID lcid_;
  std::vector<size_t> offsets_;
  std::vector<char> bytes_;
  bool failed_ = false;
};

namespace {
constexpr size_t kKeyChunk = 2048;  // rows whose keys one thread makes at a time
}  // namespace

SortKeyMaker::SortKeyMaker(size_t count, std::function<std::wstring_view(size_t)> textOf, LCID lcid)
    : count_(count), textOf_(std::move(textOf)) {
  for (size_t at = 0; at < count; at += kKeyChunk)
    chunks_.push_back(std::make_unique<TextKeys>(std::min(kKeyChunk, count - at), lcid));
  if (chunks_.size() > 1) worker_ = StartThread([this] { TakeChunks(); });
}

SortKeyMaker::~SortKeyMaker() {
  if (!worker_) return;
  next_ = chunks_.size();  // no chunk more
  WaitForSingleObject(worker_.get(), INFINITE);
}

void SortKeyMaker::TakeChunks() {
  for (size_t chunk = next_++; chunk < chunks_.size(); chunk = next_++) {
    TextKeys& keys = *chunks_[chunk];
    const size_t end = std::min(count_, (chunk + 1) * kKeyChunk);
    for (size_t i = chunk * kKeyChunk; i < end; i++) keys.Add(textOf_(i));
    if (keys.failed()) failed_ = true;
  }
}

bool SortKeyMaker::Finish() {
  TakeChunks();
  if (worker_) {
    WaitForSingleObject(worker_.get(), INFINITE);
    worker_.reset();
  }
  textOf_ = nullptr;
  return !failed_;
}

int SortKeyMaker::Compare(size_t a, size_t b) const {
  return strcmp(chunks_[a / kKeyChunk]->Key(a % kKeyChunk), chunks_[b / kKeyChunk]->Key(b % kKeyChunk));
}

namespace {

// A key that orders as the "%Y-%m-%d %H:%M" text of the time does; rows
// without a time come first, as their empty text does.
int64_t MinuteKey(const BrowserItem& item, const TIME_ZONE_INFORMATION& zone) {
  SYSTEMTIME t;
  if (item.timeStyle == CellStyle::kBlank || !ToLocal(item.time, zone, t)) return LLONG_MIN;
  return ((((static_cast<int64_t>(t.wYear) * 13 + t.wMonth) * 32 + t.wDay) * 24 + t.wHour) * 60) + t.wMinute;
}
}  // namespace

void SortBrowserRows(std::vector<BrowserItem*>& items, int column, bool ascending,
                     const TIME_ZONE_INFORMATION& zone, SortKeyMaker* names) {
  const size_t count = items.size();
  // Folders before files: each row's kind is read once, not at every
  // comparison.
  std::vector<int> kinds(count);
  for (size_t i = 0; i < count; i++) {
    items[i]->row = static_cast<int>(i);
    kinds[i] = items[i]->kind;
  }
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::vector<int64_t> numbers;
  std::vector<uint64_t> sizes;
  std::unique_ptr<SortKeyMaker> made;
  SortKeyMaker* texts = column == 0 && names && names->size() == count ? names : nullptr;
  bool byText = false;
  if (column == 2 || column == 3) {
    sizes.resize(count);
    for (size_t i = 0; i < count; i++) sizes[i] = column == 2 ? items[i]->size : items[i]->compressed;
  } else if (column == 4) {
    numbers.resize(count);
    for (size_t i = 0; i < count; i++) numbers[i] = MinuteKey(*items[i], zone);
  } else if (column == 0 || column == 1) {
    if (!texts) {
      made = std::make_unique<SortKeyMaker>(count, [&items, column](size_t i) -> std::wstring_view {
        return column == 0 ? items[i]->Name() : std::wstring_view(items[i]->TypeText());
      });
      texts = made.get();
    }
    byText = texts->Finish();
  }
  auto columnOrder = [&](uint32_t a, uint32_t b) -> int {
    if (!sizes.empty()) return sizes[a] < sizes[b] ? -1 : (sizes[a] > sizes[b] ? 1 : 0);
    if (!numbers.empty()) return numbers[a] < numbers[b] ? -1 : (numbers[a] > numbers[b] ? 1 : 0);
    if (byText) return texts->Compare(a, b);
    if (column == 0) return lstrcmpW(items[a]->NameText(), items[b]->NameText());
    if (column == 1) return lstrcmpW(items[a]->TypeText().c_str(), items[b]->TypeText().c_str());
    return 0;
  };
  auto before = [&](uint32_t a, uint32_t b) {
    const int kindA = kinds[a], kindB = kinds[b];
    int result = kindA != kindB ? (kindA < kindB ? -1 : 1) : columnOrder(a, b);
    return (ascending ? result : -result) < 0;
  };
  // An image lists a folder by name already, mostly in the order wanted:
  // rows in order cost one comparison each.
  if (std::is_sorted(order.begin(), order.end(), before)) return;
  std::stable_sort(order.begin(), order.end(), before);
  std::vector<BrowserItem*> sorted(count);
  for (size_t i = 0; i < count; i++) sorted[i] = items[order[i]];
  items.swap(sorted);
}

std::wstring BrowserItem::Path() const { return folder ? ImageChild(*folder, Name()) : path; }

BrowserItem& BrowserRowStore::Add() {
  if (used_ == room_) {
    room_ = blocks_.empty() ? 64 : std::min<size_t>(room_ * 2, 4096);
    blocks_.push_back(std::make_unique<BrowserItem[]>(room_));
    used_ = 0;
  }
  return blocks_.back()[used_++];
}

void BrowserRowStore::Clear() {
  blocks_.clear();
  used_ = room_ = 0;
}

std::wstring FileTypeName(const std::wstring& extension) {
  if (extension.empty()) return L"";
  wchar_t className[256] = {};
  LONG size = sizeof(className);
  if (RegQueryValueW(HKEY_CLASSES_ROOT, extension.c_str(), className, &size) != ERROR_SUCCESS || !className[0])
    return L"";
  wchar_t typeName[256] = {};
  size = sizeof(typeName);
  if (RegQueryValueW(HKEY_CLASSES_ROOT, className, typeName, &size) != ERROR_SUCCESS) return L"";
  return typeName;
}

namespace {
// Where the extension of a name starts (its dot), or its length when none.
size_t ExtensionAt(std::wstring_view name) {
  size_t dot = name.rfind(L'.');
  size_t slash = name.rfind(L'\\');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return name.size();
  return dot;
}
}  // namespace

std::wstring LowerExtension(const std::wstring& name) {
  size_t at = ExtensionAt(name);
  if (at == name.size()) return L"";
  std::wstring ext = name.substr(at);
  CharLowerBuffW(&ext[0], static_cast<DWORD>(ext.size()));
  return ext;
}

HIMAGELIST IconCache::SystemImageList() {
  SHFILEINFOW info = {};
  return reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info),
                                                     SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
}

void IconCache::FindFolderIcon() {
  SHFILEINFOW info = {};
  if (SHGetFileInfoW(L"X:\\X", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof(info),
                     SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
    folderIcon_ = info.iIcon;
}

// The system's icon of an extension the registry knows; 0 for one it does
// not know. Asked once per extension, when a row of that type is listed,
// not for every extension of the registry before the first listing.
int IconCache::ExtensionIcon(const std::wstring& extension) {
  if (extension.empty()) return 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, extension.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  RegCloseKey(key);
  SHFILEINFOW info = {};
  const std::wstring dummy = L"X:\\X" + extension;
  if (!SHGetFileInfoW(dummy.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                      SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
    return 0;
  return info.iIcon;
}

const std::wstring& IconCache::TypeName(const std::wstring& name) { return KindOf(name).type; }

const IconCache::FileKind& IconCache::KindOf(std::wstring_view name) {
  // The rows of a folder mostly share a few extensions: the last one asked
  // for is checked without making a string.
  const size_t at = ExtensionAt(name);
  const int length = static_cast<int>(name.size() - at);
  if (last_ && length == static_cast<int>(lastExtension_.size()) &&
      (length == 0 ||
       CompareStringOrdinal(name.data() + at, length, lastExtension_.c_str(), length, TRUE) == CSTR_EQUAL))
    return *last_;
  // The lower-case extension is made in a string kept for it, which has
  // room for it after the first few names.
  lookup_.assign(name, at, std::wstring::npos);
  if (!lookup_.empty()) CharLowerBuffW(&lookup_[0], static_cast<DWORD>(lookup_.size()));
  auto found = kinds_.find(lookup_);
  if (found == kinds_.end()) {
    auto kind = std::make_unique<FileKind>();
    kind->icon = ExtensionIcon(lookup_);
    kind->type = FileTypeName(lookup_);
    found = kinds_.emplace(lookup_, std::move(kind)).first;
  }
  last_ = found->second.get();
  lastExtension_ = lookup_;
  return *last_;
}
