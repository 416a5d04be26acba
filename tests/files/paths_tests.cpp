// The program's words for paths, where they decide what a user gets: a
// folder deeper than MAX_PATH is a folder (and stays the temporary folder
// the settings name), a root keeps its separator, names that differ only in
// the case of any letter are one file, and a string-table text is filled
// without its values being read as markers.
#include <gtest/gtest.h>

#include <windows.h>

#include "config/settings.h"
#include "files_test_util.h"
#include "win/long_path.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {

// A folder some 330 characters deep below the test's folder.
std::wstring MakeDeepFolder() {
  std::wstring path = qtest::TempDir();
  for (int i = 0; path.size() < 330; i++) {
    path += L"\\level-" + std::to_wstring(i) + L"-of-a-deep-folder";
    EXPECT_TRUE(CreateDirectoryW(LongPathForm(path).c_str(), nullptr)) << GetLastError();
  }
  return path;
}

TEST(Paths, AFolderDeeperThanMaxPathIsAFolder) {
  std::wstring deep = MakeDeepFolder();
  ASSERT_GE(deep.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_TRUE(IsExistingFolder(deep));
  EXPECT_TRUE(IsExistingFolder(deep + L"\\"));
  EXPECT_FALSE(FileExists(deep));
  EXPECT_FALSE(IsExistingFolder(deep + L"\\missing"));
}

TEST(Paths, ADeepTemporaryFolderInTheSettingsIsKept) {
  std::wstring deep = MakeDeepFolder();
  std::wstring ini = qtest::TempDir() + L"\\Quarry.ini";
  Settings saved;
  saved.tempFolder = deep;
  SaveSettings(saved, ini);
  Settings loaded;
  LoadSettings(loaded, ini);
  EXPECT_EQ(loaded.tempFolder, deep);
}

TEST(Paths, ARootKeepsItsSeparator) {
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\"), L"C:\\");
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\\\"), L"C:\\");
  EXPECT_EQ(WithoutTrailingSeparator(L"\\"), L"\\");
  EXPECT_EQ(WithoutTrailingSeparator(L"\\\\?\\C:\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\data\\"), L"C:\\data");
  EXPECT_EQ(WithoutTrailingSeparator(L"C:\\data"), L"C:\\data");
  EXPECT_EQ(JoinPath(L"C:\\", L"a.wim"), L"C:\\a.wim");
  EXPECT_EQ(JoinPath(L"C:\\data", L"a.wim"), L"C:\\data\\a.wim");
  // A file on a drive lies inside the drive's root, whichever way it is written.
  EXPECT_TRUE(IsInsideFolder(L"C:\\image.wim", L"C:\\"));
  EXPECT_TRUE(IsInsideFolder(L"C:\\data\\", L"C:\\data"));
  EXPECT_FALSE(IsInsideFolder(L"C:\\database.wim", L"C:\\data"));
}

TEST(Paths, NamesThatDifferOnlyInTheCaseOfAnyLetterAreTheSameFile) {
  std::wstring dir = qtest::TempDir();
  std::wstring lower = dir + L"\\\u00e4rger-\u03c9.wim";  // "ärger-ω.wim"
  std::wstring upper = dir + L"\\\u00c4RGER-\u03a9.WIM";  // "ÄRGER-Ω.WIM"
  ASSERT_TRUE(qtest::WriteFileBytes(lower, "x"));
  // The file system finds one file under both names: so must the program.
  ASSERT_NE(GetFileAttributesW(upper.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(SamePath(lower, upper));
  EXPECT_TRUE(EqualNoCase(L"\u00e4rger", L"\u00c4RGER"));
}

TEST(Paths, ImagesAreReadFromWimEsdAndFirstSplitPartFiles) {
  for (const wchar_t* name : {L"a.wim", L"A.WIM", L"install.esd", L"Install.ESD", L"set.swm", L"SET.SWM"})
    EXPECT_TRUE(IsImageFileName(name)) << qtest::Utf8(name);
  for (const wchar_t* name : {L"a.wim.txt", L"wim", L"a.iso", L"esd", L""})
    EXPECT_FALSE(IsImageFileName(name)) << qtest::Utf8(name);
}

TEST(Strings, FillingATextLeavesMarkersInsideValuesAlone) {
  // A mount folder named "50%2off" must not take in the image's path.
  EXPECT_EQ(FillStr(L"%1 -> %2", {L"C:\\mnt\\50%2off", L"D:\\a.wim"}), L"C:\\mnt\\50%2off -> D:\\a.wim");
  EXPECT_EQ(FillStr(L"%2 %1 %1", {L"a", L"b"}), L"b a a");
  EXPECT_EQ(FillStr(L"%1 %3 100%", {L"a"}), L"a %3 100%");
}

}  // namespace
