// The delete and edit page's save through WIMGAPI: every image that stays
// gets its metadata, the others are deleted, and the boot mark is set, all
// on one handle of the file.
#include <algorithm>

#include "engine/mount_guard.h"
#include "engine/progress.h"
#include "engine/wimgapi_engine.h"

int BootPosition(const std::vector<ImageRow>& rows) {
  for (size_t p = 0; p < rows.size(); p++)
    if (rows[p].boot) return static_cast<int>(p + 1);
  return 0;
}

std::vector<int> IndexesToDelete(const std::vector<ImageRow>& rows, int imageCount) {
  std::vector<int> doomed;
  for (int index = imageCount; index >= 1; index--) {
    bool kept = std::any_of(rows.begin(), rows.end(), [&](const ImageRow& row) { return row.index == index; });
    if (!kept) doomed.push_back(index);
  }
  return doomed;
}

EngineResult WimgapiEngine::Delete(const DeleteRequest& request) {
  if (!api_.CreateFile || !api_.SetTemporaryPath || !api_.LoadImage || !api_.SetBootImage || !api_.DeleteImage ||
      !api_.CloseHandle)
    return kResultNotBound;
  if (request.rows.empty()) return kResultFailed;
  if (RefuseMountedWrite({request.wimPath})) return kResultFailed;
  if (ReadWimInfo(request.wimPath) != 1) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  if (static_cast<int>(wimInfo_.ImageCount) != request.imageCount) return kResultFailed;

  WimHandle wim(api_);
  if (!OpenForWriting(wim, request.wimPath, WIM_OPEN_EXISTING)) return kResultFailed;
  return EditImages(wim.get(), request) ? kResultSuccess : kResultFailed;
}

bool WimgapiEngine::EditImages(HANDLE wim, const DeleteRequest& request) {
  bool ok = true;
  for (const ImageRow& row : request.rows) {
    WimHandle image(api_, api_.LoadImage(wim, static_cast<DWORD>(row.index)));
    if (!image) {
      ReportApiFailure(L"WIMLoadImage()");
      ok = false;
      continue;
    }
    if (WriteImageInfo(image.get(), row.index, row.info) != 0) ok = false;
  }
  for (int index : IndexesToDelete(request.rows, request.imageCount)) {
    if (!api_.DeleteImage(wim, static_cast<DWORD>(index))) {
      ReportApiFailure(L"WIMDeleteImage()");
      ok = false;
    }
  }
  // The boot mark goes on by position once the deletions are done: set
  // before them, it would stay on the number and mark another image, and
  // so would a mark set after a deletion that failed.
  if (!ok) return false;
  if (!api_.SetBootImage(wim, static_cast<DWORD>(BootPosition(request.rows)))) {
    ReportApiFailure(L"WIMSetBootImage()");
    ok = false;
  }
  return ok;
}

EngineResult WimgapiEngine::SetImageInfo(const SetImageInfoRequest& request) {
  if (!api_.CreateFile || !api_.SetTemporaryPath || !api_.LoadImage || !api_.CloseHandle) return kResultNotBound;
  if (RefuseMountedWrite({request.wimPath})) return kResultFailed;
  WimHandle wim(api_);
  if (!OpenForWriting(wim, request.wimPath, WIM_OPEN_EXISTING)) return kResultFailed;
  WimHandle image(api_, api_.LoadImage(wim.get(), static_cast<DWORD>(request.index)));
  if (!image) {
    ReportApiFailure(L"WIMLoadImage()");
    return kResultFailed;
  }
  return WriteImageInfo(image.get(), request.index, request.info);
}
