// The task record: one queued capture, apply or mount request with all its
// options. The source and target paths are not part of it; they live in
// the queue row's text columns (see task_list_file.h for rows on disk).
#pragma once
#include <windows.h>

#include <string>

// Task types.
enum : BYTE {
  kTaskCaptureNew = 0,     // capture into a new WIM file
  kTaskCaptureAppend = 1,  // capture appended to an existing WIM file
  kTaskApply = 2,          // apply an image to a folder
  kTaskMount = 3,          // mount an image on a folder
};

// Indexes in the application's shared 24x24 image list of the pictures
// that show a row's state in the queue.
enum : int {
  kTaskPictureFinished = 1,  // also a row whose type is not a known one
  kTaskPictureWaiting = 2,   // every new row, and every row when a run starts
  kTaskPictureRunning = 3,
  kTaskPictureFailed = 4,  // failed or cancelled
};

// Characters of each text field, the terminating zero included.
constexpr int kTaskTextChars = 260;

// A record is always filled from all zeros first (TaskRecord r = {};), so
// numbers a request does not use are 0 and texts it does not use empty.
struct TaskRecord {
  BYTE TaskType;                            // kTaskCaptureNew .. kTaskMount; other values are kept but do nothing
  int CompressType;                         // capture: 0 none, 1 XPRESS, 2 LZX
  int ImageIndex;                           // apply and mount: 1-based image; 0 in captures
  int BootIndex;                            // capture: image to mark bootable, 0 none
  int Writable;                             // mount: 1 read-write, 0 read-only
  int Verify;                               // 1 = verify
  int DisableACL;                           // 1 = no security information captured / restored
  wchar_t Name[kTaskTextChars];             // image name
  wchar_t DsipName[kTaskTextChars];         // display name
  wchar_t Description[kTaskTextChars];      // image description
  wchar_t DispDescription[kTaskTextChars];  // display description
  wchar_t SKUFlag[kTaskTextChars];          // the image's FLAGS text (edition)
  int TemplateImage;                        // append: 0 none, -1 the file's last image, else its index
};

// Copies text into a record field, cut at 259 characters (258 when the
// 259th would be the first half of a surrogate pair).
void SetTaskText(wchar_t (&field)[kTaskTextChars], const std::wstring& text);

// True for the four types the runner knows.
inline bool IsKnownTaskType(BYTE type) { return type <= kTaskMount; }

// The caption of a task type in the queue ("创建新镜像", "追加镜像卷",
// "解开镜像", "挂载"), looked up in the string table's list "n:caption;".
// A type the list does not name shows as its number in decimal.
std::wstring TaskTypeCaption(BYTE type);

// The type column of a queue row: the type's caption, and for an append
// with a template which image it takes ("追加镜像卷 (以映像 2 为模板)").
std::wstring TaskRowCaption(const TaskRecord& record);
