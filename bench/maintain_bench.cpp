// Console benchmark of the maintenance jobs (not shipped): the rebuild of
// one or more whole files through the engine of either back end, each in
// place, with the same or another compression; prints the seconds the
// engine calls took. bench/maintain.sh drives it beside wimlib-imagex
// optimize and export. A job too short for the CPU clock is timed on
// several copies of its file in one run.
//
//   maintain_bench rebuild wimlib|wimgapi <compression> <wim file>...
//                  (compression: -1 keeps the file's own; 2 LZX; 3 solid LZMS)
//   maintain_bench noop    (binds the back ends and ends: the start-up cost)
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/backend.h"
#include "engine/engine.h"
#include "engine/engine_host.h"

namespace {

double Now() {
  LARGE_INTEGER freq, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

struct ConsoleHost : EngineHost {
  void ShowError(const std::wstring& text) override { fwprintf(stderr, L"%ls\n", text.c_str()); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  static Backends backends;
  if (argc == 2 && std::wstring(argv[1]) == L"noop") {
    BindBackends(backends);
    printf("0\n");
    return 0;
  }
  if (argc < 5 || std::wstring(argv[1]) != L"rebuild") {
    fwprintf(stderr, L"usage: maintain_bench rebuild wimlib|wimgapi <compression> <wim>...\n");
    return 2;
  }
  std::wstring engine = argv[2];
  const int compression = _wtoi(argv[3]);

  static ConsoleHost host;
  BindBackends(backends);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  BackendChoice choice;
  choice.backend = engine == L"wimlib" ? kBackendWimlib : kBackendWimgapi;
  choice.tempFolder = temp;
  OperationContext context;
  context.host = &host;

  double seconds = 0;
  for (int i = 4; i < argc; i++) {
    wchar_t full[MAX_PATH * 2];
    DWORD n = GetFullPathNameW(argv[i], MAX_PATH * 2, full, nullptr);
    RebuildRequest request;
    request.wimPath = n && n < MAX_PATH * 2 ? std::wstring(full, n) : std::wstring(argv[i]);
    request.compression = compression;
    double start = Now();
    int result = MakeEngine(backends, choice, context)->Rebuild(request);
    seconds += Now() - start;
    if (result != 0) {
      fwprintf(stderr, L"rebuild %ls of %ls failed: %d\n", engine.c_str(), argv[i], result);
      return 1;
    }
  }
  printf("%.3f\n", seconds);
  return 0;
}
