// Every operation of both engines returns -99 before doing anything when a
// library function it needs is not bound, and mounting falls back to
// WIMMountImage on a library without WIMMountImageHandle.
#include <gtest/gtest.h>

#include "engine/backend.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"
#include "recorder.h"

namespace {

CaptureRequest Request(const std::wstring& source, const std::wstring& wim, int compression, bool append, bool verify,
                       bool noSecurity, const ImageInfo& info) {
  CaptureRequest r;
  r.source = source;
  r.wimPath = wim;
  r.compression = compression;
  r.append = append;
  r.verify = verify;
  r.noSecurity = noSecurity;
  r.info = info;
  return r;
}

class NotBoundTest : public etest::EngineTest {
 protected:
  // Runs every operation of both engines and expects -99 from each.
  void ExpectAllNotBound() {
    std::wstring src = dir_ + L"\\src";
    qtest::MakeSampleTree(src);
    std::wstring wim = dir_ + L"\\a.wim";
    std::wstring out = dir_ + L"\\out";
    ImageInfo info;
    info.name = L"n";
    WimgapiEngine g(host_.backends, host_.Choice(kBackendWimgapi), host_.Context());
    EXPECT_EQ(g.CaptureImage(Request(src, wim, 1, false, false, false, info), host_.captureLists), kResultNotBound);
    EXPECT_EQ(g.CaptureImage(Request(src, wim, 1, true, true, true, info), host_.captureLists), kResultNotBound);
    EXPECT_EQ(g.ApplyImage(wim, out, 1, false, false), kResultNotBound);
    EXPECT_EQ(g.MountImage(wim, out, 1, false, false, false), kResultNotBound);
    EXPECT_EQ(g.MountImage(wim, out, 1, false, false, true), kResultNotBound);
    EXPECT_EQ(g.ExportImage(wim, 1, dir_ + L"\\b.wim", 1), kResultNotBound);
    EXPECT_EQ(g.SplitWim(wim, dir_ + L"\\p.wim", 1 << 20), kResultNotBound);
    EXPECT_EQ(g.ReadWimInfo(wim), kResultNotBound);
    EXPECT_EQ(g.WriteImageInfo(nullptr, 1, info), kResultNotBound);

    WimlibEngine l(host_.backends, host_.Context());
    EXPECT_EQ(l.CaptureImage(Request(src, wim, 1, false, false, false, info)), kResultNotBound);
    EXPECT_EQ(l.CaptureImage(Request(src, wim, 1, true, true, true, info)), kResultNotBound);
    EXPECT_EQ(l.ApplyImage(wim, out, 1, false, false), kResultNotBound);
    EXPECT_EQ(l.ExportImage(wim, 1, dir_ + L"\\b.wim", 1, 0), kResultNotBound);
    EXPECT_EQ(l.SplitWim(wim, dir_ + L"\\p.wim", 1 << 20), kResultNotBound);
    EXPECT_EQ(l.ReadWimInfo(wim), kResultNotBound);
    EXPECT_EQ(l.WriteImageInfo(wim, 1, info), kResultNotBound);

    // Nothing was made and nothing was said.
    EXPECT_EQ(GetFileAttributesW(wim.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(boxes_.empty());
  }
};

TEST_F(NotBoundTest, MissingLibraries) {
  BindOptions options;
  options.wimgapiName = L"nonexistent.dll";
  options.wimlibName = L"nonexistent.dll";
  BindBackends(host_.backends, options);
  EXPECT_FALSE(host_.backends.WimgapiAvailable());
  EXPECT_FALSE(host_.backends.WimlibAvailable());
  ExpectAllNotBound();
}

TEST_F(NotBoundTest, LibrariesMissingEntriesTheOperationsNeed) {
  // The first entry alone is not enough: each operation checks all it uses.
  if (!NeedWimgapi() || !NeedWimlib()) GTEST_SKIP() << "needs both back ends";
  host_.backends.wimgapi.CloseHandle = nullptr;
  host_.backends.wimgapi.GetImageInformation = nullptr;
  host_.backends.wimlib.free = nullptr;
  ExpectAllNotBound();
}

TEST_F(NotBoundTest, SingleMissingEntries) {
  if (!NeedWimgapi() || !NeedWimlib()) GTEST_SKIP() << "needs both back ends";
  std::wstring wim = dir_ + L"\\a.wim";
  std::wstring src = dir_ + L"\\src";
  qtest::MakeSampleTree(src);
  etest::OracleCapture(src, wim, "one");
  Backends full = host_.backends;

  host_.backends.wimgapi.MountImageHandle = nullptr;
  host_.backends.wimgapi.MountImage = nullptr;
  EXPECT_EQ(WimgapiEngine(host_.backends, host_.Choice(kBackendWimgapi), host_.Context()).MountImage(wim, dir_ + L"\\m", 1, false, false, false), kResultNotBound);
  host_.backends = full;
  host_.backends.wimgapi.SplitFile = nullptr;
  EXPECT_EQ(WimgapiEngine(host_.backends, host_.Choice(kBackendWimgapi), host_.Context()).SplitWim(wim, dir_ + L"\\p.wim", 1 << 20), kResultNotBound);
  host_.backends = full;
  host_.backends.wimgapi.SetImageInformation = nullptr;
  EXPECT_EQ(WimgapiEngine(host_.backends, host_.Choice(kBackendWimgapi), host_.Context()).CaptureImage(Request(src, dir_ + L"\\c.wim", 1, false, false, false, ImageInfo()), host_.captureLists),
            kResultNotBound);
  host_.backends = full;
  host_.backends.wimlib.extract_image = nullptr;
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).ApplyImage(wim, dir_ + L"\\out", 1, false, false), kResultNotBound);
  host_.backends = full;
  host_.backends.wimlib.export_image = nullptr;
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).ExportImage(wim, 1, dir_ + L"\\e.wim", 1, 0), kResultNotBound);
  host_.backends = full;
  host_.backends.wimlib.split = nullptr;
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).SplitWim(wim, dir_ + L"\\p.wim", 1 << 20), kResultNotBound);
  host_.backends = full;
  host_.backends.wimlib.set_output_chunk_size = nullptr;
  ImageInfo wimBoot;
  wimBoot.wimBoot = 1;
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).CaptureImage(Request(src, dir_ + L"\\c.wim", 1, false, false, false, wimBoot)), kResultNotBound);
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).ExportImage(wim, 1, dir_ + L"\\e.wim", 1, 1), kResultNotBound);
  // ...but an ordinary capture does not need it.
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).CaptureImage(Request(src, dir_ + L"\\c.wim", 1, false, false, false, ImageInfo())),
            kResultSuccess);
  // Without wimlib_reference_resource_files the split parts are simply not referenced.
  host_.backends = full;
  host_.backends.wimlib.reference_resource_files = nullptr;
  std::wstring out = dir_ + L"\\out";
  EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).ApplyImage(wim, out, 1, false, false), kResultSuccess);
  EXPECT_TRUE(etest::SameTree(src, out));
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
