// Join through WIMGAPI: every image of the set (its further parts found by
// name and referenced) is exported into one new file beside the target,
// which takes the target's name once every image is in it.
#include "engine/failure_reason.h"
#include "engine/wimgapi_engine.h"

EngineResult WimgapiEngine::Join(const JoinRequest& request) {
  if (!api_.CreateFile || !api_.GetAttributes || !api_.SetReferenceFile || !api_.SetTemporaryPath ||
      !api_.LoadImage || !api_.RegisterMessageCallback || !api_.UnregisterMessageCallback || !api_.ExportImage ||
      !api_.SetBootImage || !api_.CloseHandle)
    return kResultNotBound;
  if (RefuseMountedWrite({request.target})) return kResultFailed;
  if (AbortRequested()) return kResultAborted;

  WIM_INFO info = {};
  {
    WimHandle wim(api_, api_.CreateFile(request.firstPart.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
    if (!wim || !api_.GetAttributes(wim.get(), &info, sizeof(info))) {
      ReportApiFailure(L"WIMCreateFile()");
      return kResultFailed;
    }
  }
  if (info.TotalParts == 1 || info.PartNumber != 1) {
    NoteWin32Failure(ERROR_INVALID_DATA);
    return kResultFailed;
  }
  std::wstring written = TempFileBeside(request.target);
  if (written.empty()) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  EngineResult result = ExportEveryImage(request.firstPart, written, kKeepCompression,
                                         (info.WimAttributes & WIM_ATTRIBUTE_VERIFY_DATA) != 0);
  return PutInPlace(written, request.target, result, request.replace);
}
