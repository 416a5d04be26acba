// wimgapi.dll: mounts served by wimlib's FUSE file system. A commit keeps
// everything of the image that was not changed, a read-only mount refuses
// every write, a discard leaves the file as it was, a mount whose process
// died is listed invalid and cleared; wimlib-imagex is the judge.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "gui.h"
#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

constexpr DWORD kMounted = 0x1, kInvalid = 0x8, kReadWrite = 0x100;

std::string Sha(const std::wstring& path) { return qtest::RunUnix("sha256sum < " + Q(path)).output; }

class WimgapiFuseMount : public OneImageWimTest {
 protected:
  void SetUp() override {
    if (!FuseUsable()) GTEST_SKIP() << "skipped: no FUSE";
    OneImageWimTest::SetUp();
  }
  DWORD Flags(const std::wstring& folder) {
    std::vector<WIM_MOUNT_INFO_LEVEL1> list = MountInfo();
    const WIM_MOUNT_INFO_LEVEL1* m = FindInfo(list, folder);
    return m ? m->MountFlags : 0xDEAD;
  }
  // Commit and unmount as the mount manager does.
  void CommitAndUnmount(const std::wstring& folder, Recorder* rec = nullptr) {
    HANDLE wim = nullptr, image = nullptr;
    ASSERT_TRUE(W().GetMountedImageHandle(folder.c_str(), 0, &wim, &image)) << GetLastError();
    Handle wimHandle(wim), imageHandle(image);
    if (rec) W().RegisterMessageCallback(wim, RecordingProc(), rec);
    ASSERT_TRUE(W().CommitImageHandle(image, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(W().UnmountImageHandle(image, 0)) << GetLastError();
  }
};

TEST_F(WimgapiFuseMount, CommitOfOneChangedFileKeepsEveryOtherFilesMetadata) {
  if (qtest::RunUnix("command -v mkntfs && command -v ntfs-3g").exitCode != 0)
    GTEST_SKIP() << "skipped: no ntfs-3g";
  const std::wstring ntfsWim = dir_ + L"\\ntfs.wim", mnt = Folder(L"mnt");
  ASSERT_TRUE(qtest::MakeNtfsVolumeWim(dir_, ntfsWim));
  std::map<std::string, std::string> before = qtest::ImageMetadata(ntfsWim, 1);
  ASSERT_GE(before.size(), 6u);
  ASSERT_NE(before["\"/b.txt\""], before["\"/a.txt\""]) << "the files should differ in their descriptors";

  ASSERT_TRUE(MountWim(ntfsWim, 1, mnt, true)) << GetLastError();
  EXPECT_EQ(MountKindOf(mnt), kKindFuse);
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\d\\change.txt", "changed in the mount\n"));
  Recorder rec;
  CommitAndUnmount(mnt, &rec);
  // The commit's progress reached the callback, up to the end.
  std::vector<int> percent = rec.Percentages();
  ASSERT_FALSE(percent.empty());
  EXPECT_EQ(percent.back(), 100);

  std::map<std::string, std::string> after = qtest::ImageMetadata(ntfsWim, 1);
  EXPECT_EQ(after.size(), before.size());
  for (const auto& [path, meta] : before) {
    if (path == "\"/d/change.txt\"" || path == "\"/d\"") continue;
    EXPECT_EQ(after[path], meta) << path;
  }
  EXPECT_EQ(Imagex("extract " + Q(ntfsWim) + " 1 /d/change.txt --to-stdout"), "changed in the mount\n");
  Imagex("verify " + Q(ntfsWim));
}

TEST_F(WimgapiFuseMount, ReadOnlyMountRefusesWritesEvenForRoot) {
  const std::wstring mnt = Folder(L"ro");
  ASSERT_TRUE(MountWim(wim_, 1, mnt, false)) << GetLastError();
  EXPECT_EQ(Flags(mnt), kMounted);
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\small.txt"), "hello quarry\n");
  EXPECT_NE(qtest::RunUnix("echo x > " + Q(mnt + L"\\small.txt")).exitCode, 0);
  EXPECT_NE(qtest::RunUnix("touch " + Q(mnt + L"\\new.txt")).exitCode, 0);
  EXPECT_NE(qtest::RunUnix("rm -f " + Q(mnt + L"\\small.txt") + " && test ! -e " + Q(mnt + L"\\small.txt")).exitCode,
            0);
  EXPECT_FALSE(qtest::WriteFileBytes(mnt + L"\\small.txt", "changed"));
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
}

TEST_F(WimgapiFuseMount, DiscardLeavesTheWimByteIdentical) {
  const std::wstring mnt = Folder(L"rw");
  const std::string sha = Sha(wim_);
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\added.txt", "added\n"));
  ASSERT_TRUE(DeleteFileW((mnt + L"\\small.txt").c_str()));
  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(mnt.c_str(), WIM_FLAG_MOUNT_READONLY, &wim, &image)) << GetLastError();
  Handle wimHandle(wim), imageHandle(image);
  ASSERT_TRUE(W().UnmountImageHandle(image, 0)) << GetLastError();
  EXPECT_EQ(Sha(wim_), sha);
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
}

// While an image is mounted read-write through FUSE, its file has no other
// writer; a commit with WIM_COMMIT_FLAG_APPEND adds the tree as an image.
TEST_F(WimgapiFuseMount, WritableMountLocksTheFileAndAppendAddsAnImage) {
  const std::wstring mnt = Folder(L"rw");
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  EXPECT_EQ(Flags(mnt), kMounted | kReadWrite);
  DWORD created = 0;
  HANDLE other = W().CreateFile(wim_.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0, &created);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (other) W().CloseHandle(other);
  ToolResult tool = RunTool(L"append " + Arg(src_) + L" " + Arg(wim_) + L" 1");
  EXPECT_NE(tool.exitCode, 0u) << tool.output;

  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\added.txt", "added\n"));
  HANDLE wim = nullptr, image = nullptr, added = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(mnt.c_str(), 0, &wim, &image)) << GetLastError();
  Handle wimHandle(wim), imageHandle(image);
  ASSERT_TRUE(W().CommitImageHandle(image, WIM_COMMIT_FLAG_APPEND, &added)) << GetLastError();
  Handle addedHandle(added);
  EXPECT_NE(added, nullptr);
  // Still mounted, and the change is still there for the next commit.
  EXPECT_EQ(Flags(mnt), kMounted | kReadWrite);
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\small.txt"), "hello quarry\n");
  ASSERT_TRUE(W().UnmountImageHandle(image, 0)) << GetLastError();
  EXPECT_EQ(ImageCount(wim_), 2);
  std::vector<std::string> first = DirList(wim_, 1), second = DirList(wim_, 2);
  EXPECT_EQ(std::count(first.begin(), first.end(), "/added.txt"), 0);
  EXPECT_EQ(std::count(second.begin(), second.end(), "/added.txt"), 1);
}

// A folder name with the characters a shell would act on; the mount
// process gets it whole.
TEST_F(WimgapiFuseMount, MountsIntoAFolderWithAnyCharactersInItsName) {
  const std::wstring parent = Folder(L"odd");
  ASSERT_EQ(qtest::RunUnix("cd " + Q(parent) + " && mkdir \"$(printf 'a b\\047$x;&(z)`%%')\"").exitCode, 0);
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((parent + L"\\a*").c_str(), &fd);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  const std::wstring mnt = parent + L"\\" + fd.cFileName;
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  EXPECT_EQ(MountKindOf(mnt), kKindFuse);
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\small.txt"), "hello quarry\n");
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\added.txt", "odd\n"));
  CommitAndUnmount(mnt);
  EXPECT_EQ(Imagex("extract " + Q(wim_) + " 1 /added.txt --to-stdout"), "odd\n");
}

// Two images of one file read-only at once, and two files read-write at
// once, the second from another process.
TEST_F(WimgapiFuseMount, ManyMountsAtOnce) {
  ASSERT_EQ(Capture(src_ + L"\\sub", wim_, WIM_COMPRESS_XPRESS, true), 2);
  const std::wstring other = dir_ + L"\\b.wim";
  ASSERT_TRUE(CopyFileW(wim_.c_str(), other.c_str(), FALSE));
  const std::wstring third = dir_ + L"\\c.wim";
  ASSERT_TRUE(CopyFileW(wim_.c_str(), third.c_str(), FALSE));
  const std::wstring ro1 = Folder(L"ro1"), ro2 = Folder(L"ro2"), rw1 = Folder(L"rw1"), rw2 = Folder(L"rw2");
  ASSERT_TRUE(MountWim(wim_, 1, ro1, false)) << GetLastError();
  ASSERT_TRUE(MountWim(wim_, 2, ro2, false)) << GetLastError();
  ASSERT_TRUE(MountWim(other, 1, rw1, true)) << GetLastError();
  ToolResult tool = RunTool(L"mount " + Arg(third) + L" 1 " + Arg(rw2) + L" rw");
  ASSERT_EQ(tool.exitCode, 0u) << tool.output;
  EXPECT_EQ(Flags(ro1), kMounted);
  EXPECT_EQ(Flags(ro2), kMounted);
  EXPECT_EQ(Flags(rw1), kMounted | kReadWrite);
  EXPECT_EQ(Flags(rw2), kMounted | kReadWrite);
  EXPECT_TRUE(Exists(ro1 + L"\\small.txt"));
  EXPECT_FALSE(Exists(ro2 + L"\\small.txt"));
  ASSERT_TRUE(qtest::WriteFileBytes(rw1 + L"\\one.txt", "1\n"));
  ASSERT_TRUE(qtest::WriteFileBytes(rw2 + L"\\two.txt", "2\n"));
  CommitAndUnmount(rw1);
  CommitAndUnmount(rw2);
  EXPECT_EQ(Imagex("extract " + Q(other) + " 1 /one.txt --to-stdout"), "1\n");
  EXPECT_EQ(Imagex("extract " + Q(third) + " 1 /two.txt --to-stdout"), "2\n");
}

// A mount whose process was killed is listed invalid; unmounting it
// releases the dead endpoint and leaves the folder, empty, as it was.
TEST_F(WimgapiFuseMount, DeadMountProcessIsInvalidAndUnmountReleasesIt) {
  const std::wstring ro = Folder(L"ro"), rw = Folder(L"rw");
  const std::wstring second = dir_ + L"\\b.wim";
  ASSERT_TRUE(CopyFileW(wim_.c_str(), second.c_str(), FALSE));
  const std::string sha = Sha(second);
  ASSERT_TRUE(MountWim(wim_, 1, ro, false)) << GetLastError();
  ASSERT_TRUE(MountWim(second, 1, rw, true)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(rw + L"\\added.txt", "lost\n"));
  KillMountDaemon(ro);
  KillMountDaemon(rw);
  ASSERT_TRUE(qtest::WaitUntil([&] { return MountKindOf(ro) == kKindFuseDead && MountKindOf(rw) == kKindFuseDead; },
                               20000));
  EXPECT_EQ(Flags(ro) & kInvalid, kInvalid);
  EXPECT_EQ(Flags(rw) & kInvalid, kInvalid);
  // What the dead read-write mount cannot store any more is counted.
  ULONGLONG files = 0, bytes = 0;
  DWORD kind = 0;
  ASSERT_TRUE(GetMountKindProc()(rw.c_str(), &kind, &files, &bytes));
  EXPECT_GE(files, 1u);
  // It can never be committed.
  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(rw.c_str(), 0, &wim, &image)) << GetLastError();
  Handle wimHandle(wim), imageHandle(image);
  EXPECT_FALSE(W().CommitImageHandle(image, 0, nullptr));
  imageHandle.Reset();
  wimHandle.Reset();

  ASSERT_TRUE(W().UnmountImage(ro.c_str(), nullptr, 0, FALSE)) << GetLastError();
  ASSERT_TRUE(W().UnmountImage(rw.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(FindInfo(MountInfo(), ro), nullptr);
  EXPECT_EQ(FindInfo(MountInfo(), rw), nullptr);
  EXPECT_EQ(qtest::RunUnix("test -d " + Q(ro) + " && test -z \"$(ls -A " + Q(ro) + ")\"").exitCode, 0);
  EXPECT_EQ(Sha(second), sha);
  // The folder takes a new mount.
  ASSERT_TRUE(MountWim(wim_, 1, ro, false)) << GetLastError();
  EXPECT_EQ(Flags(ro), kMounted);
}

// A new mount over a dead endpoint that no record owns clears it first.
TEST_F(WimgapiFuseMount, NewMountOverADeadEndpointClearsItFirst) {
  const std::wstring mnt = Folder(L"mnt");
  ASSERT_EQ(qtest::RunUnix("wimlib-imagex mount " + Q(wim_) + " 1 " + Q(mnt)).exitCode, 0);
  KillMountDaemon(mnt);
  ASSERT_TRUE(qtest::WaitUntil([&] { return qtest::RunUnix("stat " + Q(mnt)).exitCode != 0; }, 20000));
  ASSERT_TRUE(MountWim(wim_, 1, mnt, false)) << GetLastError();
  EXPECT_EQ(Flags(mnt), kMounted);
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\small.txt"), "hello quarry\n");
}

}  // namespace
