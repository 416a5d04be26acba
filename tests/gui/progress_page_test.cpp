// The progress page as the runner drives it: an operation's beginning and
// end, percentages through the engine's ReportProgress from the worker,
// while the test thread pumps the window's messages.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/progress.h"
#include "frame_fixture.h"
#include "resources/resource.h"
#include "tasks/operation_runner.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {
using namespace qtest;

// An operation run through the runner with the progress page as its
// display, whose body does on the worker, step by step, what the test hands
// it, and ends with the result the test gives. The test thread pumps the
// window's messages while it waits.
class DrivenOperation {
 public:
  DrivenOperation(OperationRunner& runner, OperationDisplay* display, const std::wstring& title)
      : runner_(runner), wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    Operation driven;
    driven.title = title;
    driven.display = display;
    driven.body = [this](const OperationContext& context) {
      for (;;) {
        WaitForSingleObject(wake_, INFINITE);
        std::function<void(const OperationContext&)> step;
        {
          std::lock_guard<std::mutex> hold(lock_);
          step = std::move(step_);
        }
        if (step) step(context);
        done_ = true;
        if (ending_) return OperationOutcome{result_};
      }
    };
    started_ = runner.Start(std::move(driven));
  }
  ~DrivenOperation() {
    if (started_ && !ending_) End(kResultAborted);
    runner_.Wait(60000);
    CloseHandle(wake_);
  }
  bool started() const { return started_; }

  // Runs `step` on the worker with the operation's context.
  void Do(std::function<void(const OperationContext&)> step) {
    Hand(std::move(step), false);
  }
  // The body returns `result`; returns once the runner has ended the operation.
  void End(EngineResult result) {
    result_ = result;
    Hand(nullptr, true);
    ASSERT_TRUE(WaitUntil([&] { return !runner_.Busy(); }, 30000));
    Flush();
  }

 private:
  void Hand(std::function<void(const OperationContext&)> step, bool end) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      step_ = std::move(step);
    }
    done_ = false;
    ending_ = end;
    SetEvent(wake_);
    ASSERT_TRUE(WaitUntil([&] { return done_.load(); }, 30000));
  }

  OperationRunner& runner_;
  HANDLE wake_;
  std::mutex lock_;
  std::function<void(const OperationContext&)> step_;
  std::atomic<bool> done_{false};
  std::atomic<bool> ending_{false};
  EngineResult result_ = kResultSuccess;
  bool started_ = false;
};

// A long operation that reports until abort is requested and then, while
// it winds down, goes on reporting into the progress page for a while.
struct WindingDown {
  std::atomic<int> reportsAfterAbort{0};
  std::atomic<bool> pageLivedThroughout{true};

  OperationOutcome Run(CPage_Progress* page, const OperationContext& context) {
    const DWORD start = GetTickCount();
    while (!context.cancel->Requested() && GetTickCount() - start < 60000) {
      ReportProgress(page, 10.0f);
      Sleep(20);
    }
    for (int i = 0; i < 5; i++) {
      Sleep(100);
      if (!IsWindow(page->hwnd())) pageLivedThroughout = false;
      ReportStatusText(page, L"正在结束...");
      reportsAfterAbort++;
    }
    return OperationOutcome{context.cancel->Requested() ? kResultAborted : kResultSuccess};
  }
};

class ProgressPageTest : public FrameTest {
 protected:
  CPage_Progress& page() { return dialog_->progressPage(); }
  HWND Item(int id) { return GetDlgItem(page().hwnd(), id); }
  std::wstring Text() { return WindowText(Item(IDC_PROGRESS_TEXT)); }

  // Runs `work` on a worker thread and pumps messages until it is done.
  template <typename F>
  void OnWorker(F work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      work();
      done = true;
    });
    const bool ended = WaitUntil([&] { return done.load(); }, 30000);
    worker.join();
    ASSERT_TRUE(ended);
    Flush();
  }

  // The colour of the result picture near its top (inside the disc, away
  // from the white mark in its middle).
  COLORREF PictureColour() {
    HWND picture = Item(IDC_PROGRESS_PICTURE);
    RedrawWindow(picture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(picture);
    COLORREF colour = GetPixel(dc, 32, 12);
    ReleaseDC(picture, dc);
    return colour;
  }

  void ExpectRunning() {
    EXPECT_TRUE(page().IsVisible());
    EXPECT_TRUE(IsWindowVisible(Item(IDC_PROGRESS_ABORT)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_OK)));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_PROGRESS_BAR)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_PICTURE)));
    EXPECT_TRUE(dialog_->runner().Busy());
    for (int i = 0; i < 5; i++) EXPECT_FALSE(IsWindowEnabled(dialog_->Tab(i).hwnd())) << i;
  }

  void ExpectResult(UINT picture, UINT text) {
    EXPECT_EQ(page().picture().imageId(), picture);
    EXPECT_TRUE(IsWindowVisible(Item(IDC_PROGRESS_PICTURE)));
    EXPECT_EQ(Text(), LoadStr(text));
    EXPECT_TRUE(IsWindowVisible(Item(IDC_PROGRESS_OK)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_ABORT)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_BAR)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_TITLE)));
    EXPECT_EQ(WindowText(Item(IDC_PROGRESS_TITLE)), L"");
    EXPECT_FALSE(dialog_->runner().Busy());
    for (int i = 0; i < 5; i++) EXPECT_TRUE(IsWindowEnabled(dialog_->Tab(i).hwnd())) << i;
  }

  // The top-most shown child of the main window at the centre of a control.
  HWND ChildOnTopAt(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    POINT pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ScreenToClient(main_, &pt);
    return ChildWindowFromPointEx(main_, pt, CWP_SKIPINVISIBLE);
  }

  // What a page does: it hides itself and has the runner start its
  // operation, which the progress page shows with the operation's title.
  std::unique_ptr<DrivenOperation> BeginFromCurrentPage(const std::wstring& title) {
    app_->currentPage->Show(false);
    return Drive(title);
  }
  std::unique_ptr<DrivenOperation> Drive(const std::wstring& title = L"") {
    auto operation = std::make_unique<DrivenOperation>(dialog_->runner(), &page(), title);
    EXPECT_TRUE(operation->started());
    EXPECT_TRUE(WaitUntil([&] { return page().IsRunning(); }));
    Flush();
    return operation;
  }
};

TEST_F(ProgressPageTest, RunsFromMarqueeThroughPercentagesToSuccess) {
  ClickTab(1);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  auto operation = BeginFromCurrentPage(L"应用 a.wim 到 target");
  ExpectRunning();
  EXPECT_EQ(Text(), L"正在准备处理，请稍候...");
  EXPECT_EQ(WindowText(Item(IDC_PROGRESS_TITLE)), L"应用 a.wim 到 target");
  EXPECT_TRUE(page().bar().IsMarquee());
  EXPECT_FALSE(IsWindowEnabled(dialog_->applyPage().hwnd()));
  EXPECT_FALSE(dialog_->applyPage().IsVisible());
  ShotIfAsked("progress_begin");

  // A tab click while the operation runs does nothing.
  ClickTab(0);
  EXPECT_EQ(dialog_->SelectedTab(), 1);
  EXPECT_TRUE(page().IsVisible());

  OnWorker([&] { ReportProgress(&page(), 0.0f); });
  EXPECT_TRUE(page().bar().IsMarquee());
  OnWorker([&] { ReportProgress(&page(), 42.5f); });
  EXPECT_FALSE(page().bar().IsMarquee());
  EXPECT_FLOAT_EQ(page().bar().pos(), 42.5f);
  EXPECT_EQ(Text(), L"42.50% 已完成");
  ShotIfAsked("progress_running");
  OnWorker([&] { ReportProgress(&page(), 99.994f); });
  EXPECT_EQ(Text(), L"99.99% 已完成");
  OnWorker([&] { ReportStatusText(&page(), L"正在分割文件..."); });
  EXPECT_EQ(Text(), L"正在分割文件...");

  operation->End(0);
  ExpectResult(IDP_RESULT_OK, IDS_OP_SUCCEEDED);
  EXPECT_FLOAT_EQ(page().bar().pos(), 100.0f);
  COLORREF green = PictureColour();
  EXPECT_GT(GetGValue(green), GetRValue(green) + 60) << std::hex << green;
  ShotIfAsked("progress_ok");

  // "确定" brings back the page that ran the operation.
  ClickButton(page().hwnd(), IDC_PROGRESS_OK);
  EXPECT_FALSE(page().IsVisible());
  EXPECT_TRUE(dialog_->applyPage().IsVisible());
  EXPECT_TRUE(IsWindowEnabled(dialog_->applyPage().hwnd()));
}

TEST_F(ProgressPageTest, CancelAndFailureShowTheirPicturesAndTexts) {
  BeginFromCurrentPage(L"")->End(1235);
  ExpectResult(IDP_RESULT_CANCELLED, IDS_OP_CANCELLED);
  COLORREF amber = PictureColour();
  EXPECT_GT(GetRValue(amber), 180);
  EXPECT_GT(GetGValue(amber), 110);
  EXPECT_LT(GetBValue(amber), 120);

  page().Close();
  auto failing = BeginFromCurrentPage(L"");
  EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_PICTURE)));
  EXPECT_TRUE(page().bar().IsMarquee());
  failing->End(-99);
  ExpectResult(IDP_RESULT_FAILED, IDS_OP_FAILED);
  COLORREF red = PictureColour();
  EXPECT_GT(GetRValue(red), GetGValue(red) + 80) << std::hex << red;
  ShotIfAsked("progress_failed");

  page().Close();
  BeginFromCurrentPage(L"")->End(-1);
  EXPECT_EQ(page().picture().imageId(), static_cast<UINT>(IDP_RESULT_FAILED));
}

TEST_F(ProgressPageTest, AbortButtonRequestsCancellation) {
  auto operation = BeginFromCurrentPage(L"");
  bool requested = true;
  operation->Do([&](const OperationContext& context) { requested = context.cancel->Requested(); });
  EXPECT_FALSE(requested);
  ClickButton(page().hwnd(), IDC_PROGRESS_ABORT);
  // The running operation's own cancel, not confirmed: the engine asks.
  bool confirmed = true;
  operation->Do([&](const OperationContext& context) {
    requested = context.cancel->Requested();
    confirmed = context.cancel->Confirmed();
  });
  EXPECT_TRUE(requested);
  EXPECT_FALSE(confirmed);
  operation->End(1235);
}

TEST_F(ProgressPageTest, EnterPressesOkOnlyOnceTheResultShows) {
  ClickTab(2);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 2; }));
  auto operation = BeginFromCurrentPage(L"");
  Key(VK_RETURN);
  EXPECT_TRUE(page().IsVisible());
  operation->End(0);
  Key(VK_RETURN);
  EXPECT_TRUE(WaitUntil([&] { return !page().IsVisible(); }));
  EXPECT_TRUE(dialog_->advancedPage().IsVisible());
  EXPECT_TRUE(IsWindowEnabled(dialog_->advancedPage().hwnd()));
}

TEST_F(ProgressPageTest, ShortcutsLeaveARunningOperationInPlace) {
  auto operation = BeginFromCurrentPage(L"");
  Key(VK_NEXT);
  Key('Q', VK_CONTROL);
  Key(VK_TAB, VK_CONTROL);
  EXPECT_TRUE(page().IsVisible());
  EXPECT_FALSE(dialog_->taskQueuePage().IsVisible());
  EXPECT_FALSE(app_->IsEasyMode());
  EXPECT_FALSE(dialog_->capturePage().IsVisible());

  // Once the result shows, Page Down closes it as "确定" does and moves on.
  operation->End(0);
  Key(VK_NEXT);
  EXPECT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  EXPECT_FALSE(page().IsVisible());
  EXPECT_TRUE(dialog_->applyPage().IsVisible());
  EXPECT_FALSE(dialog_->capturePage().IsVisible());
}

TEST_F(ProgressPageTest, EasyModeReturnsToTheEasyPage) {
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  ASSERT_TRUE(dialog_->easyPage().IsVisible());
  dialog_->easyPage().Show(false);
  page().SetReturnPage(&dialog_->easyPage());
  auto operation = Drive();
  EXPECT_TRUE(page().IsVisible());
  operation->End(0);
  ClickButton(page().hwnd(), IDC_PROGRESS_OK);
  EXPECT_FALSE(page().IsVisible());
  EXPECT_TRUE(dialog_->easyPage().IsVisible());
  EXPECT_FALSE(dialog_->capturePage().IsVisible());
  EXPECT_EQ(page().returnPage(), nullptr);
}

TEST_F(ProgressPageTest, ProgressPageLiesAboveEveryPageWhenShown) {
  // A page still shown underneath must not cover the progress text or the
  // "中止" and "确定" buttons.
  ClickTab(3);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 3; }));
  auto operation = Drive();
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_ABORT)), page().hwnd());
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_TEXT)), page().hwnd());
  operation->End(0);
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_OK)), page().hwnd());
  ShotIfAsked("progress_on_top");
  ClickButton(page().hwnd(), IDC_PROGRESS_OK);
  EXPECT_TRUE(dialog_->infoPage().IsVisible());

  // Over the easy page, which fills the whole window, as well.
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  ASSERT_TRUE(dialog_->easyPage().IsVisible());
  page().SetReturnPage(&dialog_->easyPage());
  auto overEasy = Drive();
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_ABORT)), page().hwnd());
  overEasy->End(0);
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_OK)), page().hwnd());
}

TEST_F(ProgressPageTest, StartedOperationHoldsTheWindowBeforeItsWorkerReports) {
  ClickTab(1);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  dialog_->runner().RequestCancel();  // with nothing running: reaches no later operation
  dialog_->applyPage().Show(false);
  auto operation = std::make_unique<DrivenOperation>(dialog_->runner(), &page(), L"");
  ASSERT_TRUE(operation->started());
  EXPECT_TRUE(dialog_->runner().Busy());
  bool requested = true;
  operation->Do([&](const OperationContext& context) { requested = context.cancel->Requested(); });
  EXPECT_FALSE(requested);
  for (int i = 0; i < 5; i++) EXPECT_FALSE(IsWindowEnabled(dialog_->Tab(i).hwnd())) << i;
  // A second start, from this page or another, is refused.
  DrivenOperation second(dialog_->runner(), &page(), L"");
  EXPECT_FALSE(second.started());

  // While it runs nothing takes the window elsewhere:
  // tab clicks, Page Up/Down, Ctrl+Q, Ctrl+Tab, the menu and the jumps.
  ClickTab(3);
  Key(VK_NEXT);
  Key(VK_PRIOR);
  Key('Q', VK_CONTROL);
  Key(VK_TAB, VK_CONTROL);
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  dialog_->JumpTo(ID_JUMP_INFO, L"C:\\images\\b.wim");
  EXPECT_EQ(dialog_->SelectedTab(), 1);
  EXPECT_EQ(app_->currentPage, &dialog_->applyPage());
  EXPECT_FALSE(dialog_->taskQueuePage().IsVisible());
  EXPECT_FALSE(app_->IsEasyMode());
  EXPECT_TRUE(dialog_->infoPage().files().empty());
  for (int i = 0; i < 5; i++) EXPECT_FALSE(dialog_->TabPage(i)->IsVisible()) << i;

  operation->End(0);
  ASSERT_TRUE(WaitUntil([&] { return page().IsShowingResult(); }));
  ASSERT_TRUE(WaitUntil([&] { return !dialog_->runner().Running(); }));
  EXPECT_FALSE(dialog_->runner().Busy());
  for (int i = 0; i < 5; i++) EXPECT_TRUE(IsWindowEnabled(dialog_->Tab(i).hwnd())) << i;
  ClickButton(page().hwnd(), IDC_PROGRESS_OK);
  EXPECT_TRUE(dialog_->applyPage().IsVisible());
  EXPECT_TRUE(IsWindowEnabled(dialog_->applyPage().hwnd()));

  // Once it has ended the next operation may start.
  auto next = std::make_unique<DrivenOperation>(dialog_->runner(), &page(), L"");
  ASSERT_TRUE(next->started());
  next->End(0);
  EXPECT_TRUE(WaitUntil([&] { return page().IsShowingResult(); }));
}

TEST_F(ProgressPageTest, CtrlQInEasyModeClosesTheResultFirst) {
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  dialog_->easyPage().Show(false);
  page().SetReturnPage(&dialog_->easyPage());
  Drive()->End(0);
  ASSERT_TRUE(page().IsShowingResult());

  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->taskQueuePage().IsVisible(); }));
  EXPECT_FALSE(app_->IsEasyMode());
  EXPECT_FALSE(page().IsVisible());
  EXPECT_FALSE(dialog_->easyPage().IsVisible());
  // The result was closed as "确定" closes it in easy mode: the page it
  // returned to is forgotten, so no later operation disables it by mistake.
  EXPECT_EQ(page().returnPage(), nullptr);

  Key('Q', VK_CONTROL);
  Key(VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return app_->IsEasyMode(); }));
  EXPECT_TRUE(dialog_->easyPage().IsVisible());
  EXPECT_TRUE(IsWindowEnabled(dialog_->easyPage().hwnd()));
}

TEST_F(ProgressPageTest, ClosingDuringAnOperationWaitsUntilItHasEnded) {
  WindingDown operation;
  // Never leaves the worker running over `operation`, whatever the test found.
  struct EndGuard {
    OperationRunner& runner;
    ~EndGuard() {
      runner.RequestCancel(true);
      runner.Wait(60000);
    }
  } end{dialog_->runner()};
  int asked = 0;
  int answer = IDNO;
  std::wstring question;
  struct HandlerGuard {
    MessageBoxHandler previous;
    ~HandlerGuard() { SetMessageBoxHandler(previous); }
  } guard{SetMessageBoxHandler([&](HWND, const std::wstring& text, const std::wstring&, UINT) {
    asked++;
    question = text;
    return answer;
  })};
  app_->currentPage->Show(false);
  Operation winding;
  winding.display = &page();
  CPage_Progress* shown = &page();
  winding.body = [&operation, shown](const OperationContext& context) { return operation.Run(shown, context); };
  ASSERT_TRUE(dialog_->runner().Start(std::move(winding)));
  ASSERT_TRUE(WaitUntil([&] { return page().IsRunning(); }));

  // The close box: the user is asked, says no, and everything goes on.
  PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(WaitUntil([&] { return asked == 1; }));
  EXPECT_EQ(question, LoadStr(IDS_ASK_CLOSE_WHEN_DONE));
  EXPECT_FALSE(question.empty());
  Flush();
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_EQ(operation.reportsAfterAbort, 0);  // not asked to stop
  EXPECT_TRUE(page().IsRunning());

  // "退出", agreed to: abort is requested and the window waits for the end.
  answer = IDYES;
  SendCommand(main_, ID_EXIT);
  ASSERT_TRUE(WaitUntil([&] { return asked == 2; }));
  Flush();
  EXPECT_TRUE(IsWindow(main_));
  SendCommand(main_, IDCANCEL);  // Escape meanwhile asks nothing more
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(main_); }, 30000));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(operation.reportsAfterAbort, 5);
  EXPECT_TRUE(operation.pageLivedThroughout);
  EXPECT_FALSE(dialog_->runner().Running());
  EXPECT_TRUE(dialog_->runner().Wait(60000));
}

}  // namespace
