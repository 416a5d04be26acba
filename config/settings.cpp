#include "config/settings.h"

#include <algorithm>

#include "win/handles.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {
const wchar_t kDir[] = L"DIR";
const wchar_t kView[] = L"VIEW";
const wchar_t kMisc[] = L"MISC";
const wchar_t kApi[] = L"API";

const BYTE kUtf16Bom[2] = {0xFF, 0xFE};

// Settings and task lists are small; a larger file is not an INI file of
// ours and is left alone.
constexpr LONGLONG kMaxConvertBytes = 16 * 1024 * 1024;

bool ReadSmallFile(const std::wstring& path, std::string& bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxConvertBytes) return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  return bytes.empty() ||
         (ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
}

bool HasByteOrderMark(const std::string& bytes) {
  auto starts = [&](const char* mark, size_t n) { return bytes.size() >= n && bytes.compare(0, n, mark, n) == 0; };
  return starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2) || starts("\xEF\xBB\xBF", 3);
}

// Rewrites an ANSI INI file as UTF-16 with the same text.
void ConvertProfileToUnicode(const std::wstring& path) {
  std::string bytes;
  if (!ReadSmallFile(path, bytes) || HasByteOrderMark(bytes)) return;
  std::wstring text;
  if (!bytes.empty()) {
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return;
    text.assign(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
  }
  std::wstring temporary = path + L".~utf16";
  bool written = false;
  {
    UniqueHandle out(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return;
    DWORD done = 0, doneText = 0;
    DWORD textBytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    written =
        WriteFile(out.get(), kUtf16Bom, sizeof kUtf16Bom, &done, nullptr) && done == sizeof kUtf16Bom &&
        (textBytes == 0 || (WriteFile(out.get(), text.data(), textBytes, &doneText, nullptr) && doneText == textBytes));
  }
  if (!written || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    DeleteFileW(temporary.c_str());
}
}  // namespace

std::wstring SettingsFilePath() {
  // Long enough for any path the system gives a module.
  std::wstring s(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &s[0], static_cast<DWORD>(s.size()));
  s.resize(n < s.size() ? n : 0);
  if (s.size() >= 3) s.replace(s.size() - 3, 3, L"ini");
  return s;
}

std::wstring SystemTempFolder() {
  wchar_t shortPath[MAX_PATH] = {};
  wchar_t longPath[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, shortPath);
  DWORD n = GetLongPathNameW(shortPath, longPath, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? longPath : shortPath;
}

std::wstring ReadProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                             const std::wstring& defaultValue) {
  wchar_t buffer[kProfileTextChars] = {};
  GetPrivateProfileStringW(section, key, defaultValue.c_str(), buffer, kProfileTextChars, path.c_str());
  return buffer;
}

std::wstring ReadProfileTextUpTo(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                                 size_t maxChars) {
  // A buffer of n characters holds n - 1 of them; a value that does not fit
  // is cut and the call returns n - 1. Grow until the value fits or the
  // limit is reached.
  const size_t cap = std::min<size_t>(maxChars, 0x3FFFFFFF) + 1;
  for (size_t size = std::min<size_t>(1024, cap);; size = std::min(size * 2, cap)) {
    std::wstring buffer(size, L'\0');
    DWORD n = GetPrivateProfileStringW(section, key, L"", &buffer[0], static_cast<DWORD>(size), path.c_str());
    if (n + 1 < size || size == cap) {
      buffer.resize(n);
      return buffer;
    }
  }
}

std::vector<std::wstring> ReadProfileSectionNames(const std::wstring& path) {
  // The names come back as zero-terminated strings with a final zero; a
  // buffer that is too small makes the call return size - 2.
  for (DWORD size = 4096; size < 0x10000000; size *= 2) {
    std::wstring buffer(size, L'\0');
    DWORD n = GetPrivateProfileSectionNamesW(&buffer[0], size, path.c_str());
    if (n + 2 >= size) continue;
    std::vector<std::wstring> names;
    for (const wchar_t* p = buffer.c_str(); *p; p += wcslen(p) + 1) names.push_back(p);
    return names;
  }
  return {};
}

int ReadProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int defaultValue) {
  return static_cast<int>(GetPrivateProfileIntW(section, key, defaultValue, path.c_str()));
}

void WriteProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key, const std::wstring& value) {
  WritePrivateProfileStringW(section, key, value.c_str(), path.c_str());
}

void WriteProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int value) {
  WriteProfileText(path, section, key, FormatStr(L"%d", value));
}

void EnsureUnicodeProfile(const std::wstring& path) {
  UniqueHandle created(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (created) {
    DWORD written = 0;
    WriteFile(created.get(), kUtf16Bom, sizeof kUtf16Bom, &written, nullptr);
    return;
  }
  if (GetLastError() == ERROR_FILE_EXISTS) ConvertProfileToUnicode(path);
}

void LoadSettings(Settings& s, const std::wstring& path) {
  std::wstring defaultTemp = SystemTempFolder();
  // Folders are read whole: a long path must not lose its tail.
  s.tempFolder = ReadProfileTextUpTo(path, kDir, L"Temp", kMaxPathChars);
  if (s.tempFolder.empty() || !IsExistingFolder(s.tempFolder)) s.tempFolder = defaultTemp;
  s.lastFolder = ReadProfileTextUpTo(path, kDir, L"Last", kMaxPathChars);
  s.mode = static_cast<BYTE>(ReadProfileInt(path, kView, L"Mode"));
  s.autoPopMountList = ReadProfileInt(path, kMisc, L"AutoPopMList");
  s.backend = static_cast<BYTE>(ReadProfileInt(path, kApi, L"Type"));
  s.fileAssociation = ReadProfileInt(path, kMisc, L"FileAssociation");
  s.useCfg = ReadProfileInt(path, kMisc, L"UseCFG");
  s.shellIntegration = ReadProfileInt(path, kMisc, L"ShellIntegration");
  s.skipUnreadable = ReadProfileInt(path, kMisc, L"SkipUnreadable");
  s.updateHost = ReadProfileText(path, kMisc, L"UpdateHost", kDefaultUpdateHost);
  if (s.updateHost.empty()) s.updateHost = kDefaultUpdateHost;
}

void SaveSettings(const Settings& s, const std::wstring& path) {
  EnsureUnicodeProfile(path);
  WriteProfileText(path, kDir, L"Temp", s.tempFolder);
  WriteProfileText(path, kDir, L"Last", s.lastFolder);
  WriteProfileInt(path, kView, L"Mode", s.mode);
  WriteProfileInt(path, kMisc, L"AutoPopMList", s.autoPopMountList);
  WriteProfileInt(path, kApi, L"Type", s.backend);
  WriteProfileInt(path, kMisc, L"FileAssociation", s.fileAssociation);
  WriteProfileInt(path, kMisc, L"ShellIntegration", s.shellIntegration);
}
