#include "mount/unmount_worker.h"

#include <atomic>
#include <memory>

#include "engine/engine_host.h"
#include "engine/progress.h"
#include "resources/resource.h"
#include "win/handles.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {

std::atomic<bool> g_running{false};
HANDLE g_thread = nullptr;  // the last worker's thread, for waiting

struct WorkerArgs {
  HWND window;
  std::vector<UnmountJob> jobs;
};

void Report(const wchar_t* function) {
  if (!Host().quietErrors) ShowApiError(function);
}

bool AskSave(HWND owner, const std::wstring& wimPath) {
  std::wstring question = LoadStr(IDS_ASK_SAVE_CHANGES);
  size_t at = question.find(L"%1");
  if (at != std::wstring::npos) question.replace(at, 2, wimPath);
  return AppMessageBox(owner, question, L"", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// A stale record: the library discards it without saving anything.
bool DiscardStale(const UnmountJob& job) {
  PFN_WIMUnmountImage unmount = Host().backends.wimgapi.UnmountImage;
  if (!unmount) return false;
  if (unmount(job.mountPath.c_str(), job.wimPath.c_str(), job.index, FALSE)) return true;
  Report(L"WIMUnmountImage()");
  return false;
}

// The older library without mounted-image handles.
bool UnmountByPath(HWND owner, const UnmountJob& job) {
  PFN_WIMUnmountImage unmount = Host().backends.wimgapi.UnmountImage;
  if (!unmount) return false;
  BOOL commit = job.commit && AskSave(owner, job.wimPath);
  if (unmount(job.mountPath.c_str(), job.wimPath.c_str(), job.index, commit)) return true;
  Report(L"WIMUnmountImage()");
  return false;
}

bool UnmountByHandle(HWND owner, const UnmountJob& job) {
  const WimgapiTable& api = Host().backends.wimgapi;
  HANDLE wim = nullptr, image = nullptr;
  if (!api.GetMountedImageHandle(job.mountPath.c_str(), 0, &wim, &image)) {
    Report(L"WIMGetMountedImageHandle()");
    return false;
  }
  bool unmounted = false;
  bool keep = false;
  if (job.commit && AskSave(owner, job.wimPath) && !api.CommitImageHandle(image, 0, nullptr)) {
    // The changes could not be saved: the image stays mounted so that
    // nothing is thrown away.
    Report(L"WIMCommitImageHandle()");
    keep = true;
  }
  if (!keep) {
    unmounted = api.UnmountImageHandle(image, 0) != FALSE;
    DWORD error = GetLastError();
    if (!unmounted && error >= 1 && error <= 15998) Report(L"WIMUnmountImageHandle()");
  }
  if (api.CloseHandle) {
    api.CloseHandle(image);
    api.CloseHandle(wim);
  }
  return unmounted;
}

DWORD WINAPI WorkerMain(void* param) {
  std::unique_ptr<WorkerArgs> args(static_cast<WorkerArgs*>(param));
  for (const UnmountJob& job : args->jobs) {
    PostMessageW(args->window, UM_UNMOUNT_STARTED, 0, reinterpret_cast<LPARAM>(new std::wstring(job.mountPath)));
    bool unmounted = UnmountOne(args->window, job);
    PostMessageW(args->window, UM_UNMOUNT_REFRESH, 0, 0);
    if (unmounted && !job.stale) RecreateMountFolder(job.mountPath);
  }
  g_running = false;
  PostMessageW(args->window, UM_UNMOUNT_FINISHED, 0, 0);
  return 0;
}

}  // namespace

bool UnmountOne(HWND owner, const UnmountJob& job) {
  if (job.stale) return DiscardStale(job);
  if (Host().backends.wimgapi.GetMountedImageHandle) return UnmountByHandle(owner, job);
  return UnmountByPath(owner, job);
}

void RecreateMountFolder(const std::wstring& folder, DWORD timeoutMs) {
  if (!RemoveDirectoryW(folder.c_str())) return;
  DWORD start = GetTickCount();
  while (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > timeoutMs) return;
    Sleep(200);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
}

bool StartUnmountWorker(HWND window, std::vector<UnmountJob> jobs) {
  bool expected = false;
  if (jobs.empty() || !g_running.compare_exchange_strong(expected, true)) return false;
  auto* args = new WorkerArgs{window, std::move(jobs)};
  HANDLE thread = CreateThread(nullptr, 0, WorkerMain, args, 0, nullptr);
  if (!thread) {
    delete args;
    g_running = false;
    return false;
  }
  if (g_thread) CloseHandle(g_thread);
  g_thread = thread;
  return true;
}

bool UnmountWorkerRunning() { return g_running; }

bool WaitForUnmountWorker(DWORD timeoutMs) {
  if (!g_running || !g_thread) return true;
  return WaitForSingleObject(g_thread, timeoutMs) == WAIT_OBJECT_0;
}
