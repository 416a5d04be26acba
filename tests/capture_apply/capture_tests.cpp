// The capture page and the capture options dialog: create then append on
// both back ends, the path checks and the replace / create questions.
#include <cstdlib>

#include "capture_apply_fixture.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

class CapturePage : public QuarryPages {
 protected:
  HWND capture() const { return Page(IDD_PAGE_CAPTURE); }
  void FillPaths(const std::wstring& source, const std::wstring& wim) {
    SetText(capture(), IDC_CAP_SOURCE, source);
    SetText(capture(), IDC_CAP_WIM, wim);
  }
  void FillTexts(const std::wstring& name, const std::wstring& display, const std::wstring& description,
                 const std::wstring& displayDescription) {
    SetText(capture(), IDC_CAP_NAME, name);
    SetText(capture(), IDC_CAP_DISPLAY_NAME, display);
    SetText(capture(), IDC_CAP_DESCRIPTION, description);
    SetText(capture(), IDC_CAP_DISPLAY_DESC, displayDescription);
  }
  // Presses "创建" or "追加" and expects "路径无效!".
  void ExpectInvalidPath(int button) {
    Press(capture(), button);
    HWND box = WaitMessage(L"路径无效!");
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), L"Quarry");
    AnswerDialog(box, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));
  }
  bool Checked(HWND dialog, int id) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state);
    return state == BST_CHECKED;
  }
};

TEST_F(CapturePage, CreateThenAppendThroughWimgapi) {
  const std::wstring dir = TempDir();
  StartQuarry(0);
  std::wstring source = dir + L"\\源";
  MakeSampleTree(source);
  std::wstring wim = dir + L"\\捕获.wim";
  FillPaths(source, wim);
  FillTexts(L"系统一", L"显示一", L"描述一", L"显示描述一");

  Press(capture(), IDC_CAP_CREATE);
  HWND options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  EXPECT_TRUE(Checked(options, IDC_OPT_COMP_XPRESS)) << "XPRESS is the default";
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(options, IDC_OPT_WIMBOOT))) << "no WIMBoot with WIMGAPI";
  AcceptOptions(IDC_OPT_COMP_LZX, true, 2);  // "Enterprise"
  if (getenv("QUARRY_SHOTS")) {
    WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_PROGRESS); }, 10000);
    Screenshot(std::string(getenv("QUARRY_SHOTS")) + "/capture_progress.png");
  }
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");

  std::string info = WimInfo(wim);
  EXPECT_EQ(InfoValue(info, "Image Count"), "1");
  EXPECT_EQ(InfoValue(info, "Compression"), "LZX");
  EXPECT_EQ(InfoValue(info, "Boot Index"), "1");
  EXPECT_EQ(InfoValue(info, "Name"), "系统一");
  EXPECT_EQ(InfoValue(info, "Description"), "描述一");
  EXPECT_EQ(InfoValue(info, "Display Name"), "显示一");
  EXPECT_EQ(InfoValue(info, "Display Description"), "显示描述一");
  EXPECT_EQ(InfoValue(info, "Flags"), "Enterprise");
  EXPECT_EQ(DiffAppliedImage(wim, 1, source), "");

  // Append: the file's compression is shown and locked; the boot mark
  // goes to the new image, number 2.
  FillTexts(L"系统二", L"", L"描述二", L"");
  Press(capture(), IDC_CAP_APPEND);
  options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  EXPECT_TRUE(Checked(options, IDC_OPT_COMP_LZX));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_COMP_LZX)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_COMP_NONE)));
  AcceptOptions(0, true, 0);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  info = WimInfo(wim);
  EXPECT_EQ(InfoValue(info, "Image Count"), "2");
  EXPECT_EQ(InfoValue(info, "Compression"), "LZX");
  EXPECT_EQ(InfoValue(info, "Boot Index"), "2");
  std::string second = WimInfo(wim, 2);
  EXPECT_EQ(InfoValue(second, "Name"), "系统二");
  EXPECT_EQ(InfoValue(second, "Description"), "描述二");
  EXPECT_EQ(InfoValue(second, "Flags"), "(missing Flags)");
  EXPECT_EQ(DiffAppliedImage(wim, 2, source), "");
}

TEST_F(CapturePage, CreateThenAppendThroughWimlibWithTheWimBootRule) {
  const std::wstring dir = TempDir();
  StartQuarry(1);
  std::wstring source = dir + L"\\src";
  MakeSampleTree(source);
  std::wstring wim = dir + L"\\lib.WIM";  // upper-case extension passes
  FillPaths(source, wim);
  FillTexts(L"wimlib 一", L"", L"第一", L"");

  Press(capture(), IDC_CAP_CREATE);
  HWND options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  HWND wimBoot = GetDlgItem(options, IDC_OPT_WIMBOOT);
  EXPECT_TRUE(IsWindowVisible(wimBoot));
  // WIMBoot forces XPRESS and locks the choice; unticking frees it again.
  PostMessageW(GetDlgItem(options, IDC_OPT_COMP_LZX), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Checked(options, IDC_OPT_COMP_LZX); }));
  PostMessageW(wimBoot, BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Checked(options, IDC_OPT_COMP_XPRESS); }));
  EXPECT_FALSE(Checked(options, IDC_OPT_COMP_LZX));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_COMP_NONE)));
  PostMessageW(wimBoot, BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(options, IDC_OPT_COMP_NONE)) != FALSE; }));
  AcceptOptions(IDC_OPT_COMP_NONE, false, 0);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  std::string info = WimInfo(wim);
  EXPECT_EQ(InfoValue(info, "Image Count"), "1");
  EXPECT_EQ(InfoValue(info, "Compression"), "None");
  EXPECT_EQ(InfoValue(info, "Boot Index"), "0");
  EXPECT_EQ(InfoValue(info, "Name"), "wimlib 一");
  EXPECT_EQ(DiffAppliedImage(wim, 1, source), "");

  FillTexts(L"wimlib 二", L"", L"第二", L"");
  Press(capture(), IDC_CAP_APPEND);
  options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  EXPECT_TRUE(Checked(options, IDC_OPT_COMP_NONE));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_WIMBOOT))) << "WIMBoot needs an XPRESS file";
  AcceptOptions(0, false, 9);  // "WindowsPE"
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  info = WimInfo(wim);
  EXPECT_EQ(InfoValue(info, "Image Count"), "2");
  std::string second = WimInfo(wim, 2);
  EXPECT_EQ(InfoValue(second, "Name"), "wimlib 二");
  EXPECT_EQ(InfoValue(second, "Flags"), "WindowsPE");
  EXPECT_EQ(DiffAppliedImage(wim, 2, source), "");
}

TEST_F(CapturePage, PathChecksAndTheReplaceAndCreateQuestions) {
  const std::wstring dir = TempDir();
  StartQuarry(0);
  std::wstring source = dir + L"\\tree";
  MakeSampleTree(source);
  // Without a source both buttons stay disabled.
  EXPECT_FALSE(ItemEnabled(capture(), IDC_CAP_CREATE));
  EXPECT_FALSE(ItemEnabled(capture(), IDC_CAP_APPEND));

  FillPaths(source + L"\\small.txt", dir + L"\\a.wim");  // a file is no source
  ASSERT_TRUE(WaitUntil([&] { return ItemEnabled(capture(), IDC_CAP_CREATE); }));
  ExpectInvalidPath(IDC_CAP_CREATE);
  FillPaths(source, dir + L"\\a.wim2");
  ExpectInvalidPath(IDC_CAP_APPEND);
  // The capture must never read its own output.
  FillPaths(source, source + L"\\sub\\inside.wim");
  ExpectInvalidPath(IDC_CAP_CREATE);
  EXPECT_EQ(GetFileAttributesW((source + L"\\sub\\inside.wim").c_str()), INVALID_FILE_ATTRIBUTES);

  // An existing file: No keeps it and selects the path for correction.
  std::wstring wim = dir + L"\\exists.wim";
  ASSERT_TRUE(WriteFileBytes(wim, "keep me"));
  FillPaths(source, wim);
  Press(capture(), IDC_CAP_CREATE);
  HWND box = WaitMessage(wim + L" 已存在.\n你是否要替换他?");
  ASSERT_TRUE(box);
  EXPECT_EQ(WindowText(box), L"确认创建新的Wim文件");
  AnswerDialog(box, IDNO);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));
  DWORD_PTR selection = 0;
  SendMessageTimeoutW(GetDlgItem(capture(), IDC_CAP_WIM), EM_GETSEL, 0, 0, SMTO_NORMAL, 5000, &selection);
  EXPECT_EQ(LOWORD(selection), 0);
  EXPECT_EQ(HIWORD(selection), wim.size());
  EXPECT_EQ(ReadFileBytes(wim), "keep me");

  // Yes goes on to the options; cancelling them runs nothing.
  Press(capture(), IDC_CAP_CREATE);
  box = WaitMessage(wim + L" 已存在.\n你是否要替换他?");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDYES);
  HWND options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  AnswerDialog(options, IDCANCEL);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));
  EXPECT_EQ(ReadFileBytes(wim), "keep me");
  EXPECT_TRUE(ItemVisible(main_, IDD_PAGE_CAPTURE));

  // Yes and OK replace it with a real image.
  Press(capture(), IDC_CAP_CREATE);
  box = WaitMessage(wim + L" 已存在.\n你是否要替换他?");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDYES);
  AcceptOptions();
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  EXPECT_EQ(InfoValue(WimInfo(wim), "Image Count"), "1");
  EXPECT_EQ(InfoValue(WimInfo(wim), "Compression"), "XPRESS");

  // Append to a missing file asks whether to create it.
  std::wstring missing = dir + L"\\missing.wim";
  FillPaths(source, missing);
  Press(capture(), IDC_CAP_APPEND);
  box = WaitMessage(missing + L" 不存在.\n是否要需要创建此文件?");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDNO);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);

  // An empty WIM text opens the save dialog first; cancelling it is an invalid path.
  SetText(capture(), IDC_CAP_WIM, L"");
  Press(capture(), IDC_CAP_CREATE);
  HWND saveDialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
      if (hwnd != main_ && IsWindowVisible(hwnd) && MessageBoxText(hwnd).empty()) saveDialog = hwnd;
    return saveDialog != nullptr;
  }, 30000));
  PostMessageW(saveDialog, WM_COMMAND, IDCANCEL, 0);
  box = WaitMessage(L"路径无效!");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDOK);

  // Clearing the source disables both buttons again.
  SetText(capture(), IDC_CAP_SOURCE, L"");
  EXPECT_TRUE(WaitUntil([&] { return !ItemEnabled(capture(), IDC_CAP_CREATE) && !ItemEnabled(capture(), IDC_CAP_APPEND); }));
}

}  // namespace
