// Progress to the operation's own target, the status line, the error box
// text and the abort question as the program shows them, with real windows
// as progress displays and the message-box seam answering.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "resources/resource.h"
#include "tasks/task_queue_page.h"
#include "tasks/workbench.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {

// A real window standing in for a progress display, visible or hidden.
class DisplayWindow {
 public:
  explicit DisplayWindow(bool visible) {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0, 10, 10, nullptr,
                            nullptr, nullptr, nullptr);
  }
  ~DisplayWindow() { DestroyWindow(hwnd_); }
  HWND hwnd_;
};

// A progress target over a real window: a page, the queue or a shell dialog.
struct FakeTarget : ProgressTarget {
  explicit FakeTarget(bool visible) : window(visible) {}
  HWND Hwnd() const override { return window.hwnd_; }
  void SetPercent(float p) override { percents.push_back(p); }
  void SetStatusText(const std::wstring& t) override { status = t; }
  DisplayWindow window;
  std::vector<float> percents;
  std::wstring status;
};

// The program around the engine, with nothing but what these tests need:
// its errors and questions go through the message-box seam.
struct TestBench : Workbench {
  void ShowTip(const std::wstring&) override {}
  void ShowPopupMenu(PopupMenu, HWND) override {}
  void JumpTo(UINT, const std::wstring&) override {}
  void UpdateBackendMenu(HMENU) const override {}
};

struct Question {
  std::wstring text, caption;
  UINT style;
};

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring& caption, UINT style) {
      questions.push_back({text, caption, style});
      return answer;
    });
  }
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
  }
  TestBench host;
  CancelToken cancel;
  // The context of one operation of the program reporting to `progress`.
  OperationContext* Op(ProgressTarget* progress) {
    contexts.emplace_back();
    OperationContext& context = contexts.back();
    context.progress = progress;
    context.cancel = &cancel;
    context.host = &host;
    return &context;
  }
  std::deque<OperationContext> contexts;
  std::vector<Question> questions;
  int answer = IDNO;
};

TEST_F(ProgressTest, PercentagesReachTheNamedTargetWhileItIsShown) {
  FakeTarget page(true);
  FakeTarget hidden(false);
  ReportProgress(&page, 42.5f);
  ReportProgress(&hidden, 42.5f);
  ReportProgress(nullptr, 10);  // an operation without a display: nothing happens
  EXPECT_EQ(page.percents, std::vector<float>{42.5f});
  EXPECT_TRUE(hidden.percents.empty());
  // The status line goes to a page that exists, shown or not.
  ReportStatusText(&hidden, L"\u6b63\u5728\u5206\u5272\u6587\u4ef6...");
  EXPECT_EQ(hidden.status, L"\u6b63\u5728\u5206\u5272\u6587\u4ef6...");
  ReportStatusText(nullptr, L"x");
}

TEST_F(ProgressTest, QueueOverallBarCountsFinishedTasksInHundreds) {
  EXPECT_EQ(TaskQueueOverallValue(0, 30), 30);
  EXPECT_EQ(TaskQueueOverallValue(30, 99.5f), 99.5f);
  EXPECT_EQ(TaskQueueOverallValue(200, 25), 225);   // two tasks done
  EXPECT_EQ(TaskQueueOverallValue(225, 75.25f), 275.25f);
  EXPECT_EQ(TaskQueueOverallValue(399.9f, 0), 300);
  EXPECT_EQ(TaskQueueOverallValue(99.9f, 50), 50);
}

TEST_F(ProgressTest, ApiErrorTextHasNameNumberAndSystemMessage) {
  wchar_t* system = nullptr;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                 ERROR_FILE_NOT_FOUND, 0x400, reinterpret_cast<LPWSTR>(&system), 0, nullptr);
  ASSERT_NE(system, nullptr);
  std::wstring expected = std::wstring(L"WIMCreateFile()\nError Code: 2\n") + system;
  LocalFree(system);
  EXPECT_EQ(ApiErrorText(L"WIMCreateFile()", ERROR_FILE_NOT_FOUND), expected);

  SetLastError(ERROR_FILE_NOT_FOUND);
  ShowApiError(*Op(nullptr), L"WIMCreateFile()");
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, expected);
  EXPECT_EQ(questions[0].caption, L"Quarry") << "the program's own caption";
  EXPECT_EQ(questions[0].style & MB_ICONMASK, (UINT)MB_ICONERROR);
}

TEST_F(ProgressTest, ASplitPartTooSmallIsToldInTheProgramsWords) {
  host.ShowNotice(EngineNotice::kSplitPartTooSmall);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, L"\u5206\u5272\u6570\u503c\u8fc7\u5c0f\uff0c\u8bf7\u91cd\u65b0\u9009\u62e9.");
  EXPECT_EQ(questions[0].style, static_cast<UINT>(MB_ICONEXCLAMATION));
}

TEST_F(ProgressTest, AbortQuestionOnlyWhenRequestedAndClearsTheRequest) {
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROCESS, 0, 0, Op(nullptr)), WIM_MSG_SUCCESS);
  EXPECT_TRUE(questions.empty());

  cancel.Request();
  answer = IDNO;
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROCESS, 0, 0, Op(nullptr)), WIM_MSG_SUCCESS);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, L"\u662f\u5426\u8981\u4e2d\u6b62\u5f53\u524d\u64cd\u4f5c?");
  EXPECT_EQ(questions[0].caption, L"\u786e\u8ba4\u4e2d\u6b62\u64cd\u4f5c");
  EXPECT_EQ(questions[0].style, (UINT)(MB_ICONQUESTION | MB_YESNO));
  EXPECT_FALSE(cancel.Requested());
  // No: the next file does not ask again until the button is pressed again.
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROCESS, 0, 0, Op(nullptr)), WIM_MSG_SUCCESS);
  EXPECT_EQ(questions.size(), 1u);

  cancel.Request();
  answer = IDYES;
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROCESS, 0, 0, Op(nullptr)), (DWORD)WIM_MSG_ABORT_IMAGE);
  EXPECT_FALSE(cancel.Requested());
}

TEST_F(ProgressTest, CallbacksStopOnAnyMessage) {
  FakeTarget page(true);
  FakeTarget other(true);
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROGRESS, 37, 0, Op(&page)), WIM_MSG_SUCCESS);
  EXPECT_EQ(page.percents, std::vector<float>{37});
  EXPECT_TRUE(other.percents.empty()) << "only the operation's own target hears of it";
  EXPECT_EQ(ExportMessageCallback(WIM_MSG_PROGRESS, 50, 0, Op(&page)), WIM_MSG_SUCCESS);
  EXPECT_EQ(page.percents.size(), 1u) << "export reports no percentage";

  // A percentage is as good a moment to stop as a file: the long write of
  // an image sends nothing else.
  cancel.Request();
  answer = IDYES;
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROGRESS, 40, 0, Op(&page)), (DWORD)WIM_MSG_ABORT_IMAGE);
  EXPECT_EQ(page.percents.size(), 1u);
  cancel.Request();
  EXPECT_EQ(ExportMessageCallback(WIM_MSG_PROGRESS, 50, 0, Op(&page)), (DWORD)WIM_MSG_ABORT_IMAGE);
  EXPECT_EQ(questions.size(), 2u);

  // Split asks on every message and sets its target's status line for
  // every part.
  answer = IDNO;
  cancel.Request();
  EXPECT_EQ(SplitMessageCallback(WIM_MSG_SPLIT, 0, 0, Op(&page)), WIM_MSG_SUCCESS);
  EXPECT_EQ(page.status, LoadStr(IDS_SPLITTING));
  cancel.Request();
  answer = IDYES;
  EXPECT_EQ(SplitMessageCallback(WIM_MSG_PROGRESS, 10, 0, Op(nullptr)), (DWORD)WIM_MSG_ABORT_IMAGE);
  EXPECT_EQ(SplitMessageCallback(WIM_MSG_PROCESS, 0, 0, Op(nullptr)), WIM_MSG_SUCCESS);
  EXPECT_EQ(questions.size(), 4u);

  // A request the caller has already confirmed stops without a question
  // and stays for the caller to clear.
  cancel.Request(true);
  EXPECT_EQ(ApplyMessageCallback(WIM_MSG_PROGRESS, 41, 0, Op(nullptr)), (DWORD)WIM_MSG_ABORT_IMAGE);
  EXPECT_EQ(SplitMessageCallback(WIM_MSG_SPLIT, 0, 0, Op(&page)), (DWORD)WIM_MSG_ABORT_IMAGE);
  EXPECT_EQ(questions.size(), 4u);
  EXPECT_TRUE(cancel.Requested());
  cancel.Clear();
}

// wimlib names the file of an error through its progress function; the
// reason shown for the failure that follows carries that file.
TEST_F(ProgressTest, AWimlibErrorReportKeepsItsFileForTheFailure) {
  ClearFailure();
  wimlib_progress_info info = {};
  info.handle_error.path = L"\\Windows\\System32\\x.dll";
  info.handle_error.error_code = WIMLIB_ERR_INSUFFICIENT_PRIVILEGES;
  EXPECT_EQ(WimlibProgress(WIMLIB_PROGRESS_MSG_HANDLE_ERROR, &info, nullptr), WIMLIB_PROGRESS_STATUS_CONTINUE);
  info.handle_error.path = nullptr;  // the library's buffer is gone after the call
  NoteWimlibFailure(WIMLIB_ERR_INSUFFICIENT_PRIVILEGES);
  EXPECT_EQ(FailureText(), L"\u62d2\u7edd\u8bbf\u95ee; \u6587\u4ef6: \\Windows\\System32\\x.dll");

  // A failure of another kind afterwards is not that file's.
  NoteWimlibFailure(WIMLIB_ERR_DECOMPRESSION);
  EXPECT_EQ(FailureText(), L"\u955c\u50cf\u5df2\u635f\u574f: \u538b\u7f29\u6570\u636e\u65e0\u6548");
  ClearFailure();
  EXPECT_EQ(FailureText(), L"");
}

TEST_F(ProgressTest, WimlibPercentageRule) {
  EXPECT_EQ(WimlibPercent(0, 0), 0.0f);
  EXPECT_EQ(WimlibPercent(5, 0), 0.0f);
  EXPECT_FLOAT_EQ(WimlibPercent(1, 4), 25.0f);
  EXPECT_LT(WimlibPercent(100, 100), 0.0f) << "100 is left to the end of the operation";
  // Large counts are multiplied in 64 bits.
  EXPECT_FLOAT_EQ(WimlibPercent(3ull << 40, 4ull << 40), 75.0f);

  FakeTarget page(true);
  WimlibOperation operation;
  operation.context = Op(&page);
  wimlib_progress_info info = {};
  info.write_streams.total_bytes = 0;
  WimlibProgress(WIMLIB_PROGRESS_MSG_WRITE_STREAMS, &info, &operation);
  info.extract.total_bytes = 200;
  info.extract.completed_bytes = 50;
  WimlibProgress(WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS, &info, &operation);
  info.extract.completed_bytes = 200;
  WimlibProgress(WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS, &info, &operation);
  info.split.total_bytes = 10;
  info.split.completed_bytes = 9;
  WimlibProgress(WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART, &info, &operation);
  WimlibProgress(WIMLIB_PROGRESS_MSG_SCAN_DENTRY, &info, &operation);
  EXPECT_EQ(page.percents, (std::vector<float>{0.0f, 25.0f, 90.0f}));
  WimlibProgress(WIMLIB_PROGRESS_MSG_WRITE_STREAMS, &info, nullptr);  // no operation: nothing to report to

  // An operation's abort state: the request is asked about at the next
  // message of any kind; No goes on, Yes stops it for good.
  WimlibOperation abort;
  abort.context = Op(nullptr);
  cancel.Request();
  answer = IDNO;
  EXPECT_EQ(WimlibProgress(WIMLIB_PROGRESS_MSG_SCAN_BEGIN, &info, &abort), WIMLIB_PROGRESS_STATUS_CONTINUE);
  EXPECT_EQ(questions.size(), 1u);
  EXPECT_EQ(WimlibProgress(WIMLIB_PROGRESS_MSG_WRITE_STREAMS, &info, &abort), WIMLIB_PROGRESS_STATUS_CONTINUE);
  cancel.Request();
  answer = IDYES;
  EXPECT_EQ(WimlibProgress(WIMLIB_PROGRESS_MSG_WRITE_STREAMS, &info, &abort), WIMLIB_PROGRESS_STATUS_ABORT);
  EXPECT_EQ(WimlibProgress(WIMLIB_PROGRESS_MSG_WRITE_STREAMS, &info, &abort), WIMLIB_PROGRESS_STATUS_ABORT);
  EXPECT_EQ(questions.size(), 2u);
  EXPECT_TRUE(abort.aborted);
}

}  // namespace
