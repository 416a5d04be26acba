#include "engine/split_parts.h"

#include <windows.h>

#include "win/strings.h"

std::wstring SplitPartPath(const std::wstring& firstPart, int partNumber) {
  std::wstring base = firstPart.substr(0, firstPart.size() >= 4 ? firstPart.size() - 4 : 0);
  return FormatStr(L"%s%d.WIM", base.c_str(), partNumber);
}

std::wstring SplitPartGlob(const std::wstring& firstPart) {
  // Only a "." of the file name starts its extension; a dot in a folder
  // name is part of the folder.
  size_t nameStart = firstPart.find_last_of(L"\\/:");
  nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
  size_t dot = firstPart.rfind(L'.');
  size_t baseEnd = (dot == std::wstring::npos || dot < nameStart) ? firstPart.size() : dot;
  return firstPart.substr(0, baseEnd) + L"*.WIM";
}

bool PathExists(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}
