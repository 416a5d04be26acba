#include "win/long_path.h"

#include <windows.h>

namespace {
std::wstring FullPathOf(const std::wstring& path) {
  DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return L"";
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
  if (length == 0 || length >= full.size()) return L"";
  full.resize(length);
  return full;
}
}  // namespace

std::wstring LongPathForm(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
    return path;
  std::wstring full = FullPathOf(path);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.size() > 2 && full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return path;
}
