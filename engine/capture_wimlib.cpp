// Capture through wimlib: add the folder as an image (wimlib's built-in
// Windows capture configuration; the program's capture lists do not apply),
// write the file, then set the image's metadata.
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimlib_engine.h"

namespace {

const int kWimBootChunkSize = 4096;

int AddFlags(bool noSecurity, const ImageInfo& info) {
  // Special files left out are reported, so that the user hears of them.
  int flags = WIMLIB_ADD_FLAG_WINCONFIG | WIMLIB_ADD_FLAG_EXCLUDE_VERBOSE;
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

  // An append is written in place (the library cuts an unfinished one off
  // again); a new file is written beside the target.
  NoteOperationTarget(wimPath);
  CaptureRequest plain;
  CaptureSkips skips(captureRequest_ ? *captureRequest_ : plain);
  op_.skips = &skips;
  std::wstring written = append ? wimPath : TempFileBeside(wimPath);
  EngineResult result = AbortedBeforeStart() ? kResultAborted : kResultFailed;
  if (result != kResultAborted && !written.empty()) {
    WimlibWim wim(api_);
    int ctype = info.wimBoot ? WIMLIB_COMPRESSION_TYPE_XPRESS : compression;
    int ret = append ? api_.open_wim(wimPath.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out())
                     : api_.create_new_wim(static_cast<wimlib_compression_type>(ctype), wim.out());
    if (ret == 0) {
      api_.register_progress_function(wim.get(), WimlibProgress, &op_);
      if (info.wimBoot) api_.set_output_chunk_size(wim.get(), kWimBootChunkSize);
      const wchar_t* name = info.name.empty() ? nullptr : info.name.c_str();
      ret = api_.add_image(wim.get(), source.c_str(), name, nullptr, AddFlags(noSecurity, info));
      const int writeFlags = SolidWriteFlag(wim.get(), !append, ctype);
      if (ret == 0)
        ret = append ? api_.overwrite(wim.get(), writeFlags, 0)
                     : api_.write(wim.get(), written.c_str(), WIMLIB_ALL_IMAGES, writeFlags, 0);
      result = Outcome(ret);
      // A stop by the stored choice is no abort of the user's: the capture failed.
      if (result == kResultAborted && skips.StoppedByRule()) result = kResultFailed;
    }
  }
  op_.skips = nullptr;
  if (result == kResultSuccess) result = FinishCapture(written, append, verify, info);
  if (!append && !written.empty()) result = PutInPlace(written, wimPath, result, true);
  ReportProgress(context_.progress, 100.0f);
  return result;
}

EngineResult WimlibEngine::FinishCapture(const std::wstring& written, bool append, bool verify,
                                         const ImageInfo& info) {
  // The new image is the file's last one.
  if (ReadWimInfo(written) == kResultSuccess && wimInfo_.image_count > 0)
    WriteImageInfo(written, static_cast<int>(wimInfo_.image_count), info);
  // What is verified is the file as it now stands on disk, metadata
  // included; a file that does not verify has not been made. A new file
  // is not in place yet, so the user may still abort its verification.
  if (!verify || VerifyFile(written, !append)) return kResultSuccess;
  return op_.aborted ? kResultAborted : kResultFailed;
}
