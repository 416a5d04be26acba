#include "win/window_thread.h"

#include "win/messages.h"

bool RunOnWindowThread(HWND window, const std::function<void()>& work) {
  if (!window || !IsWindow(window)) return false;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    work();
    return true;
  }
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, UM_RUN_ON_WINDOW_THREAD, 0, reinterpret_cast<LPARAM>(&work), SMTO_NORMAL,
                             INFINITE, &answer) != 0 &&
         answer == 1;
}

bool RunHandedWork(UINT msg, LPARAM lParam, LRESULT& result) {
  if (msg != UM_RUN_ON_WINDOW_THREAD || !lParam) return false;
  (*reinterpret_cast<const std::function<void()>*>(lParam))();
  result = 1;
  return true;
}
