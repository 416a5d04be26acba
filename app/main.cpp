// Entry point of Quarry.exe.
#include <windows.h>

#include "app/quarry_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  CQuarryApp app;
  return app.Run(commandLine ? commandLine : L"");
}
