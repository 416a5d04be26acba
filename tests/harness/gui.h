// Driving the real Quarry window from a test program: start Quarry.exe in
// its own process, find its windows and controls, click, type, read texts
// and states back, answer message boxes and common dialogs, take
// screenshots. Everything goes through ordinary Win32 messages and input,
// as a person's clicks would.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qtest {

// A running Quarry.exe, ended (and waited for) when the object goes away.
class QuarryProcess {
 public:
  QuarryProcess() = default;
  ~QuarryProcess();
  QuarryProcess(const QuarryProcess&) = delete;
  QuarryProcess& operator=(const QuarryProcess&) = delete;

  // Starts Quarry.exe from `folder` (a copy made by PrepareQuarryCopy, or
  // BinDir()) with the given arguments; waits up to timeoutMs for its main
  // window. Returns false when it did not appear.
  bool Start(const std::wstring& folder, const std::wstring& arguments = L"", DWORD timeoutMs = 30000);

  HWND MainWindow() const { return main_; }
  DWORD Pid() const { return pid_; }
  bool Running() const;

  // Closes the main window as the close box would and waits for the exit.
  // Returns the exit code, or -1 on time-out (the process is then killed).
  int Close(DWORD timeoutMs = 30000);
  // Waits for the process to end by itself; exit code or -1 on time-out.
  int WaitExit(DWORD timeoutMs = 30000);

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
};

// Copies Quarry.exe (and its "wimlib" folder, when withWimlib) into a fresh
// temporary folder, so a test has its own settings file next to it.
std::wstring PrepareQuarryCopy(bool withWimlib = true);

// Top-level windows of a process (visible or not), optionally of one class.
std::vector<HWND> TopWindows(DWORD pid, const wchar_t* className = nullptr);

// A visible top-level window of this process whose title starts with
// `prefix`, null when none.
HWND FindTopWindow(const std::wstring& prefix);

// Waits for a visible top-level window of the process with that class
// (e.g. L"#32770" for dialogs and message boxes) other than `except`.
HWND WaitForWindow(DWORD pid, const wchar_t* className, HWND except = nullptr, DWORD timeoutMs = 20000);

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
// The text of a message box (its static text control 0xFFFF).
std::wstring MessageBoxText(HWND box);

// Presses a button by id (BM_CLICK, as a mouse click would).
void ClickButton(HWND parent, int id);
// Sends WM_COMMAND for a menu item or control id to a window.
void SendCommand(HWND window, int id);
// Answers a message box or dialog by pressing one of its buttons (IDYES, IDOK...).
void AnswerDialog(HWND dialog, int buttonId);

// Keyboard input through the system (reaches low-level hooks): the window
// is brought to the front first (or, without one, the keys go to whatever
// window is in front, e.g. an open menu). modifiers: VK_CONTROL, VK_SHIFT...
// or 0. Returns after a Flush of the window that took the keys.
void PressKey(HWND target, WORD vk, WORD modifier = 0);
// Types text into an edit control by WM_SETTEXT plus EN_CHANGE-like input.
void TypeText(HWND edit, const std::wstring& text);

// Pumps this thread's messages for a fixed time. Only for tests where time
// itself is what is checked; everything else waits for a condition
// (WaitUntil) or for the window to have handled its messages (Flush).
void Pause(DWORD ms);

// Returns once `target` has handled what was sent or posted to it before:
// handles every message waiting in this thread's queue, then, for a window
// of another thread, makes WM_NULL round trips to that thread. A sent
// message is handled when its thread next fetches a message, that is after
// the message it is busy with, so each round trip also sees one more posted
// or input message of that thread handled: `rounds` must be one more than
// the messages posted to it (three cover a click's button-down and
// button-up). Whatever those messages send is handled with them. A test
// that checks that a click or key changed nothing can check right after.
void Flush(HWND target = nullptr, int rounds = 3);

// Repaints a window and its children at once and lets it finish (before a
// screenshot).
void PaintNow(HWND window);

// Waits until the condition holds or the time runs out. The default bound
// is generous on purpose: test machines are shared and may be loaded.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs = 20000) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Pause(20);
  }
  return true;
}

// Saves a screenshot of the whole virtual screen as a PNG (Linux path),
// once every visible window has painted itself afresh.
bool Screenshot(const std::string& unixPngPath);

// Clicks a window with the left mouse button by posting the button-down
// and button-up messages at its centre (reaches static controls with
// SS_NOTIFY as well as buttons). Returns after a Flush of the window.
void ClickWindow(HWND hwnd);

// Visible / enabled state of a child window by control id (false when absent).
bool ItemVisible(HWND parent, int id);
bool ItemEnabled(HWND parent, int id);

// Brings a window to the front and waits until it is the foreground window.
bool MakeForeground(HWND hwnd, DWORD timeoutMs = 20000);

}  // namespace qtest
