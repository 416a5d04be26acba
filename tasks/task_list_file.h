// Task-list files ("*.Task"): the queue written to and read back from an
// INI file in the form of the private-profile functions.
//
//   [TASKLIST]
//   Count=<rows>
//   [TASK0]               one section per row, numbered from 0
//   SrcPath=...           keys in this order, numbers in decimal,
//   DesPath=...           texts as they are (empty: "Key=")
//   TaskType=, CompressType=, ImageIndex=, Verify=, Writable=, BootIndex=,
//   DisableACL=, Name=, Description=, DsipName=, DispDescription=, SKUFlag=
//   TemplateImage=        captures only: the template of an append (0 none,
//                         -1 the file's last image, else its index); a file
//                         written before the key existed reads as none
//
// Saving does not empty the file first: sections of an earlier, longer
// queue stay behind and are ignored on loading because of Count. The file
// is read and written whole in one go (config/profile_document.h), as UTF-16, so
// paths in any script survive.
#pragma once
#include <string>
#include <vector>

#include "engine/engine.h"
#include "tasks/task_record.h"

// One row of the queue: the record and the two paths of its text columns.
struct TaskListRow {
  std::wstring srcPath;  // column 2: folder to capture, or WIM file
  std::wstring desPath;  // column 3: WIM file, or target / mount folder
  TaskRecord record = {};
};

// One queued task as the pages make it and the task runner runs it: the
// request of its type. A capture's progress, questions and report are the
// run's, not the task's.
struct TaskRequest {
  BYTE type = kTaskCaptureNew;  // kTaskCaptureNew .. kTaskMount, or an unknown type kept as it is
  CaptureRequest capture;       // types 0 and 1
  MountRequest image;           // types 2 (apply: `writable` unused) and 3
};

// The row of the queue and the task-list file for a task, and the task of
// a row: the only two places that know how a request is kept in a record.
TaskListRow RowOfTask(const TaskRequest& task);
TaskRequest TaskOfRow(const TaskListRow& row);

// Writes Count and the keys of one section per row; other
// sections and keys of the file stay. False when the file could not be
// written (nothing is reported to the user); the file is then unchanged.
bool SaveTaskList(const std::wstring& path, const std::vector<TaskListRow>& rows);

// Reads the rows of the file: rows 0 up to Count, but no further than the
// highest TASKn section present, in the order of their numbers. Missing
// keys, and every key of a missing section, read as 0 or empty texts, so
// row n of the queue is always section TASKn; paths come back whole, the
// five texts of the record are cut at 259 characters; a task type keeps its
// lowest 8 bits whatever its value. A damaged or huge Count therefore
// yields no more rows than the highest section present; a file whose gaps
// would add more than 10000 empty rows (a lone section with a huge number)
// yields only the rows it holds. The file is read once and taken apart as
// the private-profile functions take it apart (same encodings, same lines,
// first section and key of a name win, names in any case). An unreadable
// file gives an empty queue.
std::vector<TaskListRow> LoadTaskList(const std::wstring& path);
