// wimgapi.dll: what a mount must never do to the user's files. A commit
// goes only into the file that was mounted; a file that can never be
// written is not mounted for writing; a split set mounts with all of its
// parts; a full disk fails the commit and keeps both the file and the
// changes; staging folders are never shared or taken from another mount;
// and the mount list answers while a mount's file system is busy.
// wimlib-imagex is the judge of every file.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "gui.h"
#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

std::string Sha(const std::wstring& path) { return qtest::RunUnix("sha256sum < " + Q(path)).output; }

std::string Noise(size_t size, uint32_t seed) {
  std::string data(size, '\0');
  uint32_t x = seed ? seed : 1;  // xorshift: data that no compression shrinks
  for (char& c : data) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = char(x);
  }
  return data;
}

// The library's shared folder of staged changes, as a Unix path.
std::string StagingRoot() {
  wchar_t data[MAX_PATH] = L"C:\\ProgramData";
  GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  return qtest::UnixPath(std::wstring(data) + L"\\WimgapiWine\\staging");
}

// Files below the staging root whose contents are exactly `text`.
int StagedCopies(const std::string& text) {
  qtest::UnixResult r = qtest::RunUnix("n=0; for f in $(find " + qtest::ShQuote(StagingRoot()) +
                                       " -type f 2>/dev/null); do "
                                       "printf %s " + qtest::ShQuote(text) + " | cmp -s - \"$f\" && n=$((n+1)); "
                                       "done; echo $n");
  return atoi(r.output.c_str());
}

// The processes that serve the FUSE mount at folder, found by their
// command line alone: the folder itself is never looked at.
std::string DaemonPids(const std::wstring& folder) {
  std::string path = qtest::ShQuote(qtest::UnixPath(folder));
  return qtest::RunUnix("{ for p in /proc/[0-9]*; do "
                        "if tr '\\0' '\\n' < $p/cmdline | grep -qxF -e " + path + " && "
                        "tr '\\0' '\\n' < $p/cmdline | grep -q wimlib-imagex; then printf '%s ' ${p#/proc/}; fi; "
                        "done; } 2>/dev/null")
      .output;
}

// True when the kernel lists a file system at folder.
bool MountPoint(const std::wstring& folder) {
  return qtest::RunUnix("grep -qF ' '" + qtest::ShQuote(qtest::UnixPath(folder)) + "' ' /proc/self/mounts").exitCode ==
         0;
}

class WimgapiMountGuard : public OneImageWimTest {
 protected:
  DWORD Flags(const std::wstring& folder) {
    std::vector<WIM_MOUNT_INFO_LEVEL1> list = MountInfo();
    const WIM_MOUNT_INFO_LEVEL1* m = FindInfo(list, folder);
    return m ? m->MountFlags : 0xDEAD;
  }
  // Commits the mount at folder through its handles; the last error is
  // the commit's.
  BOOL CommitHandle(const std::wstring& folder) {
    HANDLE wim = nullptr, image = nullptr;
    if (!W().GetMountedImageHandle(folder.c_str(), 0, &wim, &image)) return FALSE;
    Handle wimHandle(wim), imageHandle(image);
    BOOL ok = W().CommitImageHandle(image, 0, nullptr);
    DWORD err = GetLastError();
    imageHandle.Reset();
    wimHandle.Reset();
    SetLastError(err);
    return ok;
  }
};

// The file is replaced from outside with a plain mv while its image is
// mounted read-write: the commit refuses and writes nothing, and the
// changes can still be thrown away.
TEST_F(WimgapiMountGuard, ACommitRefusesAFileReplacedWhileMountedAndDiscardStillWorks) {
  const std::wstring mnt = Folder(L"mnt"), other = dir_ + L"\\other.wim";
  ASSERT_EQ(Capture(src_ + L"\\sub", other), 1);
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\added.txt", "must not land anywhere\n"));
  const std::string otherSha = Sha(other);
  ASSERT_EQ(qtest::RunUnix("mv -f " + Q(other) + " " + Q(wim_)).exitCode, 0);

  EXPECT_FALSE(CommitHandle(mnt));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
  // "Save and unmount" in one call refuses alike, and keeps the mount.
  EXPECT_FALSE(W().UnmountImage(mnt.c_str(), nullptr, 0, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
  EXPECT_NE(FindInfo(MountInfo(), mnt), nullptr);
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\added.txt"), "must not land anywhere\n");

  EXPECT_EQ(Sha(wim_), otherSha);
  Imagex("verify " + Q(wim_));
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
  EXPECT_EQ(Sha(wim_), otherSha);
}

// An extracted copy replaces its image by number: once another program
// deleted a lower image in place, that number names another image, and the
// commit refuses. A write that leaves the numbers alone does not stop it.
TEST_F(WimgapiMountGuard, ACopyCommitRefusesWhenItsIndexNowNamesAnotherImage) {
  HideFuse hide;
  ASSERT_EQ(Capture(src_ + L"\\sub", wim_, WIM_COMPRESS_XPRESS, true), 2);
  const std::wstring mnt = Folder(L"mnt");
  ASSERT_TRUE(MountWim(wim_, 2, mnt, true)) << GetLastError();
  ASSERT_EQ(MountKindOf(mnt), kKindCopy);
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\added.txt", "second image's change\n"));
  // Another program appends: image 2 is still image 2.
  Imagex("append " + Q(src_ + L"\\empty") + " " + Q(wim_) + " third");
  ASSERT_TRUE(CommitHandle(mnt)) << GetLastError();
  EXPECT_EQ(Imagex("extract " + Q(wim_) + " 2 /added.txt --to-stdout"), "second image's change\n");

  // Image 1 goes in place: the mounted image is number 1 now.
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\later.txt", "later change\n"));
  Imagex("delete " + Q(wim_) + " 1 --soft");
  const std::string sha = Sha(wim_);
  EXPECT_FALSE(CommitHandle(mnt));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
  EXPECT_EQ(Sha(wim_), sha);
  Imagex("verify " + Q(wim_));
  EXPECT_EQ(ImageCount(wim_), 2);
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(Sha(wim_), sha);
}

// A file marked read-only and a part of a split set can never take a
// commit: a writable mount of either is refused before anything is made,
// saying why, and a read-only one works.
void ExpectNoWritableMount(const std::wstring& wim, const std::wstring& mnt) {
  DWORD created = 0;
  HANDLE h = W().CreateFile(wim.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE | WIM_GENERIC_MOUNT, WIM_OPEN_EXISTING,
                            0, 0, &created);
  DWORD err = GetLastError();
  if (h) {
    Handle file(h);
    Handle image(W().LoadImage(h, 1));
    ASSERT_TRUE(image);
    EXPECT_FALSE(W().MountImageHandle(image.get(), mnt.c_str(), 0));
    err = GetLastError();
  }
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_FILE_READ_ONLY));
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
  EXPECT_EQ(qtest::RunUnix("test -z \"$(ls -A " + Q(mnt) + ")\"").exitCode, 0);
}

TEST_F(WimgapiMountGuard, AFileThatCanNeverBeWrittenIsNotMountedForWriting) {
  const std::wstring marked = dir_ + L"\\marked.wim", mnt = Folder(L"mnt");
  ASSERT_TRUE(CopyFileW(wim_.c_str(), marked.c_str(), FALSE));
  // The header's flags (offset 16): WIM_HDR_FLAG_READONLY is 0x4.
  ASSERT_EQ(qtest::RunUnix("f=" + Q(marked) + "; b=$(od -An -tu1 -j16 -N1 \"$f\"); "
                           "printf \"$(printf '\\\\%03o' $(( b | 4 )))\" | "
                           "dd of=\"$f\" bs=1 seek=16 count=1 conv=notrunc 2>/dev/null").exitCode,
            0);
  ASSERT_NE(Imagex("info " + Q(marked)).find("Readonly"), std::string::npos);
  const std::string sha = Sha(marked);
  ExpectNoWritableMount(marked, mnt);
  EXPECT_EQ(Sha(marked), sha);

  MakeRandomFile(src_ + L"\\noise.bin", 3000000, 7);
  const std::wstring big = dir_ + L"\\big.wim", part = dir_ + L"\\part.swm";
  ASSERT_EQ(Capture(src_, big, WIM_COMPRESS_NONE), 1);
  Imagex("split " + Q(big) + " " + Q(part) + " 1");
  const std::string partSha = Sha(part);
  ExpectNoWritableMount(part, mnt);
  EXPECT_EQ(Sha(part), partSha);

  ASSERT_TRUE(MountWim(marked, 1, mnt, false)) << GetLastError();
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\small.txt"), "hello quarry\n");
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
}

// A read-only mount of the first part of a split set, with the other parts
// referenced as the program does: every file reads back whole.
TEST_F(WimgapiMountGuard, AReadOnlyMountOfASplitSetReadsEveryFile) {
  for (int i = 0; i < 4; i++) MakeRandomFile(src_ + L"\\sub\\noise" + std::to_wstring(i) + L".bin", 700000, 11 + i);
  const std::wstring big = dir_ + L"\\big.wim", part = dir_ + L"\\set.swm", mnt = Folder(L"mnt");
  ASSERT_EQ(Capture(src_, big, WIM_COMPRESS_NONE), 1);
  Imagex("split " + Q(big) + " " + Q(part) + " 1");
  std::vector<std::wstring> parts;
  for (int n = 2; Exists(dir_ + L"\\set" + std::to_wstring(n) + L".swm"); n++)
    parts.push_back(dir_ + L"\\set" + std::to_wstring(n) + L".swm");
  ASSERT_GE(parts.size(), 2u);

  Handle file = Open(part, WIM_GENERIC_READ | WIM_GENERIC_MOUNT, WIM_OPEN_EXISTING);
  for (const std::wstring& p : parts) ASSERT_TRUE(W().SetReferenceFile(file.get(), p.c_str(), WIM_REFERENCE_APPEND));
  Handle image(W().LoadImage(file.get(), 1));
  ASSERT_TRUE(image);
  ASSERT_TRUE(W().MountImageHandle(image.get(), mnt.c_str(), WIM_FLAG_MOUNT_READONLY)) << GetLastError();
  image.Reset();
  file.Reset();

  qtest::UnixResult diff = qtest::RunUnix("diff -r " + Q(src_) + " " + Q(mnt) + " 2>&1");
  EXPECT_EQ(diff.exitCode, 0) << diff.output;
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
}

// The WIM lives on a volume too small for the commit: it fails saying the
// disk is full, the file is as it was, the volume holds nothing new, and
// the changes are still in the mount.
TEST_F(WimgapiMountGuard, ACommitOnAFullDiskFailsAndKeepsFileAndChanges) {
  const std::wstring volume = Folder(L"small"), mnt = Folder(L"mnt");
  qtest::UnixResult r = qtest::RunUnix("mount -t tmpfs -o size=1m quarry-guard " + Q(volume) + " 2>&1");
  if (r.exitCode != 0) GTEST_SKIP() << "skipped: cannot mount a small volume here: " << r.output;
  struct Unmount {
    std::wstring path;
    ~Unmount() { qtest::RunUnix("umount -l " + Q(path) + " 2>&1"); }
  } unmountVolume{volume};
  const std::wstring wim = volume + L"\\full.wim";
  ASSERT_EQ(Capture(src_, wim), 1);
  const std::string sha = Sha(wim), listing = qtest::RunUnix("ls -la " + Q(volume)).output;
  ASSERT_TRUE(MountWim(wim, 1, mnt, true)) << GetLastError();
  const std::string noise = Noise(3000000, 99);
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\noise.bin", noise));

  EXPECT_FALSE(CommitHandle(mnt));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(Sha(wim), sha);
  Imagex("verify " + Q(wim));
  EXPECT_EQ(qtest::RunUnix("ls -la " + Q(volume)).output, listing);
  EXPECT_NE(FindInfo(MountInfo(), mnt), nullptr);
  EXPECT_TRUE(qtest::ReadFileBytes(mnt + L"\\noise.bin") == noise) << "the change is kept";
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(Sha(wim), sha);
}

// Staging folders that are over: one of an ended process with nothing in
// it goes at the next mount; one that still holds files, and one of a live
// process, stay.
TEST_F(WimgapiMountGuard, TheNextMountClearsOnlyEmptyStagingFoldersOfEndedProcesses) {
  const std::string root = StagingRoot();
  qtest::UnixResult init = qtest::RunUnix("cut -d' ' -f22 /proc/1/stat");
  ASSERT_EQ(init.exitCode, 0);
  std::string initStart = init.output.substr(0, init.output.find_first_not_of("0123456789"));
  // The pid of a shell that has ended, started with a start time no live
  // process of that pid can have.
  std::string ended = qtest::RunUnix("sh -c 'echo $$'").output;
  ended = ended.substr(0, ended.find_first_not_of("0123456789"));
  const std::string empty = root + "/quarry-" + ended + ".1-1.000000001.0";
  const std::string kept = root + "/quarry-" + ended + ".1-1.000000002.0";
  const std::string live = root + "/quarry-1." + initStart + "-1.000000003.0";
  ASSERT_EQ(qtest::RunUnix("mkdir -p " + qtest::ShQuote(empty + "/sub") + " " + qtest::ShQuote(kept + "/sub") + " " +
                           qtest::ShQuote(live) + " && echo kept > " + qtest::ShQuote(kept + "/sub/file"))
                .exitCode,
            0);
  ASSERT_TRUE(MountWim(wim_, 1, Folder(L"mnt"), false)) << GetLastError();
  EXPECT_NE(qtest::RunUnix("test -e " + qtest::ShQuote(empty)).exitCode, 0);
  EXPECT_EQ(qtest::RunUnix("cat " + qtest::ShQuote(kept + "/sub/file")).output, "kept\n");
  EXPECT_EQ(qtest::RunUnix("test -d " + qtest::ShQuote(live)).exitCode, 0);
  qtest::RunUnix("rm -rf " + qtest::ShQuote(kept) + " " + qtest::ShQuote(live));
}

// FUSE only: the mounts whose changes are staged apart from the folder.
class WimgapiFuseGuard : public WimgapiMountGuard {
 protected:
  void SetUp() override {
    if (!FuseUsable()) GTEST_SKIP() << "skipped: no FUSE";
    WimgapiMountGuard::SetUp();
  }
};

// The changes the user chose to keep when the mount's process had died
// stay where they are, however often the folder is mounted again.
TEST_F(WimgapiFuseGuard, KeptStagedChangesAreNeverTouchedByALaterMountAtTheFolder) {
  typedef BOOL(WINAPI * ForgetMount)(PCWSTR);
  auto forget = reinterpret_cast<ForgetMount>(GetProcAddress(W().module, "WIMWineForgetMount"));
  ASSERT_NE(forget, nullptr);
  const std::wstring mnt = Folder(L"mnt");
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\kept.txt", "the change the user kept\n"));
  KillMountDaemon(mnt);
  ASSERT_TRUE(qtest::WaitUntil([&] { return MountKindOf(mnt) == kKindFuseDead; }, 20000));
  ASSERT_TRUE(forget(mnt.c_str())) << GetLastError();
  ASSERT_EQ(StagedCopies("the change the user kept\n"), 1);

  for (int round = 0; round < 2; round++) {
    ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
    ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\other.txt", "thrown away\n"));
    ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
  }
  EXPECT_EQ(StagedCopies("the change the user kept\n"), 1);
  qtest::RunUnix("grep -rlxF 'the change the user kept' " + qtest::ShQuote(StagingRoot()) + " | xargs -r rm -f");
}

// While the file system of a mount answers nothing (its process stopped,
// as it is while it commits), listing the mounts, asking their kind and
// committing another mount all still answer.
TEST_F(WimgapiFuseGuard, TheMountListAnswersWhileAMountsFileSystemIsBusy) {
  const std::wstring mnt = Folder(L"mnt"), other = dir_ + L"\\b.wim", otherMnt = Folder(L"b");
  ASSERT_TRUE(CopyFileW(wim_.c_str(), other.c_str(), FALSE));
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  ASSERT_TRUE(MountWim(other, 1, otherMnt, true)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(otherMnt + L"\\b.txt", "b\n"));
  const std::string pids = DaemonPids(mnt);
  ASSERT_FALSE(pids.empty());
  // Declared first, so that the stopped process is resumed before anything
  // waits for the calls to end.
  std::future<bool> answered;
  ASSERT_EQ(qtest::RunUnix("kill -STOP " + pids).exitCode, 0);
  struct Resume {
    std::string pids;
    ~Resume() { qtest::RunUnix("kill -CONT " + pids); }
  } resume{pids};

  answered = std::async(std::launch::async, [&] {
    std::vector<WIM_MOUNT_INFO_LEVEL1> list = MountInfo();
    DWORD kind = MountKindOf(mnt);
    BOOL committed = CommitHandle(otherMnt);
    return list.size() >= 2 && kind == kKindFuse && committed;
  });
  // A hang guard only: each of these takes well under a second.
  ASSERT_EQ(answered.wait_for(std::chrono::seconds(60)), std::future_status::ready)
      << "the mount list waited for the busy file system";
  EXPECT_TRUE(answered.get());
  EXPECT_EQ(Imagex("extract " + Q(other) + " 1 /b.txt --to-stdout"), "b\n");
}

// Saving and unmounting in one call: once it returns, the folder is no
// mount point any more, no process serves it, and it is empty.
TEST_F(WimgapiFuseGuard, SaveAndUnmountLeavesNoFileSystemBehind) {
  const std::wstring mnt = Folder(L"mnt");
  ASSERT_TRUE(MountWim(wim_, 1, mnt, true)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\saved.txt", "saved\n"));
  ASSERT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, TRUE)) << GetLastError();
  EXPECT_FALSE(MountPoint(mnt));
  EXPECT_EQ(DaemonPids(mnt), "");
  EXPECT_EQ(qtest::RunUnix("test -z \"$(ls -A " + Q(mnt) + ")\"").exitCode, 0);
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
  EXPECT_EQ(Imagex("extract " + Q(wim_) + " 1 /saved.txt --to-stdout"), "saved\n");
}

}  // namespace
