// Export through wimlib: one image of the source (a split set's parts
// referenced) goes into the destination. An existing destination is written
// in place (the library cuts an unfinished write off again); a new one is
// written beside its name and renamed once complete.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/split_parts.h"
#include "engine/wimlib_engine.h"

namespace {
const int kWimBootChunkSize = 4096;
}

EngineResult WimlibEngine::ExportImage(const std::wstring& source, int index, const std::wstring& destination,
                                       int compression, int wimBoot) {
  if (!api_.export_image || !api_.open_wim || !api_.create_new_wim || !api_.register_progress_function ||
      !api_.write || !api_.overwrite || !api_.free)
    return kResultNotBound;
  if (wimBoot && !api_.set_output_chunk_size) return kResultNotBound;

  if (AbortedBeforeStart()) return kResultAborted;
  NoteOperationTarget(destination);
  bool exists = PathExists(destination);
  std::wstring written = exists ? destination : TempFileBeside(destination);
  if (written.empty()) return kResultFailed;
  EngineResult result = ExportInto(source, index, written, exists, compression, wimBoot);
  return exists ? result : PutInPlace(written, destination, result, false);
}

EngineResult WimlibEngine::ExportInto(const std::wstring& source, int index, const std::wstring& destination,
                                      bool exists, int compression, int wimBoot) {
  // Freed in reverse: destination, then source.
  WimlibWim src(api_);
  WimlibWim dst(api_);
  if (NoteWimlibFailure(api_.open_wim(source.c_str(), 0, src.out()))) return kResultFailed;

  // WIMBoot wants XPRESS with 4096-byte chunks; a file made here gets both.
  int ctype = wimBoot ? WIMLIB_COMPRESSION_TYPE_XPRESS : compression;
  int ret = exists ? api_.open_wim(destination.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, dst.out())
                   : api_.create_new_wim(static_cast<wimlib_compression_type>(ctype), dst.out());
  if (NoteWimlibFailure(ret)) return kResultFailed;

  ReferenceSplitParts(src.get(), source);
  api_.register_progress_function(dst.get(), WimlibProgress, &op_);

  int flags = WIMLIB_EXPORT_FLAG_GIFT;
  if (wimBoot) {
    flags |= WIMLIB_EXPORT_FLAG_WIMBOOT;
    api_.set_output_chunk_size(dst.get(), kWimBootChunkSize);
  }
  ret = api_.export_image(src.get(), index, dst.get(), nullptr, nullptr, flags);
  if (ret == WIMLIB_ERR_IMAGE_NAME_COLLISION)
    ret = api_.export_image(src.get(), index, dst.get(), nullptr, nullptr, flags | WIMLIB_EXPORT_FLAG_NO_NAMES);
  if (ret) return Outcome(ret);

  const int writeFlags = SolidWriteFlag(dst.get(), !exists, ctype);
  ret = exists ? api_.overwrite(dst.get(), writeFlags, 0)
               : api_.write(dst.get(), destination.c_str(), WIMLIB_ALL_IMAGES, writeFlags, 0);
  return Outcome(ret);
}
