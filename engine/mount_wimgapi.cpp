// Mounting, listing and releasing mounts through WIMGAPI. Mounting itself is
// WimgapiEngine::MountImage (apply_wimgapi.cpp); the questions the user is
// asked before a release are the mount manager's.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimgapi_engine.h"

EngineResult WimgapiEngine::ListMounts(std::vector<MountRecord>& out) {
  return ReadMountedImages(backends_, out) ? kResultSuccess : kResultFailed;
}

EngineResult WimgapiEngine::DiscardMount(const UnmountRequest& request) {
  if (!api_.UnmountImage) return kResultNotBound;
  if (api_.UnmountImage(request.mountPath.c_str(), request.wimPath.c_str(), request.index, FALSE)) return kResultSuccess;
  ReportApiFailure(L"WIMUnmountImage()");
  return kResultFailed;
}

EngineResult WimgapiEngine::Unmount(const UnmountRequest& request) {
  // Saving and unmounting is one call: a commit through the handles keeps
  // the image mounted, only to unmount it right after. A failed save keeps
  // the image mounted, so that nothing is thrown away.
  if (request.save && request.asNewImage) return CommitAsNewImage(request);
  if (request.save && api_.UnmountImage) {
    if (api_.UnmountImage(request.mountPath.c_str(), request.wimPath.c_str(), request.index, TRUE)) return kResultSuccess;
    ReportApiFailure(L"WIMUnmountImage()");
    return kResultFailed;
  }
  if (api_.GetMountedImageHandle && api_.CommitImageHandle && api_.UnmountImageHandle)
    return UnmountByHandle(request);
  if (!api_.UnmountImage) return kResultNotBound;
  // The older library without mounted-image handles.
  if (api_.UnmountImage(request.mountPath.c_str(), request.wimPath.c_str(), request.index, request.save))
    return kResultSuccess;
  ReportApiFailure(L"WIMUnmountImage()");
  return kResultFailed;
}

// The handles of a commit hold the image file against every other writer;
// a discard takes a read-only one.
EngineResult WimgapiEngine::UnmountByHandle(const UnmountRequest& request) {
  HANDLE wim = nullptr, image = nullptr;
  const DWORD access = request.save ? 0 : WIM_FLAG_MOUNT_READONLY;
  if (!api_.GetMountedImageHandle(request.mountPath.c_str(), access, &wim, &image)) {
    ReportApiFailure(L"WIMGetMountedImageHandle()");
    return kResultFailed;
  }
  bool unmounted = false;
  // Changes that could not be saved keep the image mounted, so that
  // nothing is thrown away.
  bool keep = request.save && !api_.CommitImageHandle(image, 0, nullptr);
  if (keep) ReportApiFailure(L"WIMCommitImageHandle()");
  if (!keep) {
    unmounted = api_.UnmountImageHandle(image, 0) != FALSE;
    DWORD error = GetLastError();
    if (!unmounted && error >= 1 && error <= 15998) ReportApiFailure(L"WIMUnmountImageHandle()");
  }
  if (api_.CloseHandle) {
    api_.CloseHandle(image);
    api_.CloseHandle(wim);
  }
  return unmounted ? kResultSuccess : kResultFailed;
}

// The changes go into a new image at the file's end; the mounted image is
// then let go without saving, so that it stays as it was. A commit that
// fails keeps the image mounted with its changes.
EngineResult WimgapiEngine::CommitAsNewImage(const UnmountRequest& request) {
  if (!api_.GetMountedImageHandle || !api_.CommitImageHandle || !api_.UnmountImageHandle) {
    NoteWin32Failure(ERROR_NOT_SUPPORTED);
    return kResultNotBound;
  }
  HANDLE wim = nullptr, image = nullptr;
  if (!api_.GetMountedImageHandle(request.mountPath.c_str(), 0, &wim, &image)) {
    ReportApiFailure(L"WIMGetMountedImageHandle()");
    return kResultFailed;
  }
  HANDLE added = nullptr;
  bool unmounted = false;
  if (api_.CommitImageHandle(image, WIM_COMMIT_FLAG_APPEND, &added)) {
    if (added && api_.CloseHandle) api_.CloseHandle(added);
    unmounted = api_.UnmountImageHandle(image, 0) != FALSE;
    DWORD error = GetLastError();
    if (!unmounted && error >= 1 && error <= 15998) ReportApiFailure(L"WIMUnmountImageHandle()");
  } else {
    ReportApiFailure(L"WIMCommitImageHandle()");
  }
  if (api_.CloseHandle) {
    api_.CloseHandle(image);
    api_.CloseHandle(wim);
  }
  return unmounted ? kResultSuccess : kResultFailed;
}
