// Helpers of the shell tests: WIM files made and judged by wimlib-imagex,
// Quarry copies with their settings, Windows programs run for their output
// (`reg query`), and windows of a process found by caption or control.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace shelltest {

// Captures `folders` as images 1..n of a new WIM file (wimlib-imagex).
bool MakeWim(const std::wstring& wim, const std::vector<std::wstring>& folders);
// Number of images wimlib-imagex reports, -1 when it cannot read the file.
int ImageCount(const std::wstring& wim);
// The "wimlib-imagex dir" listing of an image, one path per line.
std::string ImageListing(const std::wstring& wim, int image);

// A folder with a few files (and a larger random one when bigBytes > 0).
void MakeDataFolder(const std::wstring& folder, size_t bigBytes = 0);

// Runs a Windows command line and returns its standard output (and the
// exit code through `exitCode`).
std::string RunWindows(const std::wstring& commandLine, int* exitCode = nullptr, DWORD timeoutMs = 60000);
// `reg query` of a key (and value: empty for the default value).
std::string RegQuery(const std::wstring& key, const std::wstring& value, bool* found = nullptr);
bool RegKeyExists(const std::wstring& key);

// A visible top-level window of the process whose caption is `title`.
HWND FindByTitle(DWORD pid, const std::wstring& title);
HWND WaitForTitle(DWORD pid, const std::wstring& title, DWORD timeoutMs = 30000);
// A visible top-level dialog of the process that has a child of that id
// (and class, when given).
HWND FindDialogWithItem(DWORD pid, int id, const wchar_t* className = nullptr);
HWND WaitForDialogWithItem(DWORD pid, int id, const wchar_t* className = nullptr, DWORD timeoutMs = 30000);
// A visible message box of the process (a dialog with static 0xFFFF).
HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs = 30000);

// The file-name box of an open or save dialog gets `path`, then "OK".
bool AnswerFileDialog(HWND dialog, const std::wstring& path);

// The system's temporary folder in its long form, without trailing "\".
std::wstring SystemTemp();

// Reads a key of an INI file.
std::wstring IniText(const std::wstring& ini, const wchar_t* section, const wchar_t* key);

// A screenshot for a person to look at, into the folder named by
// QUARRY_SCREENSHOTS (a Linux path) when it is set.
void ShotIfAsked(const char* name);

// Runs `body` on a helper thread (for modal windows of this process);
// join() waits for it.
class Helper {
 public:
  explicit Helper(std::function<void()> body);
  ~Helper();
  bool Join(DWORD timeoutMs = 60000);

 private:
  static DWORD WINAPI Run(void* self);
  std::function<void()> body_;
  HANDLE thread_ = nullptr;
};

}  // namespace shelltest
