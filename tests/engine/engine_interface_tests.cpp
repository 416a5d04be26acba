// The engine interface over both back ends, checked with wimlib-imagex: the
// delete and edit page's save, the information and part count read back;
// on wimlib also its abort (before and during the rewrite), browsing and
// extraction with its own cancel.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine.h"
#include "engine_fixture.h"

using etest::ImageCount;
using etest::InfoField;

namespace {

class EngineInterfaceTest : public etest::EngineTest, public ::testing::WithParamInterface<BackendKind> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (GetParam() == kBackendWimlib ? !NeedWimlib() : !NeedWimgapi()) GTEST_SKIP() << "back end not bound";
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
  }
  std::unique_ptr<Engine> Make() { return MakeEngine(GetParam(), dir_); }
  // A file of `count` images of the sample tree, named "Image 1"...
  std::wstring ThreeImages(int count = 3) {
    std::wstring wim = dir_ + L"\\images.wim";
    for (int i = 1; i <= count; i++) EXPECT_TRUE(etest::OracleCapture(src_, wim, "Image " + std::to_string(i)));
    return wim;
  }
  static ImageRow Row(int index, const wchar_t* name, bool boot = false) {
    ImageRow row;
    row.index = index;
    row.info.name = name;
    row.boot = boot;
    return row;
  }
  std::wstring src_;
};

TEST_P(EngineInterfaceTest, DeleteKeepsTheRowsWithTheirMetadataAndMovesTheBootMark) {
  std::wstring wim = ThreeImages();
  DeleteRequest request;
  request.wimPath = wim;
  request.imageCount = 3;
  request.rows = {Row(1, L"First"), Row(3, L"Third", true)};
  request.rows[0].info.description = L"One & <two>";
  ASSERT_EQ(Make()->Delete(request), kResultSuccess);
  EXPECT_EQ(ImageCount(wim), 2);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "First");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "One & <two>");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Third");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "2");
  EXPECT_TRUE(etest::OracleVerify(wim));

  WimSummary summary;
  ASSERT_EQ(Make()->ReadInfo(wim, summary), kResultSuccess);
  EXPECT_EQ(summary.imageCount, 2);
  EXPECT_EQ(summary.bootIndex, 2);
  EXPECT_EQ(summary.totalParts, 1);
  EXPECT_NE(summary.xmlText.find(L"Third"), std::wstring::npos);

  // Rows listed from a file that no longer holds that many images, or no
  // rows at all: the file is not touched.
  const std::string before = qtest::ReadFileBytes(wim);
  request.rows = {Row(1, L"Again")};
  EXPECT_EQ(Make()->Delete(request), kResultFailed);
  request.imageCount = 2;
  request.rows.clear();
  EXPECT_EQ(Make()->Delete(request), kResultFailed);
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(Make()->ReadInfo(dir_ + L"\\none.wim", summary), kResultFailed);
}

TEST_P(EngineInterfaceTest, PartCountTellsAPartOfASplitSet) {
  ASSERT_TRUE(qtest::WriteFileBytes(src_ + L"\\noise.bin", etest::RandomBytes(3 << 20, 7)));
  std::wstring wim = ThreeImages(1);
  ASSERT_EQ(etest::Imagex("split " + etest::Q(wim) + " " + etest::Q(dir_ + L"\\part.swm") + " 1").exitCode, 0);
  int parts = 0;
  ASSERT_EQ(Make()->ReadPartCount(wim, parts), kResultSuccess);
  EXPECT_EQ(parts, 1);
  ASSERT_EQ(Make()->ReadPartCount(dir_ + L"\\part.swm", parts), kResultSuccess);
  EXPECT_GT(parts, 1);
  EXPECT_EQ(Make()->ReadPartCount(dir_ + L"\\none.wim", parts), kResultFailed);
}

TEST_P(EngineInterfaceTest, SetImageInfoWritesOneImage) {
  std::wstring wim = ThreeImages(2);
  SetImageInfoRequest request;
  request.wimPath = wim;
  request.index = 2;
  request.info.name = L"Second";
  request.info.description = L"Described";
  ASSERT_EQ(Make()->SetImageInfo(request), kResultSuccess);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Image 1");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Second");
  EXPECT_EQ(InfoField(wim, 2, "Description"), "Described");
  EXPECT_TRUE(etest::OracleVerify(wim));
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineInterfaceTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });

class WimlibInterfaceTest : public etest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!NeedWimlib()) GTEST_SKIP() << "libwim-15.dll is not in bin\\wimlib";
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
    for (int i = 0; i < 8; i++)
      ASSERT_TRUE(qtest::WriteFileBytes(src_ + L"\\noise" + std::to_wstring(i) + L".bin", etest::RandomBytes(4 << 20, i)));
  }
  std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  }
  std::wstring src_;
};

// An abort before the save and one in the middle of its rewrite: either
// ends as cancelled, and the file is byte for byte what it was.
TEST_F(WimlibInterfaceTest, AnAbortedDeleteSaveLeavesTheFileAsItWas) {
  std::wstring wim = dir_ + L"\\two.wim";
  ASSERT_TRUE(etest::OracleCapture(src_, wim, "One"));
  ASSERT_TRUE(etest::OracleCapture(src_ + L"\\sub", wim, "Two"));
  const std::string before = qtest::ReadFileBytes(wim);
  const std::vector<std::wstring> files = FilesIn(dir_);
  DeleteRequest request;
  request.wimPath = wim;
  request.imageCount = 2;
  ImageRow kept;
  kept.index = 1;
  kept.info.name = L"Kept";
  request.rows = {kept};
  request.progress = &progress_;

  host_.cancelRequested = 1;
  host_.cancelConfirmed = 1;
  EXPECT_EQ(MakeEngine(kBackendWimlib)->Delete(request), kResultAborted);
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(FilesIn(dir_), files);

  host_.cancelRequested = 0;
  host_.cancelConfirmed = 0;
  int percents = 0;
  progress_.onPercent = [&](float) {
    if (++percents > 1) return;
    host_.cancelRequested = 1;
    host_.cancelConfirmed = 1;
  };
  EXPECT_EQ(MakeEngine(kBackendWimlib)->Delete(request), kResultAborted);
  EXPECT_EQ(percents, 1);
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(FilesIn(dir_), files);
  EXPECT_TRUE(etest::OracleVerify(wim));

  host_.cancelRequested = 0;
  host_.cancelConfirmed = 0;
  progress_.onPercent = nullptr;
  ASSERT_EQ(MakeEngine(kBackendWimlib)->Delete(request), kResultSuccess);
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Kept");
}

// Browsing lists a folder's children; an extraction goes to its own
// display and stops at its own cancel flag.
TEST_F(WimlibInterfaceTest, BrowseAndExtractWithTheirOwnCancel) {
  std::wstring wim = dir_ + L"\\one.wim";
  ASSERT_TRUE(etest::OracleCapture(src_, wim, "One"));
  std::unique_ptr<BrowsedWim> browsed = MakeEngine(kBackendWimlib)->OpenForBrowsing(wim);
  ASSERT_TRUE(browsed);
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(browsed->ListFolder(1, L"\\sub", entries));
  std::vector<std::wstring> names;
  for (const FolderEntry& e : entries) names.push_back(e.name + (e.isFolder ? L"\\" : L""));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"big.bin", L"deeper\\", L"\U0001F600.txt"}));
  auto big = std::find_if(entries.begin(), entries.end(), [](const FolderEntry& e) { return e.name == L"big.bin"; });
  ASSERT_NE(big, entries.end());
  EXPECT_TRUE(big->hasData);
  EXPECT_EQ(big->size, 300000u);
  EXPECT_EQ(big->fullPath, L"\\sub\\big.bin");
  EXPECT_FALSE(MakeEngine(kBackendWimgapi)->OpenForBrowsing(wim));

  ExtractRequest request;
  request.wimPath = wim;
  request.paths = {L"\\sub", L"\\noise3.bin"};
  request.target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(request.target));
  volatile LONG cancel = 1;
  request.cancel = &cancel;
  EXPECT_EQ(MakeEngine(kBackendWimlib)->Extract(request), kResultAborted);
  EXPECT_TRUE(FilesIn(request.target).empty());
  cancel = 0;
  ASSERT_EQ(MakeEngine(kBackendWimlib)->Extract(request), kResultSuccess);
  EXPECT_TRUE(etest::SameTree(src_ + L"\\sub", request.target + L"\\sub"));
  EXPECT_TRUE(qtest::ReadFileBytes(request.target + L"\\noise3.bin") == qtest::ReadFileBytes(src_ + L"\\noise3.bin"));
  EXPECT_TRUE(progress_.percents.empty());  // the page's display hears nothing of it
  EXPECT_EQ(MakeEngine(kBackendWimgapi)->Extract(request), kResultNotBound);
}

}  // namespace
