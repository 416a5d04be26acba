// The main window inside the test program: what only its own objects can
// tell (the selected tab, the tip, the menu states, the jumps).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "controls/tip_wnd.h"
#include "frame_fixture.h"
#include "held_operation.h"
#include "resources/ids_compare.h"
#include "resources/resource.h"
#include "win/messages.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {
using namespace qtest;

// The visible tip windows of this process.
int VisibleTips() {
  int count = 0;
  for (HWND hwnd : TopWindows(GetCurrentProcessId()))
    if (IsWindowVisible(hwnd) && WindowText(hwnd) == L"GridWnd") count++;
  return count;
}

struct ItemState {
  bool checked, radio, greyed;
};
ItemState MenuItem(HMENU menu, UINT id) {
  MENUITEMINFOW info = {sizeof info, MIIM_STATE | MIIM_FTYPE};
  GetMenuItemInfoW(menu, id, FALSE, &info);
  return {(info.fState & MFS_CHECKED) != 0, (info.fType & MFT_RADIOCHECK) != 0, (info.fState & MFS_GRAYED) != 0};
}

// Popup `index` of IDR_MENU_MAIN as the window prepares it when it opens.
HMENU OpenedPopup(HWND owner, HMENU menu, int index) {
  HMENU popup = GetSubMenu(menu, index);
  SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(index, FALSE));
  return popup;
}

TEST_F(FrameTest, BusyFlagMakesTabClicksDoNothing) {
  EXPECT_EQ(dialog_->SelectedTab(), 0);
  EXPECT_EQ(app_->currentPage, &dialog_->capturePage());
  auto held = std::make_unique<qtest::HeldOperation>(dialog_->runner(), false);
  ASSERT_TRUE(held->started());
  ClickTab(3);
  EXPECT_EQ(dialog_->SelectedTab(), 0);
  EXPECT_TRUE(dialog_->capturePage().IsVisible());
  EXPECT_FALSE(dialog_->infoPage().IsVisible());

  held.reset();  // the operation ends
  ClickTab(3);
  EXPECT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 3; }));
  EXPECT_TRUE(dialog_->infoPage().IsVisible());
  EXPECT_FALSE(dialog_->capturePage().IsVisible());
  EXPECT_EQ(app_->currentPage, &dialog_->infoPage());
  for (int i = 0; i < 5; i++) EXPECT_EQ(dialog_->Tab(i).IsSelected(), i == 3);
}

TEST_F(FrameTest, SecondTipReplacesTheFirstAndATabClickRemovesIt) {
  app_->ShowTip(L"1 个任务已被添加到工作队列.");
  ASSERT_NE(app_->tipWindow, nullptr);
  HWND first = app_->tipWindow->hwnd();
  EXPECT_TRUE(IsWindowVisible(first));

  app_->ShowTip(L"2 个任务已被添加到工作队列.");
  ASSERT_NE(app_->tipWindow, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(app_->tipWindow->text(), L"2 个任务已被添加到工作队列.");
  EXPECT_EQ(VisibleTips(), 1);
  EXPECT_EQ(GetWindow(app_->tipWindow->hwnd(), GW_OWNER), main_);
  ShotIfAsked("tip");

  // The tip lies exactly over the client area, also after the window moved.
  SetWindowPos(main_, nullptr, 40, 30, 800, 500, SWP_NOZORDER);
  Flush();
  RECT tip, client;
  GetWindowRect(app_->tipWindow->hwnd(), &tip);
  GetClientRect(main_, &client);
  MapWindowPoints(main_, nullptr, reinterpret_cast<POINT*>(&client), 2);
  EXPECT_EQ(tip.left, client.left);
  EXPECT_EQ(tip.top, client.top);
  EXPECT_EQ(tip.right, client.right);
  EXPECT_EQ(tip.bottom, client.bottom);

  ClickTab(1);
  EXPECT_TRUE(WaitUntil([&] { return app_->tipWindow == nullptr; }));
  EXPECT_EQ(VisibleTips(), 0);
}

TEST_F(FrameTest, TipVanishesAfterFiveSecondsAndGrowsWithItsText) {
  app_->ShowTip(L"短");
  ASSERT_NE(app_->tipWindow, nullptr);
  int shortRight = app_->tipWindow->CalloutRight();
  app_->ShowTip(L"一段明显更长的提示文字, 它让提示框变宽");
  ASSERT_NE(app_->tipWindow, nullptr);
  EXPECT_GT(app_->tipWindow->CalloutRight(), shortRight + 50);
  EXPECT_TRUE(WaitUntil([&] { return app_->tipWindow == nullptr; }, 30000));
  EXPECT_EQ(VisibleTips(), 0);
}

TEST_F(FrameTest, CtrlQShowsTheQueueAndRestoresTheSelectedTab) {
  ClickTab(3);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 3; }));
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->taskQueuePage().IsVisible(); }));
  ShotIfAsked("task_queue");
  EXPECT_EQ(dialog_->SelectedTab(), -1);
  EXPECT_EQ(dialog_->taskQueuePage().rememberedTab(), 3);
  EXPECT_FALSE(dialog_->infoPage().IsVisible());

  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return !dialog_->taskQueuePage().IsVisible(); }));
  EXPECT_EQ(dialog_->SelectedTab(), 3);
  EXPECT_TRUE(dialog_->infoPage().IsVisible());

  // Through the menu command and the "<" button.
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
  EXPECT_TRUE(dialog_->taskQueuePage().IsVisible());
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);  // a second time changes nothing
  EXPECT_EQ(dialog_->taskQueuePage().rememberedTab(), 3);
  ClickButton(dialog_->taskQueuePage().hwnd(), IDC_TASK_CLOSE);
  EXPECT_FALSE(dialog_->taskQueuePage().IsVisible());
  EXPECT_EQ(dialog_->SelectedTab(), 3);
  EXPECT_TRUE(dialog_->infoPage().IsVisible());

  // A tab click while the queue shows hides it.
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
  ClickTab(0);
  EXPECT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 0; }));
  EXPECT_FALSE(dialog_->taskQueuePage().IsVisible());
}

TEST_F(FrameTest, EasyModeAndBackKeepTheTabEvenFromTheQueue) {
  ClickTab(4);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 4; }));
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
  SendMessageW(main_, WM_COMMAND, ID_SWITCH_EASY, 0);
  EXPECT_TRUE(app_->IsEasyMode());
  EXPECT_TRUE(dialog_->easyPage().IsVisible());
  EXPECT_FALSE(dialog_->taskQueuePage().IsVisible());
  EXPECT_FALSE(dialog_->Tab(0).IsVisible());

  PostMessageW(main_, UM_SWITCH_ADVANCED, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !app_->IsEasyMode(); }));
  EXPECT_EQ(app_->settings.mode, 2);
  EXPECT_TRUE(dialog_->browserPage().IsVisible());
  EXPECT_EQ(dialog_->SelectedTab(), 4);
}

TEST_F(FrameTest, BackendItemsAreMarkedAndGreyedByAvailability) {
  ASSERT_TRUE(app_->backends.WimgapiAvailable());
  ASSERT_TRUE(app_->backends.WimlibAvailable());
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_MAIN));
  ASSERT_NE(menu, nullptr);

  HMENU popup = OpenedPopup(main_, menu, 0);
  ItemState wimgapi = MenuItem(popup, ID_BACKEND_WIMGAPI), wimlib = MenuItem(popup, ID_BACKEND_WIMLIB);
  EXPECT_TRUE(wimgapi.checked && wimgapi.radio && !wimgapi.greyed);
  EXPECT_TRUE(!wimlib.checked && !wimlib.greyed);

  SendMessageW(main_, WM_COMMAND, ID_BACKEND_WIMLIB, 0);
  EXPECT_EQ(dialog_->GetText(), L"KLO Quarry x64 (WIMLIB)");
  popup = OpenedPopup(main_, menu, 0);
  EXPECT_FALSE(MenuItem(popup, ID_BACKEND_WIMGAPI).checked);
  EXPECT_TRUE(MenuItem(popup, ID_BACKEND_WIMLIB).checked);

  // The easy page's menus show the same marks.
  HMENU easy = OpenedPopup(dialog_->easyPage().hwnd(), menu, 1);
  EXPECT_TRUE(MenuItem(easy, ID_BACKEND_WIMLIB).checked);
  EXPECT_TRUE(MenuItem(OpenedPopup(dialog_->easyPage().hwnd(), menu, 7), ID_EASY_CLEAR_ALL).greyed);

  // A back end that is not bound: greyed, never marked; the title keeps it.
  app_->backends.wimlib = WimlibTable();
  popup = OpenedPopup(main_, menu, 0);
  wimlib = MenuItem(popup, ID_BACKEND_WIMLIB);
  EXPECT_TRUE(wimlib.greyed && !wimlib.checked);
  EXPECT_FALSE(MenuItem(popup, ID_BACKEND_WIMGAPI).checked);
  EXPECT_FALSE(MenuItem(popup, ID_BACKEND_WIMGAPI).greyed);
  EXPECT_EQ(dialog_->GetText(), L"KLO Quarry x64 (WIMLIB)");
  DestroyMenu(menu);
}

TEST_F(FrameTest, MenuHasAllTenPopups) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_MAIN));
  ASSERT_EQ(GetMenuItemCount(menu), 10);
  const wchar_t* names[10] = {L"[MainPOP]", L"[EasyPOP]",       L"[info]",   L"[Mount]",      L"[Tree]",
                              L"[MergeExport]", L"[Apply]", L"[EasyContextPop]", L"[DelImg]", L"[BrowserPOP]"};
  for (int i = 0; i < 10; i++) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
    EXPECT_STREQ(text, names[i]);
  }
  // Main popup: 32794, -, 32786, 32788, 2630, -, 32796, -, sub-menu, -, 32828, 32785.
  HMENU main = GetSubMenu(menu, 0);
  const int order[12] = {ID_SWITCH_EASY, 0, ID_SHOW_TASK_QUEUE, ID_SHOW_MOUNTED, ID_COMPARE_IMAGES, 0, ID_PREFERENCES,
                         0, -1, 0, ID_ABOUT, ID_EXIT};
  ASSERT_EQ(GetMenuItemCount(main), 12);
  for (int i = 0; i < 12; i++) EXPECT_EQ(static_cast<int>(GetMenuItemID(main, i)), order[i]) << i;
  // The info popup's "跳转到" is the third item from the end.
  HMENU info = GetSubMenu(menu, 2);
  EXPECT_NE(GetSubMenu(info, GetMenuItemCount(info) - 3), nullptr);
  DestroyMenu(menu);
}

TEST_F(FrameTest, JumpsSelectTheirTabUnlessBusy) {
  // The files named here do not exist: pages that open them say so, and
  // the test answers for the user.
  std::vector<std::wstring> said;
  struct HandlerGuard {
    MessageBoxHandler previous;
    ~HandlerGuard() { SetMessageBoxHandler(previous); }
  } guard{SetMessageBoxHandler([&](HWND, const std::wstring& text, const std::wstring&, UINT) {
    said.push_back(text);
    return IDOK;
  })};
  dialog_->JumpTo(ID_JUMP_MERGE, L"C:\\images\\a.wim");
  EXPECT_EQ(dialog_->SelectedTab(), 2);
  EXPECT_EQ(dialog_->advancedPage().selectedChild(), IDC_ADVANCED_MERGE);
  EXPECT_EQ(IsDlgButtonChecked(dialog_->advancedPage().hwnd(), IDC_ADVANCED_MERGE), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog_->advancedPage().hwnd(), IDC_ADVANCED_SPLIT), BST_UNCHECKED);
  EXPECT_EQ(dialog_->advancedPage().lastFile(), L"C:\\images\\a.wim");

  dialog_->JumpTo(ID_JUMP_CAPTURE, L"C:\\data");
  EXPECT_EQ(dialog_->SelectedTab(), 0);
  EXPECT_EQ(dialog_->capturePage().sourceFolder(), L"C:\\data");

  dialog_->JumpTo(ID_JUMP_INFO, L"C:\\images\\b.wim");
  EXPECT_EQ(dialog_->SelectedTab(), 3);
  ASSERT_EQ(dialog_->infoPage().files().size(), 1u);

  auto held = std::make_unique<qtest::HeldOperation>(dialog_->runner(), false);
  ASSERT_TRUE(held->started());
  dialog_->JumpTo(ID_JUMP_APPLY, L"C:\\images\\c.wim");
  EXPECT_EQ(dialog_->SelectedTab(), 3);
  EXPECT_TRUE(dialog_->applyPage().wimFile().empty());
  held.reset();
  said.clear();
  dialog_->JumpTo(ID_JUMP_BROWSER, L"C:\\images\\c.wim");
  EXPECT_EQ(dialog_->SelectedTab(), 4);
  // A file that cannot be opened is not browsed into, and the user is told.
  EXPECT_NE(dialog_->browserPage().location(), L"C:\\images\\c.wim");
  EXPECT_EQ(std::count(said.begin(), said.end(), LoadStr(IDS_CANNOT_OPEN_WIM)), 1);
}

TEST_F(FrameTest, PagesAreChildrenWithTheirTemplateIds) {
  const int ids[8] = {IDD_PAGE_CAPTURE, IDD_PAGE_APPLY, IDD_PAGE_ADVANCED,   IDD_PAGE_INFO,
                      IDD_PAGE_BROWSER, IDD_PAGE_EASY,  IDD_PAGE_TASK_QUEUE, IDD_PAGE_PROGRESS};
  for (int id : ids) {
    HWND page = GetDlgItem(main_, id);
    ASSERT_NE(page, nullptr) << id;
    EXPECT_TRUE(GetWindowLongW(page, GWL_STYLE) & WS_BORDER) << id;
    EXPECT_FALSE(GetWindowLongW(page, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) << id;
  }
  EXPECT_EQ(app_->ProgressView(), &dialog_->progressPage());
  EXPECT_EQ(app_->TaskQueueView(), &dialog_->taskQueuePage());
  EXPECT_EQ(dialog_->Tab(0).imageId(), static_cast<UINT>(IDP_TAB_CAPTURE));
  EXPECT_EQ(dialog_->Tab(4).imageId(), static_cast<UINT>(IDP_TAB_BROWSE));
  // The shared image list holds the six state pictures at 24 x 24.
  int cx = 0, cy = 0;
  ASSERT_TRUE(ImageList_GetIconSize(app_->StateImages(), &cx, &cy));
  EXPECT_EQ(cx, 24);
  EXPECT_EQ(ImageList_GetImageCount(app_->StateImages()), 6);
  // The pictures are made after the window shows; the lists that show a
  // state beside each row have them all the same.
  HWND applyList = GetDlgItem(GetDlgItem(main_, IDD_PAGE_APPLY), IDC_APPLY_LIST);
  EXPECT_EQ(ListView_GetImageList(applyList, LVSIL_SMALL), app_->StateImages());
  EXPECT_EQ(ListView_GetImageList(dialog_->taskQueuePage().list().hwnd(), LVSIL_SMALL), app_->StateImages());
}

// The window shows before it makes its task queue and progress page; a
// task queued or an operation started before then finds them made, in
// their place, and the queue shows when asked for.
TEST_F(FrameTest, QueueAndProgressPagesAreMadeWhenFirstNeeded) {
  TearDown();
  StartWith("", false);
  EXPECT_EQ(GetDlgItem(main_, IDD_PAGE_TASK_QUEUE), nullptr);
  EXPECT_EQ(GetDlgItem(main_, IDD_PAGE_PROGRESS), nullptr);
  CPage_TaskQueue* queue = app_->TaskQueueView();
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(GetDlgItem(main_, IDD_PAGE_TASK_QUEUE), queue->hwnd());
  ASSERT_NE(app_->ProgressView(), nullptr);
  EXPECT_EQ(GetDlgItem(main_, IDD_PAGE_PROGRESS), app_->ProgressView()->hwnd());
  EXPECT_FALSE(IsWindowVisible(queue->hwnd()));
  RECT page, client;
  GetWindowRect(queue->hwnd(), &page);
  MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&page), 2);
  GetClientRect(main_, &client);
  EXPECT_EQ(page.top, CQuarryDlg::kTabStripHeight);
  EXPECT_EQ(page.right, client.right);
  dialog_->ShowTaskQueue();
  EXPECT_TRUE(IsWindowVisible(queue->hwnd()));
  qtest::Flush();
  EXPECT_TRUE(dialog_->AllPagesMade());
}

// A run of the task queue as the runner holds it: busy, in a queue run,
// and "开始执行" disabled; the queue holds one row.
std::unique_ptr<qtest::HeldOperation> StartQueueRun(OperationRunner& runner, CPage_TaskQueue& queue) {
  LVITEMW item = {LVIF_TEXT};
  item.pszText = const_cast<wchar_t*>(L"");
  ListView_InsertItem(queue.list().hwnd(), &item);
  auto run = std::make_unique<qtest::HeldOperation>(runner, true);
  EXPECT_TRUE(run->started());
  EnableWindow(queue.Item(IDC_TASK_START), FALSE);
  return run;
}

TEST_F(FrameTest, RunningQueueKeepsItsStartDisabledAndTheTabsStill) {
  ClickTab(1);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  CPage_TaskQueue& queue = dialog_->taskQueuePage();
  auto run = StartQueueRun(dialog_->runner(), queue);

  // The queue can be looked at and left while it runs...
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return queue.IsVisible(); }));
  EXPECT_FALSE(ItemEnabled(queue.hwnd(), IDC_TASK_START));
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return !queue.IsVisible(); }));
  SendMessageW(main_, WM_COMMAND, ID_SHOW_TASK_QUEUE, 0);
  EXPECT_FALSE(ItemEnabled(queue.hwnd(), IDC_TASK_START));
  ClickButton(queue.hwnd(), IDC_TASK_CLOSE);
  EXPECT_FALSE(ItemEnabled(queue.hwnd(), IDC_TASK_START));

  // ...but no tab is changed, by click or by Page Up/Down.
  ClickTab(3);
  Key(VK_NEXT);
  Key(VK_PRIOR);
  EXPECT_EQ(dialog_->SelectedTab(), 1);
  EXPECT_TRUE(dialog_->applyPage().IsVisible());
  EXPECT_FALSE(ItemEnabled(queue.hwnd(), IDC_TASK_START));

  // After the run, start comes back with the rows.
  run.reset();
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return queue.IsVisible(); }));
  EXPECT_TRUE(ItemEnabled(queue.hwnd(), IDC_TASK_START));
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 1; }));
  Key(VK_NEXT);
  EXPECT_TRUE(WaitUntil([&] { return dialog_->SelectedTab() == 2; }));
}

TEST_F(FrameTest, ClosingDuringAQueueRunWaitsForTheRunToEnd) {
  int asked = 0;
  struct HandlerGuard {
    MessageBoxHandler previous;
    ~HandlerGuard() { SetMessageBoxHandler(previous); }
  } guard{SetMessageBoxHandler([&](HWND, const std::wstring&, const std::wstring&, UINT) {
    asked++;
    return IDYES;
  })};
  auto run = StartQueueRun(dialog_->runner(), dialog_->taskQueuePage());
  SendCommand(main_, IDCANCEL);
  ASSERT_TRUE(WaitUntil([&] { return asked == 1; }));
  // The run is asked to stop, as by the queue's abort button, and ends when
  // it sees that; only then does the window go.
  EXPECT_TRUE(WaitUntil([&] { return run->cancelled(); }));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(main_); }));
  EXPECT_EQ(asked, 1);
}

TEST_F(FrameTest, ClosingWhenNothingRunsAsksNothing) {
  int asked = 0;
  struct HandlerGuard {
    MessageBoxHandler previous;
    ~HandlerGuard() { SetMessageBoxHandler(previous); }
  } guard{SetMessageBoxHandler([&](HWND, const std::wstring&, const std::wstring&, UINT) {
    asked++;
    return IDNO;
  })};
  SendCommand(main_, ID_EXIT);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(main_); }));
  EXPECT_EQ(asked, 0);
}

// The minimise, maximise and close buttons of every caption are the glyphs
// "0", "1" and "r" of the symbol font Marlett: with any other font in its
// place a user sees those letters instead of the buttons.
TEST_F(FrameTest, CaptionButtonsFindTheirSymbolFont) {
  HDC dc = GetDC(main_);
  HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SYMBOL_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Marlett");
  HGDIOBJ old = SelectObject(dc, font);
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  WORD glyphs[3] = {};
  GetGlyphIndicesW(dc, L"01r", 3, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(main_, dc);
  EXPECT_STREQ(face, L"Marlett");
  EXPECT_EQ(metrics.tmCharSet, SYMBOL_CHARSET);
  for (WORD glyph : glyphs) EXPECT_NE(glyph, 0xFFFF);
  ShotIfAsked("caption");
}

}  // namespace
