// The maintenance page in the advanced host, and its rebuild: a file with
// a deleted image shrinks to what wimlib-imagex optimize makes of it, WIM →
// ESD gives a solid LZMS file and ESD → WIM a plain LZX one, on both back
// ends, with every image's properties and the boot index kept; and what is
// refused before anything is written.
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/wimgapi_engine.h"
#include "maintain_fixture.h"
#include "pages/page_apply.h"

using namespace qtest;

namespace {
const int kRadios[4] = {IDC_ADVANCED_SPLIT, IDC_ADVANCED_MERGE, IDC_ADVANCED_DELETE, IDC_ADVANCED_MAINTAIN};
bool Checked(HWND host, int id) { return IsDlgButtonChecked(host, id) == BST_CHECKED; }

class RebuildTest : public MaintainTest, public ::testing::WithParamInterface<BackendKind> {};
}  // namespace

TEST_F(MaintainTest, FourthChildOfTheHostTakesTheApplyPagesJumpWithItsFile) {
  ShowAdvancedTab();
  EXPECT_EQ(WindowText(GetDlgItem(hostWnd(), IDC_ADVANCED_MAINTAIN)), L"维护 WIM 文件");
  ClickRadio(IDC_ADVANCED_MAINTAIN);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(maintainWnd()); }, 20000));
  for (int id : kRadios) EXPECT_EQ(Checked(hostWnd(), id), id == IDC_ADVANCED_MAINTAIN) << id;
  EXPECT_FALSE(IsWindowVisible(splitWnd()));
  EXPECT_FALSE(IsWindowVisible(mergeWnd()));
  EXPECT_FALSE(IsWindowVisible(deleteWnd()));
  ClickRadio(IDC_ADVANCED_SPLIT);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(splitWnd()) && !IsWindowVisible(maintainWnd()); }, 20000));

  // The apply page's "跳转到" → "维护 WIM 文件" brings the page forward with its file.
  std::wstring wim = MakeWim(L"jump.wim", 1);
  HWND apply = dialog_->applyPage().hwnd();
  OnUiThread([&] { dialog_->applyPage().OpenWimFile(wim); });
  SendMessageW(apply, WM_COMMAND, ID_JUMP_MAINTAIN, 0);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(maintainWnd()); }, 20000));
  EXPECT_TRUE(Checked(hostWnd(), IDC_ADVANCED_MAINTAIN));
  EXPECT_FALSE(Checked(hostWnd(), IDC_ADVANCED_SPLIT));
  EXPECT_EQ(Text(maintainWnd(), IDC_MAINTAIN_FILE), wim);
}

TEST_P(RebuildTest, AFileWithADeletedImageShrinksAsOptimizeWouldAndKeepsEveryProperty) {
  ShowMaintainPage(GetParam());
  std::wstring wim = MakeWimWithDeletedImage(L"deleted.wim");
  std::wstring reference = dir_ + L"\\reference.wim";
  ASSERT_TRUE(CopyFileW(wim.c_str(), reference.c_str(), FALSE));
  UnixResult optimize = RunUnix("wimlib-imagex optimize " + ShQuote(UnixPath(reference)));
  ASSERT_EQ(optimize.exitCode, 0) << optimize.output;
  const uint64_t before = FileSize(wim);
  const uint64_t optimized = FileSize(reference);
  ASSERT_LT(optimized * 10, before * 9) << "the deleted image's data must be worth reclaiming";
  const std::string xmlBefore = ImageXml(wim);

  SetFile(wim);
  EXPECT_EQ(RunJob(IDC_MAINTAIN_REBUILD), L"操作成功完成!");
  const uint64_t after = FileSize(wim);
  EXPECT_LE(after, optimized + optimized / 100) << before << " -> " << after << ", optimize: " << optimized;
  EXPECT_GE(after + optimized / 100, optimized) << before << " -> " << after << ", optimize: " << optimized;
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  EXPECT_EQ(ImageXml(wim), xmlBefore);
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "2");
  EXPECT_EQ(InfoField(wim, 0, "Compression"), InfoField(reference, 0, "Compression"));
  EXPECT_TRUE(SameTrees(wim, reference));
  // The page tells the sizes before and after.
  std::wstring status = Status();
  EXPECT_NE(status.find(wim), std::wstring::npos) << Utf8(status);
  EXPECT_NE(status.find(L"→"), std::wstring::npos) << Utf8(status);
  // Nothing is left beside the file.
  for (const std::wstring& name : NamesIn(dir_))
    EXPECT_TRUE(name == L"deleted.wim" || name == L"reference.wim" || name == L"Quarry.ini") << Utf8(name);
}

TEST_P(RebuildTest, WimToEsdIsSolidLzmsAndEsdToWimIsPlainLzxWithThePropertiesKept) {
  ShowMaintainPage(GetParam());
  std::wstring wim = MakeWimWithDeletedImage(L"convert.wim");
  std::wstring reference = dir_ + L"\\reference.wim";
  ASSERT_TRUE(CopyFileW(wim.c_str(), reference.c_str(), FALSE));
  const std::string xmlBefore = ImageXml(wim);
  SetFile(wim);

  EXPECT_EQ(RunJob(IDC_MAINTAIN_TO_ESD), L"操作成功完成!");
  EXPECT_TRUE(FileDataIsSolid(wim)) << Info(wim, "--blobs");
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "LZMS");
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  EXPECT_EQ(ImageXml(wim), xmlBefore);
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "2");

  EXPECT_EQ(RunJob(IDC_MAINTAIN_TO_WIM), L"操作成功完成!");
  EXPECT_FALSE(FileDataIsSolid(wim)) << Info(wim, "--blobs");
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "LZX");
  EXPECT_EQ(InfoField(wim, 0, "Chunk Size"), "32768 bytes");  // what every WIMGAPI reads
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  EXPECT_EQ(ImageXml(wim), xmlBefore);
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "2");
  EXPECT_TRUE(SameTrees(wim, reference));

  // An ESD written elsewhere (128 KiB chunks in its header) becomes an LZX
  // file of the chunk size every WIMGAPI reads.
  std::wstring esd = dir_ + L"\\other.esd";
  ASSERT_EQ(RunUnix("wimlib-imagex export " + ShQuote(UnixPath(reference)) + " all " + ShQuote(UnixPath(esd)) +
                    " --solid").exitCode, 0);
  SetFile(esd);
  EXPECT_EQ(RunJob(IDC_MAINTAIN_TO_WIM), L"操作成功完成!");
  EXPECT_EQ(InfoField(esd, 0, "Compression"), "LZX");
  EXPECT_EQ(InfoField(esd, 0, "Chunk Size"), "32768 bytes");
  EXPECT_TRUE(SameTrees(esd, reference));
}

TEST_P(RebuildTest, IntegrityTableIsAddedAndRemovedAsChosen) {
  ShowMaintainPage(GetParam());
  std::wstring wim = MakeWim(L"integrity.wim", 2);
  SetFile(wim);
  HWND integrity = GetDlgItem(maintainWnd(), IDC_MAINTAIN_INTEGRITY);
  SendMessageW(integrity, CB_SETCURSEL, 1, 0);  // 添加
  EXPECT_EQ(RunJob(IDC_MAINTAIN_REBUILD), L"操作成功完成!");
  EXPECT_TRUE(HasIntegrityTable(wim));
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  SendMessageW(integrity, CB_SETCURSEL, 2, 0);  // 移除
  EXPECT_EQ(RunJob(IDC_MAINTAIN_REBUILD), L"操作成功完成!");
  EXPECT_FALSE(HasIntegrityTable(wim));
  EXPECT_EQ(ImageCount(wim), 2);
}

INSTANTIATE_TEST_SUITE_P(BothBackends, RebuildTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });

TEST_F(MaintainTest, SplitPartsReadOnlyFilesAndARunningQueueAreRefusedAndNothingChanges) {
  ShowMaintainPage(kBackendWimlib);
  std::wstring whole = MakeNoiseWim(L"whole.wim", 3, 300 * 1024);
  std::wstring part = dir_ + L"\\part.wim";
  ASSERT_EQ(RunUnix("wimlib-imagex split " + ShQuote(UnixPath(whole)) + " " + ShQuote(UnixPath(part)) + " 0.4").exitCode,
            0);
  std::string partBytes = ReadFileBytes(part);
  SetFile(part);
  Click(maintainWnd(), IDC_MAINTAIN_REBUILD);
  EXPECT_TRUE(WaitForMessage(L"分卷 WIM 文件的一部分"));
  EXPECT_TRUE(ReadFileBytes(part) == partBytes);

  ClearMessages();
  std::string wholeBytes = ReadFileBytes(whole);
  ASSERT_TRUE(SetFileAttributesW(whole.c_str(), FILE_ATTRIBUTE_READONLY));
  SetFile(whole);
  Click(maintainWnd(), IDC_MAINTAIN_TO_ESD);
  EXPECT_TRUE(WaitForMessage(L"只读文件"));
  SetFileAttributesW(whole.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(ReadFileBytes(whole) == wholeBytes);

  ClearMessages();
  std::unique_ptr<HeldOperation> held = HoldRunner(true);
  Click(maintainWnd(), IDC_MAINTAIN_TO_ESD);
  EXPECT_TRUE(WaitForMessage(L"任务队列"));
  EndHeld(held);
  EXPECT_TRUE(ReadFileBytes(whole) == wholeBytes);
  EXPECT_FALSE(FileDataIsSolid(whole));
}

TEST_F(MaintainTest, AFileWithAMountedImageIsNotRebuilt) {
  if (!app_->backends.WimgapiAvailable() || !app_->backends.wimgapi.GetMountedImages)
    GTEST_SKIP() << "no WIMGAPI library in this prefix";
  std::wstring wim = MakeWim(L"mounted.wim", 2);
  std::wstring folder = dir_ + L"\\mnt";
  ASSERT_TRUE(MakeDirs(folder));
  SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1");
  EngineResult mount = WimgapiEngine(app_->backends, app_->Choice(kBackendWimgapi), OperationContext())
                           .MountImage(wim, folder, 1, false, false, false);
  SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr);
  ASSERT_EQ(mount, 0);
  std::string bytes = ReadFileBytes(wim);
  ShowMaintainPage(kBackendWimlib);
  SetFile(wim);
  Click(maintainWnd(), IDC_MAINTAIN_TO_ESD);
  EXPECT_TRUE(WaitForMessage(L"的映像已挂载于"));
  // The engine refuses it as well when asked directly.
  RebuildRequest request{wim, 3, IntegrityChoice::kKeep};
  EXPECT_EQ(MakeEngine(app_->backends, app_->Choice(kBackendWimgapi))->Rebuild(request), kResultFailed);
  EXPECT_EQ(MakeEngine(app_->backends, app_->Choice(kBackendWimlib))->Rebuild(request), kResultFailed);
  app_->backends.wimgapi.UnmountImage(folder.c_str(), nullptr, 0, FALSE);
  EXPECT_TRUE(ReadFileBytes(wim) == bytes);
}
