// Split through WIMGAPI: the library names the further parts; the callback
// asks about a pending abort and shows "splitting" for every part. The set
// is written under temporary names and moved to its own once complete.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/split_parts.h"
#include "engine/wimgapi_engine.h"

EngineResult WimgapiEngine::SplitWim(const std::wstring& source, const std::wstring& firstPart, uint64_t partSize,
                                     const std::vector<std::wstring>& shownParts) {
  if (!api_.CreateFile || !api_.RegisterMessageCallback || !api_.UnregisterMessageCallback ||
      !api_.GetAttributes || !api_.SplitFile || !api_.CloseHandle)
    return kResultNotBound;
  // An abort pressed before the library's first message counts too.
  if (AbortRequested()) return kResultAborted;

  MessageCallbackRegistration callback(api_);
  WimHandle wim(api_, api_.CreateFile(source.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, WIM_FLAG_VERIFY, 0,
                                      nullptr));
  if (!wim) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  callback.Register(wim.get(), SplitMessageCallback, &context_);

  // A part of a split set is not split again (the page has refused it).
  WIM_INFO info = {};
  if (api_.GetAttributes(wim.get(), &info, sizeof(info)) && info.TotalParts != 1) return kResultFailed;

  LARGE_INTEGER size;
  size.QuadPart = static_cast<LONGLONG>(partSize);
  SplitStaging staging(firstPart);
  if (api_.SplitFile(wim.get(), staging.TemporaryFirstPart().c_str(), &size, 0)) {
    wim.Close();
    return staging.Commit(source, shownParts) ? kResultSuccess : kResultFailed;
  }

  DWORD error = GetLastError();
  if (error == ERROR_MORE_DATA) {
    // The part size is below the largest resource: told even to a quiet run.
    context_.ShowNotice(EngineNotice::kSplitPartTooSmall);
    wim.Close();
    ReportProgress(context_.progress, 100.0f);
    return kResultFailed;
  }
  if (error == ERROR_REQUEST_ABORTED) return kResultAborted;
  // No box for it, but the result says why (a full disk, most often).
  NoteWin32Failure(error);
  return kResultFailed;
}
