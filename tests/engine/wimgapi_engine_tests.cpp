// The WIMGAPI engine run for real through the prefix's wimgapi.dll, checked
// with wimlib-imagex: the calls in their order with their flags, every handle
// closed once (last opened first), capture with the capture lists, apply,
// mount, export, split, the image XML, the error boxes and aborts.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/image_xml.h"
#include "engine/split_parts.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"
#include "recorder.h"

using etest::AppliesTo;
using etest::DirList;
using etest::ImageCount;
using etest::InfoField;
using etest::SameTree;

namespace {

// Every handle the log shows opened is closed exactly once, in reverse order.
void ExpectClosedInReverse() {
  std::vector<std::string> opened, closed;
  for (const std::string& line : rec::log) {
    size_t arrow = line.find(" -> ");
    if (arrow != std::string::npos && line.substr(arrow + 4) != "null") opened.push_back(line.substr(arrow + 4));
    if (line.compare(0, 6, "Close ") == 0) closed.push_back(line.substr(6));
  }
  std::reverse(opened.begin(), opened.end());
  EXPECT_EQ(closed, opened) << rec::Joined();
}

class WimgapiEngineTest : public etest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!NeedWimgapi()) GTEST_SKIP() << "wimgapi.dll is not in the prefix";
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
  }
  std::wstring OracleWim(const std::string& name = "one", const std::string& extra = "") {
    std::wstring wim = dir_ + L"\\oracle.wim";
    etest::OracleCapture(src_, wim, name, extra);
    return wim;
  }
  // The error boxes shown (not the abort questions).
  std::vector<std::wstring> ErrorTexts() const {
    std::vector<std::wstring> out;
    for (const etest::Box& b : boxes_)
      if (b.kind != etest::Box::kAbortQuestion) out.push_back(b.text);
    return out;
  }
  bool ErrorBoxStartsWith(const std::wstring& prefix) const {
    for (const std::wstring& t : ErrorTexts())
      if (t.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
  std::wstring src_;
};

TEST_F(WimgapiEngineTest, CaptureNewWritesImageMetadataAndBootIndex) {
  std::wstring wim = dir_ + L"\\new.wim";
  ImageInfo info;
  info.name = L"\u7b2c\u4e00";
  info.description = L"desc";
  info.displayName = L"\u663e\u793a";
  info.flags = L"Professional";
  info.bootIndex = 1;
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().CaptureImage(src_, wim, 2, false, true, true, info, SnapshotCaptureLists()), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "CreateFile 0x40000000 2 2 2 -> F1\n"
            "SetTemporaryPath F1\n"
            "Register F1 Capture data\n"
            "CaptureImage F1 0x32 -> I1\n"
            "GetImageInformation I1\n"
            "SetImageInformation I1\n"
            "SetBootImage F1 1\n"
            "Close I1\n"
            "Close F1\n"
            "Unregister null Capture\n");
  EXPECT_EQ(rec::lastTempPath, host_.tempFolder);
  const std::wstring& xml = rec::lastImageXml;
  ASSERT_FALSE(xml.empty());
  EXPECT_EQ(xml[0], L'\uFEFF');
  std::wstring tail =
      L"\n<NAME>\u7b2c\u4e00</NAME>\n<DESCRIPTION>desc</DESCRIPTION>\n<DISPLAYNAME>\u663e\u793a</DISPLAYNAME>"
      L"\n<FLAGS>Professional</FLAGS>\n</IMAGE>";
  EXPECT_EQ(xml.substr(xml.size() - std::min(xml.size(), tail.size())), tail) << qtest::Utf8(xml);

  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "LZX");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "1");
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe7\xac\xac\xe4\xb8\x80");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "desc");
  EXPECT_EQ(InfoField(wim, 1, "Display Name"), "\xe6\x98\xbe\xe7\xa4\xba");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "Professional");
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(AppliesTo(wim, 1, src_));
  EXPECT_TRUE(boxes_.empty());
  ASSERT_FALSE(progress_.percents.empty());
}

TEST_F(WimgapiEngineTest, CaptureAppendNumbersTheNewImage) {
  std::wstring wim = OracleWim("one");
  std::wstring src2 = dir_ + L"\\src2";
  qtest::MakeDirs(src2);
  qtest::WriteFileBytes(src2 + L"\\only.txt", "second\n");
  etest::OracleCapture(src2, wim, "two");
  etest::OracleCapture(src2, wim, "three");
  ImageInfo info;
  info.name = L"four";
  info.bootIndex = 1;
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().CaptureImage(src2, wim, 0, true, false, false, info, SnapshotCaptureLists()), kResultSuccess);
  EXPECT_EQ(rec::log[0], "CreateFile 0x40000000 4 0 0 -> F1");
  EXPECT_EQ(rec::log[1], "GetAttributes F1");
  EXPECT_TRUE(rec::Has("CaptureImage F1 0x0 -> I1"));
  EXPECT_TRUE(rec::Has("SetBootImage F1 1"));
  EXPECT_NE(rec::lastImageXml.find(L"<IMAGE INDEX=\"4\""), std::wstring::npos);
  ExpectClosedInReverse();
  EXPECT_EQ(ImageCount(wim), 4);
  EXPECT_EQ(InfoField(wim, 4, "Name"), "four");
  EXPECT_EQ(InfoField(wim, 1, "Name"), "one");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "1");
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(AppliesTo(wim, 4, src2));

  // Appending to a missing file creates it with image 1.
  std::wstring fresh = dir_ + L"\\fresh.wim";
  info.bootIndex = 0;
  ASSERT_EQ(WimgapiEngine().CaptureImage(src2, fresh, 1, true, false, false, info, SnapshotCaptureLists()), kResultSuccess);
  EXPECT_EQ(ImageCount(fresh), 1);
  EXPECT_EQ(InfoField(fresh, 1, "Name"), "four");
  EXPECT_EQ(InfoField(fresh, 0, "Boot Index"), "0");
}

TEST_F(WimgapiEngineTest, CaptureAppliesTheCaptureLists) {
  qtest::WriteFileBytes(src_ + L"\\pagefile.sys", "root page file");
  qtest::WriteFileBytes(src_ + L"\\sub\\pagefile.sys", "not the page file");
  qtest::WriteFileBytes(src_ + L"\\y.log", "dropped");
  qtest::MakeDirs(src_ + L"\\keep");
  qtest::WriteFileBytes(src_ + L"\\keep\\x.log", "kept by the exception");
  qtest::MakeDirs(src_ + L"\\Data");
  qtest::WriteFileBytes(src_ + L"\\Data\\Setup.zip", std::string(100000, 'z'));
  qtest::WriteFileBytes(src_ + L"\\Data\\plain.txt", std::string(100000, 'p'));
  qtest::WriteFileBytes(src_ + L"\\Data\\disk.vhd", "disk");
  host_.captureLists.patterns[kListExclude] = {L"\\pagefile.sys", L"*.log"};
  host_.captureLists.patterns[kListException] = {L"\\keep\\*"};
  host_.captureLists.patterns[kListNoCompress] = {L"*.ZIP"};
  host_.captureLists.patterns[kListAlignment] = {L"*.VHD"};
  std::wstring wim = dir_ + L"\\lists.wim";
  rec::StartWimgapi(host_);
  // The lists are taken on this thread, the one that reloads them, before
  // the worker starts; a reload while the worker runs changes nothing for
  // it (here: the lists are emptied before the worker even starts).
  struct Work {
    std::wstring source, wim;
    CaptureLists lists;
    EngineResult result = kResultFailed;
  } work{src_ + L"\\", wim, SnapshotCaptureLists()};
  host_.captureLists = CaptureLists();
  auto run = [](void* arg) -> DWORD {
    Work* w = static_cast<Work*>(arg);
    // A trailing backslash on the source does not shift the relative paths.
    w->result = WimgapiEngine().CaptureImage(w->source, w->wim, 2, false, false, false, ImageInfo(), w->lists);
    return 0;
  };
  HANDLE worker = CreateThread(nullptr, 0, run, &work, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  ASSERT_EQ(work.result, kResultSuccess);
  std::vector<std::string> paths = DirList(wim, 1);
  auto has = [&](const char* p) { return std::find(paths.begin(), paths.end(), p) != paths.end(); };
  EXPECT_FALSE(has("/pagefile.sys"));
  EXPECT_TRUE(has("/sub/pagefile.sys"));
  EXPECT_FALSE(has("/y.log"));
  EXPECT_TRUE(has("/keep/x.log"));
  EXPECT_TRUE(has("/small.txt"));
  EXPECT_TRUE(etest::OracleVerify(wim));

  // What the callback answered for the real paths the library sent.
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_PROCESS, L"src\\pagefile.sys"), FALSE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_PROCESS, L"sub\\pagefile.sys"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_PROCESS, L"keep\\x.log"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_COMPRESS, L"Data\\Setup.zip"), FALSE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_COMPRESS, L"Data\\plain.txt"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_ALIGNMENT, L"Data\\disk.vhd"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_ALIGNMENT, L"Data\\plain.txt"), FALSE);
}

TEST_F(WimgapiEngineTest, DriveXPutsTemporaryFilesOnTheWimDrive) {
  host_.runningFromDriveX = true;
  std::wstring wim = dir_ + L"\\x.wim";
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().CaptureImage(src_, wim, 1, false, false, false, ImageInfo(), SnapshotCaptureLists()), kResultSuccess);
  EXPECT_EQ(rec::lastTempPath, wim.substr(0, 3));
  // Only capture does this; apply keeps the settings' folder.
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\out", 1, false, false), kResultSuccess);
  EXPECT_EQ(rec::lastTempPath, host_.tempFolder);

  // A WIM path without a drive letter has no drive root to give: the
  // settings' folder stays (never "\\s" of "\\server\share" or the first
  // letters of a relative name).
  EXPECT_EQ(DriveRootOf(L"D:\\images\\a.wim"), L"D:\\");
  EXPECT_EQ(DriveRootOf(L"\\\\server\\share\\a.wim"), L"");
  EXPECT_EQ(DriveRootOf(L"\\\\?\\D:\\a.wim"), L"");
  EXPECT_EQ(DriveRootOf(L"D:a.wim"), L"");
  EXPECT_EQ(DriveRootOf(L"sub\\a.wim"), L"");
  EXPECT_EQ(DriveRootOf(L"x:"), L"");
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir_.c_str()));
  rec::StartWimgapi(host_);
  EngineResult relative =
      WimgapiEngine().CaptureImage(src_, L"rel.wim", 1, false, false, false, ImageInfo(), SnapshotCaptureLists());
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(relative, kResultSuccess);
  EXPECT_EQ(rec::lastTempPath, host_.tempFolder);
  EXPECT_EQ(ImageCount(dir_ + L"\\rel.wim"), 1);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimgapiEngineTest, ApplyWritesAByteIdenticalTree) {
  std::wstring wim = OracleWim();
  std::wstring out = dir_ + L"\\out";
  qtest::MakeDirs(out);
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().ApplyImage(wim, out, 1, true, true), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "CreateFile 0x80000000 3 2 0 -> F1\n"
            "SetTemporaryPath F1\n"
            "GetAttributes F1\n"
            "LoadImage F1 1 -> I1\n"
            "Register F1 Apply null\n"
            "ApplyImage I1 0x32\n"
            "Close I1\n"
            "Close F1\n"
            "Unregister null Apply\n");
  EXPECT_TRUE(SameTree(src_, out));
  EXPECT_FALSE(progress_.percents.empty());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimgapiEngineTest, ApplyFailures) {
  std::wstring wim = OracleWim();
  // A file that cannot be opened: -1 without a message.
  EXPECT_EQ(WimgapiEngine().ApplyImage(dir_ + L"\\none.wim", dir_ + L"\\o1", 1, false, false), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  // A missing image: "WIMLoadImage() fails".
  rec::StartWimgapi(host_);
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\o2", 9, false, false), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMLoadImage() fails\nError Code: "));
  ExpectClosedInReverse();
  // The same, quietly while the queue runs.
  boxes_.clear();
  host_.quietErrors = 1;
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\o3", 9, false, false), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  host_.quietErrors = 0;
  // A refused temporary folder.
  rec::StartWimgapi(host_);
  rec::failing["SetTemporaryPath"] = ERROR_PATH_NOT_FOUND;
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\o4", 1, false, false), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetTemporaryPath() fails\nError Code: 3\n"));
  EXPECT_EQ(rec::Lines("Close"), std::vector<std::string>{"Close F1"});
  // The long call failing, and the same failure as an abort.
  boxes_.clear();
  rec::StartWimgapi(host_);
  rec::failing["ApplyImage"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\o5", 1, false, false), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMApplyImage() fails\nError Code: 5\n"));
  ExpectClosedInReverse();
  boxes_.clear();
  rec::StartWimgapi(host_);
  rec::failing["ApplyImage"] = ERROR_REQUEST_ABORTED;
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\o6", 1, false, false), kResultAborted);
  EXPECT_TRUE(boxes_.empty());
  ExpectClosedInReverse();
}

TEST_F(WimgapiEngineTest, MountReadOnlyAndWritable) {
  std::wstring wim = OracleWim();
  std::wstring mnt = dir_ + L"\\mnt";
  qtest::MakeDirs(mnt);
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().MountImage(wim, mnt, 1, false, false, false), kResultSuccess);
  EXPECT_EQ(rec::log[0], "CreateFile 0xa0000000 3 0 0 -> F1");
  EXPECT_TRUE(rec::Has("MountImageHandle I1 0x200"));
  ExpectClosedInReverse();
  EXPECT_TRUE(SameTree(src_, mnt));
  EXPECT_TRUE(host_.backends.wimgapi.UnmountImage(mnt.c_str(), wim.c_str(), 1, FALSE));

  std::wstring mnt2 = dir_ + L"\\mnt2";
  qtest::MakeDirs(mnt2);
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().MountImage(wim, mnt2, 1, true, true, true), kResultSuccess);
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
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().MountImage(wim, mnt, 1, true, true, false), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "CreateFile 0xa0000000 3 2 0 -> F1\n"
            "SetTemporaryPath F1\n"
            "GetAttributes F1\n"
            "LoadImage F1 1 -> I1\n"
            "Register F1 Apply null\n"
            "Close I1\n"
            "Close F1\n"
            "Unregister null Apply\n"
            "MountImage 1 null\n");
  EXPECT_TRUE(SameTree(src_, mnt));
  EXPECT_TRUE(host_.backends.wimgapi.UnmountImage(mnt.c_str(), wim.c_str(), 1, FALSE));

  // Writable: the temporary folder goes along; a failure is named.
  rec::StartWimgapi(host_);
  rec::failing["MountImage"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(WimgapiEngine().MountImage(wim, dir_ + L"\\mnt2", 1, false, false, true), kResultFailed);
  EXPECT_TRUE(rec::Has("MountImage 1 temp"));
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMMountImage() fails\nError Code: 5\n"));
}

TEST_F(WimgapiEngineTest, ExportIntoNewAndExistingFilesAllowsDuplicates) {
  std::wstring source = OracleWim("same");
  std::wstring dest = dir_ + L"\\dest.wim";
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().ExportImage(source, 1, dest, 1), kResultSuccess);
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
  EXPECT_EQ(InfoField(dest, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(dest, 1, "Name"), "same");

  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().ExportImage(source, 1, dest, 2), kResultSuccess);
  EXPECT_TRUE(rec::Has("CreateFile 0xc0000000 3 0 2 -> F2"));
  EXPECT_EQ(ImageCount(dest), 2);
  EXPECT_EQ(InfoField(dest, 0, "Compression"), "XPRESS");
  EXPECT_TRUE(etest::OracleVerify(dest));
  EXPECT_TRUE(AppliesTo(dest, 2, src_));
  EXPECT_TRUE(boxes_.empty());

  // Failures name their call; the export's name has no parentheses.
  EXPECT_EQ(WimgapiEngine().ExportImage(dir_ + L"\\none.wim", 1, dest, 1), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
  boxes_.clear();
  EXPECT_EQ(WimgapiEngine().ExportImage(source, 4, dest, 1), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMLoadImage()\nError Code: "));
  boxes_.clear();
  rec::StartWimgapi(host_);
  rec::failing["ExportImage"] = ERROR_DISK_FULL;
  EXPECT_EQ(WimgapiEngine().ExportImage(source, 1, dest, 1), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMExportImage\nError Code: 112\n"));
  ExpectClosedInReverse();
  EXPECT_EQ(ImageCount(dest), 2);
}

TEST_F(WimgapiEngineTest, SplitAndUseTheSplitSet) {
  qtest::WriteFileBytes(src_ + L"\\r1.bin", etest::RandomBytes(700000, 1));
  qtest::WriteFileBytes(src_ + L"\\r2.bin", etest::RandomBytes(700000, 2));
  qtest::WriteFileBytes(src_ + L"\\r3.bin", etest::RandomBytes(700000, 3));
  std::wstring wim = OracleWim("big");
  std::wstring parts = dir_ + L"\\parts";
  qtest::MakeDirs(parts);
  std::wstring first = parts + L"\\set.wim";
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().SplitWim(wim, first, 1000000), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "CreateFile 0x80000000 3 2 0 -> F1\n"
            "Register F1 Split data\n"
            "GetAttributes F1\n"
            "SplitFile F1 1000000 0\n"
            "Close F1\n"
            "Unregister null Split\n");
  EXPECT_NE(GetFileAttributesW(SplitPartPath(first, 2).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(etest::OracleVerify(first, "--ref=" + etest::Q(parts) + "/'set*'"));

  // Apply and export reference the further parts.
  std::wstring out = dir_ + L"\\out";
  qtest::MakeDirs(out);
  rec::StartWimgapi(host_);
  ASSERT_EQ(WimgapiEngine().ApplyImage(first, out, 1, false, false), kResultSuccess);
  EXPECT_TRUE(rec::Has("SetReferenceFile F1 set2.WIM 0x10000"));
  EXPECT_TRUE(SameTree(src_, out));
  std::wstring merged = dir_ + L"\\merged.wim";
  ASSERT_EQ(WimgapiEngine().ExportImage(first, 1, merged, 2), kResultSuccess);
  EXPECT_EQ(InfoField(merged, 0, "Part Number"), "1/1");
  EXPECT_TRUE(etest::OracleVerify(merged));
  EXPECT_TRUE(AppliesTo(merged, 1, src_));
  // The wimlib engine finds the same set by its glob.
  std::wstring merged2 = dir_ + L"\\merged2.wim";
  ASSERT_EQ(WimlibEngine().ExportImage(first, 1, merged2, 1, 0), kResultSuccess);
  EXPECT_TRUE(AppliesTo(merged2, 1, src_));

  // A part of a split set is not split again.
  boxes_.clear();
  EXPECT_EQ(WimgapiEngine().SplitWim(first, dir_ + L"\\again.wim", 500000), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(WimgapiEngine().SplitWim(dir_ + L"\\none.wim", dir_ + L"\\again.wim", 500000), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
}

TEST_F(WimgapiEngineTest, SplitTooSmallIsToldEvenWhenQuiet) {
  qtest::WriteFileBytes(src_ + L"\\big.bin", etest::RandomBytes(2000000, 7));
  std::wstring wim = OracleWim("big");
  host_.quietErrors = 1;
  EXPECT_EQ(WimgapiEngine().SplitWim(wim, dir_ + L"\\part.wim", 1 << 20), kResultFailed);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].kind, etest::Box::kSplitTooSmall);
  ASSERT_FALSE(progress_.percents.empty());
  EXPECT_EQ(progress_.percents.back(), 100.0f);
}

TEST_F(WimgapiEngineTest, AbortThroughTheQuestion) {
  std::wstring wim = OracleWim();
  abortAnswer_ = IDYES;
  host_.cancelRequested = 1;
  EXPECT_EQ(WimgapiEngine().CaptureImage(src_, dir_ + L"\\c.wim", 1, false, false, false, ImageInfo(), SnapshotCaptureLists()),
            kResultAborted);
  EXPECT_EQ(host_.cancelRequested, 0);
  host_.cancelRequested = 1;
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\out", 1, false, false), kResultAborted);
  host_.cancelRequested = 1;
  EXPECT_EQ(WimgapiEngine().ExportImage(wim, 1, dir_ + L"\\e.wim", 1), kResultAborted);
  std::wstring bigSrc = dir_ + L"\\bigsrc";
  qtest::MakeDirs(bigSrc);
  qtest::WriteFileBytes(bigSrc + L"\\r1.bin", etest::RandomBytes(700000, 1));
  qtest::WriteFileBytes(bigSrc + L"\\r2.bin", etest::RandomBytes(700000, 2));
  std::wstring big = dir_ + L"\\big.wim";
  etest::OracleCapture(bigSrc, big, "big");
  host_.cancelRequested = 1;
  EXPECT_EQ(WimgapiEngine().SplitWim(big, dir_ + L"\\p.wim", 1000000), kResultAborted);
  for (const std::wstring& t : ErrorTexts()) ADD_FAILURE() << qtest::Utf8(t);
  EXPECT_EQ(boxes_.size(), 4u);  // one question per operation

  // "No" lets the operation finish.
  boxes_.clear();
  abortAnswer_ = IDNO;
  host_.cancelRequested = 1;
  std::wstring out = dir_ + L"\\out2";
  qtest::MakeDirs(out);
  EXPECT_EQ(WimgapiEngine().ApplyImage(wim, out, 1, false, false), kResultSuccess);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(SameTree(src_, out));
}

TEST_F(WimgapiEngineTest, CaptureFailures) {
  // The file cannot be created.
  EXPECT_EQ(WimgapiEngine().CaptureImage(src_, dir_ + L"\\no\\such\\dir\\a.wim", 1, false, false, false, ImageInfo(), SnapshotCaptureLists()),
            kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
  boxes_.clear();
  host_.quietErrors = 1;
  EXPECT_EQ(WimgapiEngine().CaptureImage(src_, dir_ + L"\\no\\such\\dir\\a.wim", 1, false, false, false, ImageInfo(), SnapshotCaptureLists()),
            kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  host_.quietErrors = 0;

  std::wstring wim = dir_ + L"\\c.wim";
  rec::StartWimgapi(host_);
  rec::failing["SetTemporaryPath"] = ERROR_PATH_NOT_FOUND;
  EXPECT_EQ(WimgapiEngine().CaptureImage(src_, wim, 1, false, false, false, ImageInfo(), SnapshotCaptureLists()), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetTemporaryPath()\nError Code: 3\n"));
  EXPECT_EQ(rec::Lines("Close"), std::vector<std::string>{"Close F1"});
  EXPECT_TRUE(rec::Lines("Unregister").empty());

  boxes_.clear();
  rec::StartWimgapi(host_);
  rec::failing["CaptureImage"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(WimgapiEngine().CaptureImage(src_, wim, 1, false, false, false, ImageInfo(), SnapshotCaptureLists()), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCaptureImage()\nError Code: 5\n"));
  ASSERT_FALSE(rec::log.empty());
  EXPECT_EQ(rec::log.back(), "Unregister null Capture");
  ExpectClosedInReverse();

  // A failed metadata write is shown, but the capture has succeeded.
  boxes_.clear();
  rec::StartWimgapi(host_);
  rec::failing["SetImageInformation"] = ERROR_INVALID_DATA;
  ImageInfo info;
  info.name = L"lost";
  EXPECT_EQ(WimgapiEngine().CaptureImage(src_, wim, 1, false, false, false, info, SnapshotCaptureLists()), kResultSuccess);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetImageInformation()\nError Code: 13\n"));
  ExpectClosedInReverse();
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_TRUE(etest::OracleVerify(wim));
}

TEST_F(WimgapiEngineTest, ReadInfoAndRewriteImageXml) {
  std::wstring wim = OracleWim("\xe4\xb8\x80", "--flags=Core");
  etest::Imagex("info " + etest::Q(wim) + " 1 --image-property DESCRIPTION=d --image-property DISPLAYNAME=dn");
  WimgapiEngine engine;
  ASSERT_EQ(engine.ReadWimInfo(wim), 1);
  EXPECT_EQ(engine.WimInfo().ImageCount, 1u);
  EXPECT_EQ(engine.WimInfo().TotalParts, 1);
  EXPECT_EQ(engine.WimInfo().CompressionType, 2u);
  ASSERT_FALSE(engine.XmlText().empty());
  EXPECT_EQ(engine.XmlText()[0], L'\uFEFF');
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<NAME>"), L"\u4e00");
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<FLAGS>"), L"Core");

  // The edit page's path: open, load, write, close.
  const WimgapiTable& api = host_.backends.wimgapi;
  ImageInfo info;
  info.name = L"\u4e2d\u6587\u540d\u5b57";
  info.displayDescription = L"dd";
  {
    WimHandle file(api, api.CreateFile(wim.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0,
                                       nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(api.SetTemporaryPath(file.get(), host_.tempFolder.c_str()));
    WimHandle image(api, api.LoadImage(file.get(), 1));
    ASSERT_TRUE(image);
    EXPECT_EQ(engine.WriteImageInfo(image.get(), 1, info), 0);
  }
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d\xe5\xad\x97");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "");
  EXPECT_EQ(InfoField(wim, 1, "Display Name"), "");
  EXPECT_EQ(InfoField(wim, 1, "Display Description"), "dd");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "");
  EXPECT_TRUE(etest::OracleVerify(wim));
  ASSERT_EQ(engine.ReadWimInfo(wim), 1);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<NAME>"), info.name);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<DESCRIPTION>"), L"");
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<DISPLAYDESCRIPTION>"), L"dd");
  // The counts stayed in place.
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<FILECOUNT>"), qtest::Wide(InfoField(wim, 1, "File Count")));

  // Texts with the characters of the markup go in escaped and come back as
  // the user typed them, "&amp;" typed as text included.
  ImageInfo marked;
  marked.name = L"A & B <1>";
  marked.description = L"R&amp;D > 2";
  rec::StartWimgapi(host_);
  {
    WimHandle file(api, api.CreateFile(wim.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0,
                                       nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(api.SetTemporaryPath(file.get(), host_.tempFolder.c_str()));
    WimHandle image(api, api.LoadImage(file.get(), 1));
    ASSERT_TRUE(image);
    EXPECT_EQ(engine.WriteImageInfo(image.get(), 1, marked), 0);
  }
  EXPECT_NE(rec::lastImageXml.find(L"\n<NAME>A &amp; B &lt;1&gt;</NAME>\n<DESCRIPTION>R&amp;amp;D &gt; 2</DESCRIPTION>\n"),
            std::wstring::npos)
      << qtest::Utf8(rec::lastImageXml);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "A & B <1>");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "R&amp;D > 2");
  ASSERT_EQ(engine.ReadWimInfo(wim), 1);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<NAME>"), marked.name);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<DESCRIPTION>"), marked.description);
  EXPECT_TRUE(etest::OracleVerify(wim));

  EXPECT_EQ(engine.ReadWimInfo(dir_ + L"\\none.wim"), 0);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimgapiEngineTest, BadFilesGiveClearResults) {
  std::wstring text = dir_ + L"\\text.wim";
  qtest::WriteFileBytes(text, "this is not a WIM file\n");
  std::wstring good = OracleWim();
  std::string bytes = qtest::ReadFileBytes(good);
  std::wstring truncated = dir_ + L"\\truncated.wim";
  qtest::WriteFileBytes(truncated, bytes.substr(0, 300));
  std::string badXml = bytes;
  for (int i = 0; i < 8; ++i) badXml[80 + i] = i == 4 ? '\x7f' : '\0';
  std::wstring badXmlWim = dir_ + L"\\badxml.wim";
  qtest::WriteFileBytes(badXmlWim, badXml);

  host_.quietErrors = 1;
  for (const std::wstring& wim : {text, truncated, badXmlWim}) {
    SCOPED_TRACE(qtest::Utf8(wim));
    WimgapiEngine engine;
    EXPECT_EQ(engine.ReadWimInfo(wim), 0);
    EXPECT_EQ(WimgapiEngine().ApplyImage(wim, dir_ + L"\\out", 1, false, false), kResultFailed);
    EXPECT_EQ(WimgapiEngine().ExportImage(wim, 1, dir_ + L"\\exp.wim", 1), kResultFailed);
    EXPECT_EQ(WimgapiEngine().SplitWim(wim, dir_ + L"\\part.wim", 1 << 20), kResultFailed);
    EXPECT_EQ(WimgapiEngine().MountImage(wim, dir_ + L"\\mnt", 1, false, false, false), kResultFailed);
    EXPECT_EQ(WimgapiEngine().CaptureImage(src_, wim, 1, true, false, false, ImageInfo(), SnapshotCaptureLists()), kResultFailed);
  }
  EXPECT_EQ(qtest::ReadFileBytes(text), "this is not a WIM file\n");
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
