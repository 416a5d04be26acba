// Why the last operation failed, in one line for the user.
//
// Each thread keeps a record of the last failure an operation on it met:
// which back end reported it, the error number and, where the back end
// named one, the file it was working on. The engine notes failures where it
// detects them; whoever shows the result (the progress page, the task
// queue, the browser's extraction, the mount manager) clears the record
// before the operation starts and asks for FailureText() once it has failed,
// on the same thread that ran the operation.
#pragma once
#include <windows.h>

#include <string>

// kFailureMounted: a write refused because an image of its file is mounted;
// the record's path is then the mount folder.
enum FailureSource { kFailureNone = 0, kFailureWimlib = 1, kFailureWin32 = 2, kFailureMounted = 3 };

struct FailureRecord {
  FailureSource source = kFailureNone;
  int code = 0;         // wimlib's error number or the Win32 error code
  bool diskFull = false;  // an output error met a volume with no space left
  std::wstring path;    // the file wimlib reported the error for, or empty
};

// Forgets the failure of an earlier operation on this thread.
void ClearFailure();

// Remembers where the running operation writes (a folder or a file), so
// that a failed write can be told apart from a full disk.
void NoteOperationTarget(const std::wstring& path);

// Called as the running operation's output grows (`completedBytes` of its
// progress): keeps the least free space seen on the target's volume, since
// a library that cuts a failed write back frees the space again before the
// failure can be looked at.
void NoteWriteProgress(unsigned long long completedBytes);

// Notes a failing wimlib return value (0 and the user's abort are ignored).
// Returns `code`, so that a call can be wrapped where it is made.
int NoteWimlibFailure(int code);

// Notes a failing Win32 error code (0 and the user's abort are ignored).
// GetLastError is left as it was.
void NoteWin32Failure(DWORD code);

// Notes a write refused because an image of its file is mounted at `folder`.
void NoteMountedFailure(const std::wstring& folder);

// The error-path report of the wimlib progress function: the file the
// library names for an error it is about to act on.
void NoteWimlibProgressError(int msg, const void* progressInfo);

// The record of this thread.
FailureRecord LastFailure();

// One line saying why: a Chinese text for the common causes, otherwise the
// back end's own text with its number; followed by the file where one is
// known. Empty when nothing was noted.
std::wstring FailureText();
std::wstring FailureText(const FailureRecord& record);

// The reason for one error number alone (no file).
std::wstring WimlibReasonText(int code);
std::wstring Win32ReasonText(DWORD code);
