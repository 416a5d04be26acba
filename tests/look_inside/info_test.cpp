// The information page and the information dialog: rows for files of every
// compression and for the parts of a split set, a file that is no WIM, the
// copy, clear and F5, and the XML and detail views.
#include "look_fixture.h"

#include <algorithm>

#include "pages/info_rows.h"
#include "resources/resource.h"

namespace {
using namespace look;
using qtest::WaitUntil;

class InfoPageTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    dir_ = qtest::TempDir();
    source_ = dir_ + L"\\src";
    qtest::MakeSampleTree(source_);
  }
  HWND List() { return dialog_->infoPage().Item(IDC_INFO_LIST); }
  // Shows the file on the information page as the "文件信息" jump does.
  void Show(const std::wstring& path) { dialog_->JumpTo(ID_JUMP_INFO, path); }
  std::vector<std::wstring> Rows() { return Column(List(), 0); }
  bool HasRow(const std::wstring& text) {
    std::vector<std::wstring> rows = Rows();
    return std::find(rows.begin(), rows.end(), text) != rows.end();
  }
  std::wstring dir_, source_;
};

TEST_F(InfoPageTest, RowsForEveryCompressionMatchTheFiles) {
  struct Case {
    const char* option;
    const wchar_t* row;
  };
  const Case cases[] = {{"--compress=LZX", L"压缩方式: 最大 (LZX)"},
                        {"--compress=XPRESS", L"压缩方式: 快速 (XPRESS)"},
                        {"--compress=none", L"压缩方式: 无压缩"},
                        {"--compress=LZMS", L"压缩方式: LZMS (ESD)"},
                        {"--compress=LZMS --solid", L"压缩方式: LZMS (ESD)"}};
  int n = 0;
  for (const Case& c : cases) {
    std::wstring wim = dir_ + L"\\c" + std::to_wstring(n++) + L".wim";
    ASSERT_TRUE(Capture(source_, wim, "First", c.option)) << c.option;
    Show(wim);
    ASSERT_TRUE(WaitUntil([&] { return HasRow(wim); }, 20000));
    EXPECT_TRUE(HasRow(c.row)) << c.option;
  }
  std::wstring wim = dir_ + L"\\c0.wim";
  EXPECT_TRUE(HasRow(L"分卷数量: 1 / 1"));
  EXPECT_TRUE(HasRow(L"WIMBoot兼容性: 否"));
  EXPECT_TRUE(HasRow(L"镜像卷数量: 1"));
  EXPECT_TRUE(HasRow(L"卷号 1"));
  EXPECT_TRUE(HasRow(L"名称: First"));
  // The file counts as the judge tells them.
  std::string info = Imagex("info " + Q(wim) + " 1").output;
  size_t at = info.find("File Count:");
  ASSERT_NE(at, std::string::npos);
  int files = atoi(info.c_str() + at + 11);
  EXPECT_TRUE(HasRow(L"文件数: " + std::to_wstring(files)));
  // Every file's block ends with a blank row and a separator.
  std::vector<std::wstring> rows = Rows();
  EXPECT_EQ(rows.back(), L"---");
  EXPECT_EQ(rows[rows.size() - 2], L"");
}

TEST_F(InfoPageTest, PartsOfASplitSetAndAThreeImageFile) {
  std::wstring wim = dir_ + L"\\three.wim";
  // Data that does not compress, so that the split set has several parts.
  ASSERT_EQ(qtest::RunUnix("head -c 400000 /dev/urandom > " + Q(source_ + L"\\noise.bin")).exitCode, 0);
  ASSERT_TRUE(Capture(source_, wim, "One", "first"));
  ASSERT_TRUE(Capture(source_ + L"\\sub", wim, "Two", "--boot"));
  ASSERT_TRUE(Capture(source_, wim, "Three"));
  Show(wim);
  ASSERT_TRUE(WaitUntil([&] { return HasRow(L"卷号 3"); }, 20000));
  EXPECT_TRUE(HasRow(L"可引导卷号: 2"));
  EXPECT_TRUE(HasRow(L"描述: first"));
  // Only image 1 has a description; every image has its WIMBoot row.
  int descriptions = 0, wimboot = 0;
  for (const std::wstring& row : Rows()) {
    if (row.rfind(L"描述: ", 0) == 0) descriptions++;
    if (row == L"WIMBoot兼容性: 否") wimboot++;
  }
  EXPECT_EQ(descriptions, 1);
  EXPECT_EQ(wimboot, 3);

  std::wstring split = dir_ + L"\\part.swm";
  ASSERT_EQ(Imagex("split " + Q(wim) + " " + Q(split) + " 0.1").exitCode, 0);
  std::wstring second = dir_ + L"\\part2.swm";
  ASSERT_NE(GetFileAttributesW(second.c_str()), INVALID_FILE_ATTRIBUTES);
  std::string total = Imagex("info " + Q(split)).output;
  size_t at = total.find("Part Number:");
  ASSERT_NE(at, std::string::npos);
  int parts = atoi(total.c_str() + total.find('/', at) + 1);
  ASSERT_GE(parts, 2);
  Show(second);
  ASSERT_TRUE(WaitUntil([&] { return HasRow(second); }, 20000));
  EXPECT_TRUE(HasRow(L"分卷数量: 2 / " + std::to_wstring(parts)));
}

TEST_F(InfoPageTest, AFileThatIsNoWimSaysSo) {
  std::wstring text = dir_ + L"\\notes.wim";
  ASSERT_TRUE(qtest::WriteFileBytes(text, "just some text, not an image\n"));
  Show(text);
  ASSERT_TRUE(WaitUntil([&] { return HasRow(text); }, 20000));
  std::vector<std::wstring> rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1], L"无法打开WIM文件!");
  EXPECT_EQ(rows[3], L"---");
}

TEST_F(InfoPageTest, CopyClearAndF5) {
  std::wstring wim = dir_ + L"\\copy.wim";
  ASSERT_TRUE(Capture(source_, wim, "Copied"));
  Show(wim);
  ASSERT_TRUE(WaitUntil([&] { return HasRow(wim); }, 20000));
  const size_t shown = Rows().size();

  HWND page = dialog_->infoPage().hwnd();
  qtest::SendCommand(page, ID_INFO_COPY);
  std::wstring copied;
  ASSERT_TRUE(WaitUntil([&] { return !(copied = ClipboardText()).empty(); }, 20000));
  EXPECT_EQ(copied.rfind(L"\r\n" + wim + L"\r\n      GUID: {", 0), 0u) << qtest::Utf8(copied);
  EXPECT_NE(copied.find(L"\r\n      压缩方式: 最大 (LZX)\r\n"), std::wstring::npos);
  EXPECT_NE(copied.find(L"\r\n            名称: Copied\r\n"), std::wstring::npos);
  EXPECT_EQ(copied.substr(copied.size() - 4), L"\r\n\r\n");  // the blank row and the separator

  qtest::SendCommand(page, ID_INFO_CLEAR);
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetItemCount(List()) == 0; }, 20000));
  ShotIfAsked("info_cleared");
  Key(VK_F5);
  EXPECT_TRUE(WaitUntil([&] { return Rows().size() == shown; }, 20000));
  EXPECT_TRUE(HasRow(L"名称: Copied"));
}

TEST_F(InfoPageTest, XmlAndDetailDialogs) {
  std::wstring wim = dir_ + L"\\views.wim";
  ASSERT_TRUE(Capture(source_, wim, "Alpha"));
  ASSERT_TRUE(Capture(source_ + L"\\sub", wim, "Beta", "--boot"));
  Show(wim);
  ASSERT_TRUE(WaitUntil([&] { return HasRow(L"名称: Beta"); }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"名称: Beta")});
  HWND page = dialog_->infoPage().hwnd();

  qtest::SendCommand(page, ID_INFO_SHOW_XML);
  HWND xml = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (xml = FindTopWindow(L"views.wim")) != nullptr; }, 20000));
  EXPECT_EQ(qtest::WindowText(xml), L"views.wim");
  std::wstring text = qtest::WindowText(GetDlgItem(xml, IDC_WIMINFO_EDIT));
  EXPECT_NE(text.find(L"<IMAGE INDEX=\"2\">\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"<NAME>Alpha</NAME>"), std::wstring::npos);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(xml, IDC_WIMINFO_TAB)));
  qtest::ClickButton(xml, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(xml); }, 20000));

  qtest::SendCommand(page, ID_INFO_DETAILS);
  HWND details = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (details = FindTopWindow(L"views.wim   GUID:{")) != nullptr; }, 20000));
  HWND tab = GetDlgItem(details, IDC_WIMINFO_TAB);
  ASSERT_EQ(TabCtrl_GetItemCount(tab), 2);
  wchar_t caption[64] = {};
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = caption;
  item.cchTextMax = 64;
  TabCtrl_GetItem(tab, 1, &item);
  EXPECT_STREQ(caption, L"卷号 2 (BOOT)");
  HWND edit = GetDlgItem(details, IDC_WIMINFO_EDIT);
  EXPECT_NE(qtest::WindowText(edit).find(L"NAME = Alpha\r\n"), std::wstring::npos);
  EXPECT_EQ(qtest::WindowText(GetDlgItem(details, IDC_WIMINFO_STATUS)).rfind(L"压缩方式:   最大    分卷数量: 1 / 1    版本: ", 0), 0u)
      << qtest::Utf8(qtest::WindowText(GetDlgItem(details, IDC_WIMINFO_STATUS)));
  TabCtrl_SetCurFocus(tab, 1);
  EXPECT_TRUE(WaitUntil([&] { return qtest::WindowText(edit).find(L"NAME = Beta") != std::wstring::npos; }, 20000));
  EXPECT_EQ(qtest::WindowText(edit).find(L"Alpha"), std::wstring::npos);
  ShotIfAsked("info_details");
  RECT r;
  GetWindowRect(details, &r);
  EXPECT_GE(r.right - r.left, 500);
  EXPECT_GE(r.bottom - r.top, 540);
  SendMessageW(details, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(details); }, 20000));
}

// A damaged header claims 0xFFFFFFFF images: the page and the details
// dialog list the images the file describes, and answer at once.
TEST_F(InfoPageTest, ADamagedImageCountListsOnlyTheImagesTheFileHolds) {
  std::wstring wim = dir_ + L"\\damaged.wim";
  ASSERT_TRUE(Capture(source_, wim, "Alpha"));
  ASSERT_TRUE(Capture(source_ + L"\\sub", wim, "Beta"));
  std::string bytes = qtest::ReadFileBytes(wim);
  ASSERT_GT(bytes.size(), 48u);
  bytes.replace(44, 4, "\xFF\xFF\xFF\xFF");
  ASSERT_TRUE(qtest::WriteFileBytes(wim, bytes));

  Show(wim);
  ASSERT_TRUE(WaitUntil([&] { return HasRow(L"名称: Beta"); }, 20000));
  EXPECT_TRUE(HasRow(L"卷号 2"));
  EXPECT_FALSE(HasRow(L"卷号 3"));

  SelectRows(List(), {FindRow(List(), 0, L"名称: Beta")});
  qtest::SendCommand(dialog_->infoPage().hwnd(), ID_INFO_DETAILS);
  HWND details = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (details = FindTopWindow(L"damaged.wim   GUID:{")) != nullptr; }, 20000));
  EXPECT_EQ(TabCtrl_GetItemCount(GetDlgItem(details, IDC_WIMINFO_TAB)), 2);
  SendMessageW(details, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(details); }, 20000));
}

TEST(InfoTextTest, LinesOfXmlWithoutAnImageStayWhole) {
  EXPECT_EQ(XmlToLines(L"<WIM>\r\n<TOTALBYTES>5</TOTALBYTES>\r\n</WIM>"), L"\r\nTOTALBYTES = 5\r\n");
  std::wstring lines = XmlToLines(L"\xFEFF<WIM>\r\n<IMAGE INDEX=\"1\">\r\n<NAME>a</NAME>\r\n</IMAGE>\r\n"
                                  L"<IMAGE INDEX=\"2\">\r\n<NAME>b</NAME>\r\n</IMAGE>\r\n</WIM>");
  EXPECT_EQ(ImageSection(lines, 1), L"NAME = a\r\n\r\n");
  EXPECT_EQ(ImageSection(lines, 2), L"NAME = b\r\n\r\n");
  EXPECT_EQ(ImageSection(lines, 3), L"");
}

}  // namespace
