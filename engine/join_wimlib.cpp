// Join through wimlib: the first part is opened, the other parts of its set
// (found by name) are referenced, and every image is written into one new
// file beside the target, which takes the target's name once it is complete
// and holds every image of the set.
#include "engine/failure_reason.h"
#include "engine/split_parts.h"
#include "engine/wimlib_engine.h"

EngineResult WimlibEngine::Join(const JoinRequest& request) {
  if (!api_.open_wim || !api_.get_wim_info || !api_.write || !api_.register_progress_function ||
      !api_.reference_resource_files || !api_.free)
    return kResultNotBound;
  if (RefuseMountedWrite({request.target})) return kResultFailed;
  if (AbortedBeforeStart()) return kResultAborted;
  NoteOperationTarget(request.target);

  std::wstring written = TempFileBeside(request.target);
  if (written.empty()) return kResultFailed;
  EngineResult result = kResultFailed;
  wimlib_wim_info set = {};
  {
    WimlibWim wim(api_);
    if (NoteWimlibFailure(api_.open_wim(request.firstPart.c_str(), 0, wim.out())) == 0 &&
        NoteWimlibFailure(api_.get_wim_info(wim.get(), &set)) == 0) {
      if (set.total_parts == 1 || set.part_number != 1) {
        NoteWimlibFailure(WIMLIB_ERR_SPLIT_INVALID);
      } else {
        ReferenceSplitParts(wim.get(), request.firstPart);
        int flags = set.has_integrity_table ? WIMLIB_WRITE_FLAG_CHECK_INTEGRITY : 0;
        result = WriteWholeFile(wim.get(), written, flags);
      }
    }
  }
  if (result == kResultSuccess && !HoldsSameImages(written, set)) result = kResultFailed;
  return PutInPlace(written, request.target, result, request.replace);
}
