// Task-list files ("*.Task"): the queue written to and read back from an
// INI file through the private-profile functions.
//
//   [TASKLIST]
//   Count=<rows>
//   [TASK0]               one section per row, numbered from 0
//   SrcPath=...           keys in this order, numbers in decimal,
//   DesPath=...           texts as they are (empty: "Key=")
//   TaskType=, CompressType=, ImageIndex=, Verify=, Writable=, BootIndex=,
//   DisableACL=, Name=, Description=, DsipName=, DispDescription=, SKUFlag=
//
// Saving does not empty the file first: sections of an earlier, longer
// queue stay behind and are ignored on loading because of Count. A file the
// save creates is UTF-16, so paths in any script survive.
#pragma once
#include <string>
#include <vector>

#include "tasks/task_record.h"

// One row of the queue: the record and the two paths of its text columns.
struct TaskListRow {
  std::wstring srcPath;  // column 2: folder to capture, or WIM file
  std::wstring desPath;  // column 3: WIM file, or target / mount folder
  TaskRecord record = {};
};

// Writes Count and one section per row. False when the file could not be
// written (nothing is reported to the user).
bool SaveTaskList(const std::wstring& path, const std::vector<TaskListRow>& rows);

// Reads the rows that Count names. Missing keys read as 0 or empty texts,
// texts are cut at 259 characters (paths are read whole), a task type keeps its
// lowest 8 bits whatever its value. Rows past the last TASK section in the
// file are not made up, so a damaged or huge Count yields at most the rows
// the file holds. An unreadable file gives an empty queue.
std::vector<TaskListRow> LoadTaskList(const std::wstring& path);
