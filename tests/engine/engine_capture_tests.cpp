// Capture through the engine interface on both back ends, checked with
// wimlib-imagex: a new file and an appended image with their metadata, what
// each back end leaves out, and failures; the library calls in their order
// (see recorder.h). Then what one back end alone does: the Drive-X
// temporary folder of WIMGAPI, and wimlib's verification, WIMBoot capture
// and library state.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"
#include "recorder.h"

using etest::AppliesTo;
using etest::DirList;
using etest::ImageCount;
using etest::InfoField;
using etest::WimgapiEngineTest;
using etest::WimlibEngineTest;

namespace {

using EngineCaptureTest = etest::BackendTest;

// A capture of the sample tree into `wim`, as the capture page fills it.
CaptureRequest CaptureOf(const std::wstring& source, const std::wstring& wim, int compression) {
  CaptureRequest request;
  request.source = source;
  request.wimPath = wim;
  request.compression = compression;
  return request;
}

// No file under a temporary name is left in `folder`.
std::string TemporaryFilesIn(const std::wstring& folder) {
  return qtest::RunUnix("ls -a " + etest::Q(folder) + " | grep -c '^~quarry-'").output;
}

TEST_P(EngineCaptureTest, CaptureNewWritesTheImageAndItsMetadata) {
  std::wstring wim = dir_ + L"\\new.wim";
  CaptureRequest request = CaptureOf(src_, wim, 2);
  request.verify = true;
  request.noSecurity = true;
  request.info.name = L"\u4e2d\u6587\u540d";
  request.info.description = L"desc \u63cf\u8ff0";
  request.info.displayName = L"\u663e\u793a";
  request.info.displayDescription = L"\u663e\u793a\u63cf\u8ff0";
  request.info.flags = L"Professional";
  request.info.bootIndex = 1;
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Capture(request), kResultSuccess);
  if (IsWimgapi()) {
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
        L"\n<NAME>\u4e2d\u6587\u540d</NAME>\n<DESCRIPTION>desc \u63cf\u8ff0</DESCRIPTION>"
        L"\n<DISPLAYNAME>\u663e\u793a</DISPLAYNAME>"
        L"\n<DISPLAYDESCRIPTION>\u663e\u793a\u63cf\u8ff0</DISPLAYDESCRIPTION>\n<FLAGS>Professional</FLAGS>\n</IMAGE>";
    EXPECT_EQ(xml.substr(xml.size() - std::min(xml.size(), tail.size())), tail) << qtest::Utf8(xml);
  } else {
    // The image and its texts are written beside the target in one write,
    // then verified where they were written.
    EXPECT_EQ(rec::Joined(),
              "create_new_wim 2 -> W1\n"
              "register_progress_function W1 WimlibProgress\n"
              "add_image W1 0x8a8 named\n"
              "set_image_descripton W1 1\n"
              "set_image_flags W1 1\n"
              "write W1 -1 0\n"
              "free W1\n"
              "open_wim 0 -> W2\n"
              "register_progress_function W2 WimlibProgress\n"
              "verify_wim W2\n"
              "free W2\n");
  }
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "LZX");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "1");
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "desc \xe6\x8f\x8f\xe8\xbf\xb0");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "Professional");
  EXPECT_EQ(InfoField(wim, 1, "Display Name"), "\xe6\x98\xbe\xe7\xa4\xba");
  EXPECT_EQ(InfoField(wim, 1, "Display Description"), "\xe6\x98\xbe\xe7\xa4\xba\xe6\x8f\x8f\xe8\xbf\xb0");
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(AppliesTo(wim, 1, src_));
  EXPECT_TRUE(boxes_.empty());
  ASSERT_FALSE(progress_.percents.empty());
  if (!IsWimgapi()) {
    // wimlib never reports 100 itself; the capture does at its end.
    EXPECT_EQ(progress_.percents.back(), 100.0f);
    EXPECT_EQ(std::count(progress_.percents.begin(), progress_.percents.end(), 100.0f), 1);
  }
}

TEST_P(EngineCaptureTest, CaptureAppendAddsTheNextImage) {
  std::wstring wim = OracleWim("one");
  std::wstring src2 = dir_ + L"\\src2";
  qtest::MakeDirs(src2);
  qtest::WriteFileBytes(src2 + L"\\only.txt", "second image\n");
  etest::OracleCapture(src2, wim, "two");
  etest::OracleCapture(src2, wim, "three");
  CaptureRequest request = CaptureOf(src2, wim, 0);
  request.append = true;
  request.info.name = L"four";
  request.info.bootIndex = 4;
  StartRecorder();
  ASSERT_EQ(Make(&progress_)->Capture(request), kResultSuccess);
  if (IsWimgapi()) {
    EXPECT_EQ(rec::log[0], "CreateFile 0x40000000 4 0 0 -> F1");
    EXPECT_TRUE(rec::Has("GetAttributes F1"));  // the count of images, for the new one's number
    EXPECT_TRUE(rec::Has("CaptureImage F1 0x0 -> I1"));
    EXPECT_TRUE(rec::Has("SetBootImage F1 4"));
    EXPECT_NE(rec::lastImageXml.find(L"<IMAGE INDEX=\"4\""), std::wstring::npos);
    etest::ExpectClosedInReverse();
  } else {
    ASSERT_FALSE(rec::Lines("open_wim").empty());
    EXPECT_EQ(rec::Lines("open_wim")[0], "open_wim 4 -> W1");
    EXPECT_TRUE(rec::Has("add_image W1 0x888 named"));
    // The new image and its name go into the file in one write.
    EXPECT_EQ(rec::Lines("overwrite"), std::vector<std::string>{"overwrite W1 0"});
    EXPECT_TRUE(rec::Lines("verify_wim").empty());
  }
  EXPECT_EQ(ImageCount(wim), 4);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "one");
  EXPECT_EQ(InfoField(wim, 4, "Name"), "four");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "4");
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(AppliesTo(wim, 4, src2));
  EXPECT_TRUE(AppliesTo(wim, 1, src_));

  // Appending to a file that does not exist: WIMGAPI opens the file to
  // append to as "open always" and so makes it with image 1; wimlib appends
  // only to a file it can open, and fails creating nothing.
  std::wstring missing = dir_ + L"\\missing.wim";
  request.wimPath = missing;
  request.compression = 1;
  request.info.bootIndex = 0;
  if (IsWimgapi()) {
    ASSERT_EQ(Make(&progress_)->Capture(request), kResultSuccess);
    EXPECT_EQ(ImageCount(missing), 1);
    EXPECT_EQ(InfoField(missing, 1, "Name"), "four");
    EXPECT_EQ(InfoField(missing, 0, "Boot Index"), "0");
  } else {
    EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
    EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    // wimlib refuses a second image of a name the file already has.
    request.wimPath = wim;
    EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
    EXPECT_EQ(ImageCount(wim), 4);
  }
  EXPECT_TRUE(boxes_.empty());
}

TEST_P(EngineCaptureTest, CaptureLeavesOutWhatItsBackEndExcludes) {
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
  StartRecorder();
  // The request and its copy of the lists are made on this thread, the one
  // that reloads the lists, before the worker starts; a reload while the
  // worker runs changes nothing for it (here: the lists are emptied before
  // the worker even starts). A trailing backslash on the source does not
  // shift the relative paths.
  struct Work {
    std::unique_ptr<Engine> engine;
    CaptureRequest request;
    EngineResult result = kResultFailed;
  } work{Make(&progress_), CaptureOf(src_ + L"\\", wim, 1)};
  host_.captureLists = CaptureLists();
  auto run = [](void* arg) -> DWORD {
    Work* w = static_cast<Work*>(arg);
    w->result = w->engine->Capture(w->request);
    return 0;
  };
  HANDLE worker = CreateThread(nullptr, 0, run, &work, 0, nullptr);
  ASSERT_NE(worker, nullptr);
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  ASSERT_EQ(work.result, kResultSuccess);
  std::vector<std::string> paths = DirList(wim, 1);
  auto has = [&](const char* p) { return std::find(paths.begin(), paths.end(), p) != paths.end(); };
  // Both leave out the page file at the root, and only there.
  EXPECT_FALSE(has("/pagefile.sys"));
  EXPECT_TRUE(has("/sub/pagefile.sys"));
  EXPECT_TRUE(has("/keep/x.log"));
  EXPECT_TRUE(has("/small.txt"));
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "XPRESS");
  EXPECT_TRUE(etest::OracleVerify(wim));
  if (!IsWimgapi()) {
    // wimlib captures with its own Windows configuration: the capture
    // lists are not consulted.
    EXPECT_TRUE(has("/y.log"));
    return;
  }
  // WIMGAPI asks the capture lists about every file.
  EXPECT_FALSE(has("/y.log"));
  // What the callback answered for the real paths the library sent.
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_PROCESS, L"src\\pagefile.sys"), FALSE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_PROCESS, L"sub\\pagefile.sys"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_PROCESS, L"keep\\x.log"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_COMPRESS, L"Data\\Setup.zip"), FALSE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_COMPRESS, L"Data\\plain.txt"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_ALIGNMENT, L"Data\\disk.vhd"), TRUE);
  EXPECT_EQ(rec::AnswerFor(WIM_MSG_ALIGNMENT, L"Data\\plain.txt"), FALSE);
}

TEST_P(EngineCaptureTest, CaptureFailuresReportAsFailures) {
  // The file cannot be created: WIMGAPI names the failed call, wimlib
  // shows no boxes; nothing is shown while the queue runs quietly.
  CaptureRequest request = CaptureOf(src_, dir_ + L"\\no\\such\\dir\\a.wim", 1);
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
  if (IsWimgapi())
    EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
  else
    EXPECT_TRUE(boxes_.empty());
  boxes_.clear();
  host_.quietErrors = true;
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
  host_.quietErrors = false;
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\no").c_str()), INVALID_FILE_ATTRIBUTES);

  std::wstring wim = dir_ + L"\\c.wim";
  request.wimPath = wim;
  if (!IsWimgapi()) {
    // The library failing as it adds the image or writes the file: the
    // capture fails and leaves nothing behind.
    for (const char* call : {"add_image", "write"}) {
      SCOPED_TRACE(call);
      StartRecorder();
      rec::failing[call] = ERROR_WRITE_FAULT;
      EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
      EXPECT_EQ(GetFileAttributesW(wim.c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(TemporaryFilesIn(dir_), "0\n");
    }
    EXPECT_TRUE(boxes_.empty());
    return;
  }

  StartRecorder();
  rec::failing["SetTemporaryPath"] = ERROR_PATH_NOT_FOUND;
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetTemporaryPath()\nError Code: 3\n"));
  EXPECT_EQ(rec::Lines("Close"), std::vector<std::string>{"Close F1"});
  EXPECT_TRUE(rec::Lines("Unregister").empty());

  boxes_.clear();
  StartRecorder();
  rec::failing["CaptureImage"] = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCaptureImage()\nError Code: 5\n"));
  ASSERT_FALSE(rec::log.empty());
  EXPECT_EQ(rec::log.back(), "Unregister null Capture");
  etest::ExpectClosedInReverse();

  // A failed metadata write is shown, but the capture has succeeded.
  boxes_.clear();
  StartRecorder();
  rec::failing["SetImageInformation"] = ERROR_INVALID_DATA;
  request.info.name = L"lost";
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultSuccess);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetImageInformation()\nError Code: 13\n"));
  etest::ExpectClosedInReverse();
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_TRUE(etest::OracleVerify(wim));
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineCaptureTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         etest::BackendName);

// ---- WIMGAPI only ----------------------------------------------------------

TEST_F(WimgapiEngineTest, DriveXPutsTemporaryFilesOnTheWimDrive) {
  host_.runningFromDriveX = true;
  std::wstring wim = dir_ + L"\\x.wim";
  StartRecorder(kBackendWimgapi);
  ASSERT_EQ(Make(&progress_)->Capture(CaptureOf(src_, wim, 1)), kResultSuccess);
  EXPECT_EQ(rec::lastTempPath, wim.substr(0, 3));
  // Only capture does this; apply keeps the settings' folder.
  StartRecorder(kBackendWimgapi);
  ApplyRequest apply;
  apply.wimPath = wim;
  apply.target = dir_ + L"\\out";
  ASSERT_EQ(Make(&progress_)->Apply(apply), kResultSuccess);
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
  StartRecorder(kBackendWimgapi);
  EngineResult relative = Make(&progress_)->Capture(CaptureOf(src_, L"rel.wim", 1));
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(relative, kResultSuccess);
  EXPECT_EQ(rec::lastTempPath, host_.tempFolder);
  EXPECT_EQ(ImageCount(dir_ + L"\\rel.wim"), 1);
  EXPECT_TRUE(boxes_.empty());
}

// ---- wimlib only -----------------------------------------------------------

// The real verification, run after one byte of the stored data of the file
// being verified has been spoilt, as a failing disk would spoil it: a new
// file still under its temporary name beside the target, else the target.
PFN_wimlib_verify_wim g_realVerify = nullptr;
std::wstring g_spoilFile;
void Spoil(const std::wstring& path) {
  std::string bytes = qtest::ReadFileBytes(path);
  size_t at = bytes.find("SPOIL-ME-");
  if (at != std::string::npos) {
    bytes[at] = 's';
    qtest::WriteFileBytes(path, bytes);
  }
}
int SpoilThenVerify(WIMStruct* wim, int flags) {
  std::wstring folder = g_spoilFile.substr(0, g_spoilFile.rfind(L'\\'));
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\~quarry-*.tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    Spoil(g_spoilFile);
  } else {
    Spoil(folder + L"\\" + data.cFileName);
    FindClose(find);
  }
  return g_realVerify(wim, flags);
}

// wimlib verifies the file once it is written (WIMGAPI checks as it
// captures, inside the library).
TEST_F(WimlibEngineTest, CaptureThatDoesNotVerifyFails) {
  std::string data;
  for (int i = 0; i < 2000; ++i) data += "SPOIL-ME-" + std::to_string(i) + "\n";
  qtest::WriteFileBytes(src_ + L"\\marked.txt", data);
  std::wstring wim = dir_ + L"\\spoilt.wim";
  g_realVerify = host_.backends.wimlib.verify_wim;
  g_spoilFile = wim;
  CaptureRequest request = CaptureOf(src_, wim, 0);
  request.verify = true;

  // Verified and sound: made.
  ASSERT_EQ(Make(&progress_)->Capture(request), kResultSuccess);
  EXPECT_TRUE(etest::OracleVerify(wim));
  std::string made = qtest::ReadFileBytes(wim);

  // Spoilt before it is verified: the capture fails, and the file it was
  // to replace is still there as it was, with nothing left beside it.
  host_.backends.wimlib.verify_wim = SpoilThenVerify;
  progress_.percents.clear();
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
  EXPECT_EQ(qtest::ReadFileBytes(wim), made);
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_EQ(TemporaryFilesIn(dir_), "0\n") << "a temporary file is left";
  ASSERT_FALSE(progress_.percents.empty());
  EXPECT_EQ(progress_.percents.back(), 100.0f);
  request.verify = false;
  ASSERT_EQ(Make(&progress_)->Capture(request), kResultSuccess) << "not verified: not looked at";
  // An append is checked where it was written.
  request.verify = true;
  request.append = true;
  EXPECT_EQ(Make(&progress_)->Capture(request), kResultFailed);
  EXPECT_NE(etest::Imagex("verify " + etest::Q(wim)).exitCode, 0) << "the file really is bad";
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimlibEngineTest, CaptureForWimBootUsesXpressWith4KChunks) {
  std::wstring wim = dir_ + L"\\boot.wim";
  CaptureRequest request = CaptureOf(src_, wim, 2);
  request.info.wimBoot = 1;
  StartRecorder(kBackendWimlib);
  ASSERT_EQ(Make(&progress_)->Capture(request), kResultSuccess);
  EXPECT_TRUE(rec::Has("create_new_wim 1 -> W1"));
  EXPECT_TRUE(rec::Has("set_output_chunk_size W1 4096"));
  EXPECT_TRUE(rec::Has("add_image W1 0x1880 unnamed"));
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(wim, 0, "Chunk Size"), "4096 bytes");
  EXPECT_EQ(InfoField(wim, 1, "WIMBoot compatible"), "yes");
  EXPECT_TRUE(AppliesTo(wim, 1, src_));
}

TEST_F(WimlibEngineTest, LibraryStateIsFreedOnceAtExitNotByOperations) {
  static int cleanups = 0;
  cleanups = 0;
  host_.backends.wimlib.global_cleanup = [] { ++cleanups; };
  std::wstring wim = dir_ + L"\\c.wim";
  CaptureRequest capture = CaptureOf(src_, wim, 1);
  capture.verify = true;
  ASSERT_EQ(Make(&progress_)->Capture(capture), kResultSuccess);
  ApplyRequest apply;
  apply.wimPath = wim;
  apply.target = dir_ + L"\\out";
  apply.verify = true;
  ASSERT_EQ(Make(&progress_)->Apply(apply), kResultSuccess);
  ExportRequest exportTo;
  exportTo.source = wim;
  exportTo.destination = dir_ + L"\\e.wim";
  exportTo.compression = 1;
  ASSERT_EQ(Make(&progress_)->Export(exportTo), kResultSuccess);
  SplitRequest split;
  split.source = wim;
  split.firstPart = dir_ + L"\\s.wim";
  split.partSize = 1 << 20;
  ASSERT_EQ(Make(&progress_)->Split(split), kResultSuccess);
  split.source = dir_ + L"\\none.wim";
  split.firstPart = dir_ + L"\\t.wim";
  EXPECT_EQ(Make(&progress_)->Split(split), kResultFailed);
  apply.wimPath = dir_ + L"\\none.wim";
  apply.target = dir_ + L"\\out2";
  apply.verify = false;
  EXPECT_EQ(Make(&progress_)->Apply(apply), kResultFailed);
  WimSummary summary;
  ASSERT_EQ(Make(&progress_)->ReadInfo(wim, summary), kResultSuccess);
  EXPECT_EQ(cleanups, 0) << "another worker may be using the library";
  ReleaseBackends(host_.backends);
  EXPECT_EQ(cleanups, 1);
  ReleaseBackends(host_.backends);
  EXPECT_EQ(cleanups, 1);
}

}  // namespace
