// Quarry.exe started from a private copy (its own settings file), driven
// from outside as a person would: tab clicks, shortcut keys through the
// system's keyboard input, the main menu, Enter and Escape.
#include <gtest/gtest.h>

#include <cstdlib>

#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "win/messages.h"

namespace {
using namespace qtest;

const int kTabIds[5] = {IDC_TAB_CAPTURE, IDC_TAB_APPLY, IDC_TAB_ADVANCED, IDC_TAB_INFO, IDC_TAB_BROWSE};
const int kTabPages[5] = {IDD_PAGE_CAPTURE, IDD_PAGE_APPLY, IDD_PAGE_ADVANCED, IDD_PAGE_INFO, IDD_PAGE_BROWSER};

class MainWindowTest : public ::testing::Test {
 protected:
  // Starts a copy of Quarry, with or without the wimlib folder, optionally
  // with a settings file written beforehand.
  void StartQuarry(bool withWimlib = true, const char* ini = nullptr) {
    folder_ = PrepareQuarryCopy(withWimlib);
    if (ini) ASSERT_TRUE(WriteFileBytes(IniPath(), ini));
    ASSERT_TRUE(quarry_.Start(folder_));
    main_ = quarry_.MainWindow();
    ASSERT_TRUE(WaitUntil([&] { return !WindowText(main_).empty(); }));
  }

  std::wstring IniPath() const { return folder_ + L"\\Quarry.ini"; }
  int IniInt(const wchar_t* section, const wchar_t* key) const {
    return static_cast<int>(GetPrivateProfileIntW(section, key, -1, IniPath().c_str()));
  }

  // The tab page shown, -1 when none of the five is.
  int ShownTabPage() const {
    int shown = -1;
    for (int i = 0; i < 5; i++) {
      if (ItemVisible(main_, kTabPages[i])) {
        if (shown >= 0) return -2;  // two at once: a fault
        shown = i;
      }
    }
    return shown;
  }
  bool WaitShown(int page) {
    return WaitUntil([&] { return ShownTabPage() == page; });
  }
  void Key(WORD vk, WORD modifier = 0) {
    ASSERT_TRUE(MakeForeground(main_));
    PressKey(main_, vk, modifier);
  }
  void ClickTab(int index) { ClickWindow(GetDlgItem(main_, kTabIds[index])); }
  bool InEasyMode() const { return ItemVisible(main_, IDD_PAGE_EASY) && !ItemVisible(main_, IDC_TAB_CAPTURE); }

  // Opens the main menu as the "M" button does and presses the keys that
  // pick "Wimlib" in the sub-menu "选择 WIM API". Each key goes only after
  // the menu has shown what the one before did: the window's thread is in
  // the menu's loop, which handles messages sent to it before the keys
  // queued, so no message round tells that a key was taken. An enabled
  // item closes the menus by itself; a greyed one leaves them open, and
  // only then are they closed with Escape (an Escape that arrived after
  // the menus had closed would close the main window).
  void ChooseWimlibFromMenu(bool expectEnabled = true) {
    ASSERT_TRUE(MakeForeground(main_));
    PostMessageW(main_, UM_SHOW_MAIN_MENU, 0, 0);
    HWND menu = WaitForWindow(quarry_.Pid(), L"#32768");
    ASSERT_TRUE(menu);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(menu) && !ScreenPixels(menu).empty(); }));
    // The first key selects the first item; the sixth item is "选择 WIM
    // API" (a greyed "比较映像..." is one of the five before it).
    for (int i = 0; i < 6; i++) MenuKey(menu, VK_DOWN);
    auto menusOpen = [&] { return TopWindowsVisible(L"#32768").size(); };
    // Only an open sub-menu shows that the keys reached the item meant.
    PressInMenu(VK_RIGHT, [&] { return menusOpen() == 2; });  // opens it, at "WIMGAPI"
    HWND sub = nullptr;
    for (HWND hwnd : TopWindowsVisible(L"#32768"))
      if (hwnd != menu) sub = hwnd;
    ASSERT_TRUE(WaitUntil([&] { return !ScreenPixels(sub).empty(); }));
    MenuKey(sub, VK_DOWN);  // "Wimlib"
    PressInMenu(VK_RETURN, [] { return true; });
    if (!expectEnabled) {
      for (size_t open = menusOpen(); open > 0; open = menusOpen())
        PressInMenu(VK_ESCAPE, [&] { return menusOpen() < open; });  // closes one level of the menus
    }
    // Keys reach the window again only once its menu loop has ended.
    ASSERT_TRUE(WaitUntil([&] { return menusOpen() == 0 && !InMenuLoop(); }));
  }
  // Presses a key in an open menu and waits until `taken` holds. Under
  // Wine 8 a key pressed right after the menu redrew for the one before is
  // lost, and so are the keys after it; with a pause of 400 ms none was
  // lost in any run, so each key waits 400 ms first.
  template <typename Taken>
  void PressInMenu(WORD vk, Taken taken) {
    Pause(400);
    PressKey(nullptr, vk);
    ASSERT_TRUE(WaitUntil(taken)) << "the menu did not take key " << vk;
  }
  // A key whose effect is seen in the menu's picture (a move of the
  // highlighted item).
  void MenuKey(HWND menu, WORD vk) {
    PaintNow(menu);
    const std::vector<DWORD> before = ScreenPixels(menu);
    PressInMenu(vk, [&] {
      PaintNow(menu);
      return ScreenPixels(menu) != before;
    });
  }
  // What the screen shows of a window, empty when it cannot be read.
  static std::vector<DWORD> ScreenPixels(HWND hwnd) {
    RECT r = {};
    if (!GetWindowRect(hwnd, &r) || r.right <= r.left || r.bottom <= r.top) return {};
    const int width = r.right - r.left, height = r.bottom - r.top;
    std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool read = false;
    if (bitmap) {
      HGDIOBJ old = SelectObject(memory, bitmap);
      read = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
      GdiFlush();
      if (read) memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
      SelectObject(memory, old);
      DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!read) return {};
    return pixels;
  }
  bool InMenuLoop() const {
    GUITHREADINFO info = {sizeof info};
    return GetGUIThreadInfo(GetWindowThreadProcessId(main_, nullptr), &info) &&
           (info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE)) != 0;
  }
  std::vector<HWND> TopWindowsVisible(const wchar_t* className) const {
    std::vector<HWND> visible;
    for (HWND hwnd : TopWindows(quarry_.Pid(), className))
      if (IsWindowVisible(hwnd)) visible.push_back(hwnd);
    return visible;
  }

  std::wstring folder_;
  QuarryProcess quarry_;
  HWND main_ = nullptr;
};

TEST_F(MainWindowTest, FirstStartShowsAdvancedModeOnCaptureTabAndSavesModeAtExit) {
  StartQuarry();
  EXPECT_EQ(WindowText(main_), L"KLO Quarry x64 (WIMGAPI)");
  EXPECT_EQ(ShownTabPage(), 0);
  for (int id : kTabIds) EXPECT_TRUE(ItemVisible(main_, id)) << id;
  EXPECT_EQ(WindowText(GetDlgItem(main_, IDC_TAB_CAPTURE)), L"捕获");
  EXPECT_EQ(WindowText(GetDlgItem(main_, IDC_TAB_BROWSE)), L"浏览");
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_EASY));
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_TASK_QUEUE));
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_PROGRESS));
  RECT window;
  GetWindowRect(main_, &window);
  EXPECT_EQ(window.right - window.left, 920);
  EXPECT_EQ(window.bottom - window.top, 550);

  EXPECT_EQ(quarry_.Close(), 0);
  EXPECT_EQ(IniInt(L"VIEW", L"Mode"), 2);
  EXPECT_EQ(IniInt(L"API", L"Type"), 0);
}

TEST_F(MainWindowTest, TabClicksShowTheirPagesOneAtATime) {
  StartQuarry();
  for (int i : {1, 4, 2, 3, 0}) {
    ClickTab(i);
    EXPECT_TRUE(WaitShown(i)) << "tab " << i;
    EXPECT_TRUE(ItemEnabled(main_, kTabPages[i]));
  }
}

TEST_F(MainWindowTest, CtrlTabTwiceReturnsToTheSameTabPage) {
  StartQuarry();
  ClickTab(3);
  ASSERT_TRUE(WaitShown(3));
  Key(VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return InEasyMode(); }));
  EXPECT_EQ(ShownTabPage(), -1);
  Key(VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitShown(3));
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_EASY));
  for (int id : kTabIds) EXPECT_TRUE(ItemVisible(main_, id));

  // The mode reached the settings file at exit.
  Key(VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return InEasyMode(); }));
  EXPECT_EQ(quarry_.Close(), 0);
  EXPECT_EQ(IniInt(L"VIEW", L"Mode"), 1);
}

TEST_F(MainWindowTest, StoredEasyModeStartsInEasyMode) {
  StartQuarry(true, "[VIEW]\r\nMode=1\r\n");
  EXPECT_TRUE(WaitUntil([&] { return InEasyMode(); }));
  EXPECT_EQ(ShownTabPage(), -1);
}

// Keys are handled in the order they are pressed, so a key that is to do
// nothing is followed by one that does something, and the page that key
// leads to shows what the first one did.
TEST_F(MainWindowTest, PageUpAndPageDownStopAtTheOuterTabs) {
  StartQuarry();
  Key(VK_PRIOR);  // on tab 0: nothing
  Key(VK_NEXT);
  EXPECT_TRUE(WaitShown(1));
  for (int i = 2; i < 5; i++) {
    Key(VK_NEXT);
    EXPECT_TRUE(WaitShown(i)) << i;
  }
  Key(VK_NEXT);  // on tab 4: nothing
  Key(VK_PRIOR);
  EXPECT_TRUE(WaitShown(3));
}

// A key typed into the window's open menu is the menu's only: Page Down
// there moves no tab (nor would Enter close a result shown). Once the menu
// is closed the same key is a shortcut again.
TEST_F(MainWindowTest, KeysTypedIntoTheMenuAreNotShortcuts) {
  StartQuarry();
  ASSERT_TRUE(WaitShown(0));
  ASSERT_TRUE(MakeForeground(main_));
  PostMessageW(main_, UM_SHOW_MAIN_MENU, 0, 0);
  HWND menu = WaitForWindow(quarry_.Pid(), L"#32768");
  ASSERT_TRUE(menu);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(menu) && !ScreenPixels(menu).empty(); }));
  MenuKey(menu, VK_DOWN);  // the menu takes keys
  PressInMenu(VK_NEXT, [] { return true; });
  PressInMenu(VK_ESCAPE, [&] { return TopWindowsVisible(L"#32768").empty(); });
  ASSERT_TRUE(WaitUntil([&] { return !InMenuLoop(); }));
  Key(VK_NEXT);
  // Ctrl+Q shows the task queue and hides it again after every shortcut
  // queued before it: the tab shown then is the one of all the shortcuts.
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return !ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  EXPECT_EQ(ShownTabPage(), 1);
  EXPECT_TRUE(quarry_.Running());
}

TEST_F(MainWindowTest, CtrlQShowsAndHidesTheTaskQueue) {
  StartQuarry();
  ClickTab(1);
  ASSERT_TRUE(WaitShown(1));
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  EXPECT_EQ(ShownTabPage(), -1);
  EXPECT_FALSE(ItemEnabled(GetDlgItem(main_, IDD_PAGE_TASK_QUEUE), IDC_TASK_START));  // no rows
  // Typing with the page that had the focus hidden keeps the window responsive.
  Key('A');
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &answer), 0);
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return !ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  EXPECT_TRUE(WaitShown(1));

  // From the easy mode Ctrl+Q comes back to the advanced mode with the queue.
  Key(VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return InEasyMode(); }));
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_EASY));
  EXPECT_TRUE(ItemVisible(main_, IDC_TAB_APPLY));
  // Its "<" button returns to the Apply tab.
  ClickButton(GetDlgItem(main_, IDD_PAGE_TASK_QUEUE), IDC_TASK_CLOSE);
  EXPECT_TRUE(WaitShown(1));
  EXPECT_FALSE(ItemVisible(main_, IDD_PAGE_TASK_QUEUE));
}

TEST_F(MainWindowTest, EnterNeverClosesTheWindowEscapeDoes) {
  StartQuarry();
  Key(VK_RETURN);
  ClickTab(2);
  ASSERT_TRUE(WaitShown(2));
  Key(VK_RETURN);
  Key('Q', VK_CONTROL);  // handled after Enter: the window is still there
  EXPECT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  EXPECT_TRUE(quarry_.Running());
  EXPECT_TRUE(IsWindowVisible(main_));

  Key(VK_ESCAPE);
  EXPECT_EQ(quarry_.WaitExit(), 0);
  EXPECT_EQ(IniInt(L"VIEW", L"Mode"), 2);  // the normal exit saved the settings
}

TEST_F(MainWindowTest, MinimumTrackingSizeAndLayout) {
  StartQuarry();
  MINMAXINFO info = {};
  SendMessageW(main_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 679);
  EXPECT_EQ(info.ptMinTrackSize.y, 425);

  SetWindowPos(main_, nullptr, 0, 0, 1001, 640, SWP_NOZORDER | SWP_NOMOVE);
  RECT client;
  ASSERT_TRUE(WaitUntil([&] {
    GetClientRect(main_, &client);
    RECT tab;
    GetWindowRect(GetDlgItem(main_, IDC_TAB_BROWSE), &tab);
    POINT pt = {tab.right, tab.bottom};
    ScreenToClient(main_, &pt);
    return pt.x == client.right + 1 && pt.y == 90;
  }));
  const int tabWidth = client.right / 5;
  for (int i = 0; i < 4; i++) {
    RECT tab;
    GetWindowRect(GetDlgItem(main_, kTabIds[i]), &tab);
    EXPECT_EQ(tab.right - tab.left, tabWidth) << i;
  }
  RECT page;
  GetWindowRect(GetDlgItem(main_, IDD_PAGE_CAPTURE), &page);
  MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&page), 2);
  EXPECT_EQ(page.left, 0);
  EXPECT_EQ(page.top, 90);
  EXPECT_EQ(page.right, client.right);
  EXPECT_EQ(page.bottom, client.bottom);
}

TEST_F(MainWindowTest, ChoosingWimlibChangesTheTitleAndIsSaved) {
  StartQuarry();
  // The command the "Wimlib" item sends (keys into Wine's menus race its
  // menu loop on a loaded machine; the greyed case below drives the keys).
  SendCommand(main_, ID_BACKEND_WIMLIB);
  EXPECT_TRUE(WaitUntil([&] { return WindowText(main_) == L"KLO Quarry x64 (WIMLIB)"; }));
  EXPECT_EQ(quarry_.Close(), 0);
  EXPECT_EQ(IniInt(L"API", L"Type"), 1);
}

TEST_F(MainWindowTest, WithoutWimlibItsMenuItemIsGreyedAndTheTitleStays) {
  StartQuarry(false);
  ChooseWimlibFromMenu(false);
  // A command the menu might have sent comes before this key's effect.
  Key('Q', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }));
  EXPECT_EQ(WindowText(main_), L"KLO Quarry x64 (WIMGAPI)");
  EXPECT_TRUE(quarry_.Running());
}

TEST_F(MainWindowTest, StoredWimlibIsNamedInTheTitleEvenWhenMissing) {
  StartQuarry(false, "[API]\r\nType=1\r\n");
  EXPECT_EQ(WindowText(main_), L"KLO Quarry x64 (WIMLIB)");
}

// Screenshots of both modes for a person to look at: written to the folder
// named by QUARRY_SCREENSHOTS (a Linux path), when it is set.
TEST_F(MainWindowTest, ScreenshotsOfBothModes) {
  const char* folder = getenv("QUARRY_SCREENSHOTS");
  StartQuarry();
  std::string target = folder ? folder : UnixPath(folder_);
  EXPECT_TRUE(Screenshot(target + "/advanced.png"));
  Key(VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return InEasyMode(); }));
  EXPECT_TRUE(Screenshot(target + "/easy.png"));
}

}  // namespace
