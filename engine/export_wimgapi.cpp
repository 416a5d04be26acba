// Export through WIMGAPI: one image of the source (a split set's parts
// referenced) is added to the destination, which is created when missing.
// The export callback only asks about a pending abort.
#include "engine/progress.h"
#include "engine/split_parts.h"
#include "engine/wimgapi_engine.h"

EngineResult WimgapiEngine::ExportImage(const std::wstring& source, int index, const std::wstring& destination,
                                        int compression) {
  if (!api_.CreateFile || !api_.GetAttributes || !api_.SetReferenceFile || !api_.SetTemporaryPath ||
      !api_.LoadImage || !api_.RegisterMessageCallback || !api_.UnregisterMessageCallback ||
      !api_.ExportImage || !api_.CloseHandle)
    return kResultNotBound;
  // An abort pressed before the library's first message counts too.
  if (AbortRequested()) return kResultAborted;

  MessageCallbackRegistration callback(api_);
  WimHandle src(api_, api_.CreateFile(source.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
  if (!src) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  ReferenceSplitParts(src.get(), source);
  if (!api_.SetTemporaryPath(src.get(), tempFolder_.c_str())) {
    ReportApiFailure(L"WIMSetTemporaryPath()");
    return kResultFailed;
  }
  WimHandle image(api_, api_.LoadImage(src.get(), static_cast<DWORD>(index)));
  if (!image) {
    ReportApiFailure(L"WIMLoadImage()");
    return kResultFailed;
  }

  // The compression counts only for a destination made here.
  DWORD disposition = PathExists(destination) ? WIM_OPEN_EXISTING : WIM_CREATE_NEW;
  WimHandle dst(api_);
  if (!OpenForWriting(dst, destination, disposition, 0, compression)) return kResultFailed;

  callback.Register(dst.get(), ExportMessageCallback, &context_);
  if (api_.ExportImage(image.get(), dst.get(), WIM_EXPORT_ALLOW_DUPLICATES)) return kResultSuccess;
  if (GetLastError() == ERROR_REQUEST_ABORTED) return kResultAborted;
  ReportApiFailure(L"WIMExportImage");
  return kResultFailed;
}
