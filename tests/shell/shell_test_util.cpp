#include "shell_test_util.h"

#include <cstdlib>

#include "gui.h"
#include "harness.h"

namespace shelltest {
using namespace qtest;

bool MakeWim(const std::wstring& wim, const std::vector<std::wstring>& folders) {
  for (size_t i = 0; i < folders.size(); i++) {
    std::string verb = i == 0 ? "capture" : "append";
    std::string name = "image" + std::to_string(i + 1);
    UnixResult r = RunUnix("wimlib-imagex " + verb + " " + ShQuote(UnixPath(folders[i])) + " " +
                           ShQuote(UnixPath(wim)) + " " + name);
    if (r.exitCode != 0) return false;
  }
  return true;
}

int ImageCount(const std::wstring& wim) {
  UnixResult r = RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) + " | sed -n 's/^Image Count: *//p'");
  if (r.exitCode != 0 || r.output.empty()) return -1;
  return atoi(r.output.c_str());
}

std::string ImageListing(const std::wstring& wim, int image) {
  return RunUnix("wimlib-imagex dir " + ShQuote(UnixPath(wim)) + " " + std::to_string(image)).output;
}

void MakeDataFolder(const std::wstring& folder, size_t bigBytes) {
  MakeDirs(folder + L"\\sub");
  WriteFileBytes(folder + L"\\readme.txt", "quarry shell test\r\n");
  WriteFileBytes(folder + L"\\sub\\notes.txt", std::string(5000, 'n'));
  if (bigBytes) {
    std::string bytes(bigBytes, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 16);
    }
    WriteFileBytes(folder + L"\\big.bin", bytes);
  }
}

std::string RunWindows(const std::wstring& commandLine, int* exitCode, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return "";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::wstring line = commandLine;
  BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  std::string output;
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) output.append(buffer, got);
    WaitForSingleObject(pi.hProcess, timeoutMs);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    if (exitCode) *exitCode = static_cast<int>(code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(readEnd);
  return output;
}

std::string RegQuery(const std::wstring& key, const std::wstring& value, bool* found) {
  int code = 1;
  std::wstring command = L"reg.exe query \"" + key + L"\"" + (value.empty() ? L" /ve" : L" /v \"" + value + L"\"");
  std::string out = RunWindows(command, &code);
  if (found) *found = code == 0;
  // The data follow "REG_SZ" and blanks on the value's line.
  size_t at = out.find("REG_SZ");
  if (code != 0 || at == std::string::npos) return "";
  size_t start = out.find_first_not_of(' ', at + 6);
  size_t end = out.find_first_of("\r\n", start);
  return start == std::string::npos ? "" : out.substr(start, end - start);
}

bool RegKeyExists(const std::wstring& key) {
  int code = 1;
  RunWindows(L"reg.exe query \"" + key + L"\"", &code);
  return code == 0;
}

HWND FindByTitle(DWORD pid, const std::wstring& title) {
  for (HWND hwnd : TopWindows(pid))
    if (IsWindowVisible(hwnd) && WindowText(hwnd) == title) return hwnd;
  return nullptr;
}

HWND WaitForTitle(DWORD pid, const std::wstring& title, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindByTitle(pid, title)) != nullptr; }, timeoutMs);
  return found;
}

HWND FindDialogWithItem(DWORD pid, int id, const wchar_t* className) {
  for (HWND hwnd : TopWindows(pid, L"#32770")) {
    if (!IsWindowVisible(hwnd)) continue;
    HWND item = GetDlgItem(hwnd, id);
    if (item && (!className || ClassName(item) == className)) return hwnd;
  }
  return nullptr;
}

HWND WaitForDialogWithItem(DWORD pid, int id, const wchar_t* className, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = FindDialogWithItem(pid, id, className)) != nullptr; }, timeoutMs);
  return found;
}

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs) { return WaitForDialogWithItem(pid, 0xFFFF, nullptr, timeoutMs); }

// The name box of the file dialogs: edt1 (1152), or the edit inside the
// combo box cmb13 (1148).
static HWND FileNameBox(HWND dialog) {
  if (HWND edit = GetDlgItem(dialog, 1152)) return edit;
  HWND combo = GetDlgItem(dialog, 1148);
  if (!combo) return nullptr;
  HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
  if (!edit) {
    HWND inner = FindWindowExW(combo, nullptr, L"ComboBox", nullptr);
    if (inner) edit = FindWindowExW(inner, nullptr, L"Edit", nullptr);
  }
  return edit ? edit : combo;
}

bool AnswerFileDialog(HWND dialog, const std::wstring& path) {
  HWND box = FileNameBox(dialog);
  if (!box) return false;
  SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  return true;
}

std::wstring SystemTemp() {
  wchar_t shortPath[MAX_PATH] = {}, longPath[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, shortPath);
  DWORD n = GetLongPathNameW(shortPath, longPath, MAX_PATH);
  std::wstring path = (n > 0 && n < MAX_PATH) ? longPath : shortPath;
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring IniText(const std::wstring& ini, const wchar_t* section, const wchar_t* key) {
  std::wstring buffer(4096, L'\0');
  DWORD n = GetPrivateProfileStringW(section, key, L"", &buffer[0], 4096, ini.c_str());
  buffer.resize(n);
  return buffer;
}

void ShotIfAsked(const char* name) {
  if (const char* folder = getenv("QUARRY_SCREENSHOTS")) {
    Screenshot(std::string(folder) + "/" + name + ".png");
  }
}

Helper::Helper(std::function<void()> body) : body_(std::move(body)) {
  thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

Helper::~Helper() {
  if (thread_) {
    WaitForSingleObject(thread_, 60000);
    CloseHandle(thread_);
  }
}

DWORD WINAPI Helper::Run(void* self) {
  static_cast<Helper*>(self)->body_();
  return 0;
}

bool Helper::Join(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (WaitForSingleObject(thread_, 10) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > timeoutMs) return false;
    Pause(0);
  }
  return true;
}

}  // namespace shelltest
