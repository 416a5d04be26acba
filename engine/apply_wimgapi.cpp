// Apply and mount through WIMGAPI. Both open the file, reference the further
// parts of a split set, load the image and run one long call with the
// apply/mount message callback (percentages and the abort question).
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimgapi_engine.h"

namespace {

const DWORD kMountReadAccess = WIM_GENERIC_READ | WIM_GENERIC_MOUNT;
const DWORD kMountWriteAccess = WIM_GENERIC_READ | WIM_GENERIC_WRITE | WIM_GENERIC_MOUNT;

DWORD SecurityFlags(bool verify, bool noSecurity) {
  return (verify ? WIM_FLAG_VERIFY : 0) | (noSecurity ? WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL : 0);
}

// The result of a long call: success, an abort the user asked for, or a
// failure shown under `name`.
EngineResult LongCallResult(const OperationContext& context, BOOL ok, const wchar_t* name) {
  if (ok) return kResultSuccess;
  if (GetLastError() == ERROR_REQUEST_ABORTED) return kResultAborted;
  ShowApiError(context, name);
  return kResultFailed;
}

}  // namespace

EngineResult WimgapiEngine::ApplyImage(const std::wstring& wimPath, const std::wstring& target, int index,
                                       bool verify, bool noSecurity) {
  return ApplyOrMount(wimPath, target, index, verify, noSecurity, false, false);
}

EngineResult WimgapiEngine::MountImage(const std::wstring& wimPath, const std::wstring& mountFolder, int index,
                                       bool verify, bool noSecurity, bool writable) {
  return ApplyOrMount(wimPath, mountFolder, index, verify, noSecurity, true, writable);
}

EngineResult WimgapiEngine::ApplyOrMount(const std::wstring& wimPath, const std::wstring& folder, int index,
                                         bool verify, bool noSecurity, bool mount, bool writable) {
  if (!api_.CreateFile || !api_.SetTemporaryPath || !api_.GetAttributes || !api_.SetReferenceFile ||
      !api_.LoadImage || !api_.RegisterMessageCallback || !api_.UnregisterMessageCallback || !api_.CloseHandle)
    return kResultNotBound;
  if (!mount && !api_.ApplyImage) return kResultNotBound;
  if (mount && !api_.MountImageHandle && !api_.MountImage) return kResultNotBound;
  // An abort pressed before the library's first message counts too.
  if (AbortRequested()) return kResultAborted;

  DWORD access = !mount ? WIM_GENERIC_READ : writable ? kMountWriteAccess : kMountReadAccess;
  MessageCallbackRegistration callback(api_);
  WimHandle wim(api_, api_.CreateFile(wimPath.c_str(), access, WIM_OPEN_EXISTING, verify ? WIM_FLAG_VERIFY : 0,
                                      0, nullptr));
  if (!wim) return NoteWin32Failure(GetLastError()), kResultFailed;
  if (!api_.SetTemporaryPath(wim.get(), tempFolder_.c_str())) {
    ReportApiFailure(L"WIMSetTemporaryPath() fails");
    return kResultFailed;
  }
  ReferenceSplitParts(wim.get(), wimPath);
  WimHandle image(api_, api_.LoadImage(wim.get(), static_cast<DWORD>(index)));
  if (!image) {
    ReportApiFailure(L"WIMLoadImage() fails");
    return kResultFailed;
  }
  callback.Register(wim.get(), ApplyMessageCallback, &context_);

  DWORD flags = SecurityFlags(verify, noSecurity);
  if (!mount) return LongCallResult(context_, api_.ApplyImage(image.get(), folder.c_str(), flags), L"WIMApplyImage() fails");
  if (api_.MountImageHandle) {
    if (!writable) flags |= WIM_FLAG_MOUNT_READONLY;
    return LongCallResult(context_, api_.MountImageHandle(image.get(), folder.c_str(), flags),
                          L"WIMMountImageHandle() fails");
  }

  // An older library mounts by path: everything opened here is let go first.
  image.Close();
  wim.Close();
  callback.Unregister();
  return MountWithoutHandle(wimPath, folder, index, writable);
}

EngineResult WimgapiEngine::MountWithoutHandle(const std::wstring& wimPath, const std::wstring& folder, int index,
                                               bool writable) {
  BOOL ok = api_.MountImage(folder.c_str(), wimPath.c_str(), static_cast<DWORD>(index),
                            writable ? tempFolder_.c_str() : nullptr);
  return LongCallResult(context_, ok, L"WIMMountImage() fails");
}
