// wimgapi.dll: what a mount protects. The file of a mounted image is never
// replaced, whichever path names it; an unmount that stopped half-way
// leaves a record that can never be committed.
#include <gtest/gtest.h>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

constexpr DWORD kInvalid = 0x8;

std::string Sha(const std::wstring& path) { return qtest::RunUnix("sha256sum < " + Q(path)).output; }

// The same file through the drive that maps the whole Linux tree.
std::wstring ThroughRootDrive(const std::wstring& path) {
  std::string unix = qtest::UnixPath(path);
  std::wstring out = L"Z:";
  for (char c : unix) out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

class WimgapiMountSafety : public OneImageWimTest {
 protected:
  DWORD Flags(const std::wstring& folder) {
    std::vector<WIM_MOUNT_INFO_LEVEL1> list = MountInfo();
    const WIM_MOUNT_INFO_LEVEL1* m = FindInfo(list, folder);
    return m ? m->MountFlags : 0xDEAD;
  }
};

TEST_F(WimgapiMountSafety, TheFileOfAMountedImageIsNeverReplaced) {
  const std::wstring mnt = Folder(L"mnt");
  const std::string sha = Sha(wim_);
  ASSERT_TRUE(MountWim(wim_, 1, mnt, false)) << GetLastError();
  for (const std::wstring& path : {wim_, ThroughRootDrive(wim_)}) {
    DWORD created = 0;
    HANDLE h = W().CreateFile(path.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0,
                              WIM_COMPRESS_XPRESS, &created);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (h) W().CloseHandle(h);
  }
  EXPECT_EQ(Sha(wim_), sha);
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  // Once nothing of it is mounted, it may be replaced.
  DWORD created = 0;
  Handle h(W().CreateFile(wim_.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0,
                          WIM_COMPRESS_XPRESS, &created));
  EXPECT_TRUE(h);
}

// The folder of an extracted copy holds a file system mounted below it, so
// emptying it stops half-way.
TEST_F(WimgapiMountSafety, AnUnmountStoppedHalfWayLeavesARecordThatCannotBeCommitted) {
  SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1");
  const std::wstring mnt = Folder(L"mnt");
  const std::string sha = Sha(wim_);
  bool mounted = MountWim(wim_, 1, mnt, true);
  SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr);
  ASSERT_TRUE(mounted) << GetLastError();
  if (qtest::RunUnix("mount -t tmpfs quarry-test " + Q(mnt + L"\\sub")).exitCode != 0)
    GTEST_SKIP() << "skipped: cannot mount a tmpfs here";
  EXPECT_FALSE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE));
  qtest::RunUnix("umount " + Q(mnt + L"\\sub"));

  EXPECT_EQ(Flags(mnt) & kInvalid, kInvalid);
  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(mnt.c_str(), 0, &wim, &image)) << GetLastError();
  Handle wimHandle(wim), imageHandle(image);
  EXPECT_FALSE(W().CommitImageHandle(image, 0, nullptr));
  imageHandle.Reset();
  wimHandle.Reset();
  EXPECT_FALSE(W().UnmountImage(mnt.c_str(), nullptr, 0, TRUE));
  EXPECT_EQ(Sha(wim_), sha);
  // Discarding what is left clears it.
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
}

}  // namespace
