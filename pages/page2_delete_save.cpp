#include "pages/page2_delete_save.h"

#include "engine/failure_reason.h"
#include "engine/mount_guard.h"
#include "engine/wim_file_reader.h"
#include "pages/page2_common.h"
#include "win/long_path.h"

WimStamp StampOfFile(const std::wstring& path) {
  WimStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.valid = true;
  stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.written = data.ftLastWriteTime;
  return stamp;
}

WimStamp CurrentStamp(const std::wstring& path) {
  WimStamp stamp = StampOfFile(path);
  WimFileReader reader;
  if (!stamp.valid || !reader.Read(path)) return WimStamp();
  stamp.imageCount = reader.ImageCount();
  return stamp;
}

bool ChangedSince(const std::wstring& path, const WimStamp& loaded) {
  if (!loaded.valid) return true;
  WimStamp now = CurrentStamp(path);
  return !now.valid || now.imageCount != loaded.imageCount || now.size != loaded.size ||
         CompareFileTime(&now.written, &loaded.written) != 0;
}

std::wstring CopyBeside(const std::wstring& source, const std::wstring& destination) {
  std::wstring temp = TempFileBeside(destination);
  if (temp.empty()) return temp;
  if (CopyFileW(LongPathForm(source).c_str(), LongPathForm(temp).c_str(), FALSE)) return temp;
  NoteWin32Failure(GetLastError());
  DeleteFileW(LongPathForm(temp).c_str());
  return std::wstring();
}

EngineResult WriteChanges(const SaveJob& job, const OperationContext& context, const std::wstring& file) {
  DeleteRequest request;
  request.wimPath = file;
  request.rows = job.rows;
  request.imageCount = static_cast<int>(job.loaded.imageCount);
  return MakeEngine(*job.backends, job.choice, context)->Delete(request);
}

EngineResult SaveChanges(const SaveJob& job, const OperationContext& context, bool& copied) {
  copied = true;
  // Looked at again on the worker: a mount may have been made since the page
  // asked.
  if (RefuseMountedWrite(*job.backends, context, {job.wimPath, job.destination})) return kResultFailed;
  // wimlib writes an edit in place only by appending to the file, and
  // rebuilds it beside itself for a deletion; WIMGAPI's edits are several
  // separate writes, so they go into a copy that replaces the file once all
  // of them have succeeded.
  if (SamePath(job.destination, job.wimPath) && job.choice.backend == kBackendWimlib)
    return WriteChanges(job, context, job.destination);
  std::wstring temp = CopyBeside(job.wimPath, job.destination);
  copied = !temp.empty();
  if (!copied) return kResultFailed;
  return PutInPlace(temp, job.destination, WriteChanges(job, context, temp), true);
}
