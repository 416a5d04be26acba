// Apply through wimlib: open the file, reference the further parts of a
// split set and extract one image into the target folder. An aborted apply
// keeps the files it has written.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

EngineResult WimlibEngine::ApplyImage(const std::wstring& wimPath, const std::wstring& target, int index,
                                      bool verify, bool noSecurity) {
  if (!api_.open_wim || !api_.extract_image || !api_.register_progress_function || !api_.free)
    return kResultNotBound;
  if (verify && !api_.verify_wim) return kResultNotBound;

  NoteOperationTarget(target);
  EngineResult result = AbortedBeforeStart() ? kResultAborted : kResultFailed;
  if (result != kResultAborted) {
    WimlibWim wim(api_);
    if (NoteWimlibFailure(api_.open_wim(wimPath.c_str(), 0, wim.out())) == 0) {
      // Verification runs first and does not stop the extraction; the
      // user's abort stops both.
      api_.register_progress_function(wim.get(), WimlibProgress, &op_);
      if (verify) api_.verify_wim(wim.get(), 0);
      ReferenceSplitParts(wim.get(), wimPath);
      if (!op_.aborted)
        result = NoteWimlibFailure(
            api_.extract_image(wim.get(), index, target.c_str(), noSecurity ? WIMLIB_EXTRACT_FLAG_NO_ACLS : 0));
      if (op_.aborted) result = kResultAborted;
    }
  }
  ReportProgress(context_.progress, 100.0f);
  return result;
}
