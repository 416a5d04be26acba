#include "engine/maintain.h"

#include <windows.h>

#include "win/long_path.h"

bool IsReadOnlyFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(LongPathForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}
