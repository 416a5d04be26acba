// Capture through wimlib: add the folder as an image (wimlib's built-in
// Windows capture configuration; the program's capture lists do not apply),
// write the file, then set the image's metadata.
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

namespace {

const int kWimBootChunkSize = 4096;

int AddFlags(bool noSecurity, const ImageInfo& info) {
  int flags = WIMLIB_ADD_FLAG_WINCONFIG;
  if (noSecurity) flags |= WIMLIB_ADD_FLAG_NO_ACLS;
  if (info.bootIndex) flags |= WIMLIB_ADD_FLAG_BOOT;
  if (info.wimBoot) flags |= WIMLIB_ADD_FLAG_WIMBOOT;
  return flags;
}

}  // namespace

EngineResult WimlibEngine::CaptureImage(const std::wstring& source, const std::wstring& wimPath, int compression,
                                        bool append, bool verify, bool noSecurity, const ImageInfo& info) {
  if (!api_.create_new_wim || !api_.open_wim || !api_.register_progress_function || !api_.add_image ||
      !api_.write || !api_.overwrite || !api_.get_wim_info || !api_.free)
    return kResultNotBound;
  if ((info.wimBoot && !api_.set_output_chunk_size) || (verify && !api_.verify_wim)) return kResultNotBound;

  EngineResult result = kResultFailed;
  {
    WimlibWim wim(api_);
    int ctype = info.wimBoot ? WIMLIB_COMPRESSION_TYPE_XPRESS : compression;
    int ret = append ? api_.open_wim(wimPath.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out())
                     : api_.create_new_wim(static_cast<wimlib_compression_type>(ctype), wim.out());
    if (ret == 0) {
      api_.register_progress_function(wim.get(), WimlibProgress, nullptr);
      if (info.wimBoot) api_.set_output_chunk_size(wim.get(), kWimBootChunkSize);
      const wchar_t* name = info.name.empty() ? nullptr : info.name.c_str();
      ret = api_.add_image(wim.get(), source.c_str(), name, nullptr, AddFlags(noSecurity, info));
      const int writeFlags = SolidWriteFlag(wim.get(), !append, ctype);
      if (ret == 0)
        ret = append ? api_.overwrite(wim.get(), writeFlags, 0)
                     : api_.write(wim.get(), wimPath.c_str(), WIMLIB_ALL_IMAGES, writeFlags, 0);
      if (ret == 0) {
        // The new image is the file's last one.
        if (ReadWimInfo(wimPath) == kResultSuccess && wimInfo_.image_count > 0)
          WriteImageInfo(wimPath, static_cast<int>(wimInfo_.image_count), info);
        // What is verified is the file as it now stands on disk, metadata
        // included; a file that does not verify has not been made.
        result = (!verify || VerifyFile(wimPath)) ? kResultSuccess : kResultFailed;
      }
    }
  }
  ReportProgress(100.0f);
  return result;
}
