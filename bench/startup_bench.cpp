// Start-up benchmark driver (not shipped, not a test): starts a program,
// waits until a window of its process is visible and answers messages, closes it with WM_CLOSE
// and waits for the process to end. Prints one line per run:
//   shown MS closed MS
// measured from CreateProcess. bench/startup.sh runs it on Quarry.exe and
// on trivial_window.exe, the smallest Windows program with a window.
//
//   startup_bench.exe RUNS program.exe [arguments]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindShown(HWND hwnd, LPARAM lParam) {
  Search* search = reinterpret_cast<Search*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && IsWindowVisible(hwnd) && !GetWindow(hwnd, GW_OWNER)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

double Seconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool RunOnce(const std::wstring& commandLine) {
  std::wstring line = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    fwprintf(stderr, L"cannot start %ls (%lu)\n", commandLine.c_str(), GetLastError());
    return false;
  }
  Search search = {process.dwProcessId, nullptr};
  while (!search.found) {
    EnumWindows(FindShown, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) {
      fwprintf(stderr, L"the program ended without a window\n");
      return false;
    }
  }
  // Shown: visible, and its thread is back in its message loop (it has
  // painted, or is about to).
  SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_NORMAL, 30000, nullptr);
  const double shown = Seconds(start);
  PostMessageW(search.found, WM_CLOSE, 0, 0);
  bool ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  printf("shown %.1f closed %.1f\n", shown * 1000, Seconds(start) * 1000);
  fflush(stdout);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ended;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"startup_bench.exe RUNS program.exe [arguments]\n");
    return 2;
  }
  const int runs = _wtoi(argv[1]);
  std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
  for (int i = 3; i < argc; i++) commandLine += L" \"" + std::wstring(argv[i]) + L"\"";
  for (int i = 0; i < runs; i++)
    if (!RunOnce(commandLine)) return 1;
  return 0;
}
