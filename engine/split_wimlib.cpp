// Split through wimlib: the library names the further parts; the part size
// goes to it as the full 64-bit number.
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

EngineResult WimlibEngine::SplitWim(const std::wstring& source, const std::wstring& firstPart, uint64_t partSize) {
  if (!api_.split || !api_.open_wim || !api_.register_progress_function || !api_.free) return kResultNotBound;

  if (AbortedBeforeStart()) return kResultAborted;
  WimlibWim wim(api_);
  if (api_.open_wim(source.c_str(), 0, wim.out())) return kResultFailed;
  api_.register_progress_function(wim.get(), WimlibProgress, &abort_);
  int ret = api_.split(wim.get(), firstPart.c_str(), partSize, WIMLIB_WRITE_FLAG_NO_CHECK_INTEGRITY);
  // An unfinished set is of no use: the parts it began are taken away.
  if (ret)
    for (const std::wstring& part : abort_.newParts) DeleteFileW(part.c_str());
  return Outcome(ret);
}
