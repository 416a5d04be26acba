#include "win/paths.h"
#include "win/long_path.h"

#include <windows.h>

#include <vector>

namespace {
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

void DropTrailingSlashes(std::wstring& path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
}
}  // namespace

bool IsExistingFolder(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(LongPathForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path) {
  if (path.empty() || path.find_first_of(L"*?") != std::wstring::npos) return false;
  DWORD attributes = GetFileAttributesW(LongPathForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool HasExtension(const std::wstring& path, const wchar_t* extension) {
  std::wstring ext(extension);
  if (path.size() < ext.size()) return false;
  for (size_t i = 0; i < ext.size(); i++)
    if (AsciiLower(path[path.size() - ext.size() + i]) != AsciiLower(ext[i])) return false;
  return true;
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  std::wstring file = FullPath(path), root = FullPath(folder);
  DropTrailingSlashes(root);
  if (SameTextIgnoringCase(file, root)) return true;
  if (root.back() != L'\\') root += L'\\';
  return file.size() > root.size() && SameTextIgnoringCase(file.substr(0, root.size()), root);
}

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x += 32;
    if (y >= L'A' && y <= L'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

bool HasWimExtension(const std::wstring& path) {
  return path.size() >= 4 && EqualNoCase(path.substr(path.size() - 4), L".wim");
}

bool DirectoryExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(LongPathForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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
  return EqualNoCase(FullPath(a), FullPath(b));
}
