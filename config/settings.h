// The settings file: an INI file beside the executable, read once at start-up
// and written once at exit. The values live in the application object; this
// module only moves them between the object and the file.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

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

// Writes the saved keys; UseCFG is never written.
void SaveSettings(const Settings& settings, const std::wstring& path = SettingsFilePath());

// Private-profile helpers shared with the capture lists and task lists.
// Text values are read into a buffer of 260 characters, so at most 259
// characters of a longer value come back.
constexpr int kProfileTextChars = 260;
std::wstring ReadProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                             const std::wstring& defaultValue = L"");
// A text value of any length up to maxChars characters (the rest is cut),
// read with a buffer that grows only as far as the value needs.
std::wstring ReadProfileTextUpTo(const std::wstring& path, const wchar_t* section, const wchar_t* key, size_t maxChars);
// The names of all sections of the file, in file order.
std::vector<std::wstring> ReadProfileSectionNames(const std::wstring& path);
int ReadProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int defaultValue = 0);
void WriteProfileText(const std::wstring& path, const wchar_t* section, const wchar_t* key, const std::wstring& value);
void WriteProfileInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int value);

// Makes sure an INI file exists and is UTF-16 (starts with a byte-order
// mark), so that the private-profile functions keep every character: they
// write a file they create, or one without a byte-order mark, in the ANSI
// code page, where characters outside it turn into "?". A new file is
// created with just the mark. An existing file without a mark is rewritten
// as UTF-16 with the same lines, decoded as the profile functions decode it
// (through a temporary file beside it that then replaces it, so a failure
// leaves the old file untouched). Files with a mark are left as they are.
void EnsureUnicodeProfile(const std::wstring& path);
