// wimgapi.dll: mounts that no longer match the disk (WIM file or mount
// folder gone, folder replaced, mounting process died), as the mount
// manager lists them and clears them away.
#include <gtest/gtest.h>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

constexpr DWORD kMounted = 0x1, kMounting = 0x2, kInvalid = 0x8, kNoWim = 0x10, kNoMountDir = 0x20,
                kReplaced = 0x40, kReadWrite = 0x100;

// Permission bits of a path as Linux sees them, in octal ("755").
std::string Mode(const std::wstring& path) {
  std::string out = qtest::RunUnix("stat -c %a " + Q(path)).output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class WimgapiStaleMount : public OneImageWimTest {
 protected:
  void SetUp() override {
    ASSERT_NE(W().GetMountedImageInfo, nullptr) << "WIMGetMountedImageInfo is not exported";
    OneImageWimTest::SetUp();
  }
  std::wstring CopyOfWim(const std::wstring& name) {
    std::wstring copy = dir_ + L"\\" + name;
    EXPECT_TRUE(CopyFileW(wim_.c_str(), copy.c_str(), FALSE));
    return copy;
  }
  BOOL Mount(const std::wstring& wim, const std::wstring& folder, bool rw) { return MountWim(wim, 1, folder, rw); }
  DWORD Flags(const std::wstring& folder) {
    std::vector<WIM_MOUNT_INFO_LEVEL1> list = MountInfo();
    const WIM_MOUNT_INFO_LEVEL1* m = FindInfo(list, folder);
    return m ? m->MountFlags : 0xDEAD;
  }
  // The flags once they are `expected`, or as they stand after 20 s. A
  // process that Windows reports as ended may still be leaving Linux for a
  // moment, and is seen as gone only when it has.
  DWORD FlagsOnceSettled(const std::wstring& folder, DWORD expected) {
    DWORD flags = Flags(folder);
    for (DWORD start = GetTickCount(); flags != expected && GetTickCount() - start < 20000; flags = Flags(folder))
      Sleep(20);
    return flags;
  }
  // The records of this test's mounts.
  std::vector<WIM_MOUNT_INFO_LEVEL1> Mine(const std::vector<WIM_MOUNT_INFO_LEVEL1>& list) {
    std::vector<WIM_MOUNT_INFO_LEVEL1> mine;
    for (const auto& m : list)
      if (CompareStringOrdinal(m.MountPath, static_cast<int>(dir_.size()), dir_.c_str(), -1, TRUE) == CSTR_EQUAL)
        mine.push_back(m);
    return mine;
  }
};

// Extracted copies: a FUSE mount's folder cannot be removed while it is
// mounted (WimgapiFuseMount covers its failures).
TEST_F(WimgapiStaleMount, MissingFileOrFolderIsListedInvalidAndUnmountClearsIt) {
  HideFuse copies;
  const std::wstring ok = Folder(L"ok"), noWim = Folder(L"nowim"), noDir = Folder(L"nodir"),
                     replaced = Folder(L"replaced");
  const std::wstring lostWim = CopyOfWim(L"lost.wim");
  ASSERT_TRUE(Mount(wim_, ok, true)) << GetLastError();
  ASSERT_TRUE(Mount(lostWim, noWim, false)) << GetLastError();
  ASSERT_TRUE(Mount(CopyOfWim(L"c.wim"), noDir, true)) << GetLastError();
  ASSERT_TRUE(Mount(CopyOfWim(L"d.wim"), replaced, true)) << GetLastError();

  // Level 1 of a good list: mounted, with the write flag where it applies.
  EXPECT_EQ(Flags(ok), kMounted | kReadWrite);
  EXPECT_EQ(Flags(noWim), kMounted);

  // The WIM file goes, one folder goes, another is made anew by the user.
  ASSERT_TRUE(DeleteFileW(lostWim.c_str()));
  ASSERT_EQ(qtest::RunUnix("rm -rf " + Q(noDir)).exitCode, 0);
  ASSERT_EQ(qtest::RunUnix("rm -rf " + Q(replaced) + " && mkdir " + Q(replaced)).exitCode, 0);
  ASSERT_TRUE(qtest::WriteFileBytes(replaced + L"\\mine.txt", "the user's"));

  std::vector<WIM_MOUNT_INFO_LEVEL1> list = Mine(MountInfo());
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(Flags(ok), kMounted | kReadWrite);
  EXPECT_EQ(Flags(noWim), kInvalid | kNoWim);
  EXPECT_EQ(Flags(noDir), kInvalid | kNoMountDir | kReadWrite);
  EXPECT_EQ(Flags(replaced), kInvalid | kReplaced | kReadWrite);
  const WIM_MOUNT_INFO_LEVEL1* m = FindInfo(list, noWim);
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m->WimPath, lostWim.c_str());
  EXPECT_EQ(m->ImageIndex, 1u);

  // Level 0 is the older record: the write flag as a BOOL.  (Other
  // programs' mounts may be listed too.)
  const DWORD all = static_cast<DWORD>(MountInfo().size());
  DWORD count = 0, bytes = 0;
  std::vector<WIM_MOUNT_LIST> level0(all);
  ASSERT_TRUE(W().GetMountedImageInfo(0, &count, level0.data(), all * sizeof(WIM_MOUNT_LIST), &bytes));
  EXPECT_EQ(count, all);
  EXPECT_EQ(bytes, all * sizeof(WIM_MOUNT_LIST));
  for (const auto& e : level0) {
    const WIM_MOUNT_INFO_LEVEL1* mine = FindInfo(list, e.MountPath);
    if (mine) EXPECT_EQ(e.MountedForRW, mine->MountFlags & kReadWrite ? 1 : 0);
  }
  // Too small a buffer tells the size; an unknown level is refused.
  EXPECT_FALSE(W().GetMountedImageInfo(1, &count, level0.data(), sizeof(WIM_MOUNT_LIST) / 2, &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(bytes, all * sizeof(WIM_MOUNT_LIST));
  EXPECT_FALSE(W().GetMountedImageInfo(2, &count, level0.data(), all * sizeof(WIM_MOUNT_LIST), &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // A commit cannot store anything of them.
  EXPECT_FALSE(W().UnmountImage(noDir.c_str(), nullptr, 0, TRUE));
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_EQ(Flags(noDir), kInvalid | kNoMountDir | kReadWrite);

  // Unmounting without commit clears each record, the way the mount
  // manager does it (handles first) and the older way.
  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(noWim.c_str(), 0, &wim, &image)) << GetLastError();
  Handle wimHandle(wim), imageHandle(image);
  EXPECT_TRUE(W().UnmountImageHandle(image, 0)) << GetLastError();
  EXPECT_TRUE(W().UnmountImage(noDir.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_TRUE(W().UnmountImage(replaced.c_str(), nullptr, 0, FALSE)) << GetLastError();
  list = Mine(MountInfo());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_NE(FindInfo(list, ok), nullptr);
  // The discarded mount's folder is empty again and writable; the folder
  // that took the replaced one's name keeps what the user put there.
  EXPECT_EQ(qtest::RunUnix("ls -A " + Q(noWim)).output, "");
  EXPECT_EQ(Mode(noWim), Mode(ok));
  EXPECT_EQ(qtest::ReadFileBytes(replaced + L"\\mine.txt"), "the user's");
  // The good mount was not disturbed, and the folders can be used again.
  EXPECT_EQ(qtest::ReadFileBytes(ok + L"\\small.txt"), "hello quarry\n");
  EXPECT_TRUE(Mount(CopyOfWim(L"e.wim"), noWim, false)) << GetLastError();
}

TEST_F(WimgapiStaleMount, AMountWhoseProcessDiedIsInvalidAndCanBeCleared) {
  const std::wstring mnt = Folder(L"mnt");
  // Another process mounts and dies in the middle of the extraction.
  ToolResult r = RunTool(L"mount " + Arg(wim_) + L" 1 " + Arg(mnt) + L" rw --die-after 4");
  ASSERT_EQ(r.exitCode, 99u) << r.output;
  EXPECT_EQ(FlagsOnceSettled(mnt, kInvalid | kReadWrite), kInvalid | kReadWrite);
  // Listed by the older call too, so that it can be chosen and unmounted.
  ToolResult mounts = RunTool(L"mounts");
  EXPECT_NE(mounts.output.find(qtest::Utf8(mnt)), std::string::npos) << mounts.output;

  EXPECT_FALSE(W().UnmountImage(mnt.c_str(), nullptr, 0, TRUE));   // nothing whole to commit
  EXPECT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
  EXPECT_EQ(qtest::RunUnix("ls -A " + Q(mnt)).output, "");
  // The image and the folder are free for a new mount.
  EXPECT_TRUE(Mount(wim_, mnt, true)) << GetLastError();
  EXPECT_EQ(Flags(mnt), kMounted | kReadWrite);
}

TEST_F(WimgapiStaleMount, AMountInProgressIsListedAsMountingAndCannotBeUnmounted) {
  const std::wstring mnt = Folder(L"mnt"), signal = dir_ + L"\\started", release = dir_ + L"\\go";
  ToolProcess mounter(L"mount " + Arg(wim_) + L" 1 " + Arg(mnt) + L" --signal " + Arg(signal) + L" --wait " +
                      Arg(release));
  ASSERT_TRUE(WaitForFile(signal));
  EXPECT_EQ(Flags(mnt), kMounting);
  EXPECT_FALSE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  ASSERT_TRUE(qtest::WriteFileBytes(release, "go"));
  ToolResult r = mounter.Wait();
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_EQ(Flags(mnt), kMounted);
  EXPECT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
}

}  // namespace
