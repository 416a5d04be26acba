// The engine interface over both back ends, checked with wimlib-imagex:
// the information and part count read back, one image's metadata written,
// the delete and edit page's save; on wimlib also its abort (before and
// during the rewrite), browsing and extraction with its own cancel.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine.h"
#include "engine/image_xml.h"
#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"
#include "recorder.h"

using etest::ImageCount;
using etest::InfoField;

namespace {

class EngineInterfaceTest : public etest::BackendTest {
 protected:
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
  EngineResult SetInfo(const std::wstring& wim, int index, const ImageInfo& info) {
    SetImageInfoRequest request;
    request.wimPath = wim;
    request.index = index;
    request.info = info;
    return Make(&progress_)->SetImageInfo(request);
  }
};

TEST_P(EngineInterfaceTest, ReadInfoGivesCountBootIndexAndXml) {
  std::wstring wim = OracleWim("\xe4\xb8\x80", "--flags=Core");
  std::wstring src2 = dir_ + L"\\src2";
  qtest::MakeDirs(src2);
  etest::OracleCapture(src2, wim, "two", "--boot");
  WimSummary summary;
  ASSERT_EQ(Make(&progress_)->ReadInfo(wim, summary), kResultSuccess);
  EXPECT_EQ(summary.imageCount, 2);
  EXPECT_EQ(summary.bootIndex, 2);
  EXPECT_EQ(summary.totalParts, 1);
  const std::wstring& xml = summary.xmlText;
  ASSERT_FALSE(xml.empty());
  EXPECT_EQ(xml[0], L'\uFEFF');
  EXPECT_EQ(GetImageXmlValue(xml, 1, L"<NAME>"), L"\u4e00");
  EXPECT_EQ(GetImageXmlValue(xml, 1, L"<FLAGS>"), L"Core");
  EXPECT_EQ(GetImageXmlValue(xml, 2, L"<NAME>"), L"two");
  EXPECT_EQ(GetImageXmlValue(xml, 2, L"<FILECOUNT>"), L"0");
  EXPECT_EQ(Make(&progress_)->ReadInfo(dir_ + L"\\none.wim", summary), kResultFailed);
  EXPECT_TRUE(boxes_.empty());

  if (IsWimgapi()) {
    // WIMGAPI gives the file's XML as stored, and its compression type.
    WimgapiEngine engine(host_.backends, host_.Choice(kBackendWimgapi), host_.Context());
    ASSERT_EQ(engine.ReadWimInfo(wim), 1);
    EXPECT_EQ(engine.WimInfo().CompressionType, 2u);
    EXPECT_EQ(engine.ReadWimInfo(dir_ + L"\\none.wim"), 0);
    return;
  }
  // wimlib's XML is put in display form: one element a line.
  EXPECT_EQ(xml.compare(0, 6, L"\uFEFF<WIM>"), 0) << qtest::Utf8(xml);
  EXPECT_NE(xml.find(L">\r\n<IMAGE INDEX=\"2\">\r\n<"), std::wstring::npos);
  EXPECT_EQ(xml.substr(xml.size() - 6), L"</WIM>");
  EXPECT_EQ(xml.find(L"><"), std::wstring::npos);
  // A failed read leaves nothing of an earlier one behind.
  WimlibEngine engine(host_.backends, host_.Context());
  ASSERT_EQ(engine.ReadWimInfo(wim), kResultSuccess);
  EXPECT_EQ(engine.ReadWimInfo(dir_ + L"\\none.wim"), kResultFailed);
  EXPECT_EQ(engine.WimInfo().image_count, 0u);
  EXPECT_TRUE(engine.XmlText().empty());
  // Without wimlib_get_xml_data the XML stays empty; the rest works.
  host_.backends.wimlib.get_xml_data = nullptr;
  WimSummary noXml;
  EXPECT_EQ(Make(&progress_)->ReadInfo(wim, noXml), kResultSuccess);
  EXPECT_EQ(noXml.imageCount, 2);
  EXPECT_TRUE(noXml.xmlText.empty());
}

TEST_P(EngineInterfaceTest, SetImageInfoWritesTheMetadataAsTyped) {
  std::wstring wim = OracleWim("old", "--flags=Core");
  etest::Imagex("info " + etest::Q(wim) + " 1 --image-property DESCRIPTION=olddesc --image-property DISPLAYNAME=dn");
  ImageInfo info;
  info.name = L"\u4e2d\u6587\u540d\u5b57";
  info.displayName = L"\u663e\u793a";
  info.displayDescription = L"dd";
  ASSERT_EQ(SetInfo(wim, 1, info), kResultSuccess);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d\xe5\xad\x97");
  if (IsWimgapi()) {
    // WIMGAPI replaces the five fields: an empty one loses its element.
    EXPECT_EQ(InfoField(wim, 1, "Description"), "");
    EXPECT_EQ(InfoField(wim, 1, "Display Name"), "\xe6\x98\xbe\xe7\xa4\xba");
    EXPECT_EQ(InfoField(wim, 1, "Display Description"), "dd");
    EXPECT_EQ(InfoField(wim, 1, "Flags"), "");
  } else {
    // wimlib sets only a non-empty name, description and flags; it has
    // no setters for the display fields.
    EXPECT_EQ(InfoField(wim, 1, "Description"), "olddesc");
    EXPECT_EQ(InfoField(wim, 1, "Display Name"), "dn");
    EXPECT_EQ(InfoField(wim, 1, "Display Description"), "");
    EXPECT_EQ(InfoField(wim, 1, "Flags"), "Core");
  }
  EXPECT_TRUE(etest::OracleVerify(wim));
  WimSummary summary;
  ASSERT_EQ(Make(&progress_)->ReadInfo(wim, summary), kResultSuccess);
  EXPECT_EQ(GetImageXmlValue(summary.xmlText, 1, L"<NAME>"), info.name);
  EXPECT_EQ(GetImageXmlValue(summary.xmlText, 1, L"<DESCRIPTION>"), IsWimgapi() ? L"" : L"olddesc");
  EXPECT_EQ(GetImageXmlValue(summary.xmlText, 1, L"<DISPLAYDESCRIPTION>"), IsWimgapi() ? L"dd" : L"");
  // The counts stayed in place.
  EXPECT_EQ(GetImageXmlValue(summary.xmlText, 1, L"<FILECOUNT>"), qtest::Wide(InfoField(wim, 1, "File Count")));

  if (!IsWimgapi()) {
    ImageInfo more;
    more.description = L"d2";
    more.flags = L"Professional";
    EXPECT_EQ(SetInfo(wim, 1, more), kResultSuccess);
    EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d\xe5\xad\x97");
    EXPECT_EQ(InfoField(wim, 1, "Description"), "d2");
    EXPECT_EQ(InfoField(wim, 1, "Flags"), "Professional");
    EXPECT_EQ(SetInfo(wim, 1, ImageInfo()), kResultSuccess);
    EXPECT_TRUE(etest::OracleVerify(wim));
  }

  // Texts with the characters of the markup go in escaped (WIMGAPI is
  // given the XML, wimlib plain text it escapes itself) and come back as
  // the user typed them, "&amp;" typed as text included.
  ImageInfo marked;
  marked.name = L"A & B <1>";
  marked.description = L"R&amp;D > 2";
  StartRecorder();
  ASSERT_EQ(SetInfo(wim, 1, marked), kResultSuccess);
  if (IsWimgapi())
    EXPECT_NE(rec::lastImageXml.find(L"\n<NAME>A &amp; B &lt;1&gt;</NAME>\n<DESCRIPTION>R&amp;amp;D &gt; 2</DESCRIPTION>\n"),
              std::wstring::npos)
        << qtest::Utf8(rec::lastImageXml);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "A & B <1>");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "R&amp;D > 2");
  ASSERT_EQ(Make(&progress_)->ReadInfo(wim, summary), kResultSuccess);
  EXPECT_EQ(GetImageXmlValue(summary.xmlText, 1, L"<NAME>"), marked.name);
  EXPECT_EQ(GetImageXmlValue(summary.xmlText, 1, L"<DESCRIPTION>"), marked.description);
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(boxes_.empty());

  // A missing image or file fails, creating nothing; WIMGAPI names the
  // failed call.
  const std::string before = qtest::ReadFileBytes(wim);
  EXPECT_EQ(SetInfo(wim, 3, marked), kResultFailed);
  if (IsWimgapi()) EXPECT_TRUE(ErrorBoxStartsWith(L"WIMLoadImage()\nError Code: "));
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  boxes_.clear();
  EXPECT_EQ(SetInfo(dir_ + L"\\none.wim", 1, marked), kResultFailed);
  if (IsWimgapi())
    EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCreateFile()\nError Code: "));
  else
    EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\none.wim").c_str()), INVALID_FILE_ATTRIBUTES);
  // wimlib reports the first failing setter even when a later one succeeds.
  if (!IsWimgapi()) EXPECT_EQ(WimlibEngine(host_.backends, host_.Context()).WriteImageInfo(wim, 3, marked), WIMLIB_ERR_INVALID_IMAGE);
}

TEST_P(EngineInterfaceTest, DeleteKeepsTheRowsWithTheirMetadataAndMovesTheBootMark) {
  std::wstring wim = ThreeImages();
  DeleteRequest request;
  request.wimPath = wim;
  request.imageCount = 3;
  request.rows = {Row(1, L"First"), Row(3, L"Third", true)};
  request.rows[0].info.description = L"One & <two>";
  ASSERT_EQ(Make(&progress_)->Delete(request), kResultSuccess);
  EXPECT_EQ(ImageCount(wim), 2);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "First");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "One & <two>");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Third");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "2");
  EXPECT_TRUE(etest::OracleVerify(wim));

  WimSummary summary;
  ASSERT_EQ(Make(&progress_)->ReadInfo(wim, summary), kResultSuccess);
  EXPECT_EQ(summary.imageCount, 2);
  EXPECT_EQ(summary.bootIndex, 2);
  EXPECT_EQ(summary.totalParts, 1);
  EXPECT_NE(summary.xmlText.find(L"Third"), std::wstring::npos);

  // Rows listed from a file that no longer holds that many images, or no
  // rows at all: the file is not touched.
  const std::string before = qtest::ReadFileBytes(wim);
  request.rows = {Row(1, L"Again")};
  EXPECT_EQ(Make(&progress_)->Delete(request), kResultFailed);
  request.imageCount = 2;
  request.rows.clear();
  EXPECT_EQ(Make(&progress_)->Delete(request), kResultFailed);
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(Make(&progress_)->ReadInfo(dir_ + L"\\none.wim", summary), kResultFailed);
}

TEST_P(EngineInterfaceTest, PartCountTellsAPartOfASplitSet) {
  ASSERT_TRUE(qtest::WriteFileBytes(src_ + L"\\noise.bin", etest::RandomBytes(3 << 20, 7)));
  std::wstring wim = ThreeImages(1);
  ASSERT_EQ(etest::Imagex("split " + etest::Q(wim) + " " + etest::Q(dir_ + L"\\part.swm") + " 1").exitCode, 0);
  int parts = 0;
  ASSERT_EQ(Make(&progress_)->ReadPartCount(wim, parts), kResultSuccess);
  EXPECT_EQ(parts, 1);
  ASSERT_EQ(Make(&progress_)->ReadPartCount(dir_ + L"\\part.swm", parts), kResultSuccess);
  EXPECT_GT(parts, 1);
  EXPECT_EQ(Make(&progress_)->ReadPartCount(dir_ + L"\\none.wim", parts), kResultFailed);
}

TEST_P(EngineInterfaceTest, SetImageInfoWritesOneImage) {
  std::wstring wim = ThreeImages(2);
  SetImageInfoRequest request;
  request.wimPath = wim;
  request.index = 2;
  request.info.name = L"Second";
  request.info.description = L"Described";
  ASSERT_EQ(Make(&progress_)->SetImageInfo(request), kResultSuccess);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Image 1");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Second");
  EXPECT_EQ(InfoField(wim, 2, "Description"), "Described");
  EXPECT_TRUE(etest::OracleVerify(wim));
}

INSTANTIATE_TEST_SUITE_P(Backends, EngineInterfaceTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         etest::BackendName);

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

  host_.cancel.Request(true);
  EXPECT_EQ(host_.Engine(kBackendWimlib, &progress_)->Delete(request), kResultAborted);
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(FilesIn(dir_), files);

  host_.cancel.Clear();
  int percents = 0;
  progress_.onPercent = [&](float) {
    if (++percents > 1) return;
    host_.cancel.Request(true);
  };
  EXPECT_EQ(host_.Engine(kBackendWimlib, &progress_)->Delete(request), kResultAborted);
  EXPECT_EQ(percents, 1);
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(FilesIn(dir_), files);
  EXPECT_TRUE(etest::OracleVerify(wim));

  host_.cancel.Clear();
  progress_.onPercent = nullptr;
  ASSERT_EQ(host_.Engine(kBackendWimlib, &progress_)->Delete(request), kResultSuccess);
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Kept");
}

// Browsing lists a folder's children; an extraction goes to its own
// display and stops at its own cancel flag.
TEST_F(WimlibInterfaceTest, BrowseAndExtractWithTheirOwnCancel) {
  std::wstring wim = dir_ + L"\\one.wim";
  ASSERT_TRUE(etest::OracleCapture(src_, wim, "One"));
  std::unique_ptr<BrowsedWim> browsed = host_.Engine(kBackendWimlib, &progress_)->OpenForBrowsing(wim);
  ASSERT_TRUE(browsed);
  FolderListing entries;
  ASSERT_TRUE(browsed->ListFolder(1, L"\\sub", entries));
  std::vector<std::wstring> names;
  for (const FolderEntry& e : entries) {
    names.push_back(std::wstring(entries.NameOf(e)) + (e.isFolder ? L"\\" : L""));
    // Each name is ended where it ends, for the calls that take a nul-ended text.
    EXPECT_EQ(std::wstring(entries.NameTextOf(e)), std::wstring(entries.NameOf(e)));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"big.bin", L"deeper\\", L"\U0001F600.txt"}));
  auto big = std::find_if(entries.begin(), entries.end(),
                          [&](const FolderEntry& e) { return entries.NameOf(e) == L"big.bin"; });
  ASSERT_NE(big, entries.end());
  EXPECT_TRUE(big->hasData);
  EXPECT_EQ(big->size, 300000u);
  EXPECT_FALSE(host_.Engine(kBackendWimgapi, &progress_)->OpenForBrowsing(wim));

  ExtractRequest request;
  request.wimPath = wim;
  request.paths = {L"\\sub", L"\\noise3.bin"};
  request.target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(request.target));
  host_.cancel.Request();
  EXPECT_EQ(host_.Engine(kBackendWimlib)->Extract(request), kResultAborted);
  EXPECT_TRUE(FilesIn(request.target).empty());
  host_.cancel.Clear();
  ASSERT_EQ(host_.Engine(kBackendWimlib)->Extract(request), kResultSuccess);
  EXPECT_TRUE(etest::SameTree(src_ + L"\\sub", request.target + L"\\sub"));
  EXPECT_TRUE(qtest::ReadFileBytes(request.target + L"\\noise3.bin") == qtest::ReadFileBytes(src_ + L"\\noise3.bin"));
  EXPECT_TRUE(progress_.percents.empty());  // the page's display hears nothing of it
  EXPECT_EQ(host_.Engine(kBackendWimgapi)->Extract(request), kResultNotBound);
}

}  // namespace
