// wimgapi.dll: mounting, committing and unmounting, and the mount list
// shared between processes.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

bool FolderIsEmpty(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    std::wstring n = fd.cFileName;
    if (n != L"." && n != L"..") empty = false;
  } while (empty && FindNextFileW(h, &fd));
  FindClose(h);
  return empty;
}

std::vector<WIM_MOUNT_LIST> MountList() {
  DWORD size = sizeof(WIM_MOUNT_LIST);
  std::vector<BYTE> buffer(size);
  if (!W().GetMountedImages(reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data()), &size)) {
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    buffer.assign(size, 0);
    EXPECT_TRUE(W().GetMountedImages(reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data()), &size));
  }
  auto* first = reinterpret_cast<WIM_MOUNT_LIST*>(buffer.data());
  return std::vector<WIM_MOUNT_LIST>(first, first + size / sizeof(WIM_MOUNT_LIST));
}

// Permission bits of a path as Linux sees them, in octal ("755").
std::string Mode(const std::wstring& path) {
  std::string out = qtest::RunUnix("stat -c %a " + Q(path)).output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

const WIM_MOUNT_LIST* FindMount(const std::vector<WIM_MOUNT_LIST>& list, const std::wstring& folder) {
  for (const auto& m : list)
    if (CompareStringOrdinal(m.MountPath, -1, folder.c_str(), -1, TRUE) == CSTR_EQUAL) return &m;
  return nullptr;
}

class WimgapiMount : public OneImageWimTest {
 protected:
  void SetUp() override {
    OneImageWimTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(Capture(src_ + L"\\sub", wim_, WIM_COMPRESS_XPRESS, true), 2);
    {
      Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
      Handle image(W().LoadImage(file.get(), 1));
      std::wstring xml = L"\xFEFF<IMAGE INDEX=\"1\"><NAME>Base</NAME><DESCRIPTION>d</DESCRIPTION></IMAGE>";
      ASSERT_TRUE(W().SetImageInformation(image.get(), &xml[0], static_cast<DWORD>(xml.size() * 2)));
    }
    mnt_ = Folder(L"mnt");
    mnt2_ = Folder(L"mnt2");
  }

  // Mounts image index of wim_ through WIMMountImageHandle.
  BOOL Mount(int index, const std::wstring& folder, bool rw, Recorder* rec = nullptr) {
    return MountWim(wim_, index, folder, rw, rec);
  }
  std::string ExtractText(int index, const std::string& path) {
    return Imagex("extract " + Q(wim_) + " " + std::to_string(index) + " " + qtest::ShQuote(path) + " --to-stdout");
  }
  std::wstring mnt_, mnt2_;
};

TEST_F(WimgapiMount, WritableMountCommitAndUnmountStoreTheEdit) {
  const std::vector<std::string> image2 = DirList(wim_, 2);
  Recorder rec;
  ASSERT_TRUE(Mount(1, mnt_, true, &rec)) << GetLastError();
  EXPECT_EQ(rec.Count(WIM_MSG_PROCESS), 9u);
  EXPECT_EQ(qtest::ReadFileBytes(mnt_ + L"\\small.txt"), "hello quarry\n");

  // The handles are closed; the mount stays and is listed.
  std::vector<WIM_MOUNT_LIST> list = MountList();
  const WIM_MOUNT_LIST* m = FindMount(list, mnt_);
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m->WimPath, FullPath(wim_).c_str());
  EXPECT_EQ(m->ImageIndex, 1u);
  EXPECT_TRUE(m->MountedForRW);

  // Edit the mounted image.
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\added.txt", "added in the mount\n"));
  ASSERT_TRUE(DeleteFileW((mnt_ + L"\\small.txt").c_str()));
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\sub\\deeper\\repeat.txt", "changed\n"));

  // What the mount manager does: handles for the folder, commit, unmount.
  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(mnt_.c_str(), 0, &wim, &image)) << GetLastError();
  Handle wimHandle(wim), imageHandle(image);
  ASSERT_TRUE(W().CommitImageHandle(image, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(W().UnmountImageHandle(image, 0)) << GetLastError();
  imageHandle.Reset();
  wimHandle.Reset();

  EXPECT_TRUE(FolderIsEmpty(mnt_));
  EXPECT_EQ(FindMount(MountList(), mnt_), nullptr);
  std::vector<std::string> files = DirList(wim_, 1);
  EXPECT_NE(std::find(files.begin(), files.end(), "/added.txt"), files.end());
  EXPECT_EQ(std::find(files.begin(), files.end(), "/small.txt"), files.end());
  EXPECT_EQ(ExtractText(1, "/added.txt"), "added in the mount\n");
  EXPECT_EQ(ExtractText(1, "/sub/deeper/repeat.txt"), "changed\n");
  // Same index, same metadata; the other image untouched.
  std::string info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Image Count"), "2");
  EXPECT_EQ(InfoField(info, "Name", 1), "Base");
  EXPECT_EQ(InfoField(info, "Description", 1), "d");
  EXPECT_EQ(DirList(wim_, 2), image2);
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiMount, UnmountWithoutCommitDiscardsTheChanges) {
  const std::string before = qtest::ReadFileBytes(wim_);
  ASSERT_TRUE(Mount(1, mnt_, true));
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\added.txt", "lost\n"));
  ASSERT_TRUE(DeleteFileW((mnt_ + L"\\small.txt").c_str()));
  EXPECT_TRUE(W().UnmountImage(mnt_.c_str(), wim_.c_str(), 1, FALSE)) << GetLastError();
  EXPECT_TRUE(FolderIsEmpty(mnt_));
  EXPECT_TRUE(GetFileAttributesW(mnt_.c_str()) & FILE_ATTRIBUTE_DIRECTORY);   // the folder stays
  EXPECT_EQ(qtest::ReadFileBytes(wim_), before);
  std::vector<std::string> files = DirList(wim_, 1);
  EXPECT_EQ(std::find(files.begin(), files.end(), "/added.txt"), files.end());
  EXPECT_NE(std::find(files.begin(), files.end(), "/small.txt"), files.end());

  // With the older form and commit: the change is stored.
  ASSERT_TRUE(W().MountImage(mnt_.c_str(), wim_.c_str(), 2, dir_.c_str())) << GetLastError();
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\second.txt", "kept\n"));
  EXPECT_TRUE(W().UnmountImage(mnt_.c_str(), wim_.c_str(), 2, TRUE)) << GetLastError();
  EXPECT_TRUE(FolderIsEmpty(mnt_));
  EXPECT_EQ(ExtractText(2, "/second.txt"), "kept\n");
}

TEST_F(WimgapiMount, ReadOnlyMountRefusesChanges) {
  ASSERT_EQ(qtest::RunUnix("chmod 750 " + Q(mnt_)).exitCode, 0);
  ASSERT_TRUE(Mount(2, mnt_, false)) << GetLastError();
  const WIM_MOUNT_LIST* m = FindMount(MountList(), mnt_);
  ASSERT_NE(m, nullptr);
  EXPECT_FALSE(m->MountedForRW);
  EXPECT_EQ(qtest::ReadFileBytes(mnt_ + L"\\deeper\\repeat.txt"), std::string(100000, 'a'));
  // An extracted copy: the folder itself and everything in it lose their
  // write permission (root writes through any permission, so the modes are
  // what counts). A FUSE mount refuses every write, root's too.
  const bool copy = MountKindOf(mnt_) == kKindCopy;
  if (copy) {
    EXPECT_EQ(Mode(mnt_), "550");
    EXPECT_EQ(Mode(mnt_ + L"\\deeper"), "555");
    EXPECT_EQ(Mode(mnt_ + L"\\big.bin"), "444");
    EXPECT_TRUE(GetFileAttributesW((mnt_ + L"\\big.bin").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(GetFileAttributesW((mnt_ + L"\\deeper\\repeat.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  }
  if (!copy || qtest::RunUnix("test \"$(id -u)\" != 0").exitCode == 0) {
    EXPECT_FALSE(qtest::WriteFileBytes(mnt_ + L"\\big.bin", "overwrite"));
    EXPECT_FALSE(qtest::WriteFileBytes(mnt_ + L"\\new.txt", "new"));
  }

  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(mnt_.c_str(), 0, &wim, &image));
  Handle wimHandle(wim), imageHandle(image);
  EXPECT_FALSE(W().CommitImageHandle(image, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(W().UnmountImageHandle(image, 0)) << GetLastError();
  EXPECT_TRUE(FolderIsEmpty(mnt_));
  EXPECT_EQ(Mode(mnt_), "750");   // as it was before the mount

  // A writable mount needs write access, any mount needs mount access.
  {
    Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_MOUNT, WIM_OPEN_EXISTING);
    Handle img(W().LoadImage(file.get(), 1));
    EXPECT_FALSE(W().MountImageHandle(img.get(), mnt_.c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  {
    Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
    Handle img(W().LoadImage(file.get(), 1));
    EXPECT_FALSE(W().MountImageHandle(img.get(), mnt_.c_str(), WIM_FLAG_MOUNT_READONLY));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  EXPECT_TRUE(FolderIsEmpty(mnt_));
}

TEST_F(WimgapiMount, ConflictsAndUnknownMountsAreRefused) {
  ASSERT_TRUE(Mount(1, mnt_, true));
  EXPECT_FALSE(Mount(1, mnt2_, false));   // the same image again
  EXPECT_EQ(GetLastError(), ERROR_BUSY);
  EXPECT_FALSE(Mount(2, mnt_, false));    // the same folder again
  EXPECT_EQ(GetLastError(), ERROR_BUSY);
  ASSERT_TRUE(qtest::WriteFileBytes(mnt2_ + L"\\x.txt", "occupied"));
  EXPECT_FALSE(Mount(2, mnt2_, false));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(qtest::ReadFileBytes(mnt2_ + L"\\x.txt"), "occupied");
  EXPECT_FALSE(Mount(2, dir_ + L"\\missing", false));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  {
    // Deleting an image would renumber a mounted one. A file that a FUSE
    // mount writes to is not even opened by another writer.
    DWORD created = 0;
    Handle file(W().CreateFile(wim_.c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING, 0, 0, &created));
    if (file) EXPECT_FALSE(W().DeleteImage(file.get(), 2));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  HANDLE wim = reinterpret_cast<HANDLE>(1), image = reinterpret_cast<HANDLE>(1);
  EXPECT_FALSE(W().GetMountedImageHandle(mnt2_.c_str(), 0, &wim, &image));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  EXPECT_EQ(wim, nullptr);
  EXPECT_FALSE(W().GetMountedImageHandle(nullptr, 0, &wim, &image));
  EXPECT_FALSE(W().UnmountImage(mnt2_.c_str(), nullptr, 0, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  EXPECT_FALSE(W().UnmountImage(mnt_.c_str(), (dir_ + L"\\other.wim").c_str(), 1, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(W().UnmountImageHandle(nullptr, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // An image handle that is not mounted.
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  Handle img(W().LoadImage(file.get(), 2));
  EXPECT_FALSE(W().UnmountImageHandle(img.get(), 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  EXPECT_TRUE(FindMount(MountList(), mnt_) != nullptr);
}

TEST_F(WimgapiMount, TheListIsSharedWithOtherProcessesAndSizesItsBuffer) {
  ASSERT_TRUE(Mount(1, mnt_, true));
  // Another process mounts image 2 read-only and ends.
  ToolResult r = RunTool(L"mount \"" + wim_ + L"\" 2 \"" + mnt2_ + L"\"");
  ASSERT_EQ(r.exitCode, 0u) << r.output;

  // Both are listed here, and there.
  std::vector<WIM_MOUNT_LIST> list = MountList();
  ASSERT_NE(FindMount(list, mnt_), nullptr);
  ASSERT_NE(FindMount(list, mnt2_), nullptr);
  EXPECT_EQ(FindMount(list, mnt2_)->ImageIndex, 2u);
  EXPECT_FALSE(FindMount(list, mnt2_)->MountedForRW);
  r = RunTool(L"mounts");
  ASSERT_EQ(r.exitCode, 0u);
  EXPECT_NE(r.output.find("1\tRW\t" + qtest::Utf8(FullPath(wim_)) + "\t" + qtest::Utf8(mnt_)), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("2\tR\t" + qtest::Utf8(FullPath(wim_)) + "\t" + qtest::Utf8(mnt2_)), std::string::npos)
      << r.output;

  // Too small a buffer: ERROR_INSUFFICIENT_BUFFER and the size needed.
  DWORD size = 0;
  EXPECT_FALSE(W().GetMountedImages(nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, list.size() * sizeof(WIM_MOUNT_LIST));
  EXPECT_FALSE(W().GetMountedImages(nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // The other process's mount is unmounted here, ours there (with commit).
  EXPECT_TRUE(W().UnmountImage(mnt2_.c_str(), nullptr, 0, FALSE));
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\from-here.txt", "x"));
  r = RunTool(L"unmount \"" + mnt_ + L"\" commit");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  EXPECT_EQ(FindMount(MountList(), mnt_), nullptr);
  EXPECT_EQ(FindMount(MountList(), mnt2_), nullptr);
  EXPECT_TRUE(FolderIsEmpty(mnt_));
  EXPECT_TRUE(FolderIsEmpty(mnt2_));
  EXPECT_EQ(ExtractText(1, "/from-here.txt"), "x");
}

TEST_F(WimgapiMount, MountPathsTheListCannotHoldWholeAreRefused) {
  // 260 characters and more: the mount list keeps MAX_PATH per path.
  const std::string d(120, 'd'), e(120, 'e');
  std::wstring deep = dir_ + L"\\" + qtest::Wide(d) + L"\\" + qtest::Wide(e);
  ASSERT_GT(deep.size(), 259u);
  ASSERT_EQ(qtest::RunUnix("mkdir -p " + qtest::ShQuote(qtest::UnixPath(dir_) + "/" + d + "/" + e)).exitCode, 0);
  SetLastError(0);
  EXPECT_FALSE(Mount(1, deep, true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(W().MountImage(deep.c_str(), wim_.c_str(), 1, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(qtest::RunUnix("ls -A " + qtest::ShQuote(qtest::UnixPath(dir_) + "/" + d + "/" + e)).output, "");
  EXPECT_EQ(FindMount(MountList(), deep), nullptr);
  EXPECT_EQ(FindMount(MountList(), deep.substr(0, MAX_PATH - 1)), nullptr);
  // 259 characters still fit.
  std::wstring fits = deep.substr(0, 259);
  ASSERT_TRUE(CreateDirectoryW(fits.c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(Mount(1, fits, false)) << GetLastError();
  const WIM_MOUNT_LIST* m = FindMount(MountList(), fits);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(W().UnmountImage(m->MountPath, nullptr, 0, FALSE)) << GetLastError();

  // A longer mount left in the list by an older version is listed cut
  // short; the cut path still unmounts it.
  ASSERT_TRUE(qtest::WriteFileBytes(deep + L"\\left.txt", "left over"));
  HANDLE list = CreateFileW(L"C:\\ProgramData\\WimgapiWine\\mounts.txt", FILE_APPEND_DATA, 0, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  std::string line = "M\t1\t1\t" + qtest::Utf8(FullPath(wim_)) + "\t" + qtest::Utf8(deep) + "\n";
  DWORD written = 0;
  WriteFile(list, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(list);
  const std::wstring cut = deep.substr(0, MAX_PATH - 1);
  m = FindMount(MountList(), cut);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(W().UnmountImage(m->MountPath, nullptr, 0, FALSE)) << GetLastError();
  EXPECT_EQ(FindMount(MountList(), cut), nullptr);
  EXPECT_FALSE(Exists(deep + L"\\left.txt"));
}

TEST_F(WimgapiMount, AbortedMountLeavesNothingBehind) {
  Recorder rec;
  rec.handler = [&](DWORD msg, WPARAM, LPARAM) { return msg == WIM_MSG_PROCESS && rec.Count(WIM_MSG_PROCESS) == 4 ? WIM_MSG_ABORT_IMAGE : 0u; };
  EXPECT_FALSE(Mount(1, mnt_, true, &rec));
  EXPECT_EQ(GetLastError(), ERROR_REQUEST_ABORTED);
  EXPECT_TRUE(FolderIsEmpty(mnt_));
  EXPECT_EQ(FindMount(MountList(), mnt_), nullptr);
  EXPECT_TRUE(Mount(1, mnt_, true)) << GetLastError();   // and can be mounted afterwards
}

TEST_F(WimgapiMount, CommitCanAppendTheFolderAsANewImage) {
  ASSERT_TRUE(Mount(2, mnt_, true));
  ASSERT_TRUE(qtest::WriteFileBytes(mnt_ + L"\\extra.txt", "extra\n"));
  HANDLE wim = nullptr, image = nullptr;
  ASSERT_TRUE(W().GetMountedImageHandle(mnt_.c_str(), 0, &wim, &image));
  Handle wimHandle(wim), imageHandle(image);
  HANDLE added = nullptr;
  ASSERT_TRUE(W().CommitImageHandle(image, WIM_COMMIT_FLAG_APPEND, &added)) << GetLastError();
  Handle addedHandle(added);
  ASSERT_TRUE(addedHandle);
  PVOID xml = nullptr;
  DWORD bytes = 0;
  ASSERT_TRUE(W().GetImageInformation(added, &xml, &bytes));
  EXPECT_EQ(std::wstring(static_cast<wchar_t*>(xml) + 1).find(L"<IMAGE INDEX=\"3\""), 0u);
  LocalFree(xml);
  EXPECT_TRUE(W().UnmountImageHandle(image, 0));
  EXPECT_EQ(ExtractText(3, "/extra.txt"), "extra\n");
  std::vector<std::string> two = DirList(wim_, 2);
  EXPECT_EQ(std::find(two.begin(), two.end(), "/extra.txt"), two.end());
}

}  // namespace
