#include "pages/page2_merge_export.h"

#include "engine/progress.h"
#include "engine/engine.h"
#include "resources/resource.h"
#include "pages/page2_common.h"
#include "tasks/operation_runner.h"
#include "tasks/progress_page.h"
#include "win/dialog.h"
#include "win/strings.h"

namespace {
// "正在导出镜像 n/T": which of the ticked images is under way.
void ShowExportStatus(CPage_Progress* progress, int n, int total) {
  if (!progress) return;
  std::vector<std::wstring> titles = SplitFields(LoadStr(IDS_PROGRESS_TITLES));
  if (titles.size() > 3) progress->SetDescription(FormatStr(titles[3].c_str(), n, total));
}

EngineResult ExportOne(const ExportJob& job, const ExportJob::Image& image) {
  return MakeEngine(job.backend, job.tempFolder)
      ->Export({image.source, image.index, job.destination, job.compression, job.wimBoot, job.progress});
}

DWORD WINAPI ExportWorker(void* arg) {
  std::unique_ptr<ExportJob> job(static_cast<ExportJob*>(arg));
  if (job->progress) job->progress->Begin();
  const int total = static_cast<int>(job->images.size());
  int result = kResultSuccess;
  for (int n = 1; n <= total; n++) {
    const ExportJob::Image& image = job->images[n - 1];
    ShowExportStatus(job->progress, n, total);
    result = CombineExportResults(result, ExportOne(*job, image));
    if (result == kResultAborted) break;
    // A cancel pressed during an export that could not stop (wimlib, or a
    // short WIMGAPI export) ends the loop before the next image.
    if (n < total && AskAbortIfRequested()) {
      result = kResultAborted;
      break;
    }
  }
  if (job->progress) job->progress->Finish(result);
  return 0;
}
}  // namespace

int CombineExportResults(int combined, int next) {
  if (combined == kResultAborted || next == kResultAborted) return kResultAborted;
  if (combined != kResultSuccess) return combined;
  return next;
}

bool StartExport(Dialog* page, OperationRunner& runner, std::unique_ptr<ExportJob> job) {
  HWND host = GetParent(page->hwnd());
  ShowWindow(host, SW_HIDE);
  ExportJob* raw = job.release();
  if (runner.Start(ExportWorker, raw)) return true;
  delete raw;
  ShowWindow(host, SW_SHOW);
  return false;
}
