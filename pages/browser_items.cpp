#include "pages/browser_items.h"

#include <shellapi.h>

#include <algorithm>

#include "win/strings.h"

std::wstring ComputerSizeText(uint64_t size) {
  if (size < 1024) return FormatStr(L"%llu Bytes", static_cast<unsigned long long>(size));
  return FormatStr(L"%llu KB", static_cast<unsigned long long>((size + 512) / 1024));
}

std::wstring BytesText(uint64_t size) { return FormatStr(L"%llu Bytes", static_cast<unsigned long long>(size)); }

namespace {
bool ToLocal(const FILETIME& utc, const TIME_ZONE_INFORMATION& zone, SYSTEMTIME& local) {
  SYSTEMTIME system;
  return FileTimeToSystemTime(&utc, &system) && SystemTimeToTzSpecificLocalTime(&zone, &system, &local);
}
}  // namespace

std::wstring FileTimeText(const FILETIME& utc, const TIME_ZONE_INFORMATION& zone) {
  SYSTEMTIME t;
  if (!ToLocal(utc, zone, t)) return L"";
  return FormatStr(L"%04d-%02d-%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
}

std::wstring UnixTimeText(int64_t seconds, int32_t nanoseconds, const TIME_ZONE_INFORMATION& zone) {
  ULARGE_INTEGER ticks;
  ticks.QuadPart = static_cast<ULONGLONG>(seconds * 10000000LL + nanoseconds / 100 + 116444736000000000LL);
  FILETIME utc = {ticks.LowPart, ticks.HighPart};
  SYSTEMTIME t;
  if (!ToLocal(utc, zone, t)) return L"";
  return FormatStr(L"%d-%02d-%02d %02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
}

int CompareBrowserRows(const BrowserItem& a, const BrowserItem& b, int column, bool ascending) {
  int order;
  if (a.kind != b.kind) order = a.kind < b.kind ? -1 : 1;
  else if (column == 2) order = a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
  else if (column == 3) order = a.compressed < b.compressed ? -1 : (a.compressed > b.compressed ? 1 : 0);
  else if (column >= 0 && column < 5) order = lstrcmpW(a.texts[column].c_str(), b.texts[column].c_str());
  else order = 0;
  return ascending ? order : -order;
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

std::wstring LowerExtension(const std::wstring& name) {
  size_t dot = name.rfind(L'.');
  size_t slash = name.rfind(L'\\');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return L"";
  std::wstring ext = name.substr(dot);
  CharLowerBuffW(&ext[0], static_cast<DWORD>(ext.size()));
  return ext;
}

HIMAGELIST IconCache::SystemImageList() {
  SHFILEINFOW info = {};
  return reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(L"C:\\", 0, &info, sizeof(info),
                                                     SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
}

void IconCache::FillOnce() {
  if (filled_) return;
  filled_ = true;
  SHFILEINFOW info = {};
  if (SHGetFileInfoW(L"X:\\X", FILE_ATTRIBUTE_DIRECTORY, &info, sizeof(info),
                     SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
    folderIcon_ = info.iIcon;
  wchar_t name[256];
  for (DWORD i = 0;; i++) {
    DWORD length = 256;
    if (RegEnumKeyExW(HKEY_CLASSES_ROOT, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (name[0] != L'.' && name[0] != L'*') break;
    if (name[0] != L'.') continue;
    std::wstring dummy = std::wstring(L"X:\\X") + name;
    if (SHGetFileInfoW(dummy.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof(info),
                       SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
      icons_[LowerExtension(name)] = info.iIcon;
  }
}

int IconCache::FileIcon(const std::wstring& name) const {
  auto found = icons_.find(LowerExtension(name));
  return found == icons_.end() ? 0 : found->second;
}

const std::wstring& IconCache::TypeName(const std::wstring& name) {
  std::wstring extension = LowerExtension(name);
  auto found = types_.find(extension);
  if (found != types_.end()) return found->second;
  return types_.emplace(extension, FileTypeName(extension)).first->second;
}
