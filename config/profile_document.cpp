#include "config/profile_document.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "win/handles.h"
#include "win/long_path.h"
#include "win/paths.h"

namespace {

bool IsBlank(wchar_t c) { return iswspace(c) || c == 0x1A; }

std::wstring Upper(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty()) CharUpperBuffW(&out[0], static_cast<DWORD>(out.size()));
  return out;
}

// The section a header line names, or false when the line is no header.
bool HeaderName(const wchar_t* begin, const wchar_t* end, std::wstring& name) {
  if (*begin != L'[') return false;
  const wchar_t* close = end - 1;
  while (close > begin && *close != L']') --close;
  if (close <= begin) return false;
  name.assign(begin + 1, close);
  return true;
}

ProfileKey KeyLine(const wchar_t* begin, const wchar_t* end) {
  ProfileKey key;
  const wchar_t* equals = std::find(begin, end, L'=');
  const wchar_t* nameEnd = equals;
  while (nameEnd > begin && IsBlank(nameEnd[-1])) --nameEnd;
  key.name.assign(begin, nameEnd);
  key.hasValue = equals != end;
  if (key.hasValue) {
    const wchar_t* v = equals + 1;
    while (v < end && IsBlank(*v)) ++v;
    key.value.assign(v, end);
  }
  return key;
}

std::wstring FromUtf16Bytes(const unsigned char* b, size_t n, bool bigEndian) {
  std::wstring text(n / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned first = b[2 * i], second = b[2 * i + 1];
    text[i] = static_cast<wchar_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return text;
}

std::wstring FromCodePage(UINT codePage, const char* data, size_t n) {
  if (n == 0 || n > 0x7FFFFFFF) return std::wstring();
  int units = MultiByteToWideChar(codePage, 0, data, static_cast<int>(n), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring text(units, L'\0');
  MultiByteToWideChar(codePage, 0, data, static_cast<int>(n), &text[0], units);
  return text;
}

}  // namespace

const ProfileKey* ProfileSection::Find(const wchar_t* key) const {
  for (const ProfileKey& k : keys)
    if (EqualNoCase(k.name, key)) return &k;
  return nullptr;
}

std::wstring ProfileSection::Text(const wchar_t* key) const {
  const ProfileKey* k = Find(key);
  if (!k || !k->hasValue) return std::wstring();
  const std::wstring& v = k->value;
  if (v.size() >= 2 && (v[0] == L'"' || v[0] == L'\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
  return v;
}

int ProfileSection::Number(const wchar_t* key) const {
  // The profile functions look at no more than 29 characters of a number.
  std::wstring t = Text(key).substr(0, 29);
  size_t i = 0;
  while (i < t.size() && t[i] <= L' ') ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) negative = t[i++] == L'-';
  unsigned base = 10;
  if (i + 1 < t.size() && t[i] == L'0' && (t[i + 1] == L'x' || t[i + 1] == L'X')) base = 16, i += 2;
  unsigned value = 0;
  for (; i < t.size(); ++i) {
    wchar_t c = towlower(t[i]);
    unsigned digit = (c >= L'0' && c <= L'9') ? c - L'0' : (c >= L'a' && c <= L'f') ? c - L'a' + 10 : 99;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return static_cast<int>(negative ? 0u - value : value);
}

void ProfileSection::Set(const wchar_t* key, const std::wstring& value) {
  // Leading blanks of a value are never kept: they would not be read back.
  size_t start = 0;
  while (start < value.size() && IsBlank(value[start])) ++start;
  for (ProfileKey& k : keys)
    if (EqualNoCase(k.name, key)) {
      k.value = value.substr(start);
      k.hasValue = true;
      return;
    }
  keys.push_back({key, value.substr(start), true});
}

std::wstring ProfileDocument::Decode(const std::string& bytes) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) return FromUtf16Bytes(b + 2, n - 2, false);
  if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) return FromUtf16Bytes(b + 2, n - 2, true);
  if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return FromCodePage(CP_UTF8, bytes.data() + 3, n - 3);
  return FromCodePage(CP_ACP, bytes.data(), n);
}

void ProfileDocument::Parse(const std::wstring& text) {
  sections_.clear();
  firstByName_.clear();
  ProfileSection* current = nullptr;
  const wchar_t* p = text.c_str();
  const wchar_t* const end = p + text.size();
  while (p < end) {
    const wchar_t* lineEnd = p;
    while (lineEnd < end && *lineEnd != L'\r' && *lineEnd != L'\n') ++lineEnd;
    const wchar_t* next = lineEnd;
    while (next < end && (*next == L'\r' || *next == L'\n')) ++next;
    while (p < lineEnd && IsBlank(*p)) ++p;
    while (lineEnd > p && IsBlank(lineEnd[-1])) --lineEnd;
    std::wstring name;
    if (p < lineEnd && HeaderName(p, lineEnd, name)) {
      size_t before = sections_.size();
      Section(name);
      // A later section of a name already seen is kept, never found.
      if (sections_.size() == before) sections_.push_back({name, {}});
      current = &sections_.back();
    } else if (p < lineEnd) {
      if (!current) current = &Section(std::wstring());
      current->keys.push_back(KeyLine(p, lineEnd));
    }
    p = next;
  }
}

std::wstring ProfileDocument::Format() const {
  std::wstring out;
  for (const ProfileSection& s : sections_) {
    if (!s.name.empty()) out += L"[" + s.name + L"]\r\n";
    for (const ProfileKey& k : s.keys) out += k.hasValue ? k.name + L"=" + k.value + L"\r\n" : k.name + L"\r\n";
  }
  return out;
}

const ProfileSection* ProfileDocument::Find(const std::wstring& name) const {
  auto it = firstByName_.find(Upper(name));
  return it == firstByName_.end() ? nullptr : &sections_[it->second];
}

ProfileSection& ProfileDocument::Section(const std::wstring& name) {
  std::wstring key = Upper(name);
  auto it = firstByName_.find(key);
  if (it != firstByName_.end()) return sections_[it->second];
  firstByName_[key] = sections_.size();
  sections_.push_back({name, {}});
  return sections_.back();
}

namespace {

// A file larger than a string can hold is not read.
constexpr LONGLONG kMaxProfileBytes = 0x7FFFFFFF;

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  UniqueHandle file(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file) return false;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart > kMaxProfileBytes) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) {
    bytes.clear();
    return false;
  }
  bytes.resize(got);
  return true;
}

}  // namespace

bool ReadProfileDocument(const std::wstring& path, ProfileDocument& document, bool missingIsEmpty) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) {
    DWORD error = GetLastError();
    document.Parse(std::wstring());
    return missingIsEmpty && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
  }
  document.Parse(ProfileDocument::Decode(bytes));
  return true;
}

namespace {
void (*g_writeHook)(const std::wstring&) = nullptr;

// Marks an open file for deletion when its last handle closes, or takes
// the mark back.
bool MarkForDeletion(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = mark ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}
}  // namespace

void SetProfileWriteHook(void (*hook)(const std::wstring& temporary)) { g_writeHook = hook; }

bool WriteProfileDocument(const std::wstring& path, const ProfileDocument& document) {
  std::wstring text = L"\uFEFF" + document.Format();
  const std::wstring temporary = path + L".saving";
  bool written = false;
  {
    UniqueHandle file(CreateFileW(LongPathForm(temporary).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // While it is incomplete the system deletes it when the handle closes,
    // however this process ends. A volume that cannot mark it still gets
    // the save; only a kill would leave the file there.
    const bool marked = MarkForDeletion(file.get(), true);
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t)), done = 0;
    written = WriteFile(file.get(), text.data(), bytes, &done, nullptr) && done == bytes;
    if (written && g_writeHook) g_writeHook(temporary);
    if (written && marked) written = MarkForDeletion(file.get(), false);
  }
  if (written && MoveFileExW(LongPathForm(temporary).c_str(), LongPathForm(path).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(LongPathForm(temporary).c_str());
  return false;
}
