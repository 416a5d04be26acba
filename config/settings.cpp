#include "config/settings.h"

#include "config/profile_document.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {
const wchar_t kDir[] = L"DIR";
const wchar_t kView[] = L"VIEW";
const wchar_t kMisc[] = L"MISC";
const wchar_t kApi[] = L"API";

const ProfileSection kNoSection;

const ProfileSection& SectionOf(const ProfileDocument& document, const wchar_t* name) {
  const ProfileSection* section = document.Find(name);
  return section ? *section : kNoSection;
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

void LoadSettings(Settings& s, const std::wstring& path) {
  ProfileDocument document;
  ReadProfileDocument(path, document);
  const ProfileSection& dir = SectionOf(document, kDir);
  const ProfileSection& misc = SectionOf(document, kMisc);
  // Folders are read whole (up to the longest path): a long path must not
  // lose its tail.
  s.tempFolder = dir.Text(L"Temp").substr(0, kMaxPathChars);
  if (s.tempFolder.empty() || !IsExistingFolder(s.tempFolder)) s.tempFolder = SystemTempFolder();
  s.lastFolder = dir.Text(L"Last").substr(0, kMaxPathChars);
  s.mode = static_cast<BYTE>(SectionOf(document, kView).Number(L"Mode"));
  s.autoPopMountList = misc.Number(L"AutoPopMList");
  s.backend = static_cast<BYTE>(SectionOf(document, kApi).Number(L"Type"));
  s.fileAssociation = misc.Number(L"FileAssociation");
  s.useCfg = misc.Number(L"UseCFG");
  s.shellIntegration = misc.Number(L"ShellIntegration");
  s.skipUnreadable = misc.Number(L"SkipUnreadable");
  s.updateHost = misc.Text(L"UpdateHost");
  if (s.updateHost.empty()) s.updateHost = kDefaultUpdateHost;
}

bool SaveSettings(const Settings& s, const std::wstring& path) {
  // A file that exists but cannot be read is not replaced: its other
  // sections (the capture lists among them) would be lost.
  ProfileDocument document;
  if (!ReadProfileDocument(path, document)) return false;
  // Each call may add a section, so no section is held across another.
  auto set = [&](const wchar_t* section, const wchar_t* key, const std::wstring& value) {
    document.Section(section).Set(key, value);
  };
  set(kDir, L"Temp", s.tempFolder);
  set(kDir, L"Last", s.lastFolder);
  set(kView, L"Mode", FormatStr(L"%d", s.mode));
  set(kMisc, L"AutoPopMList", FormatStr(L"%d", s.autoPopMountList));
  set(kApi, L"Type", FormatStr(L"%d", s.backend));
  set(kMisc, L"FileAssociation", FormatStr(L"%d", s.fileAssociation));
  set(kMisc, L"ShellIntegration", FormatStr(L"%d", s.shellIntegration));
  return WriteProfileDocument(path, document);
}
