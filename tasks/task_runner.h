// The task runner: runs the rows of the task queue one after another on a
// worker thread of its own, through the back end selected at that moment,
// and stops at the first task the user cancels. Failures only mark their
// row; errors stay quiet for the whole run.
//
// A run is started by the operation runner, which holds its queue-run flag
// from the start on the user-interface thread to the end, so that no page
// starts an operation beside it and the queue's rows cannot be deleted or
// replaced under it.
#pragma once
#include <windows.h>

#include <string>

#include "engine/engine.h"
#include "engine/engine_host.h"
#include "tasks/task_record.h"

class CPage_TaskQueue;
class OperationRunner;
struct Workbench;

// Starts a run of the queue's rows as they are now through `runner`
// (user-interface thread). False, starting nothing, while another run or
// operation is under way or the queue is empty.
bool StartTaskQueue(CPage_TaskQueue* page, const Workbench& bench, OperationRunner& runner);

// The runner's thread procedure; the argument is the queue page.
DWORD WINAPI RunTaskQueue(void* page);

// What a run takes from the host's settings when it starts.
struct TaskRunSettings {
  std::wstring tempFolder;
  CaptureLists captureLists;
  HWND mainWindow = nullptr;  // told when a mount task has mounted an image
  BackendKind backend = kBackendWimgapi;
  ProgressTarget* progress = nullptr;  // the task queue page's bars
  // Nobody is asked during a run: a file that cannot be read is skipped
  // with this set ([MISC] SkipUnreadable), else the task stops there.
  bool skipUnreadable = false;
};

// One capture task (types 0 and 1): the engine's result. `report`, when
// given, hears what the capture left out.
EngineResult RunCaptureTask(const std::wstring& source, const std::wstring& target, const TaskRecord& record,
                            const TaskRunSettings& settings, CaptureReport* report = nullptr);

// The queue row's line for a capture: how many items it left out and each
// one with its reason, or the file a stop by the stored choice ended it at.
// Empty when there is nothing to say.
std::wstring CaptureReportLine(const CaptureReport& report);

// One apply or mount task (types 2 and 3): the engine's result. A mount
// with wimlib selected fails at once (-1) without any engine call.
EngineResult RunApplyTask(const std::wstring& source, const std::wstring& target, const TaskRecord& record,
                          const TaskRunSettings& settings);
