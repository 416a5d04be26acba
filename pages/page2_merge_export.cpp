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

EngineResult ExportOne(const ExportJob& job, const ExportJob::Image& image, const OperationContext& context) {
  return MakeEngine(*job.backends, job.choice, context)
      ->Export({image.source, image.index, job.destination, job.compression, job.wimBoot});
}

EngineResult ExportAll(const ExportJob& job, const OperationContext& context) {
  const int total = static_cast<int>(job.images.size());
  int result = kResultSuccess;
  for (int n = 1; n <= total; n++) {
    const ExportJob::Image& image = job.images[n - 1];
    ShowExportStatus(job.progress, n, total);
    result = CombineExportResults(result, ExportOne(job, image, context));
    if (result == kResultAborted) break;
    // A cancel pressed during an export that could not stop (wimlib, or a
    // short WIMGAPI export) ends the loop before the next image.
    if (n < total && AskAbortIfRequested(context)) {
      result = kResultAborted;
      break;
    }
  }
  return result;
}
}  // namespace

int CombineExportResults(int combined, int next) {
  if (combined == kResultAborted || next == kResultAborted) return kResultAborted;
  if (combined != kResultSuccess) return combined;
  return next;
}

bool StartExport(Dialog* page, OperationRunner& runner, const ExportJob& job) {
  Operation exporting;
  exporting.display = job.progress;
  exporting.body = [job](const OperationContext& context) { return OperationOutcome{ExportAll(job, context)}; };
  HWND host = GetParent(page->hwnd());
  ShowWindow(host, SW_HIDE);
  if (runner.Start(std::move(exporting))) return true;
  ShowWindow(host, SW_SHOW);
  return false;
}
