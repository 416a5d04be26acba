#include "tasks/task_runner.h"

#include "engine/engine.h"
#include "engine/failure_reason.h"
#include "win/paths.h"
#include "tasks/operation_runner.h"
#include "tasks/workbench.h"
#include "resources/ids_incremental.h"
#include "resources/ids_skip.h"
#include "resources/resource.h"
#include "tasks/task_queue_page.h"
#include "win/notices.h"
#include "win/strings.h"

namespace {
// The checks the capture page makes before it queues a task, made again
// for every row, since rows can also come from a task-list file: a WIM
// inside its own source folder would capture itself, and a second "create"
// row naming a file an earlier row of this run created would replace that
// row's image.
bool CaptureAllowed(const TaskListRow& row, const std::vector<std::wstring>& created) {
  if (row.srcPath.empty() || row.desPath.empty() || IsInsideFolder(row.desPath, row.srcPath)) return false;
  if (row.record.TaskType != kTaskCaptureNew) return true;
  for (const std::wstring& path : created)
    if (SamePath(path, row.desPath)) return false;
  return true;
}

EngineResult RunTask(const TaskListRow& row, const TaskRunSettings& settings, const OperationContext& context,
                     std::vector<std::wstring>& created, CaptureReport& report) {
  const TaskRequest task = TaskOfRow(row);
  switch (row.record.TaskType) {
    case kTaskCaptureNew:
    case kTaskCaptureAppend: {
      if (!CaptureAllowed(row, created)) return kResultFailed;
      EngineResult result = RunCaptureTask(task.capture, settings, context, &report);
      if (result == kResultSuccess && row.record.TaskType == kTaskCaptureNew) created.push_back(row.desPath);
      return result;
    }
    case kTaskApply:
    case kTaskMount:
      return RunApplyTask(task.type == kTaskMount, task.image, settings, context);
    default:
      return kResultSuccess;  // an unknown type does nothing and counts as done
  }
}
// Why a task failed: what the engine noted on this thread, or what the
// back end cannot do: a mount on wimlib, a template on WIMGAPI.
std::wstring TaskFailureText(const TaskListRow& row, const TaskRunSettings& settings) {
  std::wstring text = FailureText();
  if (text.empty() && row.record.TaskType == kTaskMount && settings.choice.backend == kBackendWimlib)
    text = LoadStr(IDS_REASON_NO_WIMLIB_MOUNT);
  // WIMGAPI refuses an append against a template (it has no such call).
  if (text.empty() && row.record.TaskType == kTaskCaptureAppend && row.record.TemplateImage != 0 &&
      settings.choice.backend == kBackendWimgapi)
    text = LoadStr(IDS_TEMPLATE_NEEDS_WIMLIB);
  return text;
}
// The body of a run: every row of `rows` in turn, each marked on `page`.
EngineResult RunRows(CPage_TaskQueue* page, const std::vector<TaskListRow>& rows, const TaskRunSettings& settings,
                     const OperationContext& context) {
  const int n = static_cast<int>(rows.size());
  float total = 0;
  std::vector<std::wstring> created;  // files made by "create" rows of this run
  for (int i = 0; i < n; i++) {
    page->SetRowPicture(i, kTaskPictureRunning);
    page->SetCurrentBar(0);
    ClearFailure();
    CaptureReport report;
    EngineResult result = RunTask(rows[i], settings, context, created, report);
    if (result == kResultAborted) {
      // No further task starts; the next start resumes with this one,
      // whose row says it was cancelled rather than why it failed.
      page->SetRowPicture(i, kTaskPictureFailed);
      page->SetRowReason(i, LoadStr(IDS_OP_CANCELLED));
      page->StoppedAt(i);
      page->ResetBars();
      break;
    }
    page->SetRowPicture(i, result == kResultSuccess ? kTaskPictureFinished : kTaskPictureFailed);
    // A capture that stopped at a file it could not read names that file;
    // one that left items out names them.
    std::wstring captureLine = CaptureReportLine(report);
    if (!captureLine.empty()) page->SetRowReason(i, captureLine);
    else if (result != kResultSuccess) page->SetRowReason(i, TaskFailureText(rows[i], settings));
    total += 100;
    page->SetOverallBar(total);
  }
  return kResultSuccess;
}
}  // namespace

bool StartTaskQueue(CPage_TaskQueue* page, const Workbench& bench, OperationRunner& runner) {
  if (!page || runner.QueueRunning() || runner.Busy()) return false;
  if (!page->TakeRunSnapshot()) return false;
  TaskRunSettings settings{&bench.backends, bench.Choice(), bench.mainWindow, bench.settings.skipUnreadable == 1};
  std::vector<TaskListRow> rows = page->runRows();
  Operation run;
  run.display = page;
  run.body = [page, rows, settings](const OperationContext& context) -> OperationOutcome {
    return {RunRows(page, rows, settings, context)};
  };
  return runner.StartQueue(std::move(run));
}

std::wstring CaptureReportLine(const CaptureReport& report) {
  if (!report.stoppedAt.empty())
    return FormatStr(LoadStr(IDS_SKIP_STOPPED).c_str(), report.stopReason.c_str(), report.stoppedAt.c_str());
  if (report.skipped.empty()) return std::wstring();
  std::wstring items;
  for (const SkippedItem& item : report.skipped) {
    if (!items.empty()) items += L"; ";
    items += item.path + L" (" + item.reason + L")";
  }
  return FormatStr(LoadStr(IDS_SKIP_QUEUE_ROW).c_str(), static_cast<int>(report.skipped.size()), items.c_str());
}

EngineResult RunCaptureTask(const CaptureRequest& capture, const TaskRunSettings& settings,
                            const OperationContext& context, CaptureReport* report) {
  CaptureRequest request = capture;
  request.unreadable = settings.skipUnreadable ? UnreadablePolicy::kSkip : UnreadablePolicy::kStop;
  request.ask = nullptr;
  request.report = report;
  return MakeEngine(*settings.backends, settings.choice, context)->Capture(request);
}

EngineResult RunApplyTask(bool mount, const MountRequest& image, const TaskRunSettings& settings,
                          const OperationContext& context) {
  std::unique_ptr<Engine> engine = MakeEngine(*settings.backends, settings.choice, context);
  if (!mount) return engine->Apply({image.wimPath, image.folder, image.index, image.verify, image.noSecurity});
  // wimlib cannot mount here: its engine fails the mount.
  EngineResult result = engine->Mount(image);
  if (result == kResultSuccess) GiveNotice(Notice::kMountsChanged);
  return result;
}
