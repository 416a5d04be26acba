// Console benchmark of the two engines (not shipped): runs one capture or
// apply through the engine of either back end and prints the seconds the
// engine call took. bench/run.sh drives it and compares with wimlib-imagex.
//
//   engine_bench capture wimlib|wimgapi <source folder> <wim file> [compression]
//   engine_bench apply   wimlib|wimgapi <wim file> <target folder>
//   engine_bench export  wimlib|wimgapi <wim file> <new file> [compression]
//                        (image 1 into a new file; 3 makes it solid LZMS)
//   engine_bench append  wimlib|wimgapi <source folder> <wim file> [template]
//                        (a further image; template: none, last or an
//                        image index, default last)
//   engine_bench noop    (binds the back ends and ends: the start-up cost)
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine/backend.h"
#include "engine/engine_host.h"
#include "engine/engine.h"

namespace {

int Usage() {
  fwprintf(stderr,
           L"usage: engine_bench capture wimlib|wimgapi <source> <wim> [compression]\n"
           L"       engine_bench apply wimlib|wimgapi <wim> <target>\n"
           L"       engine_bench export wimlib|wimgapi <wim> <new wim> [compression]\n"
           L"       engine_bench append wimlib|wimgapi <source> <wim> [none|last|index]\n");
  return 2;
}

double Now() {
  LARGE_INTEGER freq, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Full path, because binding changes the current directory.
std::wstring FullPath(const wchar_t* path) {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetFullPathNameW(path, MAX_PATH * 2, buf, nullptr);
  return n ? std::wstring(buf, n) : std::wstring(path);
}

// A console run answers nothing: errors are printed instead.
struct ConsoleHost : EngineHost {
  void ShowError(const std::wstring& text) override { fwprintf(stderr, L"%ls\n", text.c_str()); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"noop") {
    static Backends backends;
    BindBackends(backends);
    printf("0\n");
    return 0;
  }
  if (argc < 5) return Usage();
  std::wstring op = argv[1], engine = argv[2];
  std::wstring a = FullPath(argv[3]), b = FullPath(argv[4]);
  int compression = argc > 5 ? _wtoi(argv[5]) : 2;
  bool wimlib = engine == L"wimlib";
  if ((op != L"capture" && op != L"apply" && op != L"export" && op != L"append") || (!wimlib && engine != L"wimgapi"))
    return Usage();
  int templateImage = kTemplateLastImage;
  if (op == L"append" && argc > 5) {
    std::wstring t = argv[5];
    templateImage = t == L"none" ? kTemplateNone : t == L"last" ? kTemplateLastImage : _wtoi(argv[5]);
  }

  static ConsoleHost host;
  static Backends backends;
  BindBackends(backends);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  BackendChoice choice;
  choice.backend = wimlib ? kBackendWimlib : kBackendWimgapi;
  choice.tempFolder = temp;
  OperationContext context;
  context.host = &host;

  double start = Now();
  std::unique_ptr<Engine> imaging = MakeEngine(backends, choice, context);
  int result;
  if (op == L"capture") {
    CaptureRequest request;
    request.source = a;
    request.wimPath = b;
    request.compression = compression;
    request.info.name = L"bench";
    result = imaging->Capture(request);
  } else if (op == L"append") {
    CaptureRequest request;
    request.source = a;
    request.wimPath = b;
    request.append = true;
    request.templateImage = templateImage;
    request.info.name = L"bench append";
    result = imaging->Capture(request);
  } else if (op == L"export") {
    result = imaging->Export({a, 1, b, compression, 0});
  } else {
    result = imaging->Apply({a, b, 1, false, false});
  }
  double seconds = Now() - start;
  if (result != 0) {
    fwprintf(stderr, L"%ls %ls failed: %d\n", op.c_str(), engine.c_str(), result);
    return 1;
  }
  printf("%.3f\n", seconds);
  return 0;
}
