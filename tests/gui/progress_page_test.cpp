// The progress page driven as a page's worker drives it: Begin and Finish
// on a worker thread, percentages through the engine's ReportProgress,
// while the test thread pumps the window's messages.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/progress.h"
#include "frame_fixture.h"
#include "resources/resource.h"
#include "tasks/operation_runner.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {
using namespace qtest;

// An operation as a page starts it through the runner: its worker waits
// for the test's go-ahead before it begins, then succeeds.
struct HeldOperation {
  CPage_Progress* page = nullptr;
  OperationRunner* runner = nullptr;
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Never leaves a worker behind, whatever the test found.
  ~HeldOperation() {
    SetEvent(go);
    if (runner) runner->Wait(60000);
    CloseHandle(go);
  }

  static DWORD WINAPI Run(void* arg) {
    auto* self = static_cast<HeldOperation*>(arg);
    WaitForSingleObject(self->go, 60000);
    self->page->Begin();
    ReportProgress(self->page, 50.0f);
    self->page->Finish(0);
    return 0;
  }
};

// A long operation that reports until abort is requested and then, while
// it winds down, goes on reporting into the progress page for a while.
struct WindingDownOperation {
  CPage_Progress* page = nullptr;
  CQuarryApp* app = nullptr;
  OperationRunner* runner = nullptr;
  std::atomic<int> reportsAfterAbort{0};
  std::atomic<bool> pageLivedThroughout{true};
  ~WindingDownOperation() {
    if (runner) {
      runner->RequestCancel();
      runner->Wait(60000);
    }
  }

  static DWORD WINAPI Run(void* arg) {
    auto* self = static_cast<WindingDownOperation*>(arg);
    self->page->Begin();
    const DWORD start = GetTickCount();
    while (!self->app->cancelRequested && GetTickCount() - start < 60000) {
      ReportProgress(self->page, 10.0f);
      Sleep(20);
    }
    for (int i = 0; i < 5; i++) {
      Sleep(100);
      if (!IsWindow(self->page->hwnd())) self->pageLivedThroughout = false;
      ReportStatusText(self->page, L"正在结束...");
      self->reportsAfterAbort++;
    }
    self->page->Finish(self->app->cancelRequested ? 1235 : 0);
    return 0;
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
    EXPECT_EQ(app_->busyFlag, 1);
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
    EXPECT_EQ(app_->busyFlag, 0);
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

  // The page that starts an operation hides itself and begins on its worker.
  // What a page does: the runner starts the worker, which begins the
  // progress page and describes the operation.
  struct Beginning {
    CPage_Progress* page;
    std::wstring description;
    static DWORD WINAPI Run(void* arg) {
      auto* self = static_cast<Beginning*>(arg);
      self->page->Begin();
      self->page->SetDescription(self->description);
      return 0;
    }
  };
  void BeginFromCurrentPage(const std::wstring& description) {
    app_->currentPage->Show(false);
    Beginning beginning{&page(), description};
    ASSERT_TRUE(dialog_->runner().Start(Beginning::Run, &beginning));
    ASSERT_TRUE(dialog_->runner().Wait(30000));
  }
};

TEST_F(ProgressPageTest, RunsFromMarqueeThroughPercentagesToSuccess) {
  ClickTab(1);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  BeginFromCurrentPage(L"应用 a.wim 到 target");
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

  OnWorker([&] { page().Finish(0); });
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
  BeginFromCurrentPage(L"");
  OnWorker([&] { page().Finish(1235); });
  ExpectResult(IDP_RESULT_CANCELLED, IDS_OP_CANCELLED);
  COLORREF amber = PictureColour();
  EXPECT_GT(GetRValue(amber), 180);
  EXPECT_GT(GetGValue(amber), 110);
  EXPECT_LT(GetBValue(amber), 120);

  page().Close();
  BeginFromCurrentPage(L"");
  EXPECT_FALSE(IsWindowVisible(Item(IDC_PROGRESS_PICTURE)));
  EXPECT_TRUE(page().bar().IsMarquee());
  OnWorker([&] { page().Finish(-99); });
  ExpectResult(IDP_RESULT_FAILED, IDS_OP_FAILED);
  COLORREF red = PictureColour();
  EXPECT_GT(GetRValue(red), GetGValue(red) + 80) << std::hex << red;
  ShotIfAsked("progress_failed");

  OnWorker([&] { page().Finish(-1); });
  EXPECT_EQ(page().picture().imageId(), static_cast<UINT>(IDP_RESULT_FAILED));
}

TEST_F(ProgressPageTest, AbortButtonRequestsCancellation) {
  BeginFromCurrentPage(L"");
  app_->cancelRequested = 0;
  ClickButton(page().hwnd(), IDC_PROGRESS_ABORT);
  EXPECT_EQ(app_->cancelRequested, 1);
  OnWorker([&] { page().Finish(1235); });
}

TEST_F(ProgressPageTest, EnterPressesOkOnlyOnceTheResultShows) {
  ClickTab(2);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 2; }));
  BeginFromCurrentPage(L"");
  Key(VK_RETURN);
  EXPECT_TRUE(page().IsVisible());
  OnWorker([&] { page().Finish(0); });
  Key(VK_RETURN);
  EXPECT_TRUE(WaitUntil([&] { return !page().IsVisible(); }));
  EXPECT_TRUE(dialog_->advancedPage().IsVisible());
  EXPECT_TRUE(IsWindowEnabled(dialog_->advancedPage().hwnd()));
}

TEST_F(ProgressPageTest, ShortcutsLeaveARunningOperationInPlace) {
  BeginFromCurrentPage(L"");
  Key(VK_NEXT);
  Key('Q', VK_CONTROL);
  Key(VK_TAB, VK_CONTROL);
  EXPECT_TRUE(page().IsVisible());
  EXPECT_FALSE(dialog_->taskQueuePage().IsVisible());
  EXPECT_FALSE(app_->IsEasyMode());
  EXPECT_FALSE(dialog_->capturePage().IsVisible());

  // Once the result shows, Page Down closes it as "确定" does and moves on.
  OnWorker([&] { page().Finish(0); });
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
  OnWorker([&] {
    page().Begin();
    page().SetReturnPage(&dialog_->easyPage());
  });
  EXPECT_TRUE(page().IsVisible());
  OnWorker([&] { page().Finish(0); });
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
  OnWorker([&] { page().Begin(); });
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_ABORT)), page().hwnd());
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_TEXT)), page().hwnd());
  OnWorker([&] { page().Finish(0); });
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_OK)), page().hwnd());
  ShotIfAsked("progress_on_top");
  ClickButton(page().hwnd(), IDC_PROGRESS_OK);
  EXPECT_TRUE(dialog_->infoPage().IsVisible());

  // Over the easy page, which fills the whole window, as well.
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  ASSERT_TRUE(dialog_->easyPage().IsVisible());
  OnWorker([&] {
    page().Begin();
    page().SetReturnPage(&dialog_->easyPage());
  });
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_ABORT)), page().hwnd());
  OnWorker([&] { page().Finish(0); });
  EXPECT_EQ(ChildOnTopAt(Item(IDC_PROGRESS_OK)), page().hwnd());
}

TEST_F(ProgressPageTest, StartedOperationHoldsTheWindowBeforeItsWorkerReports) {
  ClickTab(1);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  HeldOperation operation;
  operation.page = &page();
  operation.runner = &dialog_->runner();
  app_->cancelRequested = 1;  // left over from an earlier run
  dialog_->applyPage().Show(false);
  ASSERT_TRUE(dialog_->runner().Start(HeldOperation::Run, &operation));
  EXPECT_EQ(app_->busyFlag, 1);
  EXPECT_EQ(app_->cancelRequested, 0);
  for (int i = 0; i < 5; i++) EXPECT_FALSE(IsWindowEnabled(dialog_->Tab(i).hwnd())) << i;
  // A second start, from this page or another, is refused.
  EXPECT_FALSE(dialog_->runner().Start(HeldOperation::Run, &operation));

  // Before the worker's first report nothing takes the window elsewhere:
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

  SetEvent(operation.go);
  ASSERT_TRUE(WaitUntil([&] { return page().IsShowingResult(); }));
  ASSERT_TRUE(WaitUntil([&] { return !dialog_->runner().Running(); }));
  EXPECT_EQ(app_->busyFlag, 0);
  for (int i = 0; i < 5; i++) EXPECT_TRUE(IsWindowEnabled(dialog_->Tab(i).hwnd())) << i;
  ClickButton(page().hwnd(), IDC_PROGRESS_OK);
  EXPECT_TRUE(dialog_->applyPage().IsVisible());
  EXPECT_TRUE(IsWindowEnabled(dialog_->applyPage().hwnd()));

  // Once it has ended the next operation may start.
  ResetEvent(operation.go);
  ASSERT_TRUE(dialog_->runner().Start(HeldOperation::Run, &operation));
  SetEvent(operation.go);
  EXPECT_TRUE(dialog_->runner().Wait(30000));
  EXPECT_TRUE(WaitUntil([&] { return page().IsShowingResult(); }));
}

TEST_F(ProgressPageTest, CtrlQInEasyModeClosesTheResultFirst) {
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  dialog_->easyPage().Show(false);
  OnWorker([&] {
    page().Begin();
    page().SetReturnPage(&dialog_->easyPage());
  });
  OnWorker([&] { page().Finish(0); });
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
  WindingDownOperation operation;
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
  operation.page = &page();
  operation.runner = &dialog_->runner();
  operation.app = app_.get();
  app_->currentPage->Show(false);
  ASSERT_TRUE(dialog_->runner().Start(WindingDownOperation::Run, &operation));
  ASSERT_TRUE(WaitUntil([&] { return page().IsRunning(); }));

  // The close box: the user is asked, says no, and everything goes on.
  PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(WaitUntil([&] { return asked == 1; }));
  EXPECT_EQ(question, LoadStr(IDS_ASK_CLOSE_WHEN_DONE));
  EXPECT_FALSE(question.empty());
  Flush();
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_EQ(app_->cancelRequested, 0);
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
