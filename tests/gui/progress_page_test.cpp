// The progress page driven as a page's worker drives it: Begin and Finish
// on a worker thread, percentages through the engine's ReportProgress,
// while the test thread pumps the window's messages.
#include <gtest/gtest.h>

#include <thread>

#include "engine/progress.h"
#include "frame_fixture.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {
using namespace qtest;

class ProgressPageTest : public FrameTest {
 protected:
  CPage_Progress& page() { return dialog_->progressPage(); }
  HWND Item(int id) { return GetDlgItem(page().hwnd(), id); }
  std::wstring Text() { return WindowText(Item(IDC_PROGRESS_TEXT)); }

  // Runs `work` on a worker thread and pumps messages until it is done.
  template <typename F>
  void OnWorker(F work) {
    bool done = false;
    std::thread worker([&] {
      work();
      done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done; }, 10000));
    worker.join();
    Pause(50);
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

  // The page that starts an operation hides itself and begins on its worker.
  void BeginFromCurrentPage(const std::wstring& description) {
    app_->currentPage->Show(false);
    OnWorker([&] {
      page().Begin();
      page().SetDescription(description);
    });
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
  Pause(100);
  EXPECT_EQ(dialog_->SelectedTab(), 1);
  EXPECT_TRUE(page().IsVisible());

  OnWorker([] { ReportProgress(0.0f); });
  EXPECT_TRUE(page().bar().IsMarquee());
  OnWorker([] { ReportProgress(42.5f); });
  EXPECT_FALSE(page().bar().IsMarquee());
  EXPECT_FLOAT_EQ(page().bar().pos(), 42.5f);
  EXPECT_EQ(Text(), L"42.50% 已完成");
  ShotIfAsked("progress_running");
  OnWorker([] { ReportProgress(99.994f); });
  EXPECT_EQ(Text(), L"99.99% 已完成");
  OnWorker([] { ReportStatusText(L"正在分割文件..."); });
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

}  // namespace
