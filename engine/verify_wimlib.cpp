// Verification through wimlib: every blob of the file (of every part of a
// split set, found by name) is read, decompressed and checked against its
// SHA-1 hash; a file with an integrity table is then checked against that
// table too. The user's abort stops the check at the library's next
// progress message.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

namespace {

// The verification's percentages, on top of what every wimlib operation's
// progress function does (the abort above all).
enum wimlib_progress_status VerifyProgress(enum wimlib_progress_msg msg, union wimlib_progress_info* info,
                                           void* context) {
  enum wimlib_progress_status status = WimlibProgress(msg, info, context);
  auto* operation = static_cast<WimlibOperation*>(context);
  if (status != WIMLIB_PROGRESS_STATUS_CONTINUE || !info || !operation || !operation->context) return status;
  float percent = -1.0f;
  if (msg == WIMLIB_PROGRESS_MSG_VERIFY_STREAMS)
    percent = WimlibPercent(info->verify_streams.completed_bytes, info->verify_streams.total_bytes);
  else if (msg == WIMLIB_PROGRESS_MSG_VERIFY_INTEGRITY)
    percent = WimlibPercent(info->integrity.completed_bytes, info->integrity.total_bytes);
  if (percent >= 0.0f) ReportProgress(operation->context->progress, percent);
  return status;
}

}  // namespace

EngineResult WimlibEngine::Verify(const VerifyRequest& request) {
  if (!api_.open_wim || !api_.get_wim_info || !api_.verify_wim || !api_.register_progress_function || !api_.free)
    return kResultNotBound;
  if (AbortedBeforeStart()) return kResultAborted;

  wimlib_wim_info info = {};
  {
    WimlibWim wim(api_);
    if (NoteWimlibFailure(api_.open_wim(request.wimPath.c_str(), 0, wim.out()))) return kResultFailed;
    if (NoteWimlibFailure(api_.get_wim_info(wim.get(), &info))) return kResultFailed;
    if (info.total_parts != 1 && ReferenceSplitParts(wim.get(), request.wimPath) != kResultSuccess)
      return kResultNotBound;
    api_.register_progress_function(wim.get(), VerifyProgress, &op_);
    EngineResult result = Outcome(api_.verify_wim(wim.get(), 0));
    if (result != kResultSuccess) return result;
  }
  if (!info.has_integrity_table) return kResultSuccess;
  if (AbortedBeforeStart()) return kResultAborted;
  // Opening with the check reads the whole file against the table.
  WimlibWim checked(api_);
  return Outcome(api_.open_wim(request.wimPath.c_str(), WIMLIB_OPEN_FLAG_CHECK_INTEGRITY, checked.out()));
}
