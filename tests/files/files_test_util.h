// Small helpers shared by the file tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "harness.h"

namespace filetest {

// The text of a UTF-16LE file that starts with its byte-order mark; empty
// when the file is missing or has no mark.
inline std::wstring ReadUtf16File(const std::wstring& path) {
  std::string bytes = qtest::ReadFileBytes(path);
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE') return {};
  std::wstring text((bytes.size() - 2) / 2, L'\0');
  if (!text.empty()) memcpy(&text[0], bytes.data() + 2, text.size() * sizeof(wchar_t));
  return text;
}

// The lines of a text, without their CR LF ends; blank lines dropped.
inline std::vector<std::wstring> NonBlankLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The key=value lines of one section, as the profile functions list them.
inline std::vector<std::wstring> SectionLines(const std::wstring& path, const wchar_t* section) {
  std::vector<wchar_t> buffer(65536);
  DWORD n = GetPrivateProfileSectionW(section, buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
  std::vector<std::wstring> lines;
  for (DWORD i = 0; i < n && buffer[i];) {
    std::wstring line(&buffer[i]);
    lines.push_back(line);
    i += static_cast<DWORD>(line.size()) + 1;
  }
  return lines;
}

// The system's own private-profile functions: the independent reading of an
// INI file the program wrote. A value comes back up to `maxChars` long.
inline std::wstring ProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                                size_t maxChars = 65535) {
  std::wstring buffer(maxChars + 1, L'\0');
  DWORD n = GetPrivateProfileStringW(section, key, L"", &buffer[0], static_cast<DWORD>(buffer.size()), path.c_str());
  buffer.resize(n);
  return buffer;
}

inline int ProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
  return static_cast<int>(GetPrivateProfileIntW(section, key, 0, path.c_str()));
}

// The names of the file's sections, in file order.
inline std::vector<std::wstring> ProfileSectionNames(const std::wstring& path) {
  std::vector<wchar_t> buffer(1 << 20);
  DWORD n = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
  std::vector<std::wstring> names;
  for (DWORD i = 0; i < n && buffer[i];) {
    names.emplace_back(&buffer[i]);
    i += static_cast<DWORD>(names.back().size()) + 1;
  }
  return names;
}

// Starts a file as UTF-16 (its byte-order mark alone) unless it exists, so
// that the profile functions write into it without losing characters.
inline void StartUtf16Ini(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) qtest::WriteFileBytes(path, "\xFF\xFE");
}

}  // namespace filetest
