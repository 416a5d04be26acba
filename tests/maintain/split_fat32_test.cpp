// The split page's FAT32 preset, and the split of a solid (ESD) file, which
// is offered a conversion into a plain file in the temporary folder first:
// the parts come out no larger than asked, the set applies back equal to
// the source, the source stays as it was and the converted file goes.
#include <gtest/gtest.h>

#include "maintain_fixture.h"

using namespace qtest;

namespace {

class SolidSplitTest : public MaintainTest, public ::testing::WithParamInterface<BackendKind> {};

std::vector<std::wstring> Matching(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  for (const std::wstring& name : NamesIn(folder))
    if (name.find(pattern) != std::wstring::npos) names.push_back(name);
  return names;
}

}  // namespace

TEST_F(MaintainTest, Fat32PresetAsksForPartsOf4095Megabytes) {
  ShowAdvancedTab();
  EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_FAT32), L"FAT32 (每个部分小于 4 GB)");
  Click(splitWnd(), IDC_SPLIT_FAT32);
  EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_SIZE), L"4095");
  EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_UNIT), L"MB");
  EXPECT_LT(4095ull << 20, 4ull << 30);
}

TEST_P(SolidSplitTest, ASolidFileIsConvertedInTheTemporaryFolderSplitAndTheCopyGoes) {
  UseBackend(GetParam());
  ShowAdvancedTab();
  std::wstring folder;
  std::wstring plain = MakeNoiseWim(L"plain.wim", 4, 256 * 1024, &folder);
  std::wstring esd = dir_ + L"\\solid.esd";
  ASSERT_EQ(RunUnix("wimlib-imagex export " + ShQuote(UnixPath(plain)) + " all " + ShQuote(UnixPath(esd)) + " --solid")
                .exitCode,
            0);
  ASSERT_TRUE(FileDataIsSolid(esd));
  std::string esdBytes = ReadFileBytes(esd);
  // The temporary folder of the settings, empty before the split.
  std::wstring temp = TempDir();
  OnUiThread([&] { app_->tempFolder = temp; });

  std::wstring target = dir_ + L"\\usb.wim";
  Type(splitWnd(), IDC_SPLIT_SOURCE, esd);
  Type(splitWnd(), IDC_SPLIT_TARGET, target);
  Type(splitWnd(), IDC_SPLIT_SIZE, L"400");  // KB: more than one noise file, less than the whole
  Click(splitWnd(), IDC_SPLIT_START);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  bool asked = false;
  for (const ShownMessage& m : Messages())
    if (m.text.find(L"无法分割") != std::wstring::npos && m.text.find(temp) != std::wstring::npos) asked = true;
  EXPECT_TRUE(asked) << "the conversion is offered, naming the temporary folder";

  std::vector<std::wstring> parts = Matching(dir_, L"usb");
  ASSERT_GE(parts.size(), 2u);
  for (const std::wstring& part : parts)
    EXPECT_LE(FileSize(dir_ + L"\\" + part), 400u * 1024 + 64 * 1024) << Utf8(part);  // a resource may overhang
  std::wstring joined = dir_ + L"\\joined.wim";
  std::string args;
  for (const std::wstring& part : parts) args += " " + ShQuote(UnixPath(dir_ + L"\\" + part));
  UnixResult join = RunUnix("wimlib-imagex join " + ShQuote(UnixPath(joined)) + args);
  ASSERT_EQ(join.exitCode, 0) << join.output;
  EXPECT_TRUE(SameTrees(joined, plain));
  EXPECT_EQ(ImageXml(joined), ImageXml(esd));
  EXPECT_TRUE(ReadFileBytes(esd) == esdBytes);
  EXPECT_TRUE(NamesIn(temp).empty()) << Utf8(NamesIn(temp).front());
}

// A temporary folder too small for the converted copy: the conversion is
// refused before anything is written, with the space it needs and has.
TEST_F(MaintainTest, AConversionThatDoesNotFitInTheTemporaryFolderIsRefusedBeforeItStarts) {
  std::wstring temp = dir_ + L"\\small";
  ASSERT_TRUE(MakeDirs(temp));
  UnixResult mounted = RunUnix("mount -t tmpfs -o size=1m quarry-small-temp " + ShQuote(UnixPath(temp)) + " 2>&1");
  if (mounted.exitCode != 0) GTEST_SKIP() << "no small volume can be mounted here: " << mounted.output;
  struct Unmount {
    std::wstring path;
    ~Unmount() { RunUnix("umount -l " + ShQuote(UnixPath(path)) + " 2>&1"); }
  } unmountTemp{temp};
  ShowAdvancedTab();
  std::wstring plain = MakeNoiseWim(L"plain.wim", 4, 256 * 1024);
  std::wstring esd = dir_ + L"\\solid.esd";
  ASSERT_EQ(RunUnix("wimlib-imagex export " + ShQuote(UnixPath(plain)) + " all " + ShQuote(UnixPath(esd)) + " --solid")
                .exitCode,
            0);
  std::string esdBytes = ReadFileBytes(esd);
  OnUiThread([&] { app_->tempFolder = temp; });
  Type(splitWnd(), IDC_SPLIT_SOURCE, esd);
  Type(splitWnd(), IDC_SPLIT_TARGET, dir_ + L"\\usb.wim");
  Type(splitWnd(), IDC_SPLIT_SIZE, L"400");
  Click(splitWnd(), IDC_SPLIT_START);
  ASSERT_TRUE(WaitUntil([&] {
    for (const ShownMessage& m : Messages())
      if (m.text.find(L"可用空间不足") != std::wstring::npos) return true;
    return false;
  }));
  bool named = false;
  for (const ShownMessage& m : Messages())
    if (m.text.find(L"可用空间不足") != std::wstring::npos && m.text.find(temp) != std::wstring::npos) named = true;
  EXPECT_TRUE(named) << "the refusal names the temporary folder";
  EXPECT_TRUE(Matching(dir_, L"usb").empty());
  EXPECT_TRUE(NamesIn(temp).empty());
  EXPECT_TRUE(ReadFileBytes(esd) == esdBytes);
}

INSTANTIATE_TEST_SUITE_P(BothBackends, SolidSplitTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });
