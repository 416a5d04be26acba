// The wimlib engine's side of the interface: each request handed to the
// operation that does its work (capture_wimlib.cpp, apply_wimlib.cpp, ...).
#include "engine/split_parts.h"
#include "engine/wimlib_engine.h"

EngineResult WimlibEngine::Capture(const CaptureRequest& r) {
  if (RefuseMountedWrite({r.wimPath})) return kResultFailed;
  return CaptureImage(r);
}

EngineResult WimlibEngine::Apply(const ApplyRequest& r) {
  return ApplyImage(r.wimPath, r.target, r.index, r.verify, r.noSecurity);
}

EngineResult WimlibEngine::Export(const ExportRequest& r) {
  if (RefuseMountedWrite({r.destination})) return kResultFailed;
  return ExportImage(r.source, r.index, r.destination, r.compression, r.wimBoot);
}

EngineResult WimlibEngine::Split(const SplitRequest& r) {
  if (RefuseMountedWrite(SplitWriteTargets(r.firstPart, r.shownParts))) return kResultFailed;
  return SplitWim(r.source, r.firstPart, r.partSize, r.shownParts);
}

EngineResult WimlibEngine::SetImageInfo(const SetImageInfoRequest& r) {
  if (RefuseMountedWrite({r.wimPath})) return kResultFailed;
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
