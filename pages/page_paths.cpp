#include "pages/page_paths.h"
#include "win/long_path.h"

#include <windows.h>

#include <vector>

namespace {
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring FullPath(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed + 1);
  DWORD n = GetFullPathNameW(path.c_str(), needed + 1, buffer.data(), nullptr);
  return n ? std::wstring(buffer.data(), n) : path;
}

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
