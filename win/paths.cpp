#include "win/paths.h"
#include "win/long_path.h"

#include <windows.h>

namespace {
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

DWORD AttributesOf(const std::wstring& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(LongPathForm(path).c_str());
}
}  // namespace

bool IsExistingFolder(const std::wstring& path) {
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path) {
  if (path.find_first_of(L"*?") != std::wstring::npos) return false;
  DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool HasExtension(const std::wstring& path, const wchar_t* extension) {
  std::wstring ext(extension);
  return path.size() >= ext.size() && EqualNoCase(path.substr(path.size() - ext.size()), ext);
}

bool IsImageFileName(const std::wstring& path) {
  return HasExtension(path, L".wim") || HasExtension(path, L".esd") || HasExtension(path, L".swm");
}

std::wstring WithoutTrailingSeparator(const std::wstring& path) {
  size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) end--;
  if (end == path.size()) return path;
  // "\" alone, and a drive's root in any form ("C:\", "\\?\C:\").
  if (end == 0 || path[end - 1] == L':') end++;
  return path.substr(0, end);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  return IsSeparator(folder.back()) ? folder + name : folder + L"\\" + name;
}

std::wstring SystemFolder() {
  wchar_t buffer[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? buffer : L"";
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  std::wstring file = FullPath(path), root = WithoutTrailingSeparator(FullPath(folder));
  if (root.empty()) return false;
  if (EqualNoCase(WithoutTrailingSeparator(file), root)) return true;
  if (!IsSeparator(root.back())) root += L'\\';
  return file.size() > root.size() && EqualNoCase(file.substr(0, root.size()), root);
}

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return path;
  DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
  if (length == 0 || length >= full.size()) return path;
  full.resize(length);
  return full;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  return EqualNoCase(WithoutTrailingSeparator(FullPath(a)), WithoutTrailingSeparator(FullPath(b)));
}
