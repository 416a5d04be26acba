// The template choice as a user meets it: in the capture options of an
// append from the capture page (offered with wimlib, greyed with its reason
// with WIMGAPI, absent for a new file), and in a task-queue row that is
// saved, loaded back and run.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "capture_apply_fixture.h"
#include "resources/ids_incremental.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

const wchar_t kNeedsWimlib[] = L"系统的 WIMGAPI 不能以已有映像为模板追加. 请改用 wimlib.";

class TemplateChoice : public QuarryPages {
 protected:
  HWND capture() const { return Page(IDD_PAGE_CAPTURE); }
  HWND queue() const { return Page(IDD_PAGE_TASK_QUEUE); }
  HWND list() const { return GetDlgItem(queue(), IDC_TASK_LIST); }

  // A source folder and a file holding its first capture (by wimlib-imagex).
  void MakeSourceAndFile() {
    dir_ = TempDir();
    source_ = dir_ + L"\\源";
    MakeSampleTree(source_);
    wim_ = dir_ + L"\\备份.wim";
    UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source_)) + " " + ShQuote(UnixPath(wim_)) +
                           " 基础 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  // Fills the paths and presses "追加"; the capture options dialog.
  HWND OpenAppendOptions(bool queued = false) {
    SetCheck(capture(), IDC_CAP_QUEUE, queued);
    SetText(capture(), IDC_CAP_SOURCE, source_);
    SetText(capture(), IDC_CAP_WIM, wim_);
    SetText(capture(), IDC_CAP_NAME, L"第二次");
    Press(capture(), IDC_CAP_APPEND);
    return WaitDialog(L"捕获选项");
  }
  LRESULT Send(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_NORMAL, 5000, &result);
    return static_cast<LRESULT>(result);
  }
  bool Checked(HWND dialog, int id) { return Send(GetDlgItem(dialog, id), BM_GETCHECK) == BST_CHECKED; }
  // Ticks the choice and picks an entry of its list.
  void ChooseTemplate(HWND options, int entry) {
    PostMessageW(GetDlgItem(options, IDC_OPT_TEMPLATE), BM_CLICK, 0, 0);
    HWND combo = GetDlgItem(options, IDC_OPT_TEMPLATE_IMAGE);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(combo) != FALSE; }));
    Send(combo, CB_SETCURSEL, entry);
  }
  void ShowQueue() {
    SendCommand(main_, ID_SHOW_TASK_QUEUE);
    ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }, 20000));
  }
  bool QueueIdle() { return ItemEnabled(queue(), IDC_TASK_START) && !ItemEnabled(queue(), IDC_TASK_ABORT); }
  // The file's second image, extracted alone, holds `bytes` at `path`.
  std::string SecondImageFile(const std::string& path) {
    return RunUnix("wimlib-imagex extract " + ShQuote(UnixPath(wim_)) + " 2 " + ShQuote(path) + " --to-stdout").output;
  }
  // Rewrites small.txt with other bytes of the same size and puts its times
  // back: a change the template takes for none (see the engine's tests).
  void RewriteKeepingTimes(const std::wstring& file) {
    UnixResult r = RunUnix(
        "python3 -c 'import os, sys\n"
        "p = sys.argv[1]; st = os.stat(p)\n"
        "d = bytearray(open(p, \"rb\").read()); d[0] ^= 0x20\n"
        "open(p, \"wb\").write(d)\n"
        "os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns))' " +
        ShQuote(UnixPath(file)) + " 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }

  std::wstring dir_, source_, wim_;
};

TEST_F(TemplateChoice, AnAppendThroughWimlibTakesTheImageChosenInTheOptions) {
  MakeSourceAndFile();
  StartQuarry(1);
  HWND options = OpenAppendOptions();
  ASSERT_TRUE(options);
  HWND box = GetDlgItem(options, IDC_OPT_TEMPLATE), combo = GetDlgItem(options, IDC_OPT_TEMPLATE_IMAGE);
  EXPECT_EQ(WindowText(box), L"  以已有映像为模板 (只读取改动过的文件)");
  EXPECT_TRUE(IsWindowVisible(box) && IsWindowEnabled(box));
  EXPECT_FALSE(Checked(options, IDC_OPT_TEMPLATE)) << "an append reads every file unless asked otherwise";
  EXPECT_FALSE(IsWindowEnabled(combo));
  EXPECT_EQ(WindowText(GetDlgItem(options, IDC_OPT_TEMPLATE_NOTE)), L"");
  EXPECT_EQ(Send(combo, CB_GETCOUNT), 2);
  EXPECT_EQ(WindowText(combo), L"最后一个映像 (1)");
  ChooseTemplate(options, 1);
  EXPECT_EQ(WindowText(combo), L"1: 基础");
  if (getenv("QUARRY_SHOTS")) Screenshot(std::string(getenv("QUARRY_SHOTS")) + "/capture_template.png");

  // small.txt changes in a way a template cannot see (same size, same
  // times), so what the new image holds shows that image 1 was its template.
  RewriteKeepingTimes(source_ + L"\\small.txt");
  PostMessageW(GetDlgItem(options, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(WaitOperationResult(), L"操作成功完成!");
  std::string info = WimInfo(wim_);
  EXPECT_EQ(InfoValue(info, "Image Count"), "2");
  EXPECT_EQ(InfoValue(WimInfo(wim_, 2), "Name"), "第二次");
  EXPECT_EQ(SecondImageFile("/small.txt"), "hello quarry\n");
  EXPECT_EQ(SecondImageFile("/sub/big.bin").size(), 300000u);
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim_)) + " >/dev/null 2>&1").exitCode, 0);
}

TEST_F(TemplateChoice, WimgapiGreysTheChoiceWithItsReasonAndANewFileHasNone) {
  MakeSourceAndFile();
  StartQuarry(0);
  HWND options = OpenAppendOptions();
  ASSERT_TRUE(options);
  HWND box = GetDlgItem(options, IDC_OPT_TEMPLATE);
  EXPECT_TRUE(IsWindowVisible(box));
  EXPECT_FALSE(IsWindowEnabled(box));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPT_TEMPLATE_IMAGE)));
  EXPECT_EQ(WindowText(GetDlgItem(options, IDC_OPT_TEMPLATE_NOTE)), kNeedsWimlib);
  if (getenv("QUARRY_SHOTS")) Screenshot(std::string(getenv("QUARRY_SHOTS")) + "/capture_template_wimgapi.png");
  AnswerDialog(options, IDCANCEL);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));

  // A new file has no image to be a template.
  SetText(capture(), IDC_CAP_WIM, dir_ + L"\\新.wim");
  Press(capture(), IDC_CAP_CREATE);
  options = WaitDialog(L"捕获选项");
  ASSERT_TRUE(options);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(options, IDC_OPT_TEMPLATE)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(options, IDC_OPT_TEMPLATE_IMAGE)));
  // The buttons move up into the room the hidden choice leaves.
  RECT ok, note;
  GetWindowRect(GetDlgItem(options, IDOK), &ok);
  GetWindowRect(GetDlgItem(options, IDC_OPT_TEMPLATE_NOTE), &note);
  EXPECT_LT(ok.top, note.top);
  AnswerDialog(options, IDCANCEL);
}

TEST_F(TemplateChoice, AQueuedAppendKeepsItsTemplateThroughSaveAndLoadAndRuns) {
  MakeSourceAndFile();
  StartQuarry(1);
  HWND options = OpenAppendOptions(true);
  ASSERT_TRUE(options);
  ChooseTemplate(options, 0);  // the file's last image
  PostMessageW(GetDlgItem(options, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(options) || !IsWindowVisible(options); }, 20000));
  ShowQueue();
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1; }));
  const std::wstring caption = L"追加镜像卷 (以最后一个映像为模板)";
  EXPECT_EQ(CellText(list(), 0, 1), caption);

  std::wstring file = dir_ + L"\\队列.Task";
  Press(queue(), IDC_TASK_SAVE);
  AnswerFileDialog(file);
  ASSERT_TRUE(WaitUntil([&] { return GetPrivateProfileIntW(L"TASK0", L"TemplateImage", 0, file.c_str()) == -1; }, 20000));
  EXPECT_EQ(GetPrivateProfileIntW(L"TASK0", L"TaskType", -1, file.c_str()), 1);

  Press(queue(), IDC_TASK_LOAD);
  AnswerFileDialog(file);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1 && ItemEnabled(queue(), IDC_TASK_START); }, 20000));
  EXPECT_EQ(CellText(list(), 0, 1), caption);

  RewriteKeepingTimes(source_ + L"\\small.txt");
  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return RowImage(list(), 0) == 1 && QueueIdle(); }, 120000))
      << "picture " << RowImage(list(), 0) << ", reason " << Utf8(CellText(list(), 0, 4));
  EXPECT_EQ(InfoValue(WimInfo(wim_), "Image Count"), "2");
  EXPECT_EQ(SecondImageFile("/small.txt"), "hello quarry\n") << "the template's data";
}

TEST_F(TemplateChoice, AQueuedTemplateRunOnWimgapiFailsWithItsReasonAndLeavesTheFile) {
  MakeSourceAndFile();
  const std::string before = ReadFileBytes(wim_);
  std::wstring file = dir_ + L"\\旧.Task";
  std::wstring text = L"[TASKLIST]\r\nCount=1\r\n[TASK0]\r\nSrcPath=" + source_ + L"\r\nDesPath=" + wim_ +
                      L"\r\nTaskType=1\r\nCompressType=1\r\nTemplateImage=1\r\n";
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  ASSERT_TRUE(WriteFileBytes(file, bytes));

  StartQuarry(0);
  ShowQueue();
  Press(queue(), IDC_TASK_LOAD);
  AnswerFileDialog(file);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1 && ItemEnabled(queue(), IDC_TASK_START); }, 20000));
  EXPECT_EQ(CellText(list(), 0, 1), L"追加镜像卷 (以映像 1 为模板)");
  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return RowImage(list(), 0) == 4 && QueueIdle(); }, 120000));
  EXPECT_EQ(CellText(list(), 0, 4), kNeedsWimlib);
  EXPECT_EQ(ReadFileBytes(wim_), before);
}

}  // namespace
