// The capture configuration editor inside the test program: its tree read
// back item by item, a root's check box toggled from the keyboard, the import
// dialog answered, and the settings file read after OK and Cancel. The
// whole way from the main menu through the preferences is driven in a real
// Quarry.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/quarry_app.h"
#include "config/config_editor.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"
#include "win/message_box.h"

namespace {
using namespace qtest;
using namespace shelltest;

class ConfigEditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = TempDir() + L"\\Quarry.ini";
  }
  void Open(const std::string& ini = "") {
    if (!ini.empty()) ASSERT_TRUE(WriteFileBytes(app_->settingsPath, ini));
    app_->InitInstance();
    editor_ = std::make_unique<CEditCfgDLG>(app_->settingsPath, app_->captureLists);
    ASSERT_TRUE(editor_->Create(nullptr));
    ShowWindow(editor_->hwnd(), SW_SHOW);
    tree_ = GetDlgItem(editor_->hwnd(), IDC_CFG_TREE);
    Flush();
  }
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    if (editor_ && editor_->hwnd()) DestroyWindow(editor_->hwnd());
    Flush();
    editor_.reset();
    app_.reset();
  }

  std::vector<HTREEITEM> Children(HTREEITEM parent) {
    std::vector<HTREEITEM> items;
    HTREEITEM item = parent ? TreeView_GetChild(tree_, parent) : TreeView_GetRoot(tree_);
    for (; item; item = TreeView_GetNextSibling(tree_, item)) items.push_back(item);
    return items;
  }
  std::wstring Text(HTREEITEM item) {
    wchar_t buffer[1024] = {};
    TVITEMW tv = {TVIF_TEXT};
    tv.hItem = item;
    tv.pszText = buffer;
    tv.cchTextMax = 1024;
    TreeView_GetItem(tree_, &tv);
    return buffer;
  }
  bool Ticked(HTREEITEM item) { return TreeView_GetCheckState(tree_, item) == 1; }
  int TickedChildren(HTREEITEM root) {
    int n = 0;
    for (HTREEITEM c : Children(root)) n += Ticked(c);
    return n;
  }

  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CEditCfgDLG> editor_;
  HWND tree_ = nullptr;
};

TEST_F(ConfigEditorTest, WithoutListsItShowsTheDefaultsAndStoresUntickedEntries) {
  Open();
  std::vector<HTREEITEM> roots = Children(nullptr);
  ASSERT_EQ(roots.size(), 4u);
  EXPECT_EQ(Text(roots[0]), L"排除");
  EXPECT_EQ(Text(roots[1]), L"不压缩");
  EXPECT_EQ(Text(roots[2]), L"64K边界对齐");
  EXPECT_EQ(Text(roots[3]), L"例外");
  EXPECT_EQ(Children(roots[0]).size(), 7u);
  EXPECT_EQ(TickedChildren(roots[0]), 7);
  EXPECT_EQ(Children(roots[1]).size(), 5u);
  EXPECT_EQ(TickedChildren(roots[1]), 5);
  EXPECT_TRUE(Children(roots[2]).empty());
  EXPECT_EQ(Text(Children(roots[0])[0]), L"\\$ntfs.log");
  ShotIfAsked("config_editor");

  // Unticking "排除" (Space on the selected root toggles its box as a
  // click does) unticks its patterns.
  TreeView_SelectItem(tree_, roots[0]);
  SendMessageW(tree_, WM_KEYDOWN, VK_SPACE, 0);
  SendMessageW(tree_, WM_KEYUP, VK_SPACE, 0);
  EXPECT_TRUE(WaitUntil([&] { return TickedChildren(roots[0]) == 0; }));
  PostMessageW(editor_->hwnd(), WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(editor_->hwnd()); }));

  std::wstring ini = app_->settingsPath;
  EXPECT_EQ(IniText(ini, L"EXCLUDE", L"Count"), L"7");
  EXPECT_EQ(IniText(ini, L"EXCLUDE", L"List"),
            L"\\$ntfs.log:0|\\hiberfil.sys:0|\\pagefile.sys:0|\\System Volume Information:0|\\RECYCLER:0|"
            L"\\$Recycle.Bin:0|\\Windows\\CSC:0");
  EXPECT_EQ(IniText(ini, L"NOCOMPRESS", L"List"), L"*.ZIP:1|*.CAB:1|*.MP3:1|*.PNF:1|*.WIM:1");
  EXPECT_EQ(IniText(ini, L"ALIGNMENT", L"Count"), L"0");
  // The lists in memory follow at once: no exclusion is enabled any more.
  EXPECT_TRUE(app_->captureLists.patterns[0].empty());
  EXPECT_EQ(app_->captureLists.patterns[1].size(), 5u);
}

TEST_F(ConfigEditorTest, ImportFillsTheListsFromASectionedFile) {
  Open();
  std::wstring file = TempDir() + L"\\rules.ini";
  ASSERT_TRUE(WriteFileBytes(file, "ignored before any header\r\n[exclusionlist]\r\n  \\temp\\*  \r\n   \r\n"
                                   "*.bak\r\n[CompressionExclusionList]\r\n*.7z\r\n[Other]\r\n"));
  Helper helper([&] {
    HWND dialog = nullptr;
    WaitUntil([&] {
      dialog = FindDialogWithItem(GetCurrentProcessId(), IDOK);
      return dialog && dialog != editor_->hwnd();
    }, 30000);
    if (dialog && dialog != editor_->hwnd()) AnswerFileDialog(dialog, file);
  });
  PostMessageW(editor_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_CFG_IMPORT, BN_CLICKED), 0);
  ASSERT_TRUE(helper.Join(60000));
  std::vector<HTREEITEM> roots;
  ASSERT_TRUE(WaitUntil([&] {
    roots = Children(nullptr);
    return roots.size() == 4 && Children(roots[0]).size() == 2;
  }, 20000));
  EXPECT_EQ(Text(Children(roots[0])[0]), L"  \\temp\\*  ");
  EXPECT_EQ(Text(Children(roots[0])[1]), L"*.bak");
  ASSERT_FALSE(Children(roots[1]).empty());
  EXPECT_EQ(Text(Children(roots[1])[0]), L"*.7z");
  EXPECT_TRUE(Children(roots[2]).empty());
  EXPECT_EQ(TickedChildren(roots[0]), 2);
}

TEST_F(ConfigEditorTest, CancelWritesNothingAndStoredFormSeparatorsAreRefused) {
  Open("[EXCLUDE]\r\nCount=1\r\nList=\\keep.me:1\r\n");
  std::string before = ReadFileBytes(app_->settingsPath);
  std::vector<std::wstring> messages;
  SetMessageBoxHandler([&](HWND, const std::wstring& text, const std::wstring&, UINT) {
    messages.push_back(text);
    return IDYES;
  });
  PostMessageW(editor_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_CFG_DEFAULTS, BN_CLICKED), 0);
  ASSERT_TRUE(WaitUntil([&] { return Children(Children(nullptr)[0]).size() == 7; }));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"是否要载入默认的配置 ?");

  // A pattern holding ":" or "|" would break the stored form.
  HTREEITEM first = Children(Children(nullptr)[0])[0];
  TreeView_SelectItem(tree_, first);
  SetFocus(tree_);
  HWND edit = TreeView_EditLabel(tree_, first);
  ASSERT_NE(edit, nullptr);
  SetWindowTextW(edit, L"C:\\bad|name");
  TreeView_EndEditLabelNow(tree_, FALSE);
  EXPECT_EQ(Text(first), L"\\$ntfs.log");
  ASSERT_EQ(messages.size(), 2u);

  PostMessageW(editor_->hwnd(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(editor_->hwnd()) || !IsWindowVisible(editor_->hwnd()); }));
  EXPECT_EQ(ReadFileBytes(app_->settingsPath), before);
}

TEST_F(ConfigEditorTest, LongPatternsKeepEveryCharacter) {
  std::string pattern = "\\" + std::string(400, 'p') + "\\*.tmp";
  Open("[EXCEPTION]\r\nCount=1\r\nList=" + pattern + ":1\r\n");
  PostMessageW(editor_->hwnd(), WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(editor_->hwnd()); }));
  EXPECT_EQ(IniText(app_->settingsPath, L"EXCEPTION", L"List"), Wide(pattern) + L":1");
  ASSERT_EQ(app_->captureLists.patterns[3].size(), 1u);
  EXPECT_EQ(app_->captureLists.patterns[3][0], Wide(pattern));
}

TEST(ConfigEditorInQuarryTest, WimlibThenEditorOkThenPreferencesOkKeepsTheBackEnd) {
  std::wstring folder = PrepareQuarryCopy(true);
  QuarryProcess quarry;
  ASSERT_TRUE(quarry.Start(folder));
  HWND main = quarry.MainWindow();
  SendCommand(main, ID_BACKEND_WIMLIB);
  ASSERT_TRUE(WaitUntil([&] { return WindowText(main).find(L"(WIMLIB)") != std::wstring::npos; }, 20000));
  SendCommand(main, ID_PREFERENCES);
  HWND prefs = WaitForTitle(quarry.Pid(), L"使用偏好");
  ASSERT_NE(prefs, nullptr);
  PostMessageW(prefs, WM_COMMAND, MAKEWPARAM(IDC_PREF_CONFIG, BN_CLICKED), 0);
  HWND editor = WaitForTitle(quarry.Pid(), L"编辑配置列表");
  ASSERT_NE(editor, nullptr);
  PostMessageW(editor, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(editor); }, 20000));
  PostMessageW(prefs, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(prefs); }, 20000));
  EXPECT_NE(WindowText(main).find(L"(WIMLIB)"), std::wstring::npos);
  EXPECT_EQ(quarry.Close(), 0);
  std::wstring ini = folder + L"\\Quarry.ini";
  EXPECT_EQ(GetPrivateProfileIntW(L"API", L"Type", -1, ini.c_str()), 1);
  // The editor stored the defaults, which the exit kept.
  EXPECT_EQ(IniText(ini, L"NOCOMPRESS", L"Count"), L"5");
}
}  // namespace
