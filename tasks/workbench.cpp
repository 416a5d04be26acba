#include "tasks/workbench.h"

#include "tasks/progress_page.h"
#include "tasks/task_queue_page.h"

CPage_Progress* Workbench::ProgressView() const { return static_cast<CPage_Progress*>(progressPage); }

CPage_TaskQueue* Workbench::TaskQueueView() const { return static_cast<CPage_TaskQueue*>(taskQueuePage); }
