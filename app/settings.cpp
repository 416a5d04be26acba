#include "app/settings.h"

#include "win/strings.h"

namespace {
const wchar_t kDir[] = L"DIR";
const wchar_t kView[] = L"VIEW";
const wchar_t kMisc[] = L"MISC";
const wchar_t kApi[] = L"API";

bool IsDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

std::wstring SettingsFilePath() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
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
  wchar_t buffer[260] = {};
  GetPrivateProfileStringW(section, key, defaultValue.c_str(), buffer, 260, path.c_str());
  return buffer;
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
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // exists already (or cannot be made)
  const BYTE bom[2] = {0xFF, 0xFE};
  DWORD written = 0;
  WriteFile(file, bom, sizeof bom, &written, nullptr);
  CloseHandle(file);
}

void LoadSettings(Settings& s, const std::wstring& path) {
  std::wstring defaultTemp = SystemTempFolder();
  s.tempFolder = ReadProfileText(path, kDir, L"Temp", defaultTemp);
  if (!IsDirectory(s.tempFolder)) s.tempFolder = defaultTemp;
  s.lastFolder = ReadProfileText(path, kDir, L"Last");
  s.mode = static_cast<BYTE>(ReadProfileInt(path, kView, L"Mode"));
  s.autoPopMountList = ReadProfileInt(path, kMisc, L"AutoPopMList");
  s.backend = static_cast<BYTE>(ReadProfileInt(path, kApi, L"Type"));
  s.fileAssociation = ReadProfileInt(path, kMisc, L"FileAssociation");
  s.useCfg = ReadProfileInt(path, kMisc, L"UseCFG");
  s.shellIntegration = ReadProfileInt(path, kMisc, L"ShellIntegration");
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
