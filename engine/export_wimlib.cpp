// Export through wimlib: one image of the source (a split set's parts
// referenced) goes into the destination, which is created when missing and
// written in place otherwise.
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

  // Freed in reverse: destination, then source.
  WimlibWim src(api_);
  WimlibWim dst(api_);
  if (api_.open_wim(source.c_str(), 0, src.out())) return kResultFailed;

  // WIMBoot wants XPRESS with 4096-byte chunks; a file made here gets both.
  bool exists = PathExists(destination);
  int ctype = wimBoot ? WIMLIB_COMPRESSION_TYPE_XPRESS : compression;
  int ret = exists ? api_.open_wim(destination.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, dst.out())
                   : api_.create_new_wim(static_cast<wimlib_compression_type>(ctype), dst.out());
  if (ret) return kResultFailed;

  ReferenceSplitParts(src.get(), source);
  api_.register_progress_function(dst.get(), WimlibProgress, this);

  int flags = WIMLIB_EXPORT_FLAG_GIFT;
  if (wimBoot) {
    flags |= WIMLIB_EXPORT_FLAG_WIMBOOT;
    api_.set_output_chunk_size(dst.get(), kWimBootChunkSize);
  }
  ret = api_.export_image(src.get(), index, dst.get(), nullptr, nullptr, flags);
  if (ret == WIMLIB_ERR_IMAGE_NAME_COLLISION)
    ret = api_.export_image(src.get(), index, dst.get(), nullptr, nullptr, flags | WIMLIB_EXPORT_FLAG_NO_NAMES);
  if (ret) return kResultFailed;

  const int writeFlags = SolidWriteFlag(dst.get(), !exists, ctype);
  ret = exists ? api_.overwrite(dst.get(), writeFlags, 0)
               : api_.write(dst.get(), destination.c_str(), WIMLIB_ALL_IMAGES, writeFlags, 0);
  return ret ? kResultFailed : kResultSuccess;
}
