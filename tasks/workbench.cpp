#include "tasks/workbench.h"

#include "tasks/progress_page.h"
#include "tasks/task_queue_page.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/strings.h"

void Workbench::ShowError(const std::wstring& text) { AppMessageBox(mainWindow, text, L"Quarry", MB_ICONERROR); }

void Workbench::ShowNotice(EngineNotice notice) {
  if (notice == EngineNotice::kSplitPartTooSmall)
    AppMessageBox(mainWindow, LoadStr(IDS_SPLIT_TOO_SMALL), L"", MB_ICONEXCLAMATION);
}

bool Workbench::ConfirmAbort() {
  return AppMessageBox(mainWindow, LoadStr(IDS_ASK_ABORT), LoadStr(IDS_ASK_ABORT_CAPTION),
                       MB_ICONQUESTION | MB_YESNO) == IDYES;
}

CPage_Progress* Workbench::ProgressView() const {
  if (!progressPage) MakeProgressViews();
  return progressPage;
}

HIMAGELIST Workbench::StateImages() {
  if (!stateImages_) MakeStateImages();
  return stateImages_;
}

CPage_TaskQueue* Workbench::TaskQueueView() const {
  if (!taskQueuePage) MakeProgressViews();
  return taskQueuePage;
}

ProgressTarget* Workbench::PageProgress() const { return ProgressView(); }

ProgressTarget* Workbench::QueueProgress() const { return TaskQueueView(); }

BackendChoice Workbench::Choice() const { return Choice(backendKind); }

BackendChoice Workbench::Choice(BackendKind backend) const {
  BackendChoice choice;
  choice.backend = backend;
  choice.tempFolder = tempFolder;
  choice.captureLists = captureLists;
  choice.runningFromDriveX = runningFromDriveX;
  return choice;
}
