// wimgapi.dll: capture and apply, their messages, and aborts.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

class WimgapiCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(W().module, nullptr);
    dir_ = qtest::TempDir();
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
    wim_ = dir_ + L"\\a.wim";
  }
  bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
  }
  std::wstring dir_, src_, wim_;
};

TEST_F(WimgapiCapture, CapturedTreeMatchesTheSourceAndVerifies) {
  ASSERT_EQ(Capture(src_, wim_, WIM_COMPRESS_LZX), 1);
  std::vector<std::string> files = DirList(wim_, 1);
  for (const char* p : {"/small.txt", "/zero.bin", "/sub", "/sub/big.bin", "/sub/deeper/repeat.txt", "/empty",
                        "/\xe4\xb8\xad\xe6\x96\x87\xe6\x96\x87\xe4\xbb\xb6.txt", "/sub/\xf0\x9f\x98\x80.txt"})
    EXPECT_TRUE(Has(files, p)) << p;
  Imagex("verify " + Q(wim_));
  // Append: a second image; the first stays.
  ASSERT_EQ(Capture(src_ + L"\\sub", wim_, WIM_COMPRESS_LZX, true), 2);
  EXPECT_TRUE(Has(DirList(wim_, 2), "/big.bin"));
  EXPECT_TRUE(Has(DirList(wim_, 1), "/small.txt"));
  // The image handle names the new image.
  Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  Handle image(W().CaptureImage(file.get(), src_.c_str(), WIM_FLAG_VERIFY | WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL));
  ASSERT_TRUE(image) << GetLastError();
  PVOID xml = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(W().GetImageInformation(image.get(), &xml, &size));
  EXPECT_EQ(std::wstring(static_cast<wchar_t*>(xml)).find(L"<IMAGE INDEX=\"3\""), 1u);
  LocalFree(xml);
  image.Reset();
  file.Reset();
  EXPECT_EQ(ImageCount(wim_), 3);
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiCapture, BadSourcesFail) {
  Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS);
  EXPECT_EQ(W().CaptureImage(file.get(), (dir_ + L"\\missing").c_str(), 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(W().CaptureImage(file.get(), (src_ + L"\\small.txt").c_str(), 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_EQ(W().CaptureImage(file.get(), nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  file.Reset();
  // Failed captures do not replace anything; nothing existed, nothing is made.
  EXPECT_FALSE(Exists(wim_));
}

TEST_F(WimgapiCapture, ProcessMessageExcludesItemsByFullPath) {
  // A page file in the root and one of the same name in a subfolder.
  ASSERT_TRUE(qtest::WriteFileBytes(src_ + L"\\pagefile.sys", "root page file"));
  ASSERT_TRUE(qtest::WriteFileBytes(src_ + L"\\sub\\pagefile.sys", "sub page file"));

  // The source as the program passes it, with a trailing "\".
  const std::wstring given = src_ + L"\\";
  const size_t rootLen = src_.size();
  Recorder rec;
  rec.handler = [&](DWORD msg, WPARAM wparam, LPARAM lparam) -> DWORD {
    if (msg == WIM_MSG_PROCESS) {
      std::wstring rel = reinterpret_cast<const wchar_t*>(wparam) + rootLen;
      if (rel == L"\\pagefile.sys" || rel == L"\\sub\\deeper") *reinterpret_cast<BOOL*>(lparam) = FALSE;
    }
    return WIM_MSG_SUCCESS;
  };
  Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_XPRESS);
  EXPECT_NE(W().RegisterMessageCallback(file.get(), RecordingProc(), &rec), INVALID_CALLBACK_VALUE);
  Handle image(W().CaptureImage(file.get(), given.c_str(), 0));
  ASSERT_TRUE(image) << GetLastError();
  image.Reset();
  file.Reset();

  std::vector<std::string> files = DirList(wim_, 1);
  EXPECT_FALSE(Has(files, "/pagefile.sys"));
  EXPECT_TRUE(Has(files, "/sub/pagefile.sys"));
  EXPECT_FALSE(Has(files, "/sub/deeper"));
  EXPECT_FALSE(Has(files, "/sub/deeper/repeat.txt"));   // the whole subtree
  EXPECT_TRUE(Has(files, "/sub/big.bin"));

  // Every item once, with its full Windows path; the excluded folder's
  // content is never offered.
  std::vector<std::wstring> processed = rec.Paths(WIM_MSG_PROCESS);
  for (const auto& p : processed) EXPECT_EQ(p.compare(0, rootLen + 1, src_ + L"\\"), 0) << qtest::Utf8(p);
  auto count = [&](const std::wstring& p) { return std::count(processed.begin(), processed.end(), p); };
  EXPECT_EQ(count(src_ + L"\\pagefile.sys"), 1);
  EXPECT_EQ(count(src_ + L"\\sub\\pagefile.sys"), 1);
  EXPECT_EQ(count(src_ + L"\\sub"), 1);
  EXPECT_EQ(count(src_ + L"\\empty"), 1);
  EXPECT_EQ(count(src_ + L"\\sub\\deeper\\repeat.txt"), 0);
  EXPECT_EQ(count(src_ + L"\\\u4e2d\u6587\u6587\u4ef6.txt"), 1);

  // COMPRESS and ALIGNMENT for each captured file (not folders), with a BOOL.
  std::vector<std::wstring> compress = rec.Paths(WIM_MSG_COMPRESS);
  EXPECT_EQ(compress, rec.Paths(WIM_MSG_ALIGNMENT));
  EXPECT_NE(std::find(compress.begin(), compress.end(), src_ + L"\\sub\\big.bin"), compress.end());
  EXPECT_EQ(std::find(compress.begin(), compress.end(), src_ + L"\\sub"), compress.end());
  EXPECT_EQ(std::find(compress.begin(), compress.end(), src_ + L"\\pagefile.sys"), compress.end());

  // Percentages rise to 100; lParam carries the estimated milliseconds
  // left, none at the end.
  std::vector<int> pct = rec.Percentages();
  ASSERT_FALSE(pct.empty());
  EXPECT_TRUE(std::is_sorted(pct.begin(), pct.end()));
  EXPECT_EQ(pct.back(), 100);
  for (int p : pct) EXPECT_LE(p, 100);
  for (const auto& m : rec.messages) {
    if (m.msg != WIM_MSG_PROGRESS) continue;
    EXPECT_GE(m.lparam, 0);
    if (m.wparam == 100) EXPECT_EQ(m.lparam, 0);
  }
}

TEST_F(WimgapiCapture, CompressAndAlignmentAnswersAreAcceptedWithoutHarm) {
  Recorder rec;
  rec.handler = [](DWORD msg, WPARAM, LPARAM lparam) -> DWORD {
    if (msg == WIM_MSG_COMPRESS) *reinterpret_cast<BOOL*>(lparam) = FALSE;
    if (msg == WIM_MSG_ALIGNMENT) *reinterpret_cast<BOOL*>(lparam) = TRUE;
    return WIM_MSG_SUCCESS;
  };
  Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0, WIM_COMPRESS_LZX);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  Handle image(W().CaptureImage(file.get(), src_.c_str(), 0));
  ASSERT_TRUE(image);
  image.Reset();
  file.Reset();
  EXPECT_GT(rec.Count(WIM_MSG_COMPRESS), 5u);
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiCapture, AbortedCaptureLeavesTheTargetAsItWas) {
  // A new file: nothing appears.
  {
    Recorder rec;
    rec.handler = [](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_PROCESS ? WIM_MSG_ABORT_IMAGE : 0u; };
    Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS);
    W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
    SetLastError(0);
    EXPECT_EQ(W().CaptureImage(file.get(), src_.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
    EXPECT_EQ(rec.Count(WIM_MSG_PROCESS), 1u);   // nothing after the abort
  }
  EXPECT_FALSE(Exists(wim_));

  // An existing file replaced with CREATE_ALWAYS: kept.
  ASSERT_EQ(Capture(src_, wim_), 1);
  const std::string one = qtest::ReadFileBytes(wim_);
  {
    Recorder rec;
    rec.handler = [](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_PROCESS ? WIM_MSG_ABORT_IMAGE : 0u; };
    Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS);
    W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
    EXPECT_EQ(W().CaptureImage(file.get(), src_.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  }
  EXPECT_EQ(qtest::ReadFileBytes(wim_), one);

  // An append aborted while the data are written (first percentage):
  // the file is byte for byte what it was, and the first image intact.
  for (int i = 0; i < 20; ++i) MakeRandomFile(src_ + L"\\rnd" + std::to_wstring(i) + L".bin", 200000, i + 1);
  {
    Recorder rec;
    rec.handler = [](DWORD msg, WPARAM w, LPARAM) { return msg == WIM_MSG_PROGRESS && w > 0 ? WIM_MSG_ABORT_IMAGE : 0u; };
    Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_OPEN_ALWAYS);
    W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
    EXPECT_EQ(W().CaptureImage(file.get(), src_.c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
    EXPECT_GT(rec.Count(WIM_MSG_PROCESS), 20u);   // the scan was complete
    WIM_INFO info;
    ASSERT_TRUE(W().GetAttributes(file.get(), &info, sizeof info));
    EXPECT_EQ(info.ImageCount, 1u);
  }
  EXPECT_EQ(qtest::ReadFileBytes(wim_), one);
  Imagex("verify " + Q(wim_));
  // And the file still takes the append afterwards.
  ASSERT_EQ(Capture(src_, wim_, WIM_COMPRESS_XPRESS, true), 2);
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiCapture, UnreadableFilesAreReportedAndCanBeSkipped) {
  // A file the capture cannot open (no read permission on the Linux side).
  const std::wstring locked = src_ + L"\\locked.txt";
  ASSERT_TRUE(qtest::WriteFileBytes(locked, "secret"));
  qtest::RunUnix("chmod 000 " + Q(locked));
  if (qtest::RunUnix("cat " + Q(locked)).exitCode == 0) GTEST_SKIP() << "running as a user that reads everything";

  Recorder rec;
  rec.handler = [](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_ERROR ? WIM_MSG_SKIP_ERROR : 0u; };
  Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  Handle image(W().CaptureImage(file.get(), src_.c_str(), 0));
  EXPECT_TRUE(image) << GetLastError();
  EXPECT_EQ(rec.Paths(WIM_MSG_ERROR), std::vector<std::wstring>{locked});
  qtest::RunUnix("chmod 644 " + Q(locked));
}

class WimgapiApply : public WimgapiCapture {
 protected:
  void SetUp() override {
    WimgapiCapture::SetUp();
    ASSERT_EQ(Capture(src_, wim_, WIM_COMPRESS_LZX), 1);
    out_ = dir_ + L"\\out";
  }
  std::wstring out_;
};

TEST_F(WimgapiCapture, ALinuxNameThatIsNotUtf8IsLeftOutAndReported) {
  // A name no Windows program can have: the byte 0xFF.
  ASSERT_EQ(qtest::RunUnix("touch " + Q(src_) + "/bad$(printf '\\377')name.txt").exitCode, 0);
  ASSERT_EQ(qtest::RunUnix("ls " + Q(src_) + " | grep -c name.txt").output, "1\n");
  Recorder rec;
  {
    Handle file = Open(wim_, WIM_GENERIC_WRITE, WIM_CREATE_NEW);
    W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
    SetLastError(1234);
    Handle image(W().CaptureImage(file.get(), src_.c_str(), 0));
    ASSERT_TRUE(image) << GetLastError();
    EXPECT_EQ(GetLastError(), 0u);   // no stale error after success
  }
  ASSERT_EQ(rec.Count(WIM_MSG_ERROR), 1u);
  for (const Message& m : rec.messages) {
    if (m.msg != WIM_MSG_ERROR) continue;
    EXPECT_EQ(m.lparam, static_cast<LPARAM>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_NE(m.path.find(L"name.txt"), std::wstring::npos) << qtest::Utf8(m.path);
  }
  std::vector<std::string> files = DirList(wim_, 1);
  EXPECT_TRUE(Has(files, "/small.txt"));
  for (const std::string& f : files) EXPECT_EQ(f.find("name.txt"), std::string::npos) << f;
  Imagex("verify " + Q(wim_));

  // Without any callback the capture succeeds the same way.
  W().UnregisterMessageCallback(nullptr, nullptr);
  const std::wstring quiet = dir_ + L"\\quiet.wim";
  EXPECT_EQ(Capture(src_, quiet), 1);
  EXPECT_EQ(DirList(quiet, 1), files);
}

TEST_F(WimgapiCapture, AFileLockedByAnotherProgramIsASharingViolation) {
  ASSERT_EQ(Capture(src_, wim_), 1);
  const std::string before = qtest::ReadFileBytes(wim_);
  // Another program (not using this library) holds wimlib's own lock on
  // the file while it changes it.
  // It holds the lock until the test has done its checks and writes
  // `release` (or, should the test never get that far, for two minutes).
  const std::wstring held = dir_ + L"\\held", release = dir_ + L"\\release";
  struct Release {
    std::wstring path;
    ~Release() { qtest::WriteFileBytes(path, ""); }
  } releaseAtEnd{release};
  const std::string holder = "touch " + Q(held) + "; i=0; while [ ! -e " + Q(release) +
                             " ] && [ $i -lt 2400 ]; do sleep 0.05; i=$((i+1)); done";
  qtest::RunUnix("(flock -x " + Q(wim_) + " sh -c " + qtest::ShQuote(holder) + " >/dev/null 2>&1 &)");
  ASSERT_TRUE(WaitForFile(held));
  {
    Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    SetLastError(0);
    EXPECT_EQ(W().CaptureImage(file.get(), (src_ + L"\\sub").c_str(), 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_EQ(qtest::ReadFileBytes(wim_), before);
  qtest::WriteFileBytes(release, "");
  qtest::RunUnix("flock -x " + Q(wim_) + " true");   // until the other one is done
}

TEST_F(WimgapiCapture, CallbacksThatCannotBeCopiedFailTheCallInsteadOfBeingSkipped) {
  Recorder rec;
  rec.handler = [](DWORD, WPARAM, LPARAM) { return WIM_MSG_ABORT_IMAGE; };
  ASSERT_EQ(Capture(src_, wim_), 1);
  Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  SetLastError(1234);
  Handle image(W().LoadImage(file.get(), 1));
  ASSERT_TRUE(image);
  EXPECT_EQ(GetLastError(), 0u);   // no stale error after success
  SetEnvironmentVariableW(L"WIMGAPI_WINE_FAIL", L"callback-snapshot");
  SetLastError(0);
  EXPECT_EQ(W().CaptureImage(file.get(), src_.c_str(), 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_FALSE(W().ApplyImage(image.get(), (dir_ + L"\\out").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  SetEnvironmentVariableW(L"WIMGAPI_WINE_FAIL", nullptr);
  EXPECT_TRUE(rec.messages.empty());
  EXPECT_EQ(ImageCount(wim_), 1);
  // With the memory there, the callback is asked (and aborts).
  EXPECT_FALSE(W().ApplyImage(image.get(), (dir_ + L"\\out").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
  EXPECT_FALSE(rec.messages.empty());
}

TEST_F(WimgapiApply, AppliedFilesEqualTheSourceAndEveryItemIsReported) {
  Recorder rec;
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  Handle image(W().LoadImage(file.get(), 1));
  ASSERT_TRUE(image);
  // The program passes target folders with a trailing "\" too.
  ASSERT_TRUE(W().ApplyImage(image.get(), (out_ + L"\\").c_str(), WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL))
      << GetLastError();

  for (const wchar_t* rel : {L"\\small.txt", L"\\zero.bin", L"\\sub\\big.bin", L"\\sub\\deeper\\repeat.txt",
                             L"\\\u4e2d\u6587\u6587\u4ef6.txt", L"\\sub\\\U0001F600.txt"})
    EXPECT_EQ(qtest::ReadFileBytes(out_ + rel), qtest::ReadFileBytes(src_ + rel)) << qtest::Utf8(rel);
  EXPECT_TRUE(GetFileAttributesW((out_ + L"\\empty").c_str()) & FILE_ATTRIBUTE_DIRECTORY);

  // WIM_MSG_PROCESS once for each file and folder, under the target path.
  std::vector<std::wstring> processed = rec.Paths(WIM_MSG_PROCESS);
  std::sort(processed.begin(), processed.end());
  std::vector<std::wstring> expected;
  for (const wchar_t* rel : {L"\\small.txt", L"\\zero.bin", L"\\sub", L"\\sub\\big.bin", L"\\sub\\deeper",
                             L"\\sub\\deeper\\repeat.txt", L"\\empty", L"\\\u4e2d\u6587\u6587\u4ef6.txt",
                             L"\\sub\\\U0001F600.txt"})
    expected.push_back(out_ + rel);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(processed, expected);
  std::vector<int> pct = rec.Percentages();
  ASSERT_FALSE(pct.empty());
  EXPECT_TRUE(std::is_sorted(pct.begin(), pct.end()));
  EXPECT_EQ(pct.back(), 100);

  // Applying again over the same folder works, also verifying.
  EXPECT_TRUE(W().ApplyImage(image.get(), out_.c_str(), WIM_FLAG_VERIFY)) << GetLastError();
  EXPECT_EQ(qtest::ReadFileBytes(out_ + L"\\sub\\big.bin"), qtest::ReadFileBytes(src_ + L"\\sub\\big.bin"));
}

TEST_F(WimgapiApply, ProcessMessagesArriveWhileTheDataAreWritten) {
  // Many files with data: the item reports are spread over the percentages.
  for (int i = 0; i < 40; ++i) MakeRandomFile(src_ + L"\\r" + std::to_wstring(i) + L".bin", 100000, i + 7);
  ASSERT_EQ(Capture(src_, wim_, WIM_COMPRESS_XPRESS), 1);
  Recorder rec;
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  Handle image(W().LoadImage(file.get(), 1));
  ASSERT_TRUE(W().ApplyImage(image.get(), out_.c_str(), 0));
  size_t before50 = 0, process = 0;
  int last = 0;
  for (const auto& m : rec.messages) {
    if (m.msg == WIM_MSG_PROGRESS) last = static_cast<int>(m.wparam);
    if (m.msg == WIM_MSG_PROCESS) {
      ++process;
      before50 += last < 50;
    }
  }
  EXPECT_GT(before50, 5u);
  EXPECT_LT(before50, process - 5);
}

TEST_F(WimgapiApply, AbortStopsTheApply) {
  for (int i = 0; i < 10; ++i) MakeRandomFile(src_ + L"\\r" + std::to_wstring(i) + L".bin", 100000, i + 3);
  ASSERT_EQ(Capture(src_, wim_, WIM_COMPRESS_XPRESS), 1);
  Recorder rec;
  int seen = 0;
  rec.handler = [&](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_PROCESS && ++seen == 3 ? WIM_MSG_ABORT_IMAGE : 0u; };
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  Handle image(W().LoadImage(file.get(), 1));
  SetLastError(0);
  EXPECT_FALSE(W().ApplyImage(image.get(), out_.c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_EQ(rec.Count(WIM_MSG_PROCESS), 3u);
  // Not every file was written.
  int present = 0;
  for (int i = 0; i < 10; ++i) present += qtest::ReadFileBytes(out_ + L"\\r" + std::to_wstring(i) + L".bin").size() == 100000;
  EXPECT_LT(present, 10);
}

TEST_F(WimgapiApply, NoApplyOnlyReportsAndBadTargetsFail) {
  Recorder rec;
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  W().RegisterMessageCallback(file.get(), RecordingProc(), &rec);
  Handle image(W().LoadImage(file.get(), 1));
  EXPECT_TRUE(W().ApplyImage(image.get(), out_.c_str(), WIM_FLAG_NO_APPLY));
  EXPECT_EQ(rec.Count(WIM_MSG_PROCESS), 9u);
  EXPECT_FALSE(Exists(out_));

  EXPECT_FALSE(W().ApplyImage(image.get(), (dir_ + L"\\no\\such\\folder").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(W().ApplyImage(image.get(), nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(W().ApplyImage(image.get(), (src_ + L"\\small.txt").c_str(), 0));
}

TEST_F(WimgapiApply, CallbacksAreRegisteredPerFileOrForEveryFile) {
  Recorder onFile, global, other;
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  Handle unrelated = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  EXPECT_EQ(W().RegisterMessageCallback(file.get(), RecordingProc(), &onFile), 0u);
  EXPECT_EQ(W().RegisterMessageCallback(nullptr, RecordingProc(), &global), 0u);
  EXPECT_EQ(W().RegisterMessageCallback(unrelated.get(), RecordingProc(), &other), 0u);
  EXPECT_EQ(W().RegisterMessageCallback(file.get(), nullptr, nullptr), INVALID_CALLBACK_VALUE);
  EXPECT_EQ(W().RegisterMessageCallback(reinterpret_cast<HANDLE>(77), RecordingProc(), &other),
            INVALID_CALLBACK_VALUE);

  Handle image(W().LoadImage(file.get(), 1));
  ASSERT_TRUE(W().ApplyImage(image.get(), out_.c_str(), 0));
  EXPECT_EQ(onFile.Count(WIM_MSG_PROCESS), 9u);
  EXPECT_EQ(global.Count(WIM_MSG_PROCESS), 9u);
  EXPECT_EQ(other.Count(WIM_MSG_PROCESS), 0u);

  // A null handle unregisters the callback everywhere, as the program does.
  EXPECT_TRUE(W().UnregisterMessageCallback(nullptr, RecordingProc()));
  EXPECT_FALSE(W().UnregisterMessageCallback(nullptr, RecordingProc()));
  onFile.messages.clear();
  global.messages.clear();
  ASSERT_TRUE(W().ApplyImage(image.get(), out_.c_str(), 0));
  EXPECT_TRUE(onFile.messages.empty());
  EXPECT_TRUE(global.messages.empty());
}

}  // namespace
