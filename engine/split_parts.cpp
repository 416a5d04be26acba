#include "engine/split_parts.h"

#include <windows.h>

#include "win/strings.h"

std::wstring SplitPartPath(const std::wstring& firstPart, int partNumber) {
  std::wstring base = firstPart.substr(0, firstPart.size() >= 4 ? firstPart.size() - 4 : 0);
  return FormatStr(L"%s%d.WIM", base.c_str(), partNumber);
}

std::wstring SplitPartGlob(const std::wstring& firstPart) {
  size_t dot = firstPart.rfind(L'.');
  std::wstring glob = (dot == std::wstring::npos ? std::wstring() : firstPart.substr(0, dot)) + L"*.WIM";
  if (glob.size() > MAX_PATH - 1) glob.resize(MAX_PATH - 1);
  return glob;
}

bool PathExists(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}
