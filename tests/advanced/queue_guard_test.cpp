// Pages beside a running task queue: an operation is refused before it asks
// anything and leaves the page as it was, a task may still be queued, and an
// abort pressed on the queue stays pending whatever the pages do.
#include <gtest/gtest.h>

#include <atomic>

#include "advanced_fixture.h"
#include "pages/page2_common.h"
#include "resources/resource.h"
#include "tasks/task_queue_page.h"

using namespace qtest;

namespace {

const wchar_t kRunnerBusy[] = L"任务队列正在执行, 请等待它完成或中止它.";
const wchar_t kAskAbort[] = L"是否要中止当前操作?";

class QueueGuardTest : public AdvancedTest {
 protected:
  void SetUp() override {
    AdvancedTest::SetUp();
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The first abort question holds the running task until released and
    // is answered "no"; a later one is answered "yes".
    answer = [this](const ShownMessage& m) {
      if (m.text != kAskAbort) return (m.style & 0xF) == MB_YESNO ? IDYES : IDOK;
      if (abortQuestions_++ > 0) return IDYES;
      WaitForSingleObject(release_, 120000);
      return IDNO;
    };
  }
  void TearDown() override {
    SetEvent(release_);
    if (dialog_) WaitUntil([&] { return !runner().QueueRunning(); }, 120000);
    AdvancedTest::TearDown();
    CloseHandle(release_);
  }

  CPage_TaskQueue& queue() { return dialog_->taskQueuePage(); }
  HWND queueList() { return GetDlgItem(queue().hwnd(), IDC_TASK_LIST); }
  void PressAbort() { SendMessageW(queue().hwnd(), WM_COMMAND, MAKEWPARAM(IDC_TASK_ABORT, BN_CLICKED), 0); }
  // Lets the window's thread finish what it was given so far.
  void Settle() { SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 20000, nullptr); }
  bool TabsEnabled() { return IsWindowEnabled(dialog_->Tab(0).hwnd()) && IsWindowEnabled(dialog_->Tab(2).hwnd()); }

  // Opens the queue over the current page, runs an apply of a file of many
  // small files (it looks for an abort between files), presses "中止" and
  // holds the apply at the question; "<" shows the page again.
  void StartHeldRun() {
    std::wstring data = TempDir() + L"\\many", wim = dir_ + L"\\many.wim";
    UnixResult made = RunUnix("mkdir -p " + ShQuote(UnixPath(data)) + " && cd " + ShQuote(UnixPath(data)) +
                              " && head -c 60000000 /dev/urandom | split -b 40000 - f && wimlib-imagex capture . " +
                              ShQuote(UnixPath(wim)) + " --compress=none 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    target_ = TempDir() + L"\\applied";
    ASSERT_TRUE(MakeDirs(target_));
    SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(queue().hwnd()); }, 20000));
    TaskRecord record = {};
    record.TaskType = kTaskApply;
    record.ImageIndex = 1;
    OnUiThread([&] { queue().AddTask(wim, target_, record, false); });
    Click(queue().hwnd(), IDC_TASK_START);
    ASSERT_TRUE(WaitUntil([&] { return ItemEnabled(queue().hwnd(), IDC_TASK_ABORT); }, 20000));
    PressAbort();
    ASSERT_TRUE(WaitUntil([&] { return abortQuestions_ == 1; }, 60000)) << "the apply ended before it saw the abort";
    Click(queue().hwnd(), IDC_TASK_CLOSE);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(queue().hwnd()); }, 20000));
  }
  void ReleaseRun() {
    SetEvent(release_);
    ASSERT_TRUE(WaitUntil([&] { return !runner().QueueRunning() && !runner().Busy(); }, 120000));
  }
  // The messages shown since the last clear, first one first.
  std::wstring FirstMessage() {
    std::vector<ShownMessage> shown = Messages();
    return shown.empty() ? L"(none)" : shown.front().text;
  }

  HANDLE release_ = nullptr;
  std::atomic<int> abortQuestions_{0};
  std::wstring target_;
};

TEST_F(QueueGuardTest, DeleteAndMergePagesRefuseBeforeAskingAndKeepWhatIsPending) {
  UseBackend(kBackendWimgapi);
  std::wstring wim = MakeWim(L"three.wim", 3);
  ShowAdvancedTab();
  ClickRadio(IDC_ADVANCED_MERGE);
  QueueFileAnswer({wim});
  Click(mergeWnd(), IDC_MERGE_ADD);
  HWND mergeList = GetDlgItem(mergeWnd(), IDC_MERGE_LIST);
  ASSERT_TRUE(WaitUntil([&] { return Rows(mergeList) == 3 && !host().mergePage().IsLoading(); }, 20000));
  ClickRadio(IDC_ADVANCED_DELETE);
  QueueFileAnswer({wim});
  Click(deleteWnd(), IDC_DELETE_OPEN);
  HWND list = GetDlgItem(deleteWnd(), IDC_DELETE_LIST);
  ASSERT_EQ(Rows(list), 3);
  SelectRows(list, {1});
  SendMessageW(deleteWnd(), WM_COMMAND, ID_DELETE_IMAGE, 0);
  ASSERT_EQ(Rows(list), 2);

  StartHeldRun();
  ASSERT_TRUE(IsWindowVisible(deleteWnd()));
  ClearMessages();
  PostClick(deleteWnd(), IDC_DELETE_SAVE);
  ASSERT_TRUE(WaitForMessage(kRunnerBusy));
  Settle();
  EXPECT_EQ(FirstMessage(), kRunnerBusy) << "refused before the save question";
  EXPECT_EQ(Rows(list), 2) << "the pending deletion stays in the list";
  EXPECT_TRUE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));
  EXPECT_TRUE(runner().Busy()) << "the queue keeps its hold";
  EXPECT_FALSE(TabsEnabled());

  ClickRadio(IDC_ADVANCED_MERGE);
  ClearMessages();
  const int dialogs = FileDialogsShown();
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  ASSERT_TRUE(WaitForMessage(kRunnerBusy));
  Settle();
  EXPECT_EQ(FirstMessage(), kRunnerBusy);
  EXPECT_EQ(FileDialogsShown(), dialogs) << "no destination asked for";

  ReleaseRun();
  EXPECT_TRUE(TabsEnabled());
  EXPECT_EQ(ImageCount(wim), 3);
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Image 2");
}

TEST_F(QueueGuardTest, CapturePageQueuesButDoesNotStartAndTheAbortStaysPending) {
  UseBackend(kBackendWimgapi);
  std::wstring source = TempDir() + L"\\src";
  MakeSampleTree(source);
  HWND capture = dialog_->capturePage().hwnd();
  ASSERT_TRUE(IsWindowVisible(capture));
  StartHeldRun();
  ASSERT_TRUE(IsWindowVisible(capture));

  // Starting a capture is refused before the options are asked for.
  Type(capture, IDC_CAP_SOURCE, source);
  Type(capture, IDC_CAP_WIM, dir_ + L"\\now.wim");
  ClearMessages();
  PostClick(capture, IDC_CAP_CREATE);
  ASSERT_TRUE(WaitForMessage(kRunnerBusy));
  Settle();
  EXPECT_EQ(WaitForDialog(L"捕获选项", 0), nullptr);

  // "中止" pressed again while the first question is still open; queueing a
  // capture meanwhile must not take that abort back.
  PressAbort();
  SendMessageW(GetDlgItem(capture, IDC_CAP_QUEUE), BM_CLICK, 0, 0);
  Type(capture, IDC_CAP_WIM, dir_ + L"\\later.wim");
  PostClick(capture, IDC_CAP_CREATE);
  HWND options = WaitForDialog(L"捕获选项");
  ASSERT_TRUE(options);
  PostMessageW(GetDlgItem(options, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return Rows(queueList()) == 2; }, 20000));

  ReleaseRun();
  EXPECT_EQ(abortQuestions_, 2) << "the pending abort was asked about";
  EXPECT_EQ(RowImage(queueList(), 0), 4) << "the apply was cancelled";
  EXPECT_EQ(RowImage(queueList(), 1), 2);
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\now.wim").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Rows from a task-list file have not been through the capture page's
// checks: the runner makes them itself.
TEST_F(QueueGuardTest, RunnerRefusesAWimInsideItsSourceAndASecondCreateOfTheSameFile) {
  std::wstring source = TempDir() + L"\\src";
  MakeSampleTree(source);
  std::wstring self = source + L"\\self.wim", shared = dir_ + L"\\shared.wim";
  struct Row {
    std::wstring target;
    BYTE type;
    const wchar_t* name;
  };
  const Row rows[] = {{self, kTaskCaptureNew, L"Self"},
                      {shared, kTaskCaptureNew, L"First"},
                      {shared, kTaskCaptureNew, L"Second"},
                      {shared, kTaskCaptureAppend, L"Third"}};
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(queue().hwnd()); }, 20000));
  for (const Row& row : rows) {
    TaskRecord record = {};
    record.TaskType = row.type;
    record.CompressType = 1;
    SetTaskText(record.Name, row.name);
    OnUiThread([&] { queue().AddTask(source, row.target, record, false); });
  }
  Click(queue().hwnd(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil([&] { return RowImage(queueList(), 3) != 2 && !runner().QueueRunning(); }, 120000));
  std::vector<int> pictures;
  for (int i = 0; i < 4; i++) pictures.push_back(RowImage(queueList(), i));
  EXPECT_EQ(pictures, (std::vector<int>{4, 1, 4, 1}));
  EXPECT_EQ(GetFileAttributesW(self.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(ImageCount(shared), 2);
  EXPECT_EQ(InfoField(shared, 1, "Name"), "First");
  EXPECT_EQ(InfoField(shared, 2, "Name"), "Third");
}

}  // namespace
