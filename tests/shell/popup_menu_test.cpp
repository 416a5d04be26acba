// The popup menus opened by the main window and the pages: each one that
// opens holds the commands of the place it was opened from. The main window
// is created inside the test program; each popup is opened as a right click
// (or the "M" button) opens it, read while it is open by a helper thread,
// and closed with Escape.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"
#include "win/messages.h"

namespace {
using namespace qtest;
using namespace shelltest;

class PopupMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = TempDir() + L"\\Quarry.ini";
    ASSERT_TRUE(WriteFileBytes(app_->settingsPath, "[VIEW]\r\nMode=2\r\n"));
    app_->InitInstance();
    dialog_ = std::make_unique<CQuarryDlg>(*app_);
    ASSERT_TRUE(dialog_->Create(nullptr));
    main_ = dialog_->hwnd();
    Flush();
  }
  void TearDown() override {
    if (dialog_ && dialog_->hwnd()) DestroyWindow(dialog_->hwnd());
    Flush();
    dialog_.reset();
    app_.reset();
  }

  // The command ids of the popup that `open` shows (it returns once the
  // popup has closed); empty when none opened.
  std::vector<UINT> CommandsOfPopup(const std::function<void()>& open) {
    std::vector<UINT> commands;
    Helper helper([&] {
      HWND menu = WaitForWindow(GetCurrentProcessId(), L"#32768");
      if (!menu) return;
      HMENU handle = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
      for (int i = 0, n = GetMenuItemCount(handle); i < n; i++) commands.push_back(GetMenuItemID(handle, i));
      PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    open();
    EXPECT_TRUE(helper.Join(30000));
    return commands;
  }
  // A right click on a page's list, as the list tells its page.
  std::vector<UINT> RightClickList(HWND page, int listId) {
    return CommandsOfPopup([&] {
      NMITEMACTIVATE click = {};
      click.hdr.hwndFrom = GetDlgItem(page, listId);
      click.hdr.idFrom = listId;
      click.hdr.code = NM_RCLICK;
      click.iItem = -1;
      SendMessageW(page, WM_NOTIFY, listId, reinterpret_cast<LPARAM>(&click));
    });
  }
  static bool Holds(const std::vector<UINT>& commands, UINT id) {
    return std::find(commands.begin(), commands.end(), id) != commands.end();
  }

  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CQuarryDlg> dialog_;
  HWND main_ = nullptr;
};

TEST_F(PopupMenuTest, EachPlaceOpensItsOwnPopup) {
  std::vector<UINT> main = CommandsOfPopup([&] { SendMessageW(main_, UM_SHOW_MAIN_MENU, 0, 0); });
  ASSERT_FALSE(main.empty());
  EXPECT_EQ(main.front(), static_cast<UINT>(ID_SWITCH_EASY));
  EXPECT_TRUE(Holds(main, ID_SHOW_TASK_QUEUE) && Holds(main, ID_ABOUT));

  std::vector<UINT> apply = RightClickList(dialog_->applyPage().hwnd(), IDC_APPLY_LIST);
  EXPECT_TRUE(Holds(apply, ID_APPLY_OPEN) && Holds(apply, ID_APPLY_DETAILS));

  std::vector<UINT> info = RightClickList(dialog_->infoPage().hwnd(), IDC_INFO_LIST);
  EXPECT_TRUE(Holds(info, ID_INFO_COPY) && Holds(info, ID_INFO_OPEN));

  std::vector<UINT> browser = RightClickList(dialog_->browserPage().hwnd(), IDC_BROWSER_LIST);
  EXPECT_TRUE(Holds(browser, ID_BROWSER_EXTRACT) && Holds(browser, ID_BROWSER_PROPERTIES));

  std::vector<UINT> easy = CommandsOfPopup([&] {
    SendMessageW(dialog_->easyPage().hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(dialog_->easyPage().hwnd()),
                 MAKELPARAM(-1, -1));
  });
  EXPECT_TRUE(Holds(easy, ID_EASY_CLEAR_ALL) && Holds(easy, ID_SWITCH_ADVANCED));
  EXPECT_FALSE(Holds(easy, ID_EXIT));
}

}  // namespace
