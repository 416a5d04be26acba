// Console benchmark of the maintenance jobs (not shipped): one rebuild of a
// whole file through the engine of either back end, in place, with the
// same or another compression; prints the seconds the engine call took.
// bench/maintain.sh drives it beside wimlib-imagex optimize and export.
//
//   maintain_bench rebuild wimlib|wimgapi <wim file> [compression]
//                  (-1 keeps the file's own; 2 LZX; 3 solid LZMS)
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
  if (argc < 4 || std::wstring(argv[1]) != L"rebuild") {
    fwprintf(stderr, L"usage: maintain_bench rebuild wimlib|wimgapi <wim> [compression]\n");
    return 2;
  }
  std::wstring engine = argv[2];
  wchar_t full[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(argv[3], MAX_PATH * 2, full, nullptr);
  RebuildRequest request;
  request.wimPath = n ? std::wstring(full, n) : std::wstring(argv[3]);
  request.compression = argc > 4 ? _wtoi(argv[4]) : kKeepCompression;

  static ConsoleHost host;
  BindBackends(backends);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  BackendChoice choice;
  choice.backend = engine == L"wimlib" ? kBackendWimlib : kBackendWimgapi;
  choice.tempFolder = temp;
  OperationContext context;
  context.host = &host;

  double start = Now();
  int result = MakeEngine(backends, choice, context)->Rebuild(request);
  double seconds = Now() - start;
  if (result != 0) {
    fwprintf(stderr, L"rebuild %ls failed: %d\n", engine.c_str(), result);
    return 1;
  }
  printf("%.3f\n", seconds);
  return 0;
}
