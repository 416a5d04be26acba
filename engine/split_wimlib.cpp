// Split through wimlib: the library names the further parts; the part size
// goes to it as the full 64-bit number. The set is written under temporary
// names and moved to its own only once it is complete.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/split_parts.h"
#include "engine/wimlib_engine.h"

EngineResult WimlibEngine::SplitWim(const std::wstring& source, const std::wstring& firstPart, uint64_t partSize,
                                    const std::vector<std::wstring>& shownParts) {
  if (!api_.split || !api_.open_wim || !api_.register_progress_function || !api_.free) return kResultNotBound;

  if (AbortedBeforeStart()) return kResultAborted;
  WimlibWim wim(api_);
  NoteOperationTarget(firstPart);
  if (NoteWimlibFailure(api_.open_wim(source.c_str(), 0, wim.out()))) return kResultFailed;
  // A part of a split set is not split again: the library would cut a new
  // set out of this part alone, without the data the other parts hold.
  wimlib_wim_info info = {};
  if (api_.get_wim_info && api_.get_wim_info(wim.get(), &info) == 0 && info.total_parts != 1) return kResultFailed;
  api_.register_progress_function(wim.get(), WimlibProgress, &op_);
  // The staging takes the temporary parts of an unfinished set away again.
  SplitStaging staging(firstPart);
  int ret = api_.split(wim.get(), staging.TemporaryFirstPart().c_str(), partSize, WIMLIB_WRITE_FLAG_NO_CHECK_INTEGRITY);
  if (ret) return Outcome(ret);
  return staging.Commit(source, shownParts) ? kResultSuccess : kResultFailed;
}
