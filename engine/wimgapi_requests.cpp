// The WIMGAPI engine's side of the interface: each request handed to the
// operation that does its work (capture_wimgapi.cpp, apply_wimgapi.cpp, ...).
#include "engine/solid_output.h"
#include "engine/split_parts.h"
#include "engine/wimgapi_engine.h"

EngineResult WimgapiEngine::Capture(const CaptureRequest& r) {
  // WIMGAPI has no call that takes an image as a template: such an append
  // is refused before anything is opened.
  if (r.append && r.templateImage != kTemplateNone) return kResultNotBound;
  if (RefuseMountedWrite({r.wimPath})) return kResultFailed;
  return CaptureImage(r, choice_.captureLists);
}

EngineResult WimgapiEngine::Apply(const ApplyRequest& r) {
  return ApplyImage(r.wimPath, r.target, r.index, r.verify, r.noSecurity);
}

EngineResult WimgapiEngine::Mount(const MountRequest& r) {
  return MountImage(r.wimPath, r.folder, r.index, r.verify, r.noSecurity, r.writable);
}

EngineResult WimgapiEngine::Export(const ExportRequest& r) {
  if (RefuseMountedWrite({r.destination})) return kResultFailed;
  return ExportImage(r.source, r.index, r.destination, r.compression);
}

EngineResult WimgapiEngine::Split(const SplitRequest& r) {
  if (RefuseMountedWrite(SplitWriteTargets(r.firstPart, r.shownParts))) return kResultFailed;
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

// Reading a whole tree: WIMGAPI has no walk of an image's metadata.
EngineResult WimgapiEngine::ReadTree(const TreeRequest&, ImageTree&) { return kResultNotBound; }
