// Rebuild through WIMGAPI, the way Windows' own tools shrink a file: every
// image is exported into a new file beside it, with the chosen compression,
// and the boot image is set again. The new file takes the file's name once
// every image is in it. The join (join_wimgapi.cpp) exports the same way.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/solid_output.h"
#include "engine/wimgapi_engine.h"

EngineResult WimgapiEngine::ExportEveryImage(const std::wstring& source, const std::wstring& written,
                                             int compression, bool integrity) {
  // Undone in reverse: destination, source, then the callback registration.
  MessageCallbackRegistration callback(api_);
  WimHandle src(api_, api_.CreateFile(source.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
  if (!src) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  WIM_INFO info = {};
  if (!api_.GetAttributes(src.get(), &info, sizeof(info))) {
    ReportApiFailure(L"WIMGetAttributes()");
    return kResultFailed;
  }
  ReferenceSplitParts(src.get(), source);
  if (!api_.SetTemporaryPath(src.get(), tempFolder_.c_str())) {
    ReportApiFailure(L"WIMSetTemporaryPath()");
    return kResultFailed;
  }
  if (compression == kKeepCompression) compression = static_cast<int>(info.CompressionType);
  WimHandle dst(api_);
  if (!OpenForWriting(dst, written, WIM_CREATE_ALWAYS, integrity ? WIM_FLAG_VERIFY : 0,
                      static_cast<DWORD>(compression)))
    return kResultFailed;
  callback.Register(dst.get(), ExportMessageCallback, &context_);
  const DWORD count = info.ImageCount;
  for (DWORD index = 1; index <= count; index++) {
    WimHandle image(api_, api_.LoadImage(src.get(), index));
    if (!image) {
      ReportApiFailure(L"WIMLoadImage()");
      return kResultFailed;
    }
    if (!api_.ExportImage(image.get(), dst.get(), WIM_EXPORT_ALLOW_DUPLICATES)) {
      if (GetLastError() == ERROR_REQUEST_ABORTED) return kResultAborted;
      ReportApiFailure(L"WIMExportImage()");
      return kResultFailed;
    }
    ReportProgress(context_.progress, 100.0f * static_cast<float>(index) / static_cast<float>(count + 1));
  }
  if (AbortRequested()) return kResultAborted;
  if (!api_.SetBootImage(dst.get(), info.BootIndex)) {
    ReportApiFailure(L"WIMSetBootImage()");
    return kResultFailed;
  }
  // The new file is complete when it holds every image of the source.
  WIM_INFO made = {};
  if (!api_.GetAttributes(dst.get(), &made, sizeof(made)) || made.ImageCount != count ||
      made.BootIndex != info.BootIndex) {
    NoteWin32Failure(ERROR_FILE_CORRUPT);
    return kResultFailed;
  }
  return kResultSuccess;
}

EngineResult WimgapiEngine::Rebuild(const RebuildRequest& request) {
  if (!api_.CreateFile || !api_.GetAttributes || !api_.SetReferenceFile || !api_.SetTemporaryPath ||
      !api_.LoadImage || !api_.RegisterMessageCallback || !api_.UnregisterMessageCallback || !api_.ExportImage ||
      !api_.SetBootImage || !api_.CloseHandle)
    return kResultNotBound;
  const std::wstring& target = request.target.empty() ? request.wimPath : request.target;
  if (RefuseMountedWrite({target})) return kResultFailed;
  if (IsReadOnlyFile(target)) {
    NoteWin32Failure(ERROR_ACCESS_DENIED);
    return kResultFailed;
  }
  if (AbortRequested()) return kResultAborted;

  WIM_INFO info = {};
  {
    WimHandle wim(api_, api_.CreateFile(request.wimPath.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
    if (!wim || !api_.GetAttributes(wim.get(), &info, sizeof(info))) {
      ReportApiFailure(L"WIMCreateFile()");
      return kResultFailed;
    }
  }
  // One part alone holds only some of the set's data.
  if (info.TotalParts != 1) {
    NoteWin32Failure(ERROR_NOT_SUPPORTED);
    return kResultFailed;
  }
  bool integrity = request.integrity == IntegrityChoice::kAdd ||
                   (request.integrity == IntegrityChoice::kKeep && (info.WimAttributes & WIM_ATTRIBUTE_VERIFY_DATA));
  std::wstring written = TempFileBeside(target);
  if (written.empty()) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  EngineResult result = ExportEveryImage(request.wimPath, written, request.compression, integrity);
  return PutInPlace(written, target, result, true);
}
