#include "mount/unmount_worker.h"

#include <atomic>
#include <memory>

#include "engine/engine.h"
#include "engine/engine_host.h"
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/mounts.h"
#include "resources/ids_mounts.h"
#include "resources/resource.h"
#include "win/handles.h"
#include "win/long_path.h"
#include "win/message_box.h"
#include "win/strings.h"
#include "win/window_thread.h"

namespace {

std::atomic<bool> g_running{false};
UniqueHandle g_thread;  // the last worker's thread, for waiting

struct WorkerArgs {
  HWND window;
  std::vector<UnmountJob> jobs;
  // Shared by the reports in flight: each holds it until it has run or
  // has been dropped with the window.
  std::shared_ptr<const UnmountReports> reports;
};

// The engine context of one job: failures go to its host.
OperationContext ContextOf(const UnmountJob& job) {
  OperationContext context;
  context.host = job.host;
  return context;
}

BackendChoice Wimgapi() { return BackendChoice(); }

bool AskSave(HWND owner, const UnmountJob& job) {
  std::wstring question = LoadFilledStr(job.asNewImage ? IDS_ASK_SAVE_AS_NEW_IMAGE : IDS_ASK_SAVE_CHANGES, {job.wimPath});
  return AppMessageBox(owner, question, L"", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool FolderHoldsFiles(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(LongPathForm(folder + L"\\*").c_str(), &data));
  if (!find) return false;
  bool any = false;
  do {
    any = wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0;
  } while (!any && FindNextFileW(find.get(), &data));
  return any;
}

// The record as it stands after a moment: a file or folder that was
// missing at one look (a share offline, a drive plugged in late) may be
// back. False when the image is no longer mounted.
bool Recheck(UnmountJob& job) {
  MountRecord record;
  for (int attempt = 0; attempt < 3; attempt++) {
    if (attempt) Sleep(500);
    if (!job.backends || !ReadMountRecord(*job.backends, job.mountPath, record)) return false;
    if (!record.stale) break;
  }
  job.stale = record.stale;
  job.writable = record.writable;
  job.commit = record.writable && !record.stale;
  return true;
}

enum class StaleChoice { Discard, Keep, Cancel };

// A stale writable mount may still hold the user's changes: what is lost
// is said, and the user decides. A mount served by a process of its own
// keeps its changes apart from the folder, whether that process died or
// its file system was unmounted by someone else (or by a restart).
StaleChoice AskStale(HWND owner, const UnmountJob& job) {
  MountKind kind;
  bool known = job.backends && ReadMountKind(*job.backends, job.mountPath, kind);
  std::wstring question;
  if (known && !kind.copy && kind.stagedFiles) {
    question = LoadFilledStr(kind.dead ? IDS_ASK_DEAD_CHANGES : IDS_ASK_UNSERVED_CHANGES,
                             {job.mountPath, job.wimPath, FormatStr(L"%llu", kind.stagedFiles),
                              FormatStr(L"%.1f MB", static_cast<double>(kind.stagedBytes) / 1048576.0)});
  } else if ((!known || kind.copy) && FolderHoldsFiles(job.mountPath)) {
    question = LoadFilledStr(IDS_ASK_STALE_FOLDER, {job.mountPath, job.wimPath});
  } else {
    return StaleChoice::Discard;
  }
  int answer = AppMessageBox(owner, question, L"", MB_YESNOCANCEL | MB_ICONWARNING);
  return answer == IDYES ? StaleChoice::Discard : answer == IDNO ? StaleChoice::Keep : StaleChoice::Cancel;
}

UnmountRequest RequestOf(const UnmountJob& job, bool save) {
  UnmountRequest request;
  request.mountPath = job.mountPath;
  request.wimPath = job.wimPath;
  request.index = job.index;
  request.save = save;
  request.asNewImage = save && job.asNewImage;
  return request;
}

// A stale record: the library discards it without saving anything, once
// the user agreed to lose what it still holds; or only the record goes.
bool DiscardStale(HWND owner, const UnmountJob& job) {
  StaleChoice choice = job.writable ? AskStale(owner, job) : StaleChoice::Discard;
  if (choice == StaleChoice::Cancel) return false;
  if (choice == StaleChoice::Keep) {
    if (job.backends && ForgetStaleMount(*job.backends, job.mountPath)) return true;
    ShowApiError(ContextOf(job), L"WIMUnmountImage()");
    return false;
  }
  if (!job.backends) return false;
  return MakeEngine(*job.backends, Wimgapi(), ContextOf(job))->DiscardMount(RequestOf(job, false)) == kResultSuccess;
}

void WorkerMain(const std::shared_ptr<WorkerArgs>& args) {
  const HWND window = args->window;
  const std::shared_ptr<const UnmountReports> reports = args->reports;
  for (const UnmountJob& job : args->jobs) {
    if (reports->started)
      PostToWindowThread(window, [reports, path = job.mountPath] { reports->started(path); });
    UnmountJob current = job;
    ClearFailure();
    bool unmounted = Recheck(current) && UnmountOne(window, current);
    std::wstring reason = unmounted ? std::wstring() : FailureText();
    if (!reason.empty() && reports->failed)
      PostToWindowThread(window, [reports, failure = UnmountFailure{job.mountPath, reason}] {
        reports->failed(failure);
      });
    if (reports->jobDone) PostToWindowThread(window, [reports] { reports->jobDone(); });
    if (unmounted && !current.stale) RecreateMountFolder(job.mountPath);
  }
  g_running = false;
  if (reports->finished) PostToWindowThread(window, [reports] { reports->finished(); });
}

}  // namespace

bool UnmountOne(HWND owner, const UnmountJob& job) {
  if (job.stale) return DiscardStale(owner, job);
  // The question comes first: a commit's handles hold the image file
  // against every other writer.
  const bool save = job.commit && AskSave(owner, job);
  if (!job.backends) return false;
  return MakeEngine(*job.backends, Wimgapi(), ContextOf(job))->Unmount(RequestOf(job, save)) == kResultSuccess;
}

void RecreateMountFolder(const std::wstring& folder, DWORD timeoutMs) {
  if (!RemoveDirectoryW(LongPathForm(folder).c_str())) return;
  DWORD start = GetTickCount();
  while (GetFileAttributesW(LongPathForm(folder).c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > timeoutMs) return;
    Sleep(200);
  }
  CreateDirectoryW(LongPathForm(folder).c_str(), nullptr);
}

bool StartUnmountWorker(HWND window, std::vector<UnmountJob> jobs, UnmountReports reports) {
  bool expected = false;
  if (jobs.empty() || !g_running.compare_exchange_strong(expected, true)) return false;
  auto args = std::make_shared<WorkerArgs>(
      WorkerArgs{window, std::move(jobs), std::make_shared<const UnmountReports>(std::move(reports))});
  UniqueHandle thread = StartThread([args] { WorkerMain(args); });
  if (!thread) {
    g_running = false;
    return false;
  }
  g_thread = std::move(thread);
  return true;
}

bool UnmountWorkerRunning() { return g_running; }

bool WaitForUnmountWorker(DWORD timeoutMs) {
  if (!g_running || !g_thread) return true;
  HANDLE thread = g_thread.get();
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD waited = GetTickCount() - start;
    if (timeoutMs != INFINITE && waited >= timeoutMs) return false;
    DWORD slice = timeoutMs == INFINITE ? INFINITE : timeoutMs - waited;
    DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, slice, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
