// The apply page: image lists, choosing an image, applying at once on both
// back ends (split sets included), and mounting writable through WIMGAPI.
#include "capture_apply_fixture.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

class ApplyPage : public QuarryPages {
 protected:
  // A set split by wimlib-imagex into parts named `first` and on (part2.wim,
  // or set2.swm for a set named set.swm), applied from its first part by
  // either back end, gives back the whole tree.
  void ApplySplitSet(int backend, const std::wstring& firstName) {
    const std::wstring dir = TempDir();
    std::wstring source = dir + L"\\big";
    MakeSampleTree(source);
    // Several blobs of 800 KB, so that 1 MB parts give a set of several files.
    for (int f = 0; f < 4; f++) {
      std::string noise(800000, '\0');
      for (size_t i = 0; i < noise.size(); ++i) noise[i] = char(((i + f * 7919) * 2654435761u) >> 11);
      WriteFileBytes(source + L"\\noise" + std::to_wstring(f) + L".bin", noise);
    }
    std::wstring whole = dir + L"\\whole.wim", part = dir + L"\\" + firstName;
    UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source)) + " " + ShQuote(UnixPath(whole)) +
                           " --compress=none && wimlib-imagex split " + ShQuote(UnixPath(whole)) + " " +
                           ShQuote(UnixPath(part)) + " 1 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const size_t dot = firstName.rfind(L'.');
    const std::wstring second = dir + L"\\" + firstName.substr(0, dot) + L"2" + firstName.substr(dot);
    ASSERT_NE(GetFileAttributesW(second.c_str()), INVALID_FILE_ATTRIBUTES);

    StartQuarry(backend);
    OpenApplyTab();
    SetText(apply(), IDC_APPLY_WIM, part);
    ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1; }));
    std::wstring target = dir + L"\\out";
    ASSERT_TRUE(MakeDirs(target));
    SetText(apply(), IDC_APPLY_TARGET, target);
    Press(apply(), IDC_APPLY_APPLY);
    EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
    EXPECT_EQ(DiffFolders(target, source), "");
  }
  HWND apply() const { return Page(IDD_PAGE_APPLY); }
  HWND list() const { return GetDlgItem(apply(), IDC_APPLY_LIST); }
  void OpenApplyTab() {
    ClickWindow(GetDlgItem(main_, IDC_TAB_APPLY));
    ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_APPLY); }, 20000));
  }
  // Three images, each from its own tree.
  std::wstring MakeThreeImageFile(std::wstring trees[3]) {
    std::wstring wim = TempDir() + L"\\three.wim";
    for (int i = 0; i < 3; i++) {
      trees[i] = TempDir() + L"\\tree" + std::to_wstring(i + 1);
      MakeSampleTree(trees[i]);
      WriteFileBytes(trees[i] + L"\\which.txt", "image " + std::to_string(i + 1));
      std::string verb = i == 0 ? "capture" : "append";
      UnixResult r = RunUnix("wimlib-imagex " + verb + " " + ShQuote(UnixPath(trees[i])) + " " +
                             ShQuote(UnixPath(wim)) + " 'Image " + std::to_string(i + 1) + "' 2>&1");
      EXPECT_EQ(r.exitCode, 0) << r.output;
    }
    return wim;
  }
  // "挂载" of the listed image at `folder`, writable. With wimlib selected,
  // the offer to mount through WIMGAPI is taken first.
  void MountWritable(const std::wstring& wim, const std::wstring& folder, bool wimlibSelected) {
    OpenApplyTab();
    SetText(apply(), IDC_APPLY_WIM, wim);
    ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1; }));
    SetText(apply(), IDC_APPLY_TARGET, folder);
    Press(apply(), IDC_APPLY_MOUNT);
    HWND box = nullptr;
    if (wimlibSelected) {
      box = WaitMessage(L"Wimlib挂载功能无法工作在Windows平台!\n不过您仍然可以使用 Wimgapi API 完成这个操作, 是否要这样做?");
      ASSERT_TRUE(box);
      AnswerDialog(box, IDYES);
    }
    box = WaitMessage(L"是否要以可写方式挂载此镜像?");
    ASSERT_TRUE(box);
    AnswerDialog(box, IDYES);
    ASSERT_EQ(WaitOperationResult(), L"操作成功完成!");
  }
  // Commits the mount at `folder` into image 1 of `wim` and unmounts it.
  static void CommitAndUnmount(const std::wstring& folder, const std::wstring& wim) {
    typedef BOOL(WINAPI * UnmountFn)(PCWSTR, PCWSTR, DWORD, BOOL);
    HMODULE wimgapi = LoadLibraryW(L"wimgapi.dll");
    ASSERT_TRUE(wimgapi);
    auto unmount = reinterpret_cast<UnmountFn>(reinterpret_cast<void*>(GetProcAddress(wimgapi, "WIMUnmountImage")));
    ASSERT_TRUE(unmount);
    ASSERT_TRUE(unmount(folder.c_str(), wim.c_str(), 1, TRUE)) << GetLastError();
  }
};

TEST_F(ApplyPage, AppliesTheChosenImageOfThreeThroughWimgapi) {
  const std::wstring dir = TempDir();
  std::wstring trees[3];
  std::wstring wim = MakeThreeImageFile(trees);
  StartQuarry(0);
  OpenApplyTab();
  EXPECT_FALSE(ItemEnabled(apply(), IDC_APPLY_APPLY));
  SetText(apply(), IDC_APPLY_WIM, wim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 3; }));
  EXPECT_TRUE(ItemEnabled(apply(), IDC_APPLY_APPLY));
  EXPECT_EQ(CellText(list(), 1, 1), L"2");
  EXPECT_EQ(CellText(list(), 1, 5), L"Image 2");
  EXPECT_EQ(RowImage(list(), 0), 1) << "the first image is chosen after a load";
  EXPECT_EQ(RowImage(list(), 1), 2);

  // A click in the first column chooses the row; other columns do not.
  ClickCell(list(), 2, 3);
  ClickCell(list(), 1, 0);
  // Injected clicks can be taken for the start of a drag when Wine delivers
  // the pointer's move late on a loaded machine; a person would click again.
  ASSERT_TRUE(WaitUntil([&] {
    if (RowImage(list(), 1) == 1) return true;
    ClickCell(list(), 1, 0);
    return WaitUntil([&] { return RowImage(list(), 1) == 1; }, 3000);
  }, 60000));
  EXPECT_EQ(RowImage(list(), 0), 2);
  EXPECT_EQ(RowImage(list(), 2), 2);

  // Both paths invalid: the target first, then the WIM path.
  std::wstring noTarget = dir + L"\\no\\such";
  SetText(apply(), IDC_APPLY_TARGET, noTarget);
  Press(apply(), IDC_APPLY_APPLY);
  HWND box = WaitMessage(L"路径无效!\n" + noTarget);
  ASSERT_TRUE(box);
  AnswerDialog(box, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));

  std::wstring target = dir + L"\\目标";
  ASSERT_TRUE(MakeDirs(target));
  SetText(apply(), IDC_APPLY_TARGET, target);
  Press(apply(), IDC_APPLY_APPLY);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  EXPECT_EQ(DiffFolders(target, trees[1]), "");
}

// With "挂载完成后自动弹出挂载镜像列表" on, the mounted-images window comes up
// after a mount whatever its result: after a failed one it shows what is
// still mounted, and the failure has been told in its own box.
TEST_F(ApplyPage, AFailedMountStillPopsTheMountListWhenAskedTo) {
  const std::wstring dir = TempDir();
  std::wstring tree = dir + L"\\tree";
  MakeSampleTree(tree);
  std::wstring wim = dir + L"\\one.wim";
  UnixResult made =
      RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(tree)) + " " + ShQuote(UnixPath(wim)) + " 2>&1");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  // A folder with a file in it cannot take a mount.
  std::wstring busy = dir + L"\\busy";
  ASSERT_TRUE(MakeDirs(busy));
  ASSERT_TRUE(WriteFileBytes(busy + L"\\keep.txt", "kept"));

  StartQuarry(0, "[MISC]\r\nAutoPopMList=1\r\n");
  OpenApplyTab();
  SetText(apply(), IDC_APPLY_WIM, wim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1; }));
  SetText(apply(), IDC_APPLY_TARGET, busy);
  Press(apply(), IDC_APPLY_MOUNT);
  HWND box = WaitMessage(L"是否要以可写方式挂载此镜像?");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDNO);
  HWND mountList = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770")) {
      if (hwnd == main_ || !IsWindowVisible(hwnd)) continue;
      if (WindowText(hwnd).rfind(L"当前挂载的镜像", 0) == 0) mountList = hwnd;
      else AnswerDialog(hwnd, IDOK);  // the box that tells the failure
    }
    return mountList != nullptr;
  }, 120000)) << "the mounted-images window never came up";
  EXPECT_EQ(ReadFileBytes(busy + L"\\keep.txt"), "kept");
}

TEST_F(ApplyPage, AppliesASplitSetThroughWimlib) { ApplySplitSet(1, L"part.wim"); }

// Parts named .swm, as splitting tools name them, are found by both back
// ends.
TEST_F(ApplyPage, AppliesASplitSetOfSwmPartsThroughWimlib) { ApplySplitSet(1, L"set.swm"); }
TEST_F(ApplyPage, AppliesASplitSetOfSwmPartsThroughWimgapi) { ApplySplitSet(0, L"set.SWM"); }

TEST_F(ApplyPage, WritableMountUnderWimlibGoesThroughWimgapiAndKeepsTheCommittedChange) {
  const std::wstring dir = TempDir();
  std::wstring source = dir + L"\\m";
  MakeSampleTree(source);
  std::wstring wim = dir + L"\\mount.wim";
  UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source)) + " " + ShQuote(UnixPath(wim)) + " 2>&1");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::wstring mountDir = dir + L"\\挂载点";
  ASSERT_TRUE(MakeDirs(mountDir));

  StartQuarry(1);
  ASSERT_NO_FATAL_FAILURE(MountWritable(wim, mountDir, true));
  ASSERT_NE(GetFileAttributesW((mountDir + L"\\small.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(WriteFileBytes(mountDir + L"\\added.txt", "added in the mount\n"));
  ASSERT_NO_FATAL_FAILURE(CommitAndUnmount(mountDir, wim));
  UnixResult listing = RunUnix("wimlib-imagex dir " + ShQuote(UnixPath(wim)) + " 1 2>&1");
  EXPECT_NE(listing.output.find("/added.txt"), std::string::npos) << listing.output;
}

}  // namespace

namespace {

// A header whose image count was damaged to 0xFFFFFFFF lists the images the
// file holds, at once, instead of looping over four billion rows.
TEST_F(ApplyPage, ADamagedImageCountListsOnlyTheImagesTheFileHolds) {
  std::wstring trees[3];
  std::wstring wim = MakeThreeImageFile(trees);
  std::string bytes = ReadFileBytes(wim);
  ASSERT_GT(bytes.size(), 48u);
  bytes.replace(44, 4, "\xFF\xFF\xFF\xFF");
  ASSERT_TRUE(WriteFileBytes(wim, bytes));
  StartQuarry(1);
  OpenApplyTab();
  SetText(apply(), IDC_APPLY_WIM, wim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 3; }));
  EXPECT_EQ(CellText(list(), 2, 5), L"Image 3");
}

// A read-write mount made on the apply page, one file changed, committed:
// every file that was not touched keeps its security descriptor, attributes,
// short name and creation time, and the changed file has its new contents.
TEST_F(ApplyPage, AWritableMountCommitKeepsTheMetadataOfEveryUntouchedFile) {
  if (!FuseUsable()) GTEST_SKIP() << "skipped: no FUSE";
  const std::wstring dir = TempDir();
  const std::wstring wim = dir + L"\\ntfs.wim";
  if (!MakeNtfsVolumeWim(dir, wim)) GTEST_SKIP() << "skipped: no ntfs-3g";
  std::map<std::string, std::string> before = ImageMetadata(wim, 1);
  ASSERT_GE(before.size(), 6u);
  ASSERT_NE(before["\"/b.txt\""], before["\"/a.txt\""]) << "the files should differ in their descriptors";
  const std::wstring mountDir = dir + L"\\挂载点";
  ASSERT_TRUE(MakeDirs(mountDir));

  StartQuarry(0);
  ASSERT_NO_FATAL_FAILURE(MountWritable(wim, mountDir, false));
  ASSERT_EQ(ReadFileBytes(mountDir + L"\\d\\change.txt"), "keep\n");
  ASSERT_TRUE(WriteFileBytes(mountDir + L"\\d\\change.txt", "changed in the mount\n"));
  ASSERT_NO_FATAL_FAILURE(CommitAndUnmount(mountDir, wim));

  std::map<std::string, std::string> after = ImageMetadata(wim, 1);
  EXPECT_EQ(after.size(), before.size());
  for (const auto& [path, meta] : before) {
    if (path == "\"/d/change.txt\"" || path == "\"/d\"") continue;
    EXPECT_EQ(after[path], meta) << path;
  }
  UnixResult changed = RunUnix("wimlib-imagex extract " + ShQuote(UnixPath(wim)) + " 1 /d/change.txt --to-stdout");
  EXPECT_EQ(changed.output, "changed in the mount\n");
  UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
}

}  // namespace
