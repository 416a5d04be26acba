// Apply, export and split through the engine interface on both back ends,
// checked with wimlib-imagex: byte-identical trees, new and existing
// destination files, split sets made and used, failures and bad files; the
// library calls in their order (see recorder.h). Then what one back end
// alone does: WIMGAPI's mounts, the too-small split notice and the abort
// question; wimlib's WIMBoot export and 64-bit part size.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine.h"
#include "engine/split_parts.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"
#include "recorder.h"

using etest::AppliesTo;
using etest::ImageCount;
using etest::InfoField;
using etest::SameTree;
using etest::WimgapiEngineTest;
using etest::WimlibEngineTest;

namespace {

using EngineFilesTest = etest::BackendTest;

ApplyRequest ApplyOf(const std::wstring& wim, const std::wstring& target, int index = 1) {
  ApplyRequest request;
  request.wimPath = wim;
  request.target = target;
  request.index = index;
  return request;
}

ExportRequest ExportOf(const std::wstring& source, int index, const std::wstring& destination, int compression) {
  ExportRequest request;
  request.source = source;
  request.index = index;
  request.destination = destination;
  request.compression = compression;
  return request;
}

SplitRequest SplitOf(const std::wstring& source, const std::wstring& firstPart, uint64_t partSize) {
  SplitRequest request;
  request.source = source;
  request.firstPart = firstPart;
  request.partSize = partSize;
  return request;
}

MountRequest MountOf(const std::wstring& wim, const std::wstring& folder, bool verify, bool noSecurity,
                     bool writable) {
  MountRequest request;
  request.wimPath = wim;
  request.folder = folder;
  request.verify = verify;
  request.noSecurity = noSecurity;
  request.writable = writable;
  return request;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST_P(EngineFilesTest, ApplyWritesAByteIdenticalTree) {
  std::wstring wim = OracleWim();
  std::wstring out = dir_ + L"\\out";
  ApplyRequest request = ApplyOf(wim, out);
  request.verify = true;
  request.noSecurity = true;
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Apply(request), kResultSuccess);
  if (IsWimgapi()) {
    EXPECT_EQ(rec::Joined(),
              "CreateFile 0x80000000 3 2 0 -> F1\n"
              "SetTemporaryPath F1\n"
              "GetAttributes F1\n"
              "LoadImage F1 1 -> I1\n"
              "Register F1 Apply data\n"
              "ApplyImage I1 0x32\n"
              "Close I1\n"
              "Close F1\n"
              "Unregister null Apply\n");
  } else {
    EXPECT_EQ(rec::Joined(),
              "open_wim 0 -> W1\n"
              "register_progress_function W1 WimlibProgress\n"
              "verify_wim W1\n"
              "reference_resource_files W1 oracle*.wim 1\n"
              "extract_image W1 1 0x40\n"
              "free W1\n");
  }
  EXPECT_TRUE(SameTree(src_, out));
  ASSERT_FALSE(progress_.percents.empty());
  if (!IsWimgapi()) EXPECT_EQ(progress_.percents.back(), 100.0f);
  EXPECT_TRUE(boxes_.empty());
}

TEST_P(EngineFilesTest, ApplyFailuresReportAsFailures) {
  std::wstring wim = OracleWim();
  // A file that cannot be opened: a failure without a message.
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(dir_ + L"\\none.wim", dir_ + L"\\o1")), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  // A missing image: WIMGAPI names the failed call; wimlib shows nothing
  // and gives the extraction's own error number.
  StartRecorder();
  EngineResult missing = Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\o2", 9));
  if (IsWimgapi()) {
    EXPECT_EQ(missing, kResultFailed);
    EXPECT_TRUE(ErrorBoxStartsWith(L"WIMLoadImage() fails\nError Code: "));
    etest::ExpectClosedInReverse();
  } else {
    EXPECT_EQ(missing, WIMLIB_ERR_INVALID_IMAGE);
    EXPECT_TRUE(boxes_.empty());
  }
  // The same, quietly while the queue runs.
  boxes_.clear();
  host_.quietErrors = true;
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\o3", 9)), missing);
  EXPECT_TRUE(boxes_.empty());
  host_.quietErrors = false;
  if (!IsWimgapi()) return;

  // A refused temporary folder.
  StartRecorder();
  rec::failing["SetTemporaryPath"] = ERROR_PATH_NOT_FOUND;
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\o4")), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetTemporaryPath() fails\nError Code: 3\n"));
  EXPECT_EQ(rec::Lines("Close"), std::vector<std::string>{"Close F1"});
  // The long call failing, and the same failure as an abort.
  boxes_.clear();
  StartRecorder();
  rec::failing["ApplyImage"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\o5")), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMApplyImage() fails\nError Code: 5\n"));
  etest::ExpectClosedInReverse();
  boxes_.clear();
  StartRecorder();
  rec::failing["ApplyImage"] = ERROR_REQUEST_ABORTED;
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\o6")), kResultAborted);
  EXPECT_TRUE(boxes_.empty());
  etest::ExpectClosedInReverse();
}

TEST_P(EngineFilesTest, ExportIntoNewAndExistingFiles) {
  std::wstring source = OracleWim("same");
  std::wstring dest = dir_ + L"\\dest.wim";
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Export(ExportOf(source, 1, dest, 1)), kResultSuccess);
  if (IsWimgapi()) {
    EXPECT_EQ(rec::Joined(),
              "CreateFile 0x80000000 3 0 0 -> F1\n"
              "GetAttributes F1\n"
              "SetTemporaryPath F1\n"
              "LoadImage F1 1 -> I1\n"
              "CreateFile 0xc0000000 1 0 1 -> F2\n"
              "SetTemporaryPath F2\n"
              "Register F2 Export data\n"
              "ExportImage I1 F2 1\n"
              "Close F2\n"
              "Close I1\n"
              "Close F1\n"
              "Unregister null Export\n");
  } else {
    EXPECT_EQ(rec::Joined(),
              "open_wim 0 -> W1\n"
              "create_new_wim 1 -> W2\n"
              "reference_resource_files W1 oracle*.wim 1\n"
              "register_progress_function W2 WimlibProgress\n"
              "export_image W1 1 W2 0x8 -> 0\n"
              "write W2 -1 0\n"
              "free W2\n"
              "free W1\n");
  }
  EXPECT_EQ(InfoField(dest, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(dest, 1, "Name"), "same");

  // The same image again into the file that now exists; the compression
  // asked for changes nothing there.
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Export(ExportOf(source, 1, dest, 2)), kResultSuccess);
  if (IsWimgapi()) {
    EXPECT_TRUE(rec::Has("CreateFile 0xc0000000 3 0 2 -> F2"));
    // WIMGAPI takes the image again, naming the copy with the next free
    // number.
    EXPECT_EQ(InfoField(dest, 2, "Name"), "same (2)");
  } else {
    // wimlib refuses a name the file already uses, so the image goes in
    // unnamed.
    EXPECT_EQ(rec::Lines("export_image"),
              (std::vector<std::string>{"export_image W1 1 W2 0x8 -> 11", "export_image W1 1 W2 0xa -> 0"}));
    EXPECT_TRUE(rec::Has("overwrite W2 0"));
    EXPECT_EQ(InfoField(dest, 2, "Name"), "");
  }
  EXPECT_EQ(ImageCount(dest), 2);
  EXPECT_EQ(InfoField(dest, 0, "Compression"), "XPRESS");
  EXPECT_TRUE(etest::OracleVerify(dest));
  EXPECT_TRUE(AppliesTo(dest, 2, src_));
  EXPECT_TRUE(boxes_.empty());

  // Failures, each naming its call on WIMGAPI (the export's own name
  // without parentheses); wimlib shows no boxes. Neither touches the
  // destination, nor makes a new one.
  EXPECT_EQ(Make(&progress_)->Export(ExportOf(dir_ + L"\\none.wim", 1, dest, 1)), kResultFailed);
  if (IsWimgapi()) EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
  boxes_.clear();
  EXPECT_EQ(Make(&progress_)->Export(ExportOf(source, 4, dest, 1)), kResultFailed);
  if (IsWimgapi()) EXPECT_TRUE(ErrorBoxStartsWith(L"WIMLoadImage()\nError Code: "));
  boxes_.clear();
  EXPECT_EQ(Make(&progress_)->Export(ExportOf(source, 7, dir_ + L"\\x.wim", 1)), kResultFailed);
  EXPECT_FALSE(Exists(dir_ + L"\\x.wim"));
  if (IsWimgapi()) {
    boxes_.clear();
    StartRecorder();
    rec::failing["ExportImage"] = ERROR_DISK_FULL;
    EXPECT_EQ(Make(&progress_)->Export(ExportOf(source, 1, dest, 1)), kResultFailed);
    EXPECT_TRUE(ErrorBoxStartsWith(L"WIMExportImage\nError Code: 112\n"));
    etest::ExpectClosedInReverse();
  } else {
    EXPECT_TRUE(boxes_.empty());
  }
  EXPECT_EQ(ImageCount(dest), 2);
}

TEST_P(EngineFilesTest, SplitAndUseTheSplitSet) {
  qtest::WriteFileBytes(src_ + L"\\r1.bin", etest::RandomBytes(700000, 1));
  qtest::WriteFileBytes(src_ + L"\\r2.bin", etest::RandomBytes(700000, 2));
  qtest::WriteFileBytes(src_ + L"\\r3.bin", etest::RandomBytes(700000, 3));
  std::wstring wim = OracleWim("big");
  std::wstring parts = dir_ + L"\\parts";
  qtest::MakeDirs(parts);
  std::wstring first = parts + L"\\set.wim";
  SplitRequest request = SplitOf(wim, first, 1000000);
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Split(request), kResultSuccess);
  if (IsWimgapi()) {
    EXPECT_EQ(rec::Joined(),
              "CreateFile 0x80000000 3 2 0 -> F1\n"
              "Register F1 Split data\n"
              "GetAttributes F1\n"
              "SplitFile F1 1000000 0\n"
              "Close F1\n"
              "Unregister null Split\n");
  } else {
    EXPECT_EQ(rec::Joined(),
              "open_wim 0 -> W1\n"
              "register_progress_function W1 WimlibProgress\n"
              "split W1 1000000 2\n"
              "free W1\n");
  }
  EXPECT_TRUE(Exists(SplitPartPath(first, 2)));
  EXPECT_EQ(InfoField(first, 0, "Part Number").compare(0, 2, "1/"), 0);
  EXPECT_NE(InfoField(first, 0, "Part Number"), "1/1");
  EXPECT_TRUE(etest::OracleVerify(first, "--ref=" + etest::Q(parts) + "/'set*'"));
  EXPECT_TRUE(boxes_.empty());

  // Apply and export find the further parts.
  std::wstring out = dir_ + L"\\out";
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Apply(ApplyOf(first, out)), kResultSuccess);
  if (IsWimgapi()) EXPECT_TRUE(rec::Has("SetReferenceFile F1 set2.wim 0x10000"));
  EXPECT_TRUE(SameTree(src_, out));
  std::wstring merged = dir_ + L"\\merged.wim";
  ASSERT_EQ(Make(&progress_)->Export(ExportOf(first, 1, merged, 2)), kResultSuccess);
  EXPECT_EQ(InfoField(merged, 0, "Part Number"), "1/1");
  EXPECT_TRUE(etest::OracleVerify(merged));
  EXPECT_TRUE(AppliesTo(merged, 1, src_));
  // The other back end finds the same set.
  if (Other() == kBackendWimlib ? NeedWimlib() : NeedWimgapi()) {
    std::wstring merged2 = dir_ + L"\\merged2.wim";
    ASSERT_EQ(host_.Engine(Other(), &progress_)->Export(ExportOf(first, 1, merged2, 1)), kResultSuccess);
    EXPECT_TRUE(AppliesTo(merged2, 1, src_));
  }

  // A part of a split set is not split again: a set cut from one part
  // would lack the data of the others.
  boxes_.clear();
  EXPECT_EQ(Make(&progress_)->Split(SplitOf(first, dir_ + L"\\again.wim", 500000)), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(Exists(dir_ + L"\\again.wim"));
  EXPECT_EQ(Make(&progress_)->Split(SplitOf(dir_ + L"\\none.wim", dir_ + L"\\again.wim", 500000)), kResultFailed);
  if (IsWimgapi())
    EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
  else
    EXPECT_TRUE(boxes_.empty());
}

TEST_P(EngineFilesTest, BadFilesGiveClearResults) {
  std::wstring text = dir_ + L"\\text.wim";
  qtest::WriteFileBytes(text, "this is not a WIM file\n");
  std::wstring good = OracleWim();
  std::string bytes = qtest::ReadFileBytes(good);
  std::wstring truncated = dir_ + L"\\truncated.wim";
  qtest::WriteFileBytes(truncated, bytes.substr(0, 300));
  // XML offset far beyond the end of the file.
  std::string badXml = bytes;
  for (int i = 0; i < 8; ++i) badXml[80 + i] = i == 4 ? '\x7f' : '\0';
  std::wstring badXmlWim = dir_ + L"\\badxml.wim";
  qtest::WriteFileBytes(badXmlWim, badXml);

  // WIMGAPI tells the user of a failed call unless errors are quiet; wimlib
  // never shows a box.
  host_.quietErrors = IsWimgapi() ? 1 : 0;
  for (const std::wstring& wim : {text, truncated, badXmlWim}) {
    SCOPED_TRACE(qtest::Utf8(wim));
    WimSummary summary;
    EXPECT_EQ(Make(&progress_)->ReadInfo(wim, summary), kResultFailed);
    int parts = 0;
    EXPECT_EQ(Make(&progress_)->ReadPartCount(wim, parts), kResultFailed);
    // wimlib gives the extraction's own error number.
    EngineResult applied = Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\out"));
    if (IsWimgapi())
      EXPECT_EQ(applied, kResultFailed);
    else
      EXPECT_NE(applied, kResultSuccess);
    EXPECT_EQ(Make(&progress_)->Export(ExportOf(wim, 1, dir_ + L"\\exp.wim", 1)), kResultFailed);
    EXPECT_EQ(Make(&progress_)->Split(SplitOf(wim, dir_ + L"\\part.wim", 1 << 20)), kResultFailed);
    // wimlib cannot mount here at all.
    EXPECT_EQ(Make(&progress_)->Mount(MountOf(wim, dir_ + L"\\mnt", false, false, false)), kResultFailed);
    CaptureRequest append;
    append.source = src_;
    append.wimPath = wim;
    append.compression = 1;
    append.append = true;
    EXPECT_EQ(Make(&progress_)->Capture(append), kResultFailed);
    SetImageInfoRequest info;
    info.wimPath = wim;
    info.info.name = L"x";
    EXPECT_EQ(Make(&progress_)->SetImageInfo(info), kResultFailed);
  }
  EXPECT_FALSE(Exists(dir_ + L"\\exp.wim"));
  EXPECT_FALSE(Exists(dir_ + L"\\part.wim"));
  EXPECT_EQ(qtest::ReadFileBytes(text), "this is not a WIM file\n");
  EXPECT_TRUE(boxes_.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineFilesTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         etest::BackendName);

// ---- WIMGAPI only ----------------------------------------------------------

TEST_F(WimgapiEngineTest, MountReadOnlyAndWritable) {
  std::wstring wim = OracleWim();
  std::wstring mnt = dir_ + L"\\mnt";
  qtest::MakeDirs(mnt);
  StartRecorder(kBackendWimgapi);
  ASSERT_EQ(Make(&progress_)->Mount(MountOf(wim, mnt, false, false, false)), kResultSuccess);
  EXPECT_EQ(rec::log[0], "CreateFile 0xa0000000 3 0 0 -> F1");
  EXPECT_TRUE(rec::Has("MountImageHandle I1 0x200"));
  etest::ExpectClosedInReverse();
  EXPECT_TRUE(SameTree(src_, mnt));
  EXPECT_TRUE(host_.backends.wimgapi.UnmountImage(mnt.c_str(), wim.c_str(), 1, FALSE));

  std::wstring mnt2 = dir_ + L"\\mnt2";
  qtest::MakeDirs(mnt2);
  StartRecorder(kBackendWimgapi);
  ASSERT_EQ(Make(&progress_)->Mount(MountOf(wim, mnt2, true, true, true)), kResultSuccess);
  EXPECT_EQ(rec::log[0], "CreateFile 0xe0000000 3 2 0 -> F1");
  EXPECT_TRUE(rec::Has("MountImageHandle I1 0x32"));
  EXPECT_TRUE(SameTree(src_, mnt2));
  EXPECT_TRUE(host_.backends.wimgapi.UnmountImage(mnt2.c_str(), wim.c_str(), 1, FALSE));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimgapiEngineTest, MountFallsBackToMountImageOnAnOlderLibrary) {
  std::wstring wim = OracleWim();
  std::wstring mnt = dir_ + L"\\mnt";
  qtest::MakeDirs(mnt);
  host_.backends.wimgapi.MountImageHandle = nullptr;
  StartRecorder(kBackendWimgapi);
  ASSERT_EQ(Make()->Mount(MountOf(wim, mnt, true, true, false)), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "CreateFile 0xa0000000 3 2 0 -> F1\n"
            "SetTemporaryPath F1\n"
            "GetAttributes F1\n"
            "LoadImage F1 1 -> I1\n"
            "Register F1 Apply data\n"
            "Close I1\n"
            "Close F1\n"
            "Unregister null Apply\n"
            "MountImage 1 null\n");
  EXPECT_TRUE(SameTree(src_, mnt));
  EXPECT_TRUE(host_.backends.wimgapi.UnmountImage(mnt.c_str(), wim.c_str(), 1, FALSE));

  // Writable: the temporary folder goes along; a failure is named.
  StartRecorder(kBackendWimgapi);
  rec::failing["MountImage"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Make(&progress_)->Mount(MountOf(wim, dir_ + L"\\mnt2", false, false, true)), kResultFailed);
  EXPECT_TRUE(rec::Has("MountImage 1 temp"));
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMMountImage() fails\nError Code: 5\n"));
}

TEST_F(WimgapiEngineTest, SplitTooSmallIsToldEvenWhenQuiet) {
  qtest::WriteFileBytes(src_ + L"\\big.bin", etest::RandomBytes(2000000, 7));
  std::wstring wim = OracleWim("big");
  host_.quietErrors = true;
  SplitRequest request = SplitOf(wim, dir_ + L"\\part.wim", 1 << 20);
  EXPECT_EQ(Make(&progress_)->Split(request), kResultFailed);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].kind, etest::Box::kSplitTooSmall);
  ASSERT_FALSE(progress_.percents.empty());
  EXPECT_EQ(progress_.percents.back(), 100.0f);
}

TEST_F(WimgapiEngineTest, AbortThroughTheQuestion) {
  std::wstring wim = OracleWim();
  abortAnswer_ = IDYES;
  host_.cancel.Request();
  CaptureRequest capture;
  capture.source = src_;
  capture.wimPath = dir_ + L"\\c.wim";
  capture.compression = 1;
  EXPECT_EQ(Make(&progress_)->Capture(capture), kResultAborted);
  EXPECT_FALSE(host_.cancel.Requested());
  host_.cancel.Request();
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(wim, dir_ + L"\\out")), kResultAborted);
  host_.cancel.Request();
  EXPECT_EQ(Make(&progress_)->Export(ExportOf(wim, 1, dir_ + L"\\e.wim", 1)), kResultAborted);
  std::wstring bigSrc = dir_ + L"\\bigsrc";
  qtest::MakeDirs(bigSrc);
  qtest::WriteFileBytes(bigSrc + L"\\r1.bin", etest::RandomBytes(700000, 1));
  qtest::WriteFileBytes(bigSrc + L"\\r2.bin", etest::RandomBytes(700000, 2));
  std::wstring big = dir_ + L"\\big.wim";
  etest::OracleCapture(bigSrc, big, "big");
  host_.cancel.Request();
  EXPECT_EQ(Make(&progress_)->Split(SplitOf(big, dir_ + L"\\p.wim", 1000000)), kResultAborted);
  for (const std::wstring& t : ErrorTexts()) ADD_FAILURE() << qtest::Utf8(t);
  EXPECT_EQ(boxes_.size(), 4u);  // one question per operation

  // "No" lets the operation finish.
  boxes_.clear();
  abortAnswer_ = IDNO;
  host_.cancel.Request();
  std::wstring out = dir_ + L"\\out2";
  qtest::MakeDirs(out);
  EXPECT_EQ(Make(&progress_)->Apply(ApplyOf(wim, out)), kResultSuccess);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(SameTree(src_, out));
}

// ---- wimlib only -----------------------------------------------------------

TEST_F(WimlibEngineTest, ExportForWimBootUsesXpressWith4KChunks) {
  std::wstring source = OracleWim("same");
  std::wstring wimboot = dir_ + L"\\wimboot.wim";
  ExportRequest request = ExportOf(source, 1, wimboot, 2);
  request.wimBoot = 1;
  StartRecorder(kBackendWimlib);
  ASSERT_EQ(Make(&progress_)->Export(request), kResultSuccess);
  EXPECT_TRUE(rec::Has("set_output_chunk_size W2 4096"));
  EXPECT_TRUE(rec::Has("export_image W1 1 W2 0x18 -> 0"));
  EXPECT_EQ(InfoField(wimboot, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(wimboot, 0, "Chunk Size"), "4096 bytes");
  EXPECT_EQ(InfoField(wimboot, 1, "WIMBoot compatible"), "yes");
  EXPECT_TRUE(AppliesTo(wimboot, 1, src_));
}

TEST_F(WimlibEngineTest, SplitSizeIsPassedAsAFull64BitNumber) {
  std::wstring wim = OracleWim();
  std::wstring first = dir_ + L"\\whole.wim";
  uint64_t fourGigPlusOne = (1ull << 32) + 1;
  StartRecorder(kBackendWimlib);
  ASSERT_EQ(Make(&progress_)->Split(SplitOf(wim, first, fourGigPlusOne)), kResultSuccess);
  EXPECT_TRUE(rec::Has("split W1 4294967297 2"));
  EXPECT_EQ(InfoField(first, 0, "Part Number"), "1/1");
  EXPECT_FALSE(Exists(dir_ + L"\\whole2.wim"));
  EXPECT_EQ(Make(&progress_)->Split(SplitOf(dir_ + L"\\none.wim", first, 1000000)), kResultFailed);
}

}  // namespace
