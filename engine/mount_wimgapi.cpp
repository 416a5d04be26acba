// Mounting, listing and releasing mounts through WIMGAPI. Mounting itself is
// WimgapiEngine::MountImage (apply_wimgapi.cpp); the questions the user is
// asked before a release are the mount manager's.
#include "engine/progress.h"
#include "engine/wimgapi_engine.h"

bool WimgapiEngine::ListMounts(std::vector<MountRecord>& out) { return ReadMountedImages(backends_, out); }

bool WimgapiEngine::DiscardMount(const UnmountRequest& request) {
  if (!api_.UnmountImage) return false;
  if (api_.UnmountImage(request.mountPath.c_str(), request.wimPath.c_str(), request.index, FALSE)) return true;
  ReportApiFailure(L"WIMUnmountImage()");
  return false;
}

bool WimgapiEngine::Unmount(const UnmountRequest& request) {
  // Saving and unmounting is one call: a commit through the handles keeps
  // the image mounted, only to unmount it right after. A failed save keeps
  // the image mounted, so that nothing is thrown away.
  if (request.save && api_.UnmountImage) {
    if (api_.UnmountImage(request.mountPath.c_str(), request.wimPath.c_str(), request.index, TRUE)) return true;
    ReportApiFailure(L"WIMUnmountImage()");
    return false;
  }
  if (api_.GetMountedImageHandle && api_.CommitImageHandle && api_.UnmountImageHandle)
    return UnmountByHandle(request);
  if (!api_.UnmountImage) return false;
  // The older library without mounted-image handles.
  if (api_.UnmountImage(request.mountPath.c_str(), request.wimPath.c_str(), request.index, request.save))
    return true;
  ReportApiFailure(L"WIMUnmountImage()");
  return false;
}

// The handles of a commit hold the image file against every other writer;
// a discard takes a read-only one.
bool WimgapiEngine::UnmountByHandle(const UnmountRequest& request) {
  HANDLE wim = nullptr, image = nullptr;
  const DWORD access = request.save ? 0 : WIM_FLAG_MOUNT_READONLY;
  if (!api_.GetMountedImageHandle(request.mountPath.c_str(), access, &wim, &image)) {
    ReportApiFailure(L"WIMGetMountedImageHandle()");
    return false;
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
  return unmounted;
}
