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
};

// "X.exe" -> "X.ini" in the same folder, built anew from the module path.
std::wstring SettingsFilePath();

// The system's temporary folder in its long form.
std::wstring SystemTempFolder();

// Reads the settings (the capture lists are read by their own module).
void LoadSettings(Settings& settings, const std::wstring& path = SettingsFilePath());

// Writes the seven saved keys; UseCFG is never written.
void SaveSettings(const Settings& settings, const std::wstring& path = SettingsFilePath());

// Private-profile helpers shared with the capture lists and task lists.
std::wstring ReadProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                             const std::wstring& defaultValue = L"");
int ReadProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int defaultValue = 0);
void WriteProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key, const std::wstring& value);
void WriteProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int value);

// Makes sure an INI file exists and is UTF-16 (starts with a byte-order
// mark), so that the private-profile functions keep every character. An
// existing file is left as it is.
void EnsureUnicodeProfile(const std::wstring& path);
