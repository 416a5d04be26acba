// The settings file: an INI file beside the executable, read once at start-up
// and written once at exit. The values live in the application object; this
// module only moves them between the object and the file.
#pragma once
#include <windows.h>

#include <string>

struct Settings {
  std::wstring tempFolder;   // [DIR] Temp
  std::wstring lastFolder;   // [DIR] Last
  BYTE mode = 0;             // [VIEW] Mode: 1 easy, otherwise advanced
  int autoPopMountList = 0;  // [MISC] AutoPopMList
  BYTE backend = 0;          // [API] Type: 0 WIMGAPI, 1 wimlib
  int fileAssociation = 0;   // [MISC] FileAssociation
  int useCfg = 0;            // [MISC] UseCFG (read only)
  int shellIntegration = 0;  // [MISC] ShellIntegration
  // [MISC] SkipUnreadable: what a capture nobody watches (a task of the
  // queue, a quick shell capture) does with a file it cannot read: 1 skips
  // it (and names it), anything else stops the capture there.
  int skipUnreadable = 0;
  // [MISC] UpdateHost: host (and optional ":port") of the maker's web
  // server, asked by the update check and the about box's links. Read
  // only, like UseCFG: the file holds it only when someone put it there.
  std::wstring updateHost;
};

// The maker's web server when the settings name none.
constexpr wchar_t kDefaultUpdateHost[] = L"www.kloquarry.net";

// The longest path the system accepts (with the "\\?\" form).
constexpr size_t kMaxPathChars = 32767;

// "X.exe" -> "X.ini" in the same folder, built anew from the module path.
std::wstring SettingsFilePath();

// The system's temporary folder in its long form.
std::wstring SystemTempFolder();

// Reads the settings (the capture lists are read by their own module).
void LoadSettings(Settings& settings, const std::wstring& path = SettingsFilePath());

// Writes the saved keys into the file, keeping every other line of it
// (UseCFG is never written). The file is written whole as UTF-16, through a
// file beside it that takes its place. False, with nothing written, when the
// file exists but cannot be read, or cannot be replaced.
bool SaveSettings(const Settings& settings, const std::wstring& path = SettingsFilePath());
