// Writes onto a file one of whose images is mounted: every page refuses
// before it asks anything and names the mount folder, whichever name the
// file is reached by (a hard link here), and the engine itself refuses the
// same writes when they come from elsewhere (a queue or shell task). A file
// whose images could not all be listed is never edited.
#include <gtest/gtest.h>

#include "advanced_fixture.h"
#include "engine/engine.h"
#include "engine/failure_reason.h"
#include "engine/wimgapi_engine.h"
#include "resources/ids_capture_apply.h"
#include "resources/resource.h"

using namespace qtest;

namespace {

class WriteGuardTest : public AdvancedTest {
 protected:
  void SetUp() override {
    AdvancedTest::SetUp();
    if (!app_->backends.WimgapiAvailable() || !app_->backends.wimgapi.GetMountedImages)
      GTEST_SKIP() << "no WIMGAPI library in this prefix";
    mounted_ = MakeWim(L"mounted.wim", 2);
    other_ = MakeWim(L"other.wim", 2);
    folder_ = dir_ + L"\\mnt";
    ASSERT_TRUE(MakeDirs(folder_));
    // An extracted copy: the same record as a FUSE mount, on any machine.
    SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1");
    EngineResult mount = WimgapiEngine(app_->backends, app_->Choice(kBackendWimgapi), OperationContext())
                             .MountImage(mounted_, folder_, 1, false, false, false);
    SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr);
    ASSERT_EQ(mount, 0);
    isMounted_ = true;
    link_ = dir_ + L"\\link.wim";
    ASSERT_EQ(RunUnix("ln " + ShQuote(UnixPath(mounted_)) + " " + ShQuote(UnixPath(link_))).exitCode, 0);
    mountedBytes_ = ReadFileBytes(mounted_);
    otherBytes_ = ReadFileBytes(other_);
  }
  void TearDown() override {
    if (isMounted_ && app_->backends.wimgapi.UnmountImage)
      app_->backends.wimgapi.UnmountImage(folder_.c_str(), nullptr, 0, FALSE);
    AdvancedTest::TearDown();
  }
  void Settle() { SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 20000, nullptr); }
  // The one message shown since the last clear: the refusal naming the
  // file and the mount folder, and no question before it.
  void ExpectRefusedOnly(const std::wstring& file) {
    ASSERT_TRUE(WaitForMessage(L"的映像已挂载于"));
    Settle();
    std::vector<ShownMessage> shown = Messages();
    ASSERT_EQ(shown.size(), 1u) << Utf8(shown.front().text);
    EXPECT_NE(shown[0].text.find(file), std::wstring::npos) << Utf8(shown[0].text);
    EXPECT_NE(shown[0].text.find(folder_), std::wstring::npos) << Utf8(shown[0].text);
    EXPECT_NE((shown[0].style & 0xF), static_cast<UINT>(MB_YESNO));
  }
  void ExpectFilesAsTheyWere() {
    EXPECT_TRUE(ReadFileBytes(mounted_) == mountedBytes_) << "changed";
    EXPECT_TRUE(ReadFileBytes(other_) == otherBytes_) << "changed";
    EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(mounted_))).exitCode, 0);
  }
  HWND DeleteList() { return GetDlgItem(deleteWnd(), IDC_DELETE_LIST); }
  // Opens `wim` on the delete page and takes its second image off the list.
  void OpenWithOneImageRemoved(const std::wstring& wim) {
    OpenOnDeletePage(wim);
    ASSERT_EQ(Rows(DeleteList()), 2);
    SelectRows(DeleteList(), {1});
    SendMessageW(deleteWnd(), WM_COMMAND, ID_DELETE_IMAGE, 0);
    ASSERT_EQ(Rows(DeleteList()), 1);
  }

  std::wstring mounted_, other_, link_, folder_;
  std::string mountedBytes_, otherBytes_;
  bool isMounted_ = false;
};

TEST_F(WriteGuardTest, DeletePageRefusesToSaveIntoOrOverAMountedFileBeforeAsking) {
  for (BackendKind kind : {kBackendWimgapi, kBackendWimlib}) {
    SCOPED_TRACE(kind);
    UseBackend(kind);
    OpenWithOneImageRemoved(mounted_);
    ClearMessages();
    PostClick(deleteWnd(), IDC_DELETE_SAVE);
    ExpectRefusedOnly(mounted_);
    EXPECT_EQ(Rows(DeleteList()), 1) << "the pending deletion stays in the list";
    ExpectFilesAsTheyWere();

    // Another file saved as the mounted one, reached through another name.
    OpenWithOneImageRemoved(other_);
    ClearMessages();
    QueueFileAnswer({link_});
    PostClick(deleteWnd(), IDC_DELETE_SAVE_AS);
    ExpectRefusedOnly(link_);
    ExpectFilesAsTheyWere();
  }
}

TEST_F(WriteGuardTest, SplitMergeAndCapturePagesRefuseAMountedTargetBeforeAsking) {
  ShowAdvancedTab();
  HWND split = splitWnd();
  Type(split, IDC_SPLIT_SOURCE, other_);
  Type(split, IDC_SPLIT_TARGET, link_);
  ClearMessages();
  PostClick(split, IDC_SPLIT_START);
  ExpectRefusedOnly(link_);
  EXPECT_FALSE(IsWindowVisible(progressWnd()));

  ClickRadio(IDC_ADVANCED_MERGE);
  QueueFileAnswer({other_});
  Click(mergeWnd(), IDC_MERGE_ADD);
  HWND mergeList = GetDlgItem(mergeWnd(), IDC_MERGE_LIST);
  ASSERT_TRUE(WaitUntil([&] { return Rows(mergeList) == 2 && !host().mergePage().IsLoading(); }, 20000));
  ClearMessages();
  QueueFileAnswer({mounted_});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  ExpectRefusedOnly(mounted_);
  EXPECT_EQ(WaitForDialog(L"捕获选项", 0), nullptr);
  ExpectFilesAsTheyWere();

  for (int button : {IDC_CAP_CREATE, IDC_CAP_APPEND}) {
    ClickWindow(dialog_->Tab(0).hwnd());
    HWND capture = dialog_->capturePage().hwnd();
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(capture); }, 20000));
    Type(capture, IDC_CAP_SOURCE, SourceTree());
    Type(capture, IDC_CAP_WIM, link_);
    ClearMessages();
    PostClick(capture, button);
    ExpectRefusedOnly(link_);
    EXPECT_EQ(WaitForDialog(L"捕获选项", 0), nullptr);
    ExpectFilesAsTheyWere();
  }
}

// What a queue or shell task hands the engine directly: refused with a
// reason that names the mount folder, on both back ends.
TEST_F(WriteGuardTest, EngineRefusesEveryWriteOfAMountedFileWithAReason) {
  // A task of the queue: its failures are noted, never shown.
  OperationContext quiet;
  quiet.host = app_.get();
  quiet.quietErrors = true;
  for (BackendKind kind : {kBackendWimgapi, kBackendWimlib}) {
    SCOPED_TRACE(kind);
    auto engine = [&] { return MakeEngine(app_->backends, app_->Choice(kind), quiet); };
    auto expectRefused = [&](EngineResult result) {
      EXPECT_EQ(result, kResultFailed);
      EXPECT_NE(FailureText().find(folder_), std::wstring::npos) << Utf8(FailureText());
      ExpectFilesAsTheyWere();
      ClearFailure();
    };
    ClearFailure();
    CaptureRequest capture;
    capture.source = SourceTree();
    capture.wimPath = link_;
    expectRefused(engine()->Capture(capture));
    capture.append = true;
    expectRefused(engine()->Capture(capture));
    ExportRequest exportRequest;
    exportRequest.source = other_;
    exportRequest.destination = mounted_;
    expectRefused(engine()->Export(exportRequest));
    SplitRequest split;
    split.source = other_;
    split.firstPart = link_;
    split.partSize = 1 << 20;
    expectRefused(engine()->Split(split));
    DeleteRequest deletion;
    deletion.wimPath = link_;
    deletion.imageCount = 2;
    deletion.rows.push_back(ImageRow{1, ImageInfo(), false});
    expectRefused(engine()->Delete(deletion));
  }
  EXPECT_TRUE(Messages().empty()) << Utf8(Messages().front().text);
}

// A header that counts more images than the list holds: the rows cannot
// stand for the whole file, so a save would delete the images left out.
TEST_F(AdvancedTest, DeletePageRefusesToEditAFileWhoseImagesAreNotAllListed) {
  std::wstring wim = MakeWim(L"many.wim", 2);
  std::string bytes = ReadFileBytes(wim);
  ASSERT_GT(bytes.size(), 48u);
  const uint32_t count = 10001;
  memcpy(&bytes[44], &count, 4);
  ASSERT_TRUE(WriteFileBytes(wim, bytes));
  for (BackendKind kind : {kBackendWimgapi, kBackendWimlib}) {
    SCOPED_TRACE(kind);
    UseBackend(kind);
    OpenOnDeletePage(wim);
    HWND list = GetDlgItem(deleteWnd(), IDC_DELETE_LIST);
    ASSERT_EQ(Rows(list), 2);
    SelectRows(list, {1});
    SendMessageW(deleteWnd(), WM_COMMAND, ID_DELETE_IMAGE, 0);
    for (int button : {IDC_DELETE_SAVE, IDC_DELETE_SAVE_AS}) {
      ClearMessages();
      const int dialogs = FileDialogsShown();
      PostClick(deleteWnd(), button);
      ASSERT_TRUE(WaitForMessage(L"只能列出其中 2 个"));
      SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 20000, nullptr);
      std::vector<ShownMessage> shown = Messages();
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_NE(shown[0].text.find(L"10001"), std::wstring::npos);
      EXPECT_EQ(FileDialogsShown(), dialogs) << "nothing asked";
      EXPECT_TRUE(ReadFileBytes(wim) == bytes) << "changed";
    }
  }
}

}  // namespace
