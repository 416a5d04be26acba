// The browser page's pending changes without a window: how a folder looks
// with them, where a renamed or new folder is in the image, the update they
// make, undo, names Windows cannot hold, and the guard that takes an
// in-place write back.
#include <gtest/gtest.h>

#include "engine/image_update.h"
#include "harness.h"
#include "pages/browser_edits.h"

namespace {

// A listing of one folder of an image: (name, is a folder) each.
FolderListing Listing(std::initializer_list<std::pair<const wchar_t*, bool>> children) {
  FolderListing listing;
  for (const auto& child : children) {
    FolderEntry entry;
    entry.isFolder = child.second;
    listing.Add(entry, child.first);
  }
  return listing;
}

const ShownEntry* Named(const std::vector<ShownEntry>& entries, const std::wstring& name) {
  for (const ShownEntry& entry : entries)
    if (entry.name == name) return &entry;
  return nullptr;
}

// The root of an image: a.txt, b.txt, folder d.
FolderListing Root() { return Listing({{L"a.txt", false}, {L"b.txt", false}, {L"d", true}}); }

TEST(BrowserEditsTest, EachKindOfChangeIsMarkedWhereItHappens) {
  BrowserEdits edits;
  edits.BeginAction();
  edits.Add(L"", L"new.txt", L"C:\\src\\new.txt", false, false);
  edits.BeginAction();
  edits.Add(L"", L"a.txt", L"C:\\src\\a.txt", false, true);
  edits.BeginAction();
  edits.Delete(L"", L"d", true);
  edits.BeginAction();
  edits.Rename(L"", L"b.txt", L"c.txt");
  std::vector<ShownEntry> shown = edits.Apply(L"", Root());
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(Named(shown, L"new.txt")->mark, EditMark::kAdded);
  EXPECT_TRUE(Named(shown, L"new.txt")->imagePath.empty());
  EXPECT_EQ(Named(shown, L"a.txt")->mark, EditMark::kReplaced);
  EXPECT_EQ(Named(shown, L"d")->mark, EditMark::kDeleted);
  ASSERT_TRUE(Named(shown, L"c.txt"));
  EXPECT_EQ(Named(shown, L"c.txt")->mark, EditMark::kRenamed);
  EXPECT_EQ(Named(shown, L"c.txt")->imagePath, L"\\b.txt");
  EXPECT_FALSE(Named(shown, L"b.txt"));
  EXPECT_EQ(edits.Count(), 4);

  // Undo takes back one action at a time, the last first.
  EXPECT_TRUE(edits.Undo());
  shown = edits.Apply(L"", Root());
  EXPECT_EQ(Named(shown, L"b.txt")->mark, EditMark::kNone);
  EXPECT_TRUE(edits.Undo());
  EXPECT_EQ(Named(edits.Apply(L"", Root()), L"d")->mark, EditMark::kNone);
  edits.Clear();
  EXPECT_TRUE(edits.empty());
  EXPECT_FALSE(edits.Undo());
}

TEST(BrowserEditsTest, OneDropOfSeveralItemsIsTakenBackAtOnce) {
  BrowserEdits edits;
  edits.BeginAction();
  edits.Add(L"", L"x", L"C:\\x", false, false);
  edits.Add(L"", L"y", L"C:\\y", false, false);
  edits.BeginAction();
  edits.Delete(L"", L"a.txt", false);
  EXPECT_EQ(edits.Count(), 3);
  edits.Undo();
  EXPECT_EQ(edits.Count(), 2);
  edits.Undo();
  EXPECT_EQ(edits.Count(), 0);
}

TEST(BrowserEditsTest, AFolderKeepsItsContentThroughARenameAndANewFolderIsEmpty) {
  BrowserEdits edits;
  edits.BeginAction();
  edits.Rename(L"", L"d", L"docs");
  std::wstring inImage;
  ASSERT_TRUE(edits.ImageFolderOf(L"\\docs", inImage));
  EXPECT_EQ(inImage, L"\\d");
  ASSERT_TRUE(edits.ImageFolderOf(L"\\docs\\sub", inImage));
  EXPECT_EQ(inImage, L"\\d\\sub");
  // A file added into the renamed folder is added under its new name, and
  // shown there beside what the folder held.
  edits.BeginAction();
  edits.Add(L"\\docs", L"more.txt", L"C:\\more.txt", false, false);
  std::vector<ShownEntry> shown = edits.Apply(L"\\docs", Listing({{L"c.txt", false}}));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Named(shown, L"c.txt")->imagePath, L"\\d\\c.txt");
  EXPECT_EQ(Named(shown, L"more.txt")->mark, EditMark::kAdded);

  edits.BeginAction();
  edits.NewFolder(L"", L"新建文件夹");
  EXPECT_FALSE(edits.ImageFolderOf(L"\\新建文件夹", inImage));
  edits.BeginAction();
  edits.Add(L"\\新建文件夹", L"inside.txt", L"C:\\inside.txt", false, false);
  shown = edits.Apply(L"\\新建文件夹", Listing({{L"ignored", false}}));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].name, L"inside.txt");

  std::vector<ImageUpdateCommand> commands = edits.Commands();
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].op, ImageUpdateOp::kRename);
  EXPECT_EQ(commands[0].path, L"\\d");
  EXPECT_EQ(commands[0].target, L"\\docs");
  EXPECT_EQ(commands[1].op, ImageUpdateOp::kAdd);
  EXPECT_EQ(commands[1].path, L"\\docs\\more.txt");
  EXPECT_EQ(commands[1].source, L"C:\\more.txt");
  EXPECT_EQ(commands[2].op, ImageUpdateOp::kNewFolder);
  EXPECT_EQ(commands[2].path, L"\\新建文件夹");
  EXPECT_EQ(commands[3].path, L"\\新建文件夹\\inside.txt");
}

TEST(BrowserEditsTest, DeletingWhatWasAddedLeavesNoRowAndAReplacementIsOneCommand) {
  BrowserEdits edits;
  edits.BeginAction();
  edits.Add(L"", L"new.txt", L"C:\\new.txt", false, false);
  edits.BeginAction();
  edits.Delete(L"", L"new.txt", false);
  EXPECT_FALSE(Named(edits.Apply(L"", Root()), L"new.txt"));
  edits.Clear();
  edits.BeginAction();
  edits.Add(L"", L"d", L"C:\\other\\d", true, true);
  std::vector<ImageUpdateCommand> commands = edits.Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_TRUE(commands[0].replace);
  // The replaced folder's old content is not shown inside it.
  std::wstring inImage;
  EXPECT_FALSE(edits.ImageFolderOf(L"\\d", inImage));
}

TEST(BrowserEditsTest, NamesWindowsCannotHoldAreRefused) {
  for (const wchar_t* bad : {L"", L".", L"..", L"a/b", L"a\\b", L"a:b", L"a*", L"what?", L"\"q\"", L"<x>", L"p|q",
                             L"trailing.", L"trailing ", L"CON", L"con.txt", L"Nul", L"COM1", L"lpt9.log", L"AUX ",
                             L"tab\there"})
    EXPECT_FALSE(IsValidWindowsName(bad)) << qtest::Utf8(bad);
  EXPECT_FALSE(IsValidWindowsName(std::wstring(256, L'x')));
  for (const wchar_t* good : {L"a.txt", L"COM10", L"console", L"LPT0", L".hidden", L"新建文件夹", L"a b", L"x..y"})
    EXPECT_TRUE(IsValidWindowsName(good)) << qtest::Utf8(good);
  EXPECT_TRUE(IsValidWindowsName(std::wstring(255, L'x')));
}

// The guard of an in-place write: a file that grew and got a new header is
// cut back and given its old header and time, byte for byte.
TEST(InPlaceGuardTest, TakesAFileBackToItsOldLengthAndHeader) {
  std::wstring path = qtest::TempDir() + L"\\guarded.bin";
  std::string bytes;
  for (int i = 0; i < 5000; i++) bytes += static_cast<char>(i * 7);
  ASSERT_TRUE(qtest::WriteFileBytes(path, bytes));
  InPlaceGuard guard;
  ASSERT_TRUE(guard.Take(path));
  EXPECT_TRUE(guard.Unchanged());
  FILETIME before = {};
  {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileTime(file, nullptr, nullptr, &before);
    CloseHandle(file);
  }
  std::string grown = bytes;
  grown[3] = 'X';
  grown[200] = 'Y';
  grown += std::string(100000, 'z');
  ASSERT_TRUE(qtest::WriteFileBytes(path, grown));
  EXPECT_FALSE(guard.Unchanged());
  ASSERT_TRUE(guard.Restore());
  EXPECT_TRUE(qtest::ReadFileBytes(path) == bytes);
  EXPECT_TRUE(guard.Unchanged());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME after = {};
  GetFileTime(file, nullptr, nullptr, &after);
  CloseHandle(file);
  EXPECT_EQ(CompareFileTime(&before, &after), 0);
}

}  // namespace
