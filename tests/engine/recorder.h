// Call recorders for the two back-end tables: each entry of a table is
// replaced by a function that logs the call (arguments that matter, handles
// named in the order they were opened) and forwards it to the real library.
// Named entries can be made to fail instead, to walk the error paths.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/engine_host.h"

namespace rec {

// The log since the last Start*; one line per call, e.g.
// "CreateFile 0x80000000 3 0 0 -> F1", "LoadImage F1 1 -> I1", "Close I1".
extern std::vector<std::string> log;
// Text of the last WIMSetImageInformation call (without a terminator).
extern std::wstring lastImageXml;
// Folder of the last WIMSetTemporaryPath call.
extern std::wstring lastTempPath;
// The answers a message callback gave to the file questions of a capture,
// in order: message (WIM_MSG_PROCESS, _COMPRESS, _ALIGNMENT), full path and
// the BOOL after the callback ran.
struct Answer {
  DWORD msg;
  std::wstring path;
  BOOL value;
};
extern std::vector<Answer> answers;
// The answer for the message about the path ending in `suffix`; -1 if none.
int AnswerFor(DWORD msg, const std::wstring& suffix);

// Entries that fail (with the given GetLastError) instead of running, by the
// log's name of the call ("SetTemporaryPath", "open_wim", ...).
extern std::map<std::string, DWORD> failing;
// With n > 0, WIMDeleteImage fails (ERROR_WRITE_FAULT) from its n-th call
// on: the calls before it work.
extern int failingDeletion;

// Puts recorders in front of the host's WIMGAPI / wimlib table; entries that
// are null stay null. Clears the log.
void StartWimgapi(Backends& backends);
void StartWimlib(Backends& backends);

// Lines of the log that start with `prefix`.
std::vector<std::string> Lines(const std::string& prefix);
// True when some line of the log equals `line`.
bool Has(const std::string& line);
std::string Joined();

}  // namespace rec
