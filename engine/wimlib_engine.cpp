// wimlib engine: reading the file's information, writing an image's
// metadata and referencing split parts. The long operations live in
// capture_wimlib.cpp, apply_wimlib.cpp, export_wimlib.cpp and
// split_wimlib.cpp.
#include "engine/wimlib_engine.h"

#include <cstdlib>

#include "engine/failure_reason.h"
#include "engine/image_xml.h"
#include "engine/mount_guard.h"
#include "engine/solid_output.h"
#include "engine/split_parts.h"
#include "win/strings.h"

WimlibEngine::WimlibEngine(const Backends& backends, const OperationContext& context)
    : backends_(backends), context_(context), api_(backends.wimlib) {
  op_.context = &context_;
}

bool WimlibEngine::RefuseMountedWrite(const std::vector<std::wstring>& paths) const {
  return ::RefuseMountedWrite(backends_, context_, paths);
}

bool WimlibEngine::AbortedBeforeStart() {
  if (AbortRequested(context_)) op_.aborted = true;
  return op_.aborted;
}

EngineResult WimlibEngine::Outcome(int ret) const {
  if (NoteWimlibFailure(ret) == 0) return kResultSuccess;
  return op_.aborted || ret == WIMLIB_ERR_ABORTED_BY_PROGRESS ? kResultAborted : kResultFailed;
}

bool WimlibEngine::VerifyFile(const std::wstring& wimPath, bool abortable) {
  WimlibWim wim(api_);
  if (NoteWimlibFailure(api_.open_wim(wimPath.c_str(), 0, wim.out()))) return false;
  if (abortable) api_.register_progress_function(wim.get(), WimlibProgress, &op_);
  return NoteWimlibFailure(api_.verify_wim(wim.get(), 0)) == 0;
}

int WimlibEngine::SolidWriteFlag(WIMStruct* wim, bool newFile, int compression) const {
  if (newFile) return compression == kCompressionSolidLzms ? WIMLIB_WRITE_FLAG_SOLID : 0;
  wimlib_wim_info info = {};
  if (api_.get_wim_info && api_.get_wim_info(wim, &info) == 0 && IsSolidWimVersion(info.wim_version))
    return WIMLIB_WRITE_FLAG_SOLID;
  return 0;
}

int WimlibEngine::ReadWimInfo(const std::wstring& wimPath) {
  if (!api_.open_wim || !api_.get_wim_info || !api_.free) return kResultNotBound;

  WimlibWim wim(api_);
  wimInfo_ = wimlib_wim_info();
  xmlText_.clear();
  if (api_.open_wim(wimPath.c_str(), 0, wim.out())) return kResultFailed;
  if (api_.get_wim_info(wim.get(), &wimInfo_)) return kResultFailed;

  if (api_.get_xml_data) {
    void* buffer = nullptr;
    size_t bytes = 0;
    if (api_.get_xml_data(wim.get(), &buffer, &bytes) == 0) {
      xmlText_ = XmlDisplayForm(XmlTextFromBytes(buffer, bytes));
      free(buffer);  // the library hands it over from the C runtime's heap
    }
  }
  return kResultSuccess;
}

int WimlibEngine::WriteImageInfo(const std::wstring& wimPath, int index, const ImageInfo& info) {
  if (!api_.open_wim || !api_.set_image_name || !api_.set_image_descripton || !api_.set_image_flags ||
      !api_.overwrite || !api_.free)
    return kResultNotBound;

  WimlibWim wim(api_);
  int ret = api_.open_wim(wimPath.c_str(), WIMLIB_OPEN_FLAG_WRITE_ACCESS, wim.out());
  if (ret) return ret;

  // The first failure is what the caller hears about; later fields are still
  // set so that one bad value does not cost the others.
  int result = 0;
  auto keep = [&result](int r) {
    if (!result) result = r;
  };
  if (!info.name.empty()) keep(api_.set_image_name(wim.get(), index, info.name.c_str()));
  if (!info.description.empty()) keep(api_.set_image_descripton(wim.get(), index, info.description.c_str()));
  if (!info.flags.empty()) keep(api_.set_image_flags(wim.get(), index, info.flags.c_str()));
  keep(api_.overwrite(wim.get(), 0, 0));
  return result;
}

int WimlibEngine::ReferenceSplitParts(WIMStruct* wim, const std::wstring& wimPath) {
  if (!api_.reference_resource_files) return kResultFailed;
  std::wstring glob = SplitPartGlob(wimPath);
  const wchar_t* globs[1] = {glob.c_str()};
  api_.reference_resource_files(wim, globs, 1, WIMLIB_REF_FLAG_GLOB_ENABLE, 0);
  return kResultSuccess;
}
