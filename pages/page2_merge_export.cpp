#include "pages/page2_merge_export.h"

#include "app/quarry_app.h"
#include "engine/progress.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "resources/resource.h"
#include "pages/page2_common.h"
#include "tasks/operation.h"
#include "tasks/progress_page.h"
#include "win/dialog.h"
#include "win/strings.h"

namespace {
CPage_Progress* Progress() {
  CQuarryApp* app = CQuarryApp::Instance();
  return app ? app->ProgressView() : nullptr;
}

// "正在导出镜像 n/T": which of the ticked images is under way.
void ShowExportStatus(int n, int total) {
  CPage_Progress* progress = Progress();
  if (!progress) return;
  std::vector<std::wstring> titles = SplitFields(LoadStr(IDS_PROGRESS_TITLES));
  if (titles.size() > 3) progress->SetDescription(FormatStr(titles[3].c_str(), n, total));
}

EngineResult ExportOne(const ExportJob& job, const ExportJob::Image& image) {
  if (job.backend == kBackendWimlib)
    return WimlibEngine().ExportImage(image.source, image.index, job.destination, job.compression, job.wimBoot);
  return WimgapiEngine(job.tempFolder).ExportImage(image.source, image.index, job.destination, job.compression);
}

DWORD WINAPI ExportWorker(void* arg) {
  std::unique_ptr<ExportJob> job(static_cast<ExportJob*>(arg));
  if (CPage_Progress* progress = Progress()) progress->Begin();
  const int total = static_cast<int>(job->images.size());
  int result = kResultSuccess;
  for (int n = 1; n <= total; n++) {
    const ExportJob::Image& image = job->images[n - 1];
    ShowExportStatus(n, total);
    result = CombineExportResults(result, ExportOne(*job, image));
    if (result == kResultAborted) break;
    // A cancel pressed during an export that could not stop (wimlib, or a
    // short WIMGAPI export) ends the loop before the next image.
    if (n < total && AskAbortIfRequested()) {
      result = kResultAborted;
      break;
    }
  }
  if (CPage_Progress* progress = Progress()) progress->Finish(result);
  return 0;
}
}  // namespace

int CombineExportResults(int combined, int next) {
  if (combined == kResultAborted || next == kResultAborted) return kResultAborted;
  if (combined != kResultSuccess) return combined;
  return next;
}

bool StartExport(Dialog* page, std::unique_ptr<ExportJob> job) {
  HWND host = GetParent(page->hwnd());
  ShowWindow(host, SW_HIDE);
  job->tempFolder = Host().tempFolder;
  ExportJob* raw = job.release();
  if (StartPageOperation(page, ExportWorker, raw)) return true;
  delete raw;
  ShowWindow(host, SW_SHOW);
  return false;
}
