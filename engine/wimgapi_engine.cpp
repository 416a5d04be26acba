// WIMGAPI engine: construction, the shared helpers, reading the file's
// information, writing an image's metadata and referencing split parts.
// The long operations live in capture_wimgapi.cpp, apply_wimgapi.cpp,
// export_wimgapi.cpp and split_wimgapi.cpp.
#include "engine/wimgapi_engine.h"

#include "engine/failure_reason.h"
#include "engine/image_xml.h"
#include "engine/mount_guard.h"
#include "engine/progress.h"
#include "engine/split_parts.h"

void MessageCallbackRegistration::Register(HANDLE wim, PFN_WIMMessageCallback callback, void* userData) {
  api_.RegisterMessageCallback(wim, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback)), userData);
  callback_ = callback;
}

void MessageCallbackRegistration::Unregister() {
  if (!callback_) return;
  api_.UnregisterMessageCallback(nullptr, reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback_)));
  callback_ = nullptr;
}

size_t CaptureRootLength(const std::wstring& source) {
  size_t length = source.size();
  if (length && source[length - 1] == L'\\') --length;
  return length;
}

WimgapiEngine::WimgapiEngine(const Backends& backends, const BackendChoice& choice, const OperationContext& context)
    : backends_(backends), api_(backends.wimgapi), choice_(choice), tempFolder_(choice.tempFolder), context_(context) {}

bool WimgapiEngine::OpenForWriting(WimHandle& wim, const std::wstring& path, DWORD disposition, DWORD flags,
                                   DWORD compression, DWORD* created, DWORD access) {
  wim.Reset(api_.CreateFile(path.c_str(), access, disposition, flags, compression, created));
  if (!wim) {
    ReportApiFailure(L"WIMCreateFile()");
    return false;
  }
  if (!api_.SetTemporaryPath(wim.get(), tempFolder_.c_str())) {
    ReportApiFailure(L"WIMSetTemporaryPath()");
    wim.Close();
    return false;
  }
  return true;
}

bool WimgapiEngine::RefuseMountedWrite(const std::vector<std::wstring>& paths) const {
  return ::RefuseMountedWrite(backends_, context_, paths);
}

int WimgapiEngine::ReadWimInfo(const std::wstring& wimPath) {
  if (!api_.CreateFile || !api_.GetAttributes || !api_.GetImageInformation || !api_.CloseHandle)
    return kResultNotBound;

  WimHandle wim(api_, api_.CreateFile(wimPath.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
  if (!wim) return 0;
  wimInfo_ = WIM_INFO();
  if (!api_.GetAttributes(wim.get(), &wimInfo_, sizeof(wimInfo_))) return 0;

  void* buffer = nullptr;
  DWORD bytes = 0;
  if (!api_.GetImageInformation(wim.get(), &buffer, &bytes)) return 0;
  xmlText_ = XmlTextFromBytes(buffer, bytes);
  LocalFree(buffer);
  return 1;
}

int WimgapiEngine::WriteImageInfo(HANDLE image, int index, const ImageInfo& info) {
  if (!api_.GetImageInformation || !api_.SetImageInformation) return kResultNotBound;

  void* buffer = nullptr;
  DWORD bytes = 0;
  if (!api_.GetImageInformation(image, &buffer, &bytes)) {
    ReportApiFailure(L"WIMSetImageInformation()");
    return kResultFailed;
  }
  std::wstring xml = XmlTextFromBytes(buffer, bytes);
  LocalFree(buffer);

  // Without this image's element nothing can be placed safely; the image
  // keeps its old information.
  if (!RewriteImageXml(xml, index, info) || !ApplyPropertyChanges(xml, index, info.properties)) {
    SetLastError(ERROR_INVALID_DATA);
    ReportApiFailure(L"WIMSetImageInformation()");
    return kResultFailed;
  }
  DWORD size = static_cast<DWORD>(xml.size() * sizeof(wchar_t));
  if (!api_.SetImageInformation(image, &xml[0], size)) {
    ReportApiFailure(L"WIMSetImageInformation()");
    return kResultFailed;
  }
  return kResultSuccess;
}

void WimgapiEngine::ReferenceSplitParts(HANDLE wim, const std::wstring& wimPath) {
  if (!api_.GetAttributes || !api_.SetReferenceFile) return;
  WIM_INFO info = {};
  if (!api_.GetAttributes(wim, &info, sizeof(info))) return;
  if (info.TotalParts == 1) return;
  for (int n = 2; n <= info.TotalParts; ++n) {
    std::wstring part = SplitPartPath(wimPath, n);
    if (!PathExists(part)) break;
    api_.SetReferenceFile(wim, part.c_str(), WIM_REFERENCE_APPEND);
  }
}
