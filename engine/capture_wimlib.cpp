// Capture through wimlib: add the folder as an image (wimlib's built-in
// Windows capture configuration; the program's capture lists do not apply),
// write the file, then set the image's metadata. An append may name one of
// the file's images as its template, so that unchanged files are not read.
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

// The image of an open file that an append takes as its template: 0 for
// none (also "the last image" of a file that holds none), -1 for an index
// the file does not have.
int TemplateIndex(int choice, int imageCount) {
  if (choice == kTemplateNone) return 0;
  if (choice == kTemplateLastImage) return imageCount;
  return choice >= 1 && choice <= imageCount ? choice : -1;
}

// With a template, the files of the new image (the file's last one) whose
// path, size and times match the template's are given the template's data;
// the write then reads only the files that changed.
int ReferenceTemplate(const WimlibTable& api, WIMStruct* wim, int templateIndex) {
  if (templateIndex <= 0) return 0;
  wimlib_wim_info now = {};
  int ret = api.get_wim_info(wim, &now);
  if (ret) return ret;
  return api.reference_template_image(wim, static_cast<int>(now.image_count), wim, templateIndex, 0);
}

}  // namespace

EngineResult WimlibEngine::CaptureImage(const CaptureRequest& request) {
  const std::wstring& source = request.source;
  const std::wstring& wimPath = request.wimPath;
  const ImageInfo& info = request.info;
  const bool append = request.append, verify = request.verify;
  if (!api_.create_new_wim || !api_.open_wim || !api_.register_progress_function || !api_.add_image ||
      !api_.write || !api_.overwrite || !api_.get_wim_info || !api_.set_image_descripton || !api_.set_image_flags ||
      !api_.free)
    return kResultNotBound;
  if ((info.wimBoot && !api_.set_output_chunk_size) || (verify && !api_.verify_wim)) return kResultNotBound;
  // The display texts have no setter but the property one.
  if ((!info.displayName.empty() || !info.displayDescription.empty()) && !api_.set_image_property)
    return kResultNotBound;
  const int templateChoice = append ? request.templateImage : kTemplateNone;
  if (templateChoice != kTemplateNone && !api_.reference_template_image) return kResultNotBound;

  // An append is written in place (the library cuts an unfinished one off
  // again); a new file is written beside the target.
  NoteOperationTarget(wimPath);
  CaptureSkips skips(request);
  op_.skips = &skips;
  std::wstring written = append ? wimPath : TempFileBeside(wimPath);
  EngineResult result = AbortedBeforeStart() ? kResultAborted : kResultFailed;
  if (result != kResultAborted && !written.empty()) {
    WimlibWim wim(api_);
    int ctype = info.wimBoot ? WIMLIB_COMPRESSION_TYPE_XPRESS : request.compression;
    int ret = append ? api_.open_wim(wimPath.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out())
                     : api_.create_new_wim(static_cast<wimlib_compression_type>(ctype), wim.out());
    // The template is chosen among the images the file held when it was
    // opened: once the new image is added, the last image is that one.
    int templateIndex = 0;
    if (ret == 0 && templateChoice != kTemplateNone) {
      wimlib_wim_info before = {};
      ret = api_.get_wim_info(wim.get(), &before);
      if (ret == 0) templateIndex = TemplateIndex(templateChoice, static_cast<int>(before.image_count));
      if (ret == 0 && templateIndex < 0) ret = WIMLIB_ERR_INVALID_IMAGE;
      if (ret) result = Outcome(ret);
    }
    if (ret == 0) {
      api_.register_progress_function(wim.get(), WimlibProgress, &op_);
      if (info.wimBoot) api_.set_output_chunk_size(wim.get(), kWimBootChunkSize);
      const wchar_t* name = info.name.empty() ? nullptr : info.name.c_str();
      ret = api_.add_image(wim.get(), source.c_str(), name, nullptr, AddFlags(request.noSecurity, info));
      if (ret == 0) ret = ReferenceTemplate(api_, wim.get(), templateIndex);
      // The texts go into the same write as the image.
      if (ret == 0) ret = DescribeNewImage(wim.get(), info);
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
  if (result == kResultSuccess) result = FinishCapture(written, append, verify);
  if (!append && !written.empty()) result = PutInPlace(written, wimPath, result, true);
  ReportProgress(context_.progress, 100.0f);
  return result;
}

int WimlibEngine::DescribeNewImage(WIMStruct* wim, const ImageInfo& info) {
  wimlib_wim_info now = {};
  int ret = api_.get_wim_info(wim, &now);
  if (ret) return ret;
  const int index = static_cast<int>(now.image_count);
  if (ret == 0 && !info.description.empty()) ret = api_.set_image_descripton(wim, index, info.description.c_str());
  if (ret == 0 && !info.flags.empty()) ret = api_.set_image_flags(wim, index, info.flags.c_str());
  if (ret == 0 && !info.displayName.empty())
    ret = api_.set_image_property(wim, index, L"DISPLAYNAME", info.displayName.c_str());
  if (ret == 0 && !info.displayDescription.empty())
    ret = api_.set_image_property(wim, index, L"DISPLAYDESCRIPTION", info.displayDescription.c_str());
  return ret;
}

EngineResult WimlibEngine::FinishCapture(const std::wstring& written, bool append, bool verify) {
  // What is verified is the file as it now stands on disk, metadata
  // included; a file that does not verify has not been made. A new file
  // is not in place yet, so the user may still abort its verification.
  if (!verify || VerifyFile(written, !append)) return kResultSuccess;
  return op_.aborted ? kResultAborted : kResultFailed;
}
