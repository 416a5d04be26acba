// The task queue: tasks queued from the capture and apply pages, run one
// after another with their state pictures and bars, a failing task, a
// cancelled task, the guard of a running queue, and save / load.
#include <windows.h>
#include <commctrl.h>

#include "capture_apply_fixture.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

const wchar_t kRunnerBusy[] = L"任务队列正在执行, 请等待它完成或中止它.";

class TaskQueue : public QuarryPages {
 protected:
  HWND capture() const { return Page(IDD_PAGE_CAPTURE); }
  HWND apply() const { return Page(IDD_PAGE_APPLY); }
  HWND queue() const { return Page(IDD_PAGE_TASK_QUEUE); }
  HWND list() const { return GetDlgItem(queue(), IDC_TASK_LIST); }

  // Queues a capture from the capture page (" 添加到任务队列" ticked).
  void QueueCapture(const std::wstring& source, const std::wstring& wim, int compressionId = 0) {
    SetCheck(capture(), IDC_CAP_QUEUE, true);
    SetText(capture(), IDC_CAP_SOURCE, source);
    SetText(capture(), IDC_CAP_WIM, wim);
    SetText(capture(), IDC_CAP_NAME, L"队列");
    Press(capture(), IDC_CAP_CREATE);
    AcceptOptions(compressionId);
  }
  void ShowQueue() {
    SendCommand(main_, ID_SHOW_TASK_QUEUE);
    ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }, 20000));
  }
  std::vector<int> Pictures() {
    std::vector<int> pictures;
    for (int i = 0; i < RowCount(list()); i++) pictures.push_back(RowImage(list(), i));
    return pictures;
  }
  bool Idle() { return ItemEnabled(queue(), IDC_TASK_START) && !ItemEnabled(queue(), IDC_TASK_ABORT); }
  bool TabsEnabled() {
    for (int id : {IDC_TAB_CAPTURE, IDC_TAB_APPLY, IDC_TAB_ADVANCED, IDC_TAB_INFO, IDC_TAB_BROWSE})
      if (!ItemEnabled(main_, id)) return false;
    return true;
  }
  std::wstring BarText(int id) { return WindowText(GetDlgItem(queue(), id)); }
  // Lets Quarry's user-interface thread handle everything sent so far.
  void Settle() { SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr); }
  // Selects a row as a click would (an item change of the list).
  void SelectRow(int row) { SetRowState(list(), row, LVIS_SELECTED | LVIS_FOCUSED); }
};

TEST_F(TaskQueue, ThreeTasksWithTheSecondFailingRunToTheEnd) {
  const std::wstring dir = TempDir();
  StartQuarry(0);
  std::wstring source = dir + L"\\q";
  MakeSampleTree(source);
  std::wstring first = dir + L"\\一.wim", bad = dir + L"\\missing\\二.wim", third = dir + L"\\三.wim";
  QueueCapture(source, first);
  QueueCapture(source, bad);
  QueueCapture(source, third);
  ShowQueue();
  ASSERT_EQ(RowCount(list()), 3);
  EXPECT_EQ(CellText(list(), 0, 1), L"创建新镜像");
  EXPECT_EQ(CellText(list(), 1, 2), source);
  EXPECT_EQ(CellText(list(), 1, 3), bad);
  EXPECT_EQ(Pictures(), (std::vector<int>{2, 2, 2}));

  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return Pictures() == std::vector<int>{1, 4, 1} && Idle(); }, 120000))
      << "pictures " << Pictures()[0] << Pictures()[1] << Pictures()[2];
  EXPECT_EQ(BarText(IDC_TASK_OVERALL_BAR), L"300/300");
  EXPECT_TRUE(TabsEnabled());
  EXPECT_TRUE(NoDialogShown()) << "failures stay quiet while the queue runs";
  EXPECT_EQ(InfoValue(WimInfo(first), "Name"), "队列");
  EXPECT_EQ(DiffAppliedImage(third, 1, source), "");
}

TEST_F(TaskQueue, WimlibMountTaskFailsWithoutTouchingTheImageAndApplyRuns) {
  const std::wstring dir = TempDir();
  std::wstring source = dir + L"\\s";
  MakeSampleTree(source);
  std::wstring wim = dir + L"\\s.wim";
  UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source)) + " " + ShQuote(UnixPath(wim)) + " 2>&1");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::wstring target = dir + L"\\applied", mountDir = dir + L"\\mnt";
  ASSERT_TRUE(MakeDirs(target) && MakeDirs(mountDir));

  StartQuarry(1);
  ClickWindow(GetDlgItem(main_, IDC_TAB_APPLY));
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_APPLY); }, 20000));
  SetCheck(apply(), IDC_APPLY_QUEUE, true);
  SetText(apply(), IDC_APPLY_WIM, wim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(GetDlgItem(apply(), IDC_APPLY_LIST)) == 1; }));
  SetText(apply(), IDC_APPLY_TARGET, mountDir);
  Press(apply(), IDC_APPLY_MOUNT);
  HWND box = WaitMessage(L"Wimlib挂载功能无法工作在Windows平台!\n不过您仍然可以使用 Wimgapi API 完成这个操作, 是否要这样做?");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDYES);
  box = WaitMessage(L"是否要以可写方式挂载此镜像?");
  ASSERT_TRUE(box);
  AnswerDialog(box, IDNO);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));
  SetText(apply(), IDC_APPLY_TARGET, target);
  Press(apply(), IDC_APPLY_APPLY);

  ShowQueue();
  ASSERT_EQ(RowCount(list()), 2);
  EXPECT_EQ(CellText(list(), 0, 1), L"挂载");
  EXPECT_EQ(CellText(list(), 1, 1), L"解开镜像");
  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return Pictures() == std::vector<int>{4, 1} && Idle(); }, 120000));
  EXPECT_EQ(GetFileAttributesW((mountDir + L"\\small.txt").c_str()), INVALID_FILE_ATTRIBUTES) << "nothing mounted";
  EXPECT_EQ(DiffFolders(target, source), "");
}

TEST_F(TaskQueue, CancellingTheSecondOfThreeWhileTheRunningQueueIsGuarded) {
  const std::wstring dir = TempDir();
  std::wstring small = dir + L"\\small", large = dir + L"\\large";
  MakeSampleTree(small);
  ASSERT_TRUE(MakeDirs(large));
  std::wstring bigWim = dir + L"\\big.wim";
  UnixResult made = RunUnix("cd " + ShQuote(UnixPath(large)) +
                            " && for d in $(seq 1 30); do mkdir d$d; head -c 6000000 /dev/urandom | split -b 100000 - d$d/f; done" +
                            " && wimlib-imagex capture . " + ShQuote(UnixPath(bigWim)) + " --compress=none 2>&1");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::wstring applied = dir + L"\\applied";
  ASSERT_TRUE(MakeDirs(applied));

  StartQuarry(0);
  std::wstring fourth = dir + L"\\4.wim";
  QueueCapture(small, dir + L"\\1.wim");
  ClickWindow(GetDlgItem(main_, IDC_TAB_APPLY));
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_APPLY); }, 20000));
  SetCheck(apply(), IDC_APPLY_QUEUE, true);
  SetText(apply(), IDC_APPLY_WIM, bigWim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(GetDlgItem(apply(), IDC_APPLY_LIST)) == 1; }));
  SetText(apply(), IDC_APPLY_TARGET, applied);
  Press(apply(), IDC_APPLY_APPLY);
  ClickWindow(GetDlgItem(main_, IDC_TAB_CAPTURE));
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_CAPTURE); }, 20000));
  QueueCapture(small, dir + L"\\3.wim");
  ShowQueue();
  ASSERT_EQ(RowCount(list()), 3);
  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return RowImage(list(), 1) == 3; }, 120000));
  // The abort question holds the running apply until it is answered.
  Press(queue(), IDC_TASK_ABORT);
  HWND question = WaitMessage(L"是否要中止当前操作?");
  ASSERT_TRUE(question) << "the apply ended before it could be cancelled";

  // While it runs: start stays disabled after an item change, tabs ignore
  // clicks, and load and delete are refused.
  EXPECT_FALSE(ItemEnabled(queue(), IDC_TASK_START));
  SelectRow(0);
  Settle();
  EXPECT_FALSE(ItemEnabled(queue(), IDC_TASK_START));
  ClickWindow(GetDlgItem(main_, IDC_TAB_INFO));
  Settle();
  EXPECT_TRUE(ItemVisible(main_, IDD_PAGE_TASK_QUEUE));
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_INFO));
  Press(queue(), IDC_TASK_LOAD);
  HWND box = WaitMessage(kRunnerBusy);
  ASSERT_TRUE(box);
  AnswerDialog(box, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 20000));
  PostMessageW(list(), WM_KEYDOWN, VK_DELETE, 0);
  box = WaitMessage(kRunnerBusy);
  ASSERT_TRUE(box);
  AnswerDialog(box, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 20000));
  EXPECT_EQ(RowCount(list()), 3);

  // The capture page may add a task, but not start one beside the queue:
  // it says so before it asks for any option.
  Press(queue(), IDC_TASK_CLOSE);  // "<": back to the capture page
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_CAPTURE); }, 20000));
  QueueCapture(small, fourth);
  EXPECT_EQ(RowCount(list()), 4);
  SetCheck(capture(), IDC_CAP_QUEUE, false);
  SetText(capture(), IDC_CAP_WIM, dir + L"\\5.wim");
  Press(capture(), IDC_CAP_CREATE);
  box = WaitMessage(kRunnerBusy);
  ASSERT_TRUE(box);
  AnswerDialog(box, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 20000));
  EXPECT_EQ(GetFileAttributesW((dir + L"\\5.wim").c_str()), INVALID_FILE_ATTRIBUTES);
  ShowQueue();
  EXPECT_FALSE(ItemEnabled(queue(), IDC_TASK_START)) << "showing the queue again does not enable start";

  AnswerDialog(question, IDYES);
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }, 120000));
  EXPECT_EQ(Pictures(), (std::vector<int>{1, 4, 2, 2}));
  EXPECT_EQ(BarText(IDC_TASK_OVERALL_BAR), L"0/300");
  EXPECT_EQ(BarText(IDC_TASK_CURRENT_BAR), L"0/100");
  EXPECT_TRUE(TabsEnabled());
  EXPECT_TRUE(NoDialogShown());
  EXPECT_EQ(GetFileAttributesW(fourth.c_str()), INVALID_FILE_ATTRIBUTES) << "a row added during the run is not run";
  EXPECT_EQ(GetFileAttributesW((dir + L"\\3.wim").c_str()), INVALID_FILE_ATTRIBUTES);
}

// On wimlib too, "中止" stops the running task: the queue ends there, the
// tasks after it never start, and the next start resumes at the stopped
// task without doing the finished one again.
TEST_F(TaskQueue, AWimlibQueueStoppedInItsSecondTaskResumesThere) {
  const std::wstring dir = TempDir();
  std::wstring small = dir + L"\\small", large = dir + L"\\large";
  MakeSampleTree(small);
  ASSERT_TRUE(MakeDirs(large));
  UnixResult made = RunUnix("cd " + ShQuote(UnixPath(large)) +
                            " && for d in $(seq 1 40); do mkdir d$d; head -c 5000000 /dev/urandom | split -b 100000 - d$d/f; done");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const std::wstring first = dir + L"\\1.wim", second = dir + L"\\2.wim", third = dir + L"\\3.wim";

  StartQuarry(1);
  QueueCapture(small, first);
  QueueCapture(large, second, IDC_OPT_COMP_LZX);
  QueueCapture(small, third);
  ShowQueue();
  ASSERT_EQ(RowCount(list()), 3);
  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return RowImage(list(), 1) == 3; }, 120000));
  const std::string firstBytes = ReadFileBytes(first);
  ASSERT_FALSE(firstBytes.empty());
  Press(queue(), IDC_TASK_ABORT);
  HWND question = WaitMessage(L"是否要中止当前操作?");
  ASSERT_TRUE(question) << "the capture ended before it could be stopped";
  AnswerDialog(question, IDYES);
  ASSERT_TRUE(WaitUntil([&] { return Idle(); }, 30000));
  EXPECT_EQ(Pictures(), (std::vector<int>{1, 4, 2})) << "done, stopped, never started";
  EXPECT_EQ(CellText(list(), 1, 4), L"操作被取消.") << "the stopped task says it was cancelled";
  EXPECT_EQ(CellText(list(), 2, 4), L"") << "a task that never started has nothing to say";
  EXPECT_EQ(GetFileAttributesW(second.c_str()), INVALID_FILE_ATTRIBUTES) << "a stopped new file is not left";
  EXPECT_EQ(GetFileAttributesW(third.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(NoDialogShown());

  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && RowImage(list(), 2) == 1; }, 240000));
  EXPECT_EQ(Pictures(), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(CellText(list(), 1, 4), L"") << "the resumed task finished";
  EXPECT_EQ(ReadFileBytes(first), firstBytes) << "the finished task is not run again";
  UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(second)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  EXPECT_EQ(InfoValue(WimInfo(third), "Image Count"), "1");
}

// Closing the window during a capture asks once; "是" stops the capture on
// either back end without a second question, the window goes as soon as the
// worker has stopped, and neither the new file nor a temporary one is left.
class CloseDuringCapture : public TaskQueue, public ::testing::WithParamInterface<int> {};

TEST_P(CloseDuringCapture, YesStopsTheCaptureAndClosesAtOnce) {
  const std::wstring dir = TempDir();
  const std::wstring large = dir + L"\\large";
  ASSERT_TRUE(MakeDirs(large));
  UnixResult made = RunUnix("cd " + ShQuote(UnixPath(large)) +
                            " && for d in $(seq 1 40); do mkdir d$d; head -c 5000000 /dev/urandom | split -b 100000 - d$d/f; done");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  const std::wstring wim = dir + L"\\big.wim";

  StartQuarry(GetParam());
  SetCheck(capture(), IDC_CAP_QUEUE, false);
  SetText(capture(), IDC_CAP_SOURCE, large);
  SetText(capture(), IDC_CAP_WIM, wim);
  Press(capture(), IDC_CAP_CREATE);
  AcceptOptions(IDC_OPT_COMP_LZX);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_PROGRESS); }, 30000));

  PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  HWND question = WaitMessage(L"操作正在进行。是否请求中止它，并在它结束后关闭窗口?");
  ASSERT_TRUE(question);
  // "否" changes nothing: the capture goes on.
  AnswerDialog(question, IDNO);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
  EXPECT_TRUE(quarry_.Running());
  EXPECT_TRUE(ItemVisible(main_, IDD_PAGE_PROGRESS));

  PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  question = WaitMessage(L"操作正在进行。是否请求中止它，并在它结束后关闭窗口?");
  ASSERT_TRUE(question);
  const DWORD answered = GetTickCount();
  AnswerDialog(question, IDYES);
  ASSERT_GE(quarry_.WaitExit(30000), 0) << "the window did not close";
  const DWORD took = GetTickCount() - answered;
  EXPECT_LT(took, 3000u) << "closing took " << took << " ms after the answer";
  EXPECT_EQ(GetFileAttributesW(wim.c_str()), INVALID_FILE_ATTRIBUTES);
  UnixResult left = RunUnix("ls -A " + ShQuote(UnixPath(dir)));
  EXPECT_EQ(left.output, "large\n") << "nothing but the source is left";
}

INSTANTIATE_TEST_SUITE_P(Backends, CloseDuringCapture, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 1 ? "Wimlib" : "Wimgapi");
                         });

TEST_F(TaskQueue, SaveThenLoadReproducesEveryRow) {
  const std::wstring dir = TempDir();
  std::wstring source = dir + L"\\中文源";
  MakeSampleTree(source);
  // A target folder whose path is far longer than 260 characters; removed
  // from the Linux side at the end, whatever happens.
  std::wstring deepRoot = dir + L"\\长";
  struct RemoveDeep {
    std::wstring root;
    ~RemoveDeep() { RunUnix("rm -rf " + ShQuote(UnixPath(root))); }
  } removeDeep{deepRoot};
  std::wstring deep = deepRoot;
  while (deep.size() < 300) deep += L"\\长路径文件夹abcdefghijklmnopqrstuvwxyz";
  ASSERT_TRUE(MakeDirs(deep));
  std::wstring wim = dir + L"\\x.wim";
  UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source)) + " " + ShQuote(UnixPath(wim)) + " 2>&1");
  ASSERT_EQ(r.exitCode, 0) << r.output;

  StartQuarry(0);
  QueueCapture(source, deep + L"\\镜像.wim", IDC_OPT_COMP_LZX);
  ClickWindow(GetDlgItem(main_, IDC_TAB_APPLY));
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_APPLY); }, 20000));
  SetCheck(apply(), IDC_APPLY_QUEUE, true);
  SetCheck(apply(), IDC_APPLY_VERIFY, true);
  SetText(apply(), IDC_APPLY_WIM, wim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(GetDlgItem(apply(), IDC_APPLY_LIST)) == 1; }));
  SetText(apply(), IDC_APPLY_TARGET, deep);
  Press(apply(), IDC_APPLY_APPLY);
  ShowQueue();
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 2; }));
  std::vector<std::vector<std::wstring>> before;
  for (int i = 0; i < 2; i++)
    before.push_back({CellText(list(), i, 1), CellText(list(), i, 2), CellText(list(), i, 3)});
  EXPECT_TRUE(before[1][2] == deep) << "the long path is kept whole: " << before[1][2].size() << " of "
                                    << deep.size() << " characters";

  std::wstring file = dir + L"\\队列.Task";
  Press(queue(), IDC_TASK_SAVE);
  AnswerFileDialog(file);
  // The file is complete once its last key is written.
  ASSERT_TRUE(WaitUntil([&] { return GetPrivateProfileIntW(L"TASK1", L"DisableACL", -1, file.c_str()) == 0; }, 20000));
  EXPECT_EQ(GetPrivateProfileIntW(L"TASKLIST", L"Count", -1, file.c_str()), 2);
  EXPECT_EQ(GetPrivateProfileIntW(L"TASK0", L"CompressType", -1, file.c_str()), 2);
  EXPECT_EQ(GetPrivateProfileIntW(L"TASK1", L"TaskType", -1, file.c_str()), 2);
  EXPECT_EQ(GetPrivateProfileIntW(L"TASK1", L"ImageIndex", -1, file.c_str()), 1);
  EXPECT_EQ(GetPrivateProfileIntW(L"TASK1", L"Verify", -1, file.c_str()), 1);

  // Loading replaces the rows (here: after one was deleted) with the saved ones.
  SelectRow(0);
  PostMessageW(list(), WM_KEYDOWN, VK_DELETE, 0);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 1; }));
  Press(queue(), IDC_TASK_LOAD);
  AnswerFileDialog(file);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(list()) == 2; }, 20000));
  for (int i = 0; i < 2; i++)
    for (int c = 0; c < 3; c++) EXPECT_TRUE(CellText(list(), i, c + 1) == before[i][c]) << "row " << i << ", column " << c + 1;
  EXPECT_EQ(Pictures(), (std::vector<int>{2, 2}));
  EXPECT_TRUE(ItemEnabled(queue(), IDC_TASK_START));
}

}  // namespace
