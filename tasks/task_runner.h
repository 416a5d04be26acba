// The task runner: a run of the task queue is one operation of the
// operation runner, whose body runs the rows one after another through the
// back end selected when the run started, and stops at the first task the
// user cancels. Failures only mark their row; errors stay quiet for the
// whole run.
//
// The operation runner holds its queue-run flag from the start on the
// user-interface thread to the end, so that no page starts an operation
// beside it and the queue's rows cannot be deleted or replaced under it.
#pragma once
#include <windows.h>

#include <string>

#include "engine/engine.h"
#include "engine/engine_host.h"
#include "engine/operation.h"
#include "tasks/task_record.h"

class CPage_TaskQueue;
class OperationRunner;
struct Workbench;

// Starts a run of the queue's rows as they are now through `runner`
// (user-interface thread). False, starting nothing, while another run or
// operation is under way or the queue is empty.
bool StartTaskQueue(CPage_TaskQueue* page, const Workbench& bench, OperationRunner& runner);

// What a run takes from the program when it starts, copied on the
// user-interface thread: the preferences may change the program's own
// while the run goes on.
struct TaskRunSettings {
  const Backends* backends = nullptr;  // bound for the program's life
  BackendChoice choice;
  HWND mainWindow = nullptr;  // told when a mount task has mounted an image
  // Nobody is asked during a run: a file that cannot be read is skipped
  // with this set ([MISC] SkipUnreadable), else the task stops there.
  bool skipUnreadable = false;
};

// One capture task (types 0 and 1) with the run's context: the engine's
// result. `report`, when given, hears what the capture left out.
EngineResult RunCaptureTask(const CaptureRequest& capture, const TaskRunSettings& settings,
                            const OperationContext& context, CaptureReport* report = nullptr);

// The queue row's line for a capture: how many items it left out and each
// one with its reason, or the file a stop by the stored choice ended it at.
// Empty when there is nothing to say.
std::wstring CaptureReportLine(const CaptureReport& report);

// One apply or mount task (types 2 and 3): the engine's result. A mount
// with wimlib selected fails at once (-1) without any engine call.
EngineResult RunApplyTask(bool mount, const MountRequest& image, const TaskRunSettings& settings,
                          const OperationContext& context);
