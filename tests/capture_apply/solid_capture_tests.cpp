// Solid LZMS output from the capture page: "固实 (LZMS)" makes an ESD file on
// either back end, an image appended to it stays solid, and a ".esd" target
// with another compression gets one question.
#include <cstdlib>

#include "capture_apply_fixture.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

class SolidCapture : public QuarryPages, public ::testing::WithParamInterface<int> {
 protected:
  HWND capture() const { return Page(IDD_PAGE_CAPTURE); }
  void Target(const std::wstring& source, const std::wstring& wim) {
    SetText(capture(), IDC_CAP_SOURCE, source);
    SetText(capture(), IDC_CAP_WIM, wim);
  }
  bool Checked(HWND dialog, int id) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state);
    return state == BST_CHECKED;
  }
  static void ExpectVerified(const std::wstring& wim) {
    UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim)));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
  }
};

TEST_P(SolidCapture, CreateAndAppendMakeAVerifiedSolidFile) {
  const std::wstring dir = TempDir();
  StartQuarry(GetParam());
  const std::wstring first = dir + L"\\一";
  const std::wstring second = dir + L"\\二";
  MakeSampleTree(first);
  MakeSampleTree(second);
  ASSERT_TRUE(WriteFileBytes(second + L"\\added.txt", std::string(200000, 'q') + "only in the second tree"));
  const std::wstring esd = dir + L"\\install.esd";
  Target(first, esd);

  Press(capture(), IDC_CAP_CREATE);
  HWND options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_COMP_LZMS))) << "both back ends here write solid files";
  if (getenv("QUARRY_SHOTS")) Screenshot(std::string(getenv("QUARRY_SHOTS")) + "/capture_options_solid.png");
  AcceptOptions(IDC_OPT_COMP_LZMS);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  EXPECT_EQ(InfoValue(WimInfo(esd), "Compression"), "LZMS");
  EXPECT_EQ(InfoValue(WimInfo(esd), "Version"), "3584");
  EXPECT_TRUE(FileDataIsSolid(esd));
  ExpectVerified(esd);
  EXPECT_EQ(DiffAppliedImage(esd, 1, first), "");

  // Appending keeps the file's solid LZMS, shown and locked.
  Target(second, esd);
  Press(capture(), IDC_CAP_APPEND);
  options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  EXPECT_TRUE(Checked(options, IDC_OPT_COMP_LZMS));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_COMP_LZMS)));
  AcceptOptions(0);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  EXPECT_EQ(InfoValue(WimInfo(esd), "Image Count"), "2");
  EXPECT_TRUE(FileDataIsSolid(esd)) << "the appended image's data is solid too";
  ExpectVerified(esd);
  EXPECT_EQ(DiffAppliedImage(esd, 1, first), "");
  EXPECT_EQ(DiffAppliedImage(esd, 2, second), "");
}

TEST_P(SolidCapture, AnEsdTargetWithAnotherCompressionIsAskedAbout) {
  const std::wstring dir = TempDir();
  StartQuarry(GetParam());
  const std::wstring source = dir + L"\\src";
  MakeSampleTree(source);
  const std::wstring esd = dir + L"\\x.ESD";  // the case of the extension does not matter
  Target(source, esd);

  Press(capture(), IDC_CAP_CREATE);
  HWND options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  PostMessageW(GetDlgItem(options, IDC_OPT_COMP_LZX), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Checked(options, IDC_OPT_COMP_LZX); }));
  PostMessageW(GetDlgItem(options, IDOK), BM_CLICK, 0, 0);
  HWND question = WaitMessage(esd + L" 目标文件的扩展名是 .esd, 但所选的压缩不是固实 (LZMS).\n仍然使用这个压缩吗?");
  ASSERT_TRUE(question);
  AnswerDialog(question, IDNO);
  // "No" leaves the choice open, and nothing has been written.
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
  EXPECT_TRUE(IsWindowVisible(options));
  EXPECT_EQ(GetFileAttributesW(esd.c_str()), INVALID_FILE_ATTRIBUTES);
  AcceptOptions(IDC_OPT_COMP_LZMS);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  EXPECT_TRUE(FileDataIsSolid(esd));

  // "Yes" keeps the user's choice.
  const std::wstring lzx = dir + L"\\y.esd";
  Target(source, lzx);
  Press(capture(), IDC_CAP_CREATE);
  options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  PostMessageW(GetDlgItem(options, IDC_OPT_COMP_LZX), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Checked(options, IDC_OPT_COMP_LZX); }));
  PostMessageW(GetDlgItem(options, IDOK), BM_CLICK, 0, 0);
  question = WaitMessage(lzx + L" 目标文件的扩展名是 .esd, 但所选的压缩不是固实 (LZMS).\n仍然使用这个压缩吗?");
  ASSERT_TRUE(question);
  AnswerDialog(question, IDYES);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  EXPECT_EQ(InfoValue(WimInfo(lzx), "Compression"), "LZX");
}

INSTANTIATE_TEST_SUITE_P(Backends, SolidCapture, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 1 ? "Wimlib" : "Wimgapi");
                         });

}  // namespace
