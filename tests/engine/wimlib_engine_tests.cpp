// The wimlib engine run for real through the bridge library, checked with
// wimlib-imagex: capture (new, append, WIMBoot), apply, export (new,
// existing, name collision), split with the split set applied and
// exported, the information read and written, and bad input.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/image_xml.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"
#include "recorder.h"

using etest::AppliesTo;
using etest::DirList;
using etest::ImageCount;
using etest::InfoField;
using etest::SameTree;

namespace {

class WimlibEngineTest : public etest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!NeedWimlib()) GTEST_SKIP() << "libwim-15.dll is not in bin\\wimlib";
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
  }
  // A file made by wimlib-imagex with one image of the sample tree.
  std::wstring OracleWim(const std::string& name = "one", const std::string& extra = "") {
    std::wstring wim = dir_ + L"\\oracle.wim";
    etest::OracleCapture(src_, wim, name, extra);
    return wim;
  }
  std::wstring src_;
};

TEST_F(WimlibEngineTest, CaptureNewWritesImageAndMetadata) {
  std::wstring wim = dir_ + L"\\new.wim";
  ImageInfo info;
  info.name = L"\u4e2d\u6587\u540d";
  info.description = L"desc \u63cf\u8ff0";
  info.displayName = L"not written by wimlib";
  info.flags = L"Professional";
  info.bootIndex = 1;
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().CaptureImage(src_, wim, 2, false, true, true, info), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "create_new_wim 2 -> W1\n"
            "register_progress_function W1 WimlibProgress\n"
            "add_image W1 0x828 named\n"
            "write W1 -1 0\n"
            "free W1\n"
            "open_wim 0 -> W2\n"
            "free W2\n"
            "open_wim 4 -> W3\n"
            "set_image_name W3 1\n"
            "set_image_descripton W3 1\n"
            "set_image_flags W3 1\n"
            "overwrite W3 0\n"
            "free W3\n"
            "open_wim 0 -> W4\n"
            "register_progress_function W4 WimlibProgress\n"
            "verify_wim W4\n"
            "free W4\n");
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "LZX");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "1");
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "desc \xe6\x8f\x8f\xe8\xbf\xb0");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "Professional");
  EXPECT_EQ(InfoField(wim, 1, "Display Name"), "");
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(AppliesTo(wim, 1, src_));
  EXPECT_TRUE(boxes_.empty());
  // wimlib never reports 100 itself; the capture does at its end.
  ASSERT_FALSE(progress_.percents.empty());
  EXPECT_EQ(progress_.percents.back(), 100.0f);
  EXPECT_EQ(std::count(progress_.percents.begin(), progress_.percents.end(), 100.0f), 1);
}

TEST_F(WimlibEngineTest, CaptureAppendAddsTheNextImage) {
  std::wstring wim = OracleWim();
  ImageInfo info;
  info.name = L"two";
  info.bootIndex = 2;
  std::wstring src2 = dir_ + L"\\src2";
  qtest::MakeDirs(src2);
  qtest::WriteFileBytes(src2 + L"\\only.txt", "second image\n");
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().CaptureImage(src2, wim, 2, true, false, false, info), kResultSuccess);
  EXPECT_EQ(rec::Lines("open_wim")[0], "open_wim 4 -> W1");
  EXPECT_TRUE(rec::Has("add_image W1 0x808 named"));
  EXPECT_TRUE(rec::Has("overwrite W1 0"));
  EXPECT_TRUE(rec::Has("set_image_name W3 2"));
  EXPECT_TRUE(rec::Lines("verify_wim").empty());
  EXPECT_EQ(ImageCount(wim), 2);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "one");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "two");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "2");
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_TRUE(AppliesTo(wim, 2, src2));
  EXPECT_TRUE(AppliesTo(wim, 1, src_));

  // Appending to a file that does not exist fails and creates nothing.
  std::wstring missing = dir_ + L"\\missing.wim";
  EXPECT_EQ(WimlibEngine().CaptureImage(src2, missing, 2, true, false, false, info), kResultFailed);
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  // Appending a second image of the same name is refused by wimlib.
  EXPECT_EQ(WimlibEngine().CaptureImage(src2, wim, 2, true, false, false, info), kResultFailed);
  EXPECT_EQ(ImageCount(wim), 2);
  EXPECT_TRUE(boxes_.empty());
}

// The real verification, run after one byte of the stored data of the file
// being verified has been spoilt, as a failing disk would spoil it: a new
// file still under its temporary name beside the target, else the target.
PFN_wimlib_verify_wim g_realVerify = nullptr;
std::wstring g_spoilFile;
void Spoil(const std::wstring& path) {
  std::string bytes = qtest::ReadFileBytes(path);
  size_t at = bytes.find("SPOIL-ME-");
  if (at != std::string::npos) {
    bytes[at] = 's';
    qtest::WriteFileBytes(path, bytes);
  }
}
int SpoilThenVerify(WIMStruct* wim, int flags) {
  std::wstring folder = g_spoilFile.substr(0, g_spoilFile.rfind(L'\\'));
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\~qr*.tmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    Spoil(g_spoilFile);
  } else {
    Spoil(folder + L"\\" + data.cFileName);
    FindClose(find);
  }
  return g_realVerify(wim, flags);
}

TEST_F(WimlibEngineTest, CaptureThatDoesNotVerifyFails) {
  std::string data;
  for (int i = 0; i < 2000; ++i) data += "SPOIL-ME-" + std::to_string(i) + "\n";
  qtest::WriteFileBytes(src_ + L"\\marked.txt", data);
  std::wstring wim = dir_ + L"\\spoilt.wim";
  g_realVerify = host_.backends.wimlib.verify_wim;
  g_spoilFile = wim;

  // Verified and sound: made.
  ASSERT_EQ(WimlibEngine().CaptureImage(src_, wim, 0, false, true, false, ImageInfo()), kResultSuccess);
  EXPECT_TRUE(etest::OracleVerify(wim));
  std::string made = qtest::ReadFileBytes(wim);

  // Spoilt before it is verified: the capture fails, and the file it was
  // to replace is still there as it was, with nothing left beside it.
  host_.backends.wimlib.verify_wim = SpoilThenVerify;
  progress_.percents.clear();
  EXPECT_EQ(WimlibEngine().CaptureImage(src_, wim, 0, false, true, false, ImageInfo()), kResultFailed);
  EXPECT_EQ(qtest::ReadFileBytes(wim), made);
  EXPECT_TRUE(etest::OracleVerify(wim));
  EXPECT_EQ(qtest::RunUnix("ls -a " + etest::Q(dir_) + " | grep -c '^~qr'").output, "0\n") << "a temporary file is left";
  ASSERT_FALSE(progress_.percents.empty());
  EXPECT_EQ(progress_.percents.back(), 100.0f);
  ASSERT_EQ(WimlibEngine().CaptureImage(src_, wim, 0, false, false, false, ImageInfo()), kResultSuccess)
      << "not verified: not looked at";
  // An append is checked where it was written.
  EXPECT_EQ(WimlibEngine().CaptureImage(src_, wim, 0, true, true, false, ImageInfo()), kResultFailed);
  EXPECT_NE(etest::Imagex("verify " + etest::Q(wim)).exitCode, 0) << "the file really is bad";
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimlibEngineTest, LibraryStateIsFreedOnceAtExitNotByOperations) {
  static int cleanups = 0;
  cleanups = 0;
  host_.backends.wimlib.global_cleanup = [] { ++cleanups; };
  std::wstring wim = dir_ + L"\\c.wim";
  ASSERT_EQ(WimlibEngine().CaptureImage(src_, wim, 1, false, true, false, ImageInfo()), kResultSuccess);
  ASSERT_EQ(WimlibEngine().ApplyImage(wim, dir_ + L"\\out", 1, true, false), kResultSuccess);
  ASSERT_EQ(WimlibEngine().ExportImage(wim, 1, dir_ + L"\\e.wim", 1, 0), kResultSuccess);
  ASSERT_EQ(WimlibEngine().SplitWim(wim, dir_ + L"\\s.wim", 1 << 20), kResultSuccess);
  EXPECT_EQ(WimlibEngine().SplitWim(dir_ + L"\\none.wim", dir_ + L"\\t.wim", 1 << 20), kResultFailed);
  EXPECT_EQ(WimlibEngine().ApplyImage(dir_ + L"\\none.wim", dir_ + L"\\out2", 1, false, false), kResultFailed);
  WimlibEngine reader;
  ASSERT_EQ(reader.ReadWimInfo(wim), kResultSuccess);
  EXPECT_EQ(cleanups, 0) << "another worker may be using the library";
  ReleaseBackends(host_.backends);
  EXPECT_EQ(cleanups, 1);
  ReleaseBackends(host_.backends);
  EXPECT_EQ(cleanups, 1);
}

TEST_F(WimlibEngineTest, CaptureUsesWimlibsWindowsConfigurationNotTheLists) {
  qtest::WriteFileBytes(src_ + L"\\pagefile.sys", "root page file");
  qtest::WriteFileBytes(src_ + L"\\sub\\pagefile.sys", "not the page file");
  qtest::WriteFileBytes(src_ + L"\\y.log", "log");
  host_.captureLists.patterns[kListExclude] = {L"*.log"};
  std::wstring wim = dir_ + L"\\cfg.wim";
  ASSERT_EQ(WimlibEngine().CaptureImage(src_, wim, 1, false, false, false, ImageInfo()), kResultSuccess);
  std::vector<std::string> paths = DirList(wim, 1);
  auto has = [&](const char* p) { return std::find(paths.begin(), paths.end(), p) != paths.end(); };
  EXPECT_FALSE(has("/pagefile.sys"));
  EXPECT_TRUE(has("/sub/pagefile.sys"));
  EXPECT_TRUE(has("/y.log"));
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "XPRESS");
}

TEST_F(WimlibEngineTest, CaptureForWimBootUsesXpressWith4KChunks) {
  std::wstring wim = dir_ + L"\\boot.wim";
  ImageInfo info;
  info.wimBoot = 1;
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().CaptureImage(src_, wim, 2, false, false, false, info), kResultSuccess);
  EXPECT_TRUE(rec::Has("create_new_wim 1 -> W1"));
  EXPECT_TRUE(rec::Has("set_output_chunk_size W1 4096"));
  EXPECT_TRUE(rec::Has("add_image W1 0x1800 unnamed"));
  EXPECT_EQ(InfoField(wim, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(wim, 0, "Chunk Size"), "4096 bytes");
  EXPECT_EQ(InfoField(wim, 1, "WIMBoot compatible"), "yes");
  EXPECT_TRUE(AppliesTo(wim, 1, src_));
}

TEST_F(WimlibEngineTest, ApplyWritesAByteIdenticalTree) {
  std::wstring wim = OracleWim();
  std::wstring out = dir_ + L"\\out";
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().ApplyImage(wim, out, 1, true, true), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "open_wim 0 -> W1\n"
            "register_progress_function W1 WimlibProgress\n"
            "verify_wim W1\n"
            "reference_resource_files W1 oracle*.WIM 1\n"
            "extract_image W1 1 0x40\n"
            "free W1\n");
  EXPECT_TRUE(SameTree(src_, out));
  ASSERT_FALSE(progress_.percents.empty());
  EXPECT_EQ(progress_.percents.back(), 100.0f);

  // The extraction's own error number comes back for a missing image.
  int r = WimlibEngine().ApplyImage(wim, dir_ + L"\\out2", 5, false, false);
  EXPECT_EQ(r, WIMLIB_ERR_INVALID_IMAGE);
  EXPECT_EQ(WimlibEngine().ApplyImage(dir_ + L"\\nothing.wim", dir_ + L"\\out3", 1, false, false), kResultFailed);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(WimlibEngineTest, ExportIntoNewAndExistingFiles) {
  std::wstring source = OracleWim("same");
  std::wstring dest = dir_ + L"\\dest.wim";
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().ExportImage(source, 1, dest, 1, 0), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "open_wim 0 -> W1\n"
            "create_new_wim 1 -> W2\n"
            "reference_resource_files W1 oracle*.WIM 1\n"
            "register_progress_function W2 WimlibProgress\n"
            "export_image W1 1 W2 0x8 -> 0\n"
            "write W2 -1 0\n"
            "free W2\n"
            "free W1\n");
  EXPECT_EQ(InfoField(dest, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(dest, 1, "Name"), "same");

  // The same image again: its name is taken, so it goes in unnamed.
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().ExportImage(source, 1, dest, 2, 0), kResultSuccess);
  EXPECT_EQ(rec::Lines("export_image"),
            (std::vector<std::string>{"export_image W1 1 W2 0x8 -> 11", "export_image W1 1 W2 0xa -> 0"}));
  EXPECT_TRUE(rec::Has("overwrite W2 0"));
  EXPECT_EQ(ImageCount(dest), 2);
  EXPECT_EQ(InfoField(dest, 2, "Name"), "");
  EXPECT_EQ(InfoField(dest, 0, "Compression"), "XPRESS");  // the argument changed nothing
  EXPECT_TRUE(etest::OracleVerify(dest));
  EXPECT_TRUE(AppliesTo(dest, 2, src_));

  // WIMBoot: a new file gets XPRESS with 4096-byte chunks.
  std::wstring wimboot = dir_ + L"\\wimboot.wim";
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().ExportImage(source, 1, wimboot, 2, 1), kResultSuccess);
  EXPECT_TRUE(rec::Has("set_output_chunk_size W2 4096"));
  EXPECT_TRUE(rec::Has("export_image W1 1 W2 0x18 -> 0"));
  EXPECT_EQ(InfoField(wimboot, 0, "Chunk Size"), "4096 bytes");
  EXPECT_EQ(InfoField(wimboot, 1, "WIMBoot compatible"), "yes");

  EXPECT_EQ(WimlibEngine().ExportImage(source, 7, dir_ + L"\\x.wim", 1, 0), kResultFailed);
  EXPECT_EQ(WimlibEngine().ExportImage(dir_ + L"\\none.wim", 1, dest, 1, 0), kResultFailed);
  EXPECT_EQ(ImageCount(dest), 2);
}

TEST_F(WimlibEngineTest, SplitAndUseTheSplitSet) {
  qtest::WriteFileBytes(src_ + L"\\r1.bin", etest::RandomBytes(700000, 1));
  qtest::WriteFileBytes(src_ + L"\\r2.bin", etest::RandomBytes(700000, 2));
  qtest::WriteFileBytes(src_ + L"\\r3.bin", etest::RandomBytes(700000, 3));
  std::wstring wim = OracleWim("big");
  std::wstring parts = dir_ + L"\\parts";
  qtest::MakeDirs(parts);
  std::wstring first = parts + L"\\set.wim";
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().SplitWim(wim, first, 1000000), kResultSuccess);
  EXPECT_EQ(rec::Joined(),
            "open_wim 0 -> W1\n"
            "register_progress_function W1 WimlibProgress\n"
            "split W1 1000000 2\n"
            "free W1\n");
  EXPECT_NE(GetFileAttributesW((parts + L"\\set2.wim").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(InfoField(first, 0, "Part Number").compare(0, 2, "1/"), 0);
  EXPECT_NE(InfoField(first, 0, "Part Number"), "1/1");
  EXPECT_TRUE(etest::OracleVerify(first, "--ref=" + etest::Q(parts) + "/'set*.wim'"));

  // Apply and export find the further parts themselves.
  std::wstring out = dir_ + L"\\out";
  ASSERT_EQ(WimlibEngine().ApplyImage(first, out, 1, false, false), kResultSuccess);
  EXPECT_TRUE(SameTree(src_, out));
  std::wstring merged = dir_ + L"\\merged.wim";
  ASSERT_EQ(WimlibEngine().ExportImage(first, 1, merged, 2, 0), kResultSuccess);
  EXPECT_EQ(InfoField(merged, 0, "Part Number"), "1/1");
  EXPECT_TRUE(etest::OracleVerify(merged));
  EXPECT_TRUE(AppliesTo(merged, 1, src_));
}

TEST_F(WimlibEngineTest, SplitSizeIsPassedAsAFull64BitNumber) {
  std::wstring wim = OracleWim();
  std::wstring first = dir_ + L"\\whole.wim";
  uint64_t fourGigPlusOne = (1ull << 32) + 1;
  rec::StartWimlib(host_);
  ASSERT_EQ(WimlibEngine().SplitWim(wim, first, fourGigPlusOne), kResultSuccess);
  EXPECT_TRUE(rec::Has("split W1 4294967297 2"));
  EXPECT_EQ(InfoField(first, 0, "Part Number"), "1/1");
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\whole2.wim").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(WimlibEngine().SplitWim(dir_ + L"\\none.wim", first, 1000000), kResultFailed);
}

TEST_F(WimlibEngineTest, ReadInfoGivesCountAndDisplayXml) {
  std::wstring wim = OracleWim("\xe4\xb8\x80");
  std::wstring src2 = dir_ + L"\\src2";
  qtest::MakeDirs(src2);
  etest::OracleCapture(src2, wim, "two", "--boot");
  WimlibEngine engine;
  ASSERT_EQ(engine.ReadWimInfo(wim), kResultSuccess);
  EXPECT_EQ(engine.WimInfo().image_count, 2u);
  EXPECT_EQ(engine.WimInfo().boot_index, 2u);
  const std::wstring& xml = engine.XmlText();
  EXPECT_EQ(xml.compare(0, 6, L"\uFEFF<WIM>"), 0) << qtest::Utf8(xml);
  EXPECT_NE(xml.find(L">\r\n<IMAGE INDEX=\"2\">\r\n<"), std::wstring::npos);
  EXPECT_EQ(xml.substr(xml.size() - 6), L"</WIM>");
  EXPECT_EQ(xml.find(L"><"), std::wstring::npos);
  EXPECT_EQ(GetImageXmlValue(xml, 1, L"<NAME>"), L"\u4e00");
  EXPECT_EQ(GetImageXmlValue(xml, 2, L"<NAME>"), L"two");
  EXPECT_EQ(GetImageXmlValue(xml, 2, L"<FILECOUNT>"), L"0");

  EXPECT_EQ(engine.ReadWimInfo(dir_ + L"\\none.wim"), kResultFailed);
  EXPECT_EQ(engine.WimInfo().image_count, 0u);
  EXPECT_TRUE(engine.XmlText().empty());

  // Without wimlib_get_xml_data the XML stays empty; the rest works.
  host_.backends.wimlib.get_xml_data = nullptr;
  WimlibEngine noXml;
  EXPECT_EQ(noXml.ReadWimInfo(wim), kResultSuccess);
  EXPECT_EQ(noXml.WimInfo().image_count, 2u);
  EXPECT_TRUE(noXml.XmlText().empty());
}

TEST_F(WimlibEngineTest, WriteInfoSetsOnlyNonEmptyNameDescriptionAndFlags) {
  std::wstring wim = OracleWim("old", "--flags=Core");
  etest::Imagex("info " + etest::Q(wim) + " 1 --image-property DESCRIPTION=olddesc");
  ImageInfo info;
  info.name = L"\u4e2d\u6587\u540d\u5b57";
  info.displayName = L"ignored";
  info.displayDescription = L"ignored too";
  WimlibEngine engine;
  EXPECT_EQ(engine.WriteImageInfo(wim, 1, info), 0);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d\xe5\xad\x97");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "olddesc");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "Core");
  EXPECT_EQ(InfoField(wim, 1, "Display Name"), "");
  ASSERT_EQ(engine.ReadWimInfo(wim), kResultSuccess);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<NAME>"), info.name);

  ImageInfo more;
  more.description = L"d2";
  more.flags = L"Professional";
  EXPECT_EQ(engine.WriteImageInfo(wim, 1, more), 0);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "\xe4\xb8\xad\xe6\x96\x87\xe5\x90\x8d\xe5\xad\x97");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "d2");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "Professional");
  EXPECT_EQ(engine.WriteImageInfo(wim, 1, ImageInfo()), 0);
  EXPECT_TRUE(etest::OracleVerify(wim));

  // wimlib takes plain text and escapes it itself: nothing is escaped twice,
  // and the value read back is what was written.
  ImageInfo marked;
  marked.name = L"A & B <1>";
  marked.description = L"R&amp;D > 2";
  EXPECT_EQ(engine.WriteImageInfo(wim, 1, marked), 0);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "A & B <1>");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "R&amp;D > 2");
  ASSERT_EQ(engine.ReadWimInfo(wim), kResultSuccess);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<NAME>"), marked.name);
  EXPECT_EQ(GetImageXmlValue(engine.XmlText(), 1, L"<DESCRIPTION>"), marked.description);

  // A failing setter is reported even when a later one succeeds.
  EXPECT_EQ(engine.WriteImageInfo(wim, 3, more), WIMLIB_ERR_INVALID_IMAGE);
  EXPECT_NE(engine.WriteImageInfo(dir_ + L"\\none.wim", 1, more), 0);
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\none.wim").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(WimlibEngineTest, BadFilesGiveClearResults) {
  std::wstring text = dir_ + L"\\text.wim";
  qtest::WriteFileBytes(text, "this is not a WIM file\n");
  std::wstring good = OracleWim();
  std::string bytes = qtest::ReadFileBytes(good);
  std::wstring truncated = dir_ + L"\\truncated.wim";
  qtest::WriteFileBytes(truncated, bytes.substr(0, 300));
  // XML offset far beyond the end of the file.
  std::string badXml = bytes;
  for (int i = 0; i < 8; ++i) badXml[80 + i] = i == 4 ? '\x7f' : '\0';
  std::wstring badXmlWim = dir_ + L"\\badxml.wim";
  qtest::WriteFileBytes(badXmlWim, badXml);

  for (const std::wstring& wim : {text, truncated, badXmlWim}) {
    SCOPED_TRACE(qtest::Utf8(wim));
    WimlibEngine engine;
    EXPECT_EQ(engine.ReadWimInfo(wim), kResultFailed);
    EXPECT_NE(WimlibEngine().ApplyImage(wim, dir_ + L"\\out", 1, false, false), kResultSuccess);
    EXPECT_EQ(WimlibEngine().ExportImage(wim, 1, dir_ + L"\\exp.wim", 1, 0), kResultFailed);
    EXPECT_EQ(WimlibEngine().SplitWim(wim, dir_ + L"\\part.wim", 1 << 20), kResultFailed);
    EXPECT_EQ(WimlibEngine().CaptureImage(src_, wim, 1, true, false, false, ImageInfo()), kResultFailed);
    EXPECT_NE(WimlibEngine().WriteImageInfo(wim, 1, ImageInfo()), 0);
  }
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\exp.wim").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(qtest::ReadFileBytes(text), "this is not a WIM file\n");
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
