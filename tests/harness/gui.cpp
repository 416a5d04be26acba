#include "gui.h"

#include "harness.h"

namespace qtest {

namespace {

struct FindState {
  DWORD pid;
  const wchar_t* className;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam) {
  auto* state = reinterpret_cast<FindState*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == state->pid && (!state->className || ClassName(hwnd) == state->className)) state->out->push_back(hwnd);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopWindows(DWORD pid, const wchar_t* className) {
  std::vector<HWND> windows;
  FindState state = {pid, className, &windows};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
  return windows;
}

HWND FindTopWindow(const std::wstring& prefix) {
  for (HWND hwnd : TopWindows(GetCurrentProcessId()))
    if (IsWindowVisible(hwnd) && WindowText(hwnd).compare(0, prefix.size(), prefix) == 0) return hwnd;
  return nullptr;
}

HWND WaitForWindow(DWORD pid, const wchar_t* className, HWND except, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND hwnd : TopWindows(pid, className)) {
          if (hwnd != except && IsWindowVisible(hwnd)) {
            found = hwnd;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[4096] = {};
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
  return buffer;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t buffer[256] = {};
  GetClassNameW(hwnd, buffer, 256);
  return buffer;
}

std::wstring MessageBoxText(HWND box) { return WindowText(GetDlgItem(box, 0xFFFF)); }

void ClickButton(HWND parent, int id) {
  HWND button = GetDlgItem(parent, id);
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, nullptr);
}

void SendCommand(HWND window, int id) { PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void AnswerDialog(HWND dialog, int buttonId) {
  HWND button = GetDlgItem(dialog, buttonId);
  if (button) PostMessageW(button, BM_CLICK, 0, 0);
  else PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
}

// Handles what waits in this thread's queue, without waiting for more.
static void PumpWaiting() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void Pause(DWORD ms) {
  DWORD start = GetTickCount();
  do {
    PumpWaiting();
    Sleep(10);
  } while (GetTickCount() - start < ms);
}

void Flush(HWND target, int rounds) {
  PumpWaiting();
  if (!target || !IsWindow(target) || GetWindowThreadProcessId(target, nullptr) == GetCurrentThreadId()) return;
  for (int round = 0; round < rounds; round++) {
    SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_NORMAL, 20000, nullptr);
    PumpWaiting();
  }
}

void PaintNow(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Flush(window);
}

static void SendKey(WORD vk, bool up) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof input);
}

void PressKey(HWND target, WORD vk, WORD modifier) {
  if (target) MakeForeground(GetAncestor(target, GA_ROOT), 10000);
  HWND taker = GetForegroundWindow();
  if (modifier) SendKey(modifier, false);
  SendKey(vk, false);
  SendKey(vk, true);
  if (modifier) SendKey(modifier, true);
  // One round for each key message and for the character it makes.
  Flush(taker, modifier ? 6 : 4);
}

void TypeText(HWND edit, const std::wstring& text) {
  SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 5000, nullptr);
  HWND parent = GetParent(edit);
  SendMessageTimeoutW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(edit), EN_CHANGE), reinterpret_cast<LPARAM>(edit),
                      SMTO_NORMAL, 5000, nullptr);
}

bool Screenshot(const std::string& unixPngPath) {
  EnumWindows(
      [](HWND hwnd, LPARAM) {
        if (IsWindowVisible(hwnd)) PaintNow(hwnd);
        return TRUE;
      },
      0);
  return RunUnix("import -window root " + ShQuote(unixPngPath)).exitCode == 0;
}

void ClickWindow(HWND hwnd) {
  RECT r = {};
  GetClientRect(hwnd, &r);
  LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
  Flush(hwnd);
}

bool ItemVisible(HWND parent, int id) {
  HWND item = GetDlgItem(parent, id);
  return item && IsWindowVisible(item);
}

bool ItemEnabled(HWND parent, int id) {
  HWND item = GetDlgItem(parent, id);
  return item && IsWindowEnabled(item);
}

bool MakeForeground(HWND hwnd, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        if (GetForegroundWindow() == hwnd) return true;
        SetForegroundWindow(hwnd);
        return GetForegroundWindow() == hwnd;
      },
      timeoutMs);
}

std::wstring PrepareQuarryCopy(bool withWimlib) {
  std::wstring dir = TempDir();
  std::wstring bin = BinDir();
  CopyFileW((bin + L"\\Quarry.exe").c_str(), (dir + L"\\Quarry.exe").c_str(), FALSE);
  if (withWimlib) {
    CreateDirectoryW((dir + L"\\wimlib").c_str(), nullptr);
    CopyFileW((bin + L"\\wimlib\\libwim-15.dll").c_str(), (dir + L"\\wimlib\\libwim-15.dll").c_str(), FALSE);
  }
  return dir;
}

QuarryProcess::~QuarryProcess() {
  if (Running()) {
    if (Close(5000) == -1 && process_) TerminateProcess(process_, 1);
  }
  if (process_) CloseHandle(process_);
}

bool QuarryProcess::Start(const std::wstring& folder, const std::wstring& arguments, DWORD timeoutMs) {
  std::wstring exe = folder + L"\\Quarry.exe";
  std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  pid_ = pi.dwProcessId;
  main_ = WaitForWindow(pid_, L"#32770", nullptr, timeoutMs);
  return main_ != nullptr;
}

bool QuarryProcess::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

int QuarryProcess::WaitExit(DWORD timeoutMs) {
  if (!process_) return -1;
  DWORD start = GetTickCount();
  while (WaitForSingleObject(process_, 20) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > timeoutMs) return -1;
    Pause(0);
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<int>(code);
}

int QuarryProcess::Close(DWORD timeoutMs) {
  if (main_) PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  int code = WaitExit(timeoutMs);
  if (code == -1 && process_) TerminateProcess(process_, 1);
  return code;
}

}  // namespace qtest
