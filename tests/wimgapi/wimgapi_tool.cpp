// wimgapi_tool - a small Windows program that drives wimgapi.dll from the
// command line, bound at run time exactly as Quarry binds it. Used by the
// WIMGAPI tests (a second process that must see the mounts of the first)
// and by the benchmark script.
//
//   wimgapi_tool capture <folder> <wim> [compression] [--callback]
//   wimgapi_tool apply <wim> <index> <folder> [--callback]
//   wimgapi_tool mount <wim> <index> <folder> [rw]
//   wimgapi_tool unmount <folder> [commit]
//   wimgapi_tool mounts
//   wimgapi_tool info                        (WIMGetMountedImageInfo, level 1)
//   wimgapi_tool append <folder> <wim> <times> [--retry] [--delay <ms>]
//   wimgapi_tool commit <folder>
//
// mount and commit also take --signal <file> --wait <file>: at the first
// message the callback creates the signal file, then waits (at most 120 s)
// until the wait file exists; and mount takes --die-after <n>: the process
// ends itself with exit code 99 at the n-th item it mounts.
//
// Prints "ms=<elapsed>" for capture, apply, mount and unmount, one line per mounted image
// ("<index>\t<R|RW>\t<wim>\t<folder>") for mounts, "<flags in hex>\t<index>\t
// <wim>\t<folder>" for info; exit code 0 on success, else the Windows error
// code.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/common/wimgapi_abi.h"

namespace {

struct Api {
  HMODULE module = nullptr;
  PFN_WIMCreateFile CreateFile = nullptr;
  PFN_WIMCloseHandle CloseHandle = nullptr;
  PFN_WIMLoadImage LoadImage = nullptr;
  PFN_WIMCaptureImage CaptureImage = nullptr;
  PFN_WIMApplyImage ApplyImage = nullptr;
  PFN_WIMSetTemporaryPath SetTemporaryPath = nullptr;
  PFN_WIMRegisterMessageCallback RegisterMessageCallback = nullptr;
  PFN_WIMMountImageHandle MountImageHandle = nullptr;
  PFN_WIMGetMountedImages GetMountedImages = nullptr;
  PFN_WIMUnmountImage UnmountImage = nullptr;
  PFN_WIMGetMountedImageHandle GetMountedImageHandle = nullptr;
  PFN_WIMCommitImageHandle CommitImageHandle = nullptr;
  PFN_WIMGetMountedImageInfo GetMountedImageInfo = nullptr;
};

template <typename T>
void Bind(HMODULE m, const char* name, T* out) {
  *out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

bool Load(Api* api) {
  api->module = LoadLibraryW(L"wimgapi.dll");
  if (!api->module) return false;
  Bind(api->module, "WIMCreateFile", &api->CreateFile);
  Bind(api->module, "WIMCloseHandle", &api->CloseHandle);
  Bind(api->module, "WIMLoadImage", &api->LoadImage);
  Bind(api->module, "WIMCaptureImage", &api->CaptureImage);
  Bind(api->module, "WIMApplyImage", &api->ApplyImage);
  Bind(api->module, "WIMSetTemporaryPath", &api->SetTemporaryPath);
  Bind(api->module, "WIMRegisterMessageCallback", &api->RegisterMessageCallback);
  Bind(api->module, "WIMMountImageHandle", &api->MountImageHandle);
  Bind(api->module, "WIMGetMountedImages", &api->GetMountedImages);
  Bind(api->module, "WIMUnmountImage", &api->UnmountImage);
  Bind(api->module, "WIMGetMountedImageHandle", &api->GetMountedImageHandle);
  Bind(api->module, "WIMCommitImageHandle", &api->CommitImageHandle);
  Bind(api->module, "WIMGetMountedImageInfo", &api->GetMountedImageInfo);
  return api->CreateFile != nullptr;
}

// The work a program's callback typically does: look at the message.
DWORD CALLBACK CountingCallback(DWORD msg, WPARAM, LPARAM, PVOID user) {
  if (msg == WIM_MSG_PROCESS) ++*static_cast<unsigned long*>(user);
  return WIM_MSG_SUCCESS;
}

// What --signal, --wait and --die-after ask of the callback.
struct Pause {
  std::wstring signal, wait;
  unsigned long dieAfter = 0;
  unsigned long items = 0;
  bool signalled = false;
};

const wchar_t* Option(int argc, wchar_t** argv, const wchar_t* name) {
  for (int i = 0; i + 1 < argc; ++i)
    if (!lstrcmpiW(argv[i], name)) return argv[i + 1];
  return nullptr;
}

Pause PauseOptions(int argc, wchar_t** argv) {
  Pause p;
  if (const wchar_t* v = Option(argc, argv, L"--signal")) p.signal = v;
  if (const wchar_t* v = Option(argc, argv, L"--wait")) p.wait = v;
  if (const wchar_t* v = Option(argc, argv, L"--die-after")) p.dieAfter = wcstoul(v, nullptr, 10);
  return p;
}

DWORD CALLBACK PausingCallback(DWORD msg, WPARAM, LPARAM, PVOID user) {
  auto* p = static_cast<Pause*>(user);
  if (msg == WIM_MSG_PROCESS && p->dieAfter && ++p->items == p->dieAfter) {
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 99);
  }
  if (!p->signal.empty() && !p->signalled) {
    p->signalled = true;
    HANDLE h = CreateFileW(p->signal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    for (int i = 0; i < 12000 && GetFileAttributesW(p->wait.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  }
  return WIM_MSG_SUCCESS;
}

int Fail(const char* what) {
  DWORD err = GetLastError();
  std::fprintf(stderr, "%s failed: %lu\n", what, err);
  return err ? static_cast<int>(err) : 1;
}

double Ms(LARGE_INTEGER a, LARGE_INTEGER b) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart;
}

bool HasFlag(int argc, wchar_t** argv, const wchar_t* flag) {
  for (int i = 0; i < argc; ++i)
    if (!lstrcmpiW(argv[i], flag)) return true;
  return false;
}

int Capture(const Api& api, int argc, wchar_t** argv) {
  if (argc < 4) return 87;
  DWORD compression = argc > 4 && argv[4][0] != L'-' ? wcstoul(argv[4], nullptr, 10) : WIM_COMPRESS_LZX;
  unsigned long processed = 0;
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  HANDLE wim = api.CreateFile(argv[3], WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0, compression, nullptr);
  if (!wim) return Fail("WIMCreateFile");
  if (HasFlag(argc, argv, L"--callback"))
    api.RegisterMessageCallback(wim, reinterpret_cast<FARPROC>(CountingCallback), &processed);
  HANDLE image = api.CaptureImage(wim, argv[2], 0);
  if (!image) {
    int rc = Fail("WIMCaptureImage");
    api.CloseHandle(wim);
    return rc;
  }
  api.CloseHandle(image);
  api.CloseHandle(wim);
  QueryPerformanceCounter(&t1);
  std::printf("ms=%.0f processed=%lu\n", Ms(t0, t1), processed);
  return 0;
}

int Apply(const Api& api, int argc, wchar_t** argv) {
  if (argc < 5) return 87;
  unsigned long processed = 0;
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  HANDLE wim = api.CreateFile(argv[2], WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr);
  if (!wim) return Fail("WIMCreateFile");
  if (HasFlag(argc, argv, L"--callback"))
    api.RegisterMessageCallback(wim, reinterpret_cast<FARPROC>(CountingCallback), &processed);
  HANDLE image = api.LoadImage(wim, wcstoul(argv[3], nullptr, 10));
  if (!image) {
    int rc = Fail("WIMLoadImage");
    api.CloseHandle(wim);
    return rc;
  }
  BOOL ok = api.ApplyImage(image, argv[4], 0);
  int rc = ok ? 0 : Fail("WIMApplyImage");
  api.CloseHandle(image);
  api.CloseHandle(wim);
  QueryPerformanceCounter(&t1);
  if (ok) std::printf("ms=%.0f processed=%lu\n", Ms(t0, t1), processed);
  return rc;
}

int Mount(const Api& api, int argc, wchar_t** argv) {
  if (argc < 5) return 87;
  bool rw = HasFlag(argc, argv, L"rw");
  DWORD access = WIM_GENERIC_READ | WIM_GENERIC_MOUNT | (rw ? WIM_GENERIC_WRITE : 0);
  HANDLE wim = api.CreateFile(argv[2], access, WIM_OPEN_EXISTING, 0, 0, nullptr);
  if (!wim) return Fail("WIMCreateFile");
  Pause pause = PauseOptions(argc, argv);
  api.RegisterMessageCallback(wim, reinterpret_cast<FARPROC>(PausingCallback), &pause);
  HANDLE image = api.LoadImage(wim, wcstoul(argv[3], nullptr, 10));
  int rc = 0;
  if (!image) {
    rc = Fail("WIMLoadImage");
  } else {
    if (!api.MountImageHandle(image, argv[4], rw ? 0 : WIM_FLAG_MOUNT_READONLY)) rc = Fail("WIMMountImageHandle");
    api.CloseHandle(image);
  }
  api.CloseHandle(wim);
  return rc;
}

int Unmount(const Api& api, int argc, wchar_t** argv) {
  if (argc < 3) return 87;
  BOOL commit = argc > 3 && !lstrcmpiW(argv[3], L"commit");
  return api.UnmountImage(argv[2], nullptr, 0, commit) ? 0 : Fail("WIMUnmountImage");
}

int Commit(const Api& api, int argc, wchar_t** argv) {
  if (argc < 3) return 87;
  HANDLE wim = nullptr, image = nullptr;
  if (!api.GetMountedImageHandle(argv[2], 0, &wim, &image)) return Fail("WIMGetMountedImageHandle");
  Pause pause = PauseOptions(argc, argv);
  api.RegisterMessageCallback(wim, reinterpret_cast<FARPROC>(PausingCallback), &pause);
  int rc = api.CommitImageHandle(image, 0, nullptr) ? 0 : Fail("WIMCommitImageHandle");
  api.CloseHandle(image);
  api.CloseHandle(wim);
  return rc;
}

// Appends the folder as a new image, times over; with --retry a file that
// another writer holds is tried again until it is free.
int Append(const Api& api, int argc, wchar_t** argv) {
  if (argc < 5) return 87;
  bool retry = HasFlag(argc, argv, L"--retry");
  unsigned long times = wcstoul(argv[4], nullptr, 10);
  for (unsigned long i = 0; i < times; ++i) {
    HANDLE wim = nullptr;
    for (int attempt = 0; !wim && attempt < 6000; ++attempt) {
      wim = api.CreateFile(argv[3], WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0, nullptr);
      if (wim || !retry || GetLastError() != ERROR_SHARING_VIOLATION) break;
      Sleep(5 + GetCurrentProcessId() % 7);
    }
    if (!wim) return Fail("WIMCreateFile");
    // A program prepares (temporary folder, callbacks) before it captures.
    if (const wchar_t* delay = Option(argc, argv, L"--delay")) Sleep(wcstoul(delay, nullptr, 10));
    HANDLE image = api.CaptureImage(wim, argv[2], 0);
    if (!image) {
      int rc = Fail("WIMCaptureImage");
      api.CloseHandle(wim);
      return rc;
    }
    api.CloseHandle(image);
    if (!api.CloseHandle(wim)) return Fail("WIMCloseHandle");
  }
  return 0;
}

int Info(const Api& api) {
  if (!api.GetMountedImageInfo) return 127;
  DWORD count = 0, bytes = 0;
  std::vector<WIM_MOUNT_INFO_LEVEL1> list(1);
  if (!api.GetMountedImageInfo(1, &count, list.data(), sizeof(WIM_MOUNT_INFO_LEVEL1), &bytes)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Fail("WIMGetMountedImageInfo");
    list.resize(count);
    if (!api.GetMountedImageInfo(1, &count, list.data(), static_cast<DWORD>(count * sizeof(WIM_MOUNT_INFO_LEVEL1)), &bytes))
      return Fail("WIMGetMountedImageInfo");
  }
  for (DWORD i = 0; i < count; ++i)
    std::printf("%lx\t%lu\t%ls\t%ls\n", list[i].MountFlags, list[i].ImageIndex, list[i].WimPath, list[i].MountPath);
  return 0;
}

int Mounts(const Api& api) {
  DWORD size = sizeof(WIM_MOUNT_LIST);
  std::vector<BYTE> buffer(size);
  if (!api.GetMountedImages(reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data()), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Fail("WIMGetMountedImages");
    buffer.assign(size, 0);
    if (!api.GetMountedImages(reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data()), &size))
      return Fail("WIMGetMountedImages");
  }
  auto* list = reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data());
  for (DWORD i = 0; i < size / sizeof(WIM_MOUNT_LIST); ++i) {
    std::printf("%lu\t%s\t%ls\t%ls\n", list[i].ImageIndex, list[i].MountedForRW ? "RW" : "R", list[i].WimPath,
                list[i].MountPath);
  }
  return 0;
}

// Runs a step and, on success, prints "ms=<elapsed>" as capture does.
int Timed(const Api& api, int argc, wchar_t** argv, int (*step)(const Api&, int, wchar_t**)) {
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  int rc = step(api, argc, argv);
  QueryPerformanceCounter(&t1);
  if (rc == 0) std::printf("ms=%.0f\n", Ms(t0, t1));
  return rc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Api api;
  if (!Load(&api)) {
    std::fprintf(stderr, "wimgapi.dll not found\n");
    return 126;
  }
  if (argc < 2) return 87;
  std::wstring cmd = argv[1];
  int rc = 87;
  if (cmd == L"capture") rc = Capture(api, argc, argv);
  else if (cmd == L"apply") rc = Apply(api, argc, argv);
  else if (cmd == L"mount" || cmd == L"unmount") rc = Timed(api, argc, argv, cmd == L"mount" ? Mount : Unmount);
  else if (cmd == L"mounts") rc = Mounts(api);
  else if (cmd == L"info") rc = Info(api);
  else if (cmd == L"append") rc = Append(api, argc, argv);
  else if (cmd == L"commit") rc = Commit(api, argc, argv);
  std::fflush(stdout);
  return rc;
}
