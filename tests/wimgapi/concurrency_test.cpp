// wimgapi.dll: two processes working on one WIM file or one mount at the
// same time never destroy each other's work.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

class WimgapiConcurrency : public OneImageWimTest {
 protected:
  BOOL MountRw(const std::wstring& folder) { return MountWim(wim_, 1, folder, true); }
};

TEST_F(WimgapiConcurrency, AppendersInTwoProcessesKeepEveryImage) {
  // Two processes append three images each at the same time, each holding
  // the file open a while before it captures; each waits while the other
  // holds the file.
  std::wstring args = L"append " + Arg(src_ + L"\\sub") + L" " + Arg(wim_) + L" 3 --retry --delay 300";
  ToolProcess a(args), b(args);
  ToolResult ra = a.Wait(), rb = b.Wait();
  EXPECT_EQ(ra.exitCode, 0u) << ra.output;
  EXPECT_EQ(rb.exitCode, 0u) << rb.output;
  EXPECT_EQ(ImageCount(wim_), 7);
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiConcurrency, AWriteHandleKeepsEveryOtherWriterOut) {
  const std::string before = qtest::ReadFileBytes(wim_);
  {
    Handle writer = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    Handle image(W().LoadImage(writer.get(), 1));
    ASSERT_TRUE(image);
    // Another process cannot open it for writing: 32, and nothing changes.
    ToolResult r = RunTool(L"append " + Arg(src_) + L" " + Arg(wim_) + L" 1");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << r.output;
    // Nor can a second handle of this process, or a handle for a mount
    // commit; reading stays possible.
    EXPECT_EQ(W().CreateFile(wim_.c_str(), WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(W().CreateFile(wim_.c_str(), WIM_GENERIC_WRITE, WIM_CREATE_ALWAYS, 0, 1, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    Handle reader = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
    EXPECT_TRUE(reader);
    EXPECT_EQ(qtest::ReadFileBytes(wim_), before);
    // The holder's own edit goes through.
    std::wstring xml = L"\xFEFF<IMAGE><NAME>Held</NAME></IMAGE>";
    EXPECT_TRUE(W().SetImageInformation(image.get(), &xml[0], static_cast<DWORD>(xml.size() * 2))) << GetLastError();
  }
  // Closed: the other process may write now.
  ToolResult r = RunTool(L"append " + Arg(src_) + L" " + Arg(wim_) + L" 1");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  std::string info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Image Count"), "2");
  EXPECT_EQ(InfoField(info, "Name", 1), "Held");
}

// (Where the mount is a FUSE one, no other writer can open the file at all:
// WimgapiFuseMount checks that.)
TEST_F(WimgapiConcurrency, MountCommitHandleIsAWriterToo) {
  if (FuseUsable()) GTEST_SKIP() << "FUSE mounts keep every other writer out";
  const std::wstring mnt = Folder(L"mnt");
  ASSERT_TRUE(MountRw(mnt)) << GetLastError();
  {
    Handle writer = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    HANDLE wim = nullptr, image = nullptr;
    EXPECT_FALSE(W().GetMountedImageHandle(mnt.c_str(), 0, &wim, &image));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ToolResult r = RunTool(L"unmount " + Arg(mnt) + L" commit");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << r.output;
    // Read-only handles for the mount are still to be had.
    EXPECT_TRUE(W().GetMountedImageHandle(mnt.c_str(), WIM_FLAG_MOUNT_READONLY, &wim, &image)) << GetLastError();
    W().CloseHandle(image);
    W().CloseHandle(wim);
  }
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\later.txt", "later\n"));
  EXPECT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, TRUE)) << GetLastError();
  EXPECT_EQ(Imagex("extract " + Q(wim_) + " 1 /later.txt --to-stdout"), "later\n");
}

TEST_F(WimgapiConcurrency, AWritingCallSeesWhatAnotherProgramWroteMeanwhile) {
  Handle writer = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  Handle image(W().LoadImage(writer.get(), 1));
  ASSERT_TRUE(image);
  // A program that does not use the library appends an image.
  Imagex("append " + Q(src_ + L"\\sub") + " " + Q(wim_) + " Second");
  std::wstring xml = L"\xFEFF<IMAGE><NAME>First</NAME></IMAGE>";
  EXPECT_TRUE(W().SetImageInformation(image.get(), &xml[0], static_cast<DWORD>(xml.size() * 2))) << GetLastError();
  WIM_INFO wi = {};
  EXPECT_TRUE(W().GetAttributes(writer.get(), &wi, sizeof wi));
  EXPECT_EQ(wi.ImageCount, 2u);
  image.Reset();
  writer.Reset();
  std::string info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Image Count"), "2");
  EXPECT_EQ(InfoField(info, "Name", 1), "First");
  EXPECT_EQ(InfoField(info, "Name", 2), "Second");
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiConcurrency, ACommitInProgressKeepsAnUnmountOut) {
  const std::wstring mnt = Folder(L"mnt"), signal = dir_ + L"\\started", release = dir_ + L"\\go";
  ASSERT_TRUE(MountRw(mnt)) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\edit.txt", "edited\n"));
  ToolProcess committer(L"commit " + Arg(mnt) + L" --signal " + Arg(signal) + L" --wait " + Arg(release));
  ASSERT_TRUE(WaitForFile(signal));
  // While the other process commits, this one can neither unmount nor
  // commit the same mount.
  EXPECT_FALSE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(qtest::ReadFileBytes(mnt + L"\\edit.txt"), "edited\n");
  ASSERT_TRUE(qtest::WriteFileBytes(release, "go"));
  ToolResult r = committer.Wait();
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_EQ(Imagex("extract " + Q(wim_) + " 1 /edit.txt --to-stdout"), "edited\n");
  EXPECT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
}

TEST_F(WimgapiConcurrency, CommitAndUnmountRacingNeverCommitAPartialTree) {
  // Enough files that a commit's scan and an unmount's deletion overlap.
  const std::string unixMany = qtest::ShQuote(qtest::UnixPath(dir_) + "/many/m");
  ASSERT_EQ(qtest::RunUnix("mkdir -p " + unixMany + " && cd " + unixMany + " && seq 2000 | xargs touch").exitCode, 0);
  wim_ = dir_ + L"\\many.wim";
  ASSERT_EQ(Capture(dir_ + L"\\many", wim_), 1);
  const std::vector<std::string> full = [&] {
    std::vector<std::string> v = DirList(wim_, 1);
    v.push_back("/race.txt");
    std::sort(v.begin(), v.end());
    return v;
  }();
  for (int round = 0; round < 3; ++round) {
    const std::wstring mnt = Folder(L"race" + std::to_wstring(round));
    ASSERT_TRUE(MountRw(mnt)) << GetLastError();
    ASSERT_TRUE(qtest::WriteFileBytes(mnt + L"\\race.txt", "round " + std::to_string(round) + "\n"));
    ToolProcess committer(L"commit " + Arg(mnt));
    Sleep(100 * round);   // start the unmount at different moments
    BOOL unmounted = W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE);
    DWORD unmountError = GetLastError();
    ToolResult r = committer.Wait();
    // Either one went first and the other was refused as busy (or found
    // nothing left to commit), or they went one after the other.
    if (!unmounted) {
      EXPECT_EQ(unmountError, static_cast<DWORD>(ERROR_BUSY));
      EXPECT_EQ(r.exitCode, 0u) << r.output;
      EXPECT_TRUE(W().UnmountImage(mnt.c_str(), nullptr, 0, FALSE)) << GetLastError();
    } else {
      EXPECT_TRUE(r.exitCode == 0 || r.exitCode == ERROR_BUSY || r.exitCode == ERROR_NOT_FOUND)
          << "round " << round << ": " << r.output;
    }
    // Whatever was committed is the whole tree.
    std::vector<std::string> now = DirList(wim_, 1);
    std::sort(now.begin(), now.end());
    if (r.exitCode == 0) EXPECT_EQ(now, full) << "round " << round;
    Imagex("verify " + Q(wim_));
    EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
  }
}

// Entries of a folder (up to the first failure to read it).
size_t CountEntries(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  size_t n = 0;
  do {
    std::wstring name = fd.cFileName;
    n += name != L"." && name != L"..";
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return n;
}

TEST_F(WimgapiConcurrency, TheListStaysReadableWhileAnotherProcessDeletesAMount) {
  if (FuseUsable()) GTEST_SKIP() << "a FUSE mount's folder is not emptied file by file";
  // An image with many files, so that deleting them takes a while.
  const size_t kFiles = 6000;
  const std::wstring many = dir_ + L"\\many";
  const std::string unixMany = qtest::ShQuote(qtest::UnixPath(dir_) + "/many/m");
  ASSERT_EQ(qtest::RunUnix("mkdir -p " + unixMany + " && cd " + unixMany + " && seq " + std::to_string(kFiles) +
                           " | xargs touch").exitCode, 0);
  wim_ = dir_ + L"\\many.wim";
  ASSERT_EQ(Capture(many, wim_), 1);
  const std::wstring mnt = Folder(L"mnt");
  ASSERT_TRUE(MountRw(mnt)) << GetLastError();
  ASSERT_EQ(CountEntries(mnt + L"\\m"), kFiles);

  // While the other process empties the folder, this one still gets the
  // list at once (with the mount still in it, as it is not gone yet).
  ToolProcess unmounter(L"unmount " + Arg(mnt));
  bool listedDuringDeletion = false;
  while (unmounter.Running() && !listedDuringDeletion) {
    size_t left = CountEntries(mnt + L"\\m");
    if (left == 0 || left == kFiles) continue;
    std::vector<WIM_MOUNT_LIST> list(8);
    DWORD size = static_cast<DWORD>(list.size() * sizeof(WIM_MOUNT_LIST));
    ASSERT_TRUE(W().GetMountedImages(list.data(), &size)) << GetLastError();
    for (DWORD i = 0; i < size / sizeof(WIM_MOUNT_LIST); ++i)
      if (CompareStringOrdinal(list[i].MountPath, -1, mnt.c_str(), -1, TRUE) == CSTR_EQUAL &&
          CountEntries(mnt + L"\\m") > 0)
        listedDuringDeletion = true;
  }
  ToolResult r = unmounter.Wait();
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_TRUE(listedDuringDeletion) << "the list was locked for the whole deletion";
  EXPECT_EQ(CountEntries(mnt), 0u);
  EXPECT_EQ(FindInfo(MountInfo(), mnt), nullptr);
}

}  // namespace
