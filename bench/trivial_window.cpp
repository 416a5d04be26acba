// The smallest Windows program with a window, for bench/startup.sh to start
// beside Quarry.exe: what any program's start costs on this system.
#include <windows.h>

LRESULT CALLBACK TrivialProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = TrivialProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"TrivialWindow";
  RegisterClassW(&windowClass);
  HWND hwnd = CreateWindowW(L"TrivialWindow", L"trivial", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 300,
                            nullptr, nullptr, instance, nullptr);
  ShowWindow(hwnd, show);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
