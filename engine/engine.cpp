// The engine of a back end, and the request forms of the operations whose
// work is in the per-operation files (capture_*.cpp, apply_*.cpp, ...).
#include "engine/engine.h"

#include "engine/mount_guard.h"
#include "engine/solid_output.h"
#include "engine/split_parts.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"

namespace {

// Every file a split may replace: the first part and the parts of an
// earlier set under the same names.
std::vector<std::wstring> SplitTargets(const SplitRequest& r) {
  std::vector<std::wstring> targets = ExistingSplitParts(r.firstPart);
  targets.push_back(r.firstPart);
  targets.insert(targets.end(), r.shownParts.begin(), r.shownParts.end());
  return targets;
}

}  // namespace

std::unique_ptr<Engine> MakeEngine(BackendKind kind, const std::wstring& tempFolder) {
  if (kind == kBackendWimlib) return std::make_unique<WimlibEngine>();
  return std::make_unique<WimgapiEngine>(tempFolder);
}

// ---- WIMGAPI ------------------------------------------------------------

EngineResult WimgapiEngine::Capture(const CaptureRequest& r) {
  if (RefuseMountedWrite(r.wimPath)) return kResultFailed;
  progress_ = r.progress;
  captureRequest_ = &r;
  EngineResult result =
      CaptureImage(r.source, r.wimPath, r.compression, r.append, r.verify, r.noSecurity, r.info, r.lists);
  captureRequest_ = nullptr;
  return result;
}

EngineResult WimgapiEngine::Apply(const ApplyRequest& r) {
  progress_ = r.progress;
  return ApplyImage(r.wimPath, r.target, r.index, r.verify, r.noSecurity);
}

EngineResult WimgapiEngine::Mount(const MountRequest& r) {
  progress_ = r.progress;
  return MountImage(r.wimPath, r.folder, r.index, r.verify, r.noSecurity, r.writable);
}

EngineResult WimgapiEngine::Export(const ExportRequest& r) {
  if (RefuseMountedWrite(r.destination)) return kResultFailed;
  progress_ = r.progress;
  return ExportImage(r.source, r.index, r.destination, r.compression);
}

EngineResult WimgapiEngine::Split(const SplitRequest& r) {
  if (RefuseMountedWrite(SplitTargets(r))) return kResultFailed;
  progress_ = r.progress;
  return SplitWim(r.source, r.firstPart, r.partSize, r.shownParts);
}

EngineResult WimgapiEngine::ReadInfo(const std::wstring& wimPath, WimSummary& out) {
  int read = ReadWimInfo(wimPath);
  if (read != 1) return read == kResultNotBound ? kResultNotBound : kResultFailed;
  out.imageCount = static_cast<int>(wimInfo_.ImageCount);
  out.bootIndex = static_cast<int>(wimInfo_.BootIndex);
  out.totalParts = wimInfo_.TotalParts;
  out.xmlText = xmlText_;
  return kResultSuccess;
}

EngineResult WimgapiEngine::ReadPartCount(const std::wstring& wimPath, int& totalParts) {
  if (!api_.CreateFile || !api_.GetAttributes || !api_.CloseHandle) return kResultNotBound;
  WimHandle wim(api_, api_.CreateFile(wimPath.c_str(), WIM_GENERIC_READ, WIM_OPEN_EXISTING, 0, 0, nullptr));
  WIM_INFO info = {};
  if (!wim || !api_.GetAttributes(wim.get(), &info, sizeof(info))) return kResultFailed;
  totalParts = info.TotalParts;
  return kResultSuccess;
}

bool WimgapiEngine::WritesSolid() const { return WimgapiWritesSolid(api_, tempFolder_); }

// ---- wimlib -------------------------------------------------------------

EngineResult WimlibEngine::Capture(const CaptureRequest& r) {
  if (RefuseMountedWrite(r.wimPath)) return kResultFailed;
  op_.progress = r.progress;
  captureRequest_ = &r;
  EngineResult result = CaptureImage(r.source, r.wimPath, r.compression, r.append, r.verify, r.noSecurity, r.info);
  captureRequest_ = nullptr;
  return result;
}

EngineResult WimlibEngine::Apply(const ApplyRequest& r) {
  op_.progress = r.progress;
  return ApplyImage(r.wimPath, r.target, r.index, r.verify, r.noSecurity);
}

EngineResult WimlibEngine::Export(const ExportRequest& r) {
  if (RefuseMountedWrite(r.destination)) return kResultFailed;
  op_.progress = r.progress;
  return ExportImage(r.source, r.index, r.destination, r.compression, r.wimBoot);
}

EngineResult WimlibEngine::Split(const SplitRequest& r) {
  if (RefuseMountedWrite(SplitTargets(r))) return kResultFailed;
  op_.progress = r.progress;
  return SplitWim(r.source, r.firstPart, r.partSize, r.shownParts);
}

EngineResult WimlibEngine::SetImageInfo(const SetImageInfoRequest& r) {
  if (RefuseMountedWrite(r.wimPath)) return kResultFailed;
  int ret = WriteImageInfo(r.wimPath, r.index, r.info);
  return ret == 0 || ret == kResultNotBound ? ret : kResultFailed;
}

EngineResult WimlibEngine::ReadPartCount(const std::wstring& wimPath, int& totalParts) {
  WimSummary summary;
  EngineResult read = ReadInfo(wimPath, summary);
  if (read == kResultSuccess) totalParts = summary.totalParts;
  return read;
}

EngineResult WimlibEngine::ReadInfo(const std::wstring& wimPath, WimSummary& out) {
  EngineResult read = ReadWimInfo(wimPath);
  if (read != kResultSuccess) return read;
  out.imageCount = static_cast<int>(wimInfo_.image_count);
  out.bootIndex = static_cast<int>(wimInfo_.boot_index);
  out.totalParts = wimInfo_.total_parts;
  out.xmlText = xmlText_;
  return kResultSuccess;
}
