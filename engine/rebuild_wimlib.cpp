// Rebuild through wimlib: every image of the file is written into a new file
// beside it, which holds only the data the images use; with another
// compression the data are compressed again. The new file is checked and
// then takes the file's name. The GUID, every image's XML and the boot
// index go across unchanged.
#include "engine/failure_reason.h"
#include "engine/mount_guard.h"
#include "engine/progress.h"
#include "engine/solid_output.h"
#include "engine/wimlib_engine.h"

namespace {

// The chunk sizes Windows' own tools write: 32 KiB for XPRESS and LZX,
// 128 KiB for LZMS.
constexpr uint32_t kWindowsChunkSize = 32768;
constexpr uint32_t kLzmsChunkSize = 131072;

int IntegrityFlag(IntegrityChoice choice, bool hasTable) {
  switch (choice) {
    case IntegrityChoice::kAdd: return WIMLIB_WRITE_FLAG_CHECK_INTEGRITY;
    case IntegrityChoice::kRemove: return WIMLIB_WRITE_FLAG_NO_CHECK_INTEGRITY;
    default: return hasTable ? WIMLIB_WRITE_FLAG_CHECK_INTEGRITY : WIMLIB_WRITE_FLAG_NO_CHECK_INTEGRITY;
  }
}

}  // namespace

EngineResult WimlibEngine::Rebuild(const RebuildRequest& request) {
  if (!api_.open_wim || !api_.get_wim_info || !api_.write || !api_.register_progress_function || !api_.free)
    return kResultNotBound;
  if (request.compression != kKeepCompression && !api_.set_output_compression_type) return kResultNotBound;
  const std::wstring& target = request.target.empty() ? request.wimPath : request.target;
  if (RefuseMountedWrite({target})) return kResultFailed;
  if (IsReadOnlyFile(target)) {
    NoteWin32Failure(ERROR_ACCESS_DENIED);
    return kResultFailed;
  }
  if (AbortedBeforeStart()) return kResultAborted;
  NoteOperationTarget(target);

  std::wstring written = TempFileBeside(target);
  if (written.empty()) return kResultFailed;
  EngineResult result = kResultFailed;
  wimlib_wim_info before = {};
  {
    // The file is closed again before the new one takes its name.
    WimlibWim wim(api_);
    if (NoteWimlibFailure(api_.open_wim(request.wimPath.c_str(), 0, wim.out())) == 0 &&
        NoteWimlibFailure(api_.get_wim_info(wim.get(), &before)) == 0) {
      if (before.total_parts != 1) {
        // One part alone holds only some of the set's data.
        NoteWimlibFailure(WIMLIB_ERR_UNSUPPORTED);
      } else {
        const bool wasSolid = IsSolidWimVersion(before.wim_version);
        int flags = IntegrityFlag(request.integrity, before.has_integrity_table);
        bool solid = wasSolid;
        if (request.compression != kKeepCompression) {
          solid = request.compression == kCompressionSolidLzms;
          const int ctype = solid ? WIMLIB_COMPRESSION_TYPE_LZMS : request.compression;
          // Data of another compression or kind of resource are compressed
          // afresh by the library itself; forcing it for all of them would
          // also recompress what can be copied as it is.
          if (ctype != before.compression_type || solid != wasSolid) {
            api_.set_output_compression_type(wim.get(), static_cast<wimlib_compression_type>(ctype));
            // The chunks get the new compression's usual size, not the old
            // file's (an ESD's 128 KiB chunks in an LZX file would be read
            // by no WIMGAPI older than Windows 8).
            if (ctype != WIMLIB_COMPRESSION_TYPE_NONE && api_.set_output_chunk_size)
              api_.set_output_chunk_size(wim.get(), ctype == WIMLIB_COMPRESSION_TYPE_LZMS ? kLzmsChunkSize
                                                                                          : kWindowsChunkSize);
          }
        }
        if (solid) flags |= WIMLIB_WRITE_FLAG_SOLID;
        result = WriteWholeFile(wim.get(), written, flags);
      }
    }
  }
  if (result == kResultSuccess && !HoldsSameImages(written, before)) result = kResultFailed;
  return PutInPlace(written, target, result, true);
}

EngineResult WimlibEngine::WriteWholeFile(WIMStruct* wim, const std::wstring& written, int writeFlags) {
  api_.register_progress_function(wim, WimlibProgress, &op_);
  return Outcome(api_.write(wim, written.c_str(), WIMLIB_ALL_IMAGES, writeFlags | WIMLIB_WRITE_FLAG_RETAIN_GUID, 0));
}

bool WimlibEngine::HoldsSameImages(const std::wstring& written, const wimlib_wim_info& expected) {
  WimlibWim wim(api_);
  wimlib_wim_info info = {};
  if (NoteWimlibFailure(api_.open_wim(written.c_str(), 0, wim.out()))) return false;
  if (NoteWimlibFailure(api_.get_wim_info(wim.get(), &info))) return false;
  if (info.image_count == expected.image_count && info.boot_index == expected.boot_index && info.total_parts == 1)
    return true;
  NoteWimlibFailure(WIMLIB_ERR_IMAGE_COUNT);
  return false;
}
