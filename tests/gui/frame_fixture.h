// The main window created inside the test program: the application object
// starts up as in Quarry.exe (settings in a private folder), and the main
// dialog runs modeless so the test thread can drive it while it pumps
// messages.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"
#include "gui.h"
#include "harness.h"

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { StartWith(""); }

  // `settle`: the window's posted messages are handled (the pages it makes
  // after its first paint among them) before the test goes on.
  void StartWith(const std::string& ini, bool settle = true) {
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = qtest::TempDir() + L"\\Quarry.ini";
    if (!ini.empty()) ASSERT_TRUE(qtest::WriteFileBytes(app_->settingsPath, ini));
    app_->InitInstance();
    dialog_ = std::make_unique<CQuarryDlg>(*app_);
    ASSERT_TRUE(dialog_->Create(nullptr));
    main_ = dialog_->hwnd();
    if (settle) qtest::Flush();
  }

  void TearDown() override {
    if (dialog_ && dialog_->hwnd()) DestroyWindow(dialog_->hwnd());
    qtest::Flush();
    dialog_.reset();
    app_.reset();
  }

  // A key through the system's input (reaches the keyboard hook); returns
  // once the window's shortcut handler has dealt with it (and with the
  // modifier), so a key that is to change nothing can be checked at once.
  void Key(WORD vk, WORD modifier = 0) {
    ASSERT_TRUE(qtest::MakeForeground(main_));
    const int expected = dialog_->shortcutKeysSeen() + (modifier ? 2 : 1);
    qtest::PressKey(main_, vk, modifier);
    ASSERT_TRUE(qtest::WaitUntil([&] { return dialog_->shortcutKeysSeen() >= expected; })) << "key " << vk;
  }
  void ClickTab(int index) { qtest::ClickWindow(dialog_->Tab(index).hwnd()); }

  // A screenshot for a person to look at, into the folder named by
  // QUARRY_SCREENSHOTS (a Linux path) when it is set.
  static void ShotIfAsked(const char* name) {
    if (const char* folder = getenv("QUARRY_SCREENSHOTS")) {
      qtest::Screenshot(std::string(folder) + "/" + name + ".png");
    }
  }

  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CQuarryDlg> dialog_;
  HWND main_ = nullptr;
};
