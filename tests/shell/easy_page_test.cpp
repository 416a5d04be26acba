// The easy page inside a main window of the test program (its application
// object started as in Quarry.exe): folders and WIM files dropped on it,
// its buttons pressed, the progress page waited for, and the image judged
// by wimlib-imagex. Ctrl+Tab into easy mode is driven in a real Quarry.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"
#include "win/message_box.h"

namespace {
using namespace qtest;
using namespace shelltest;

class EasyPageTest : public ::testing::Test {
 protected:
  void Start(bool withWimgapi = true) {
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = TempDir() + L"\\Quarry.ini";
    ASSERT_TRUE(WriteFileBytes(app_->settingsPath, "[VIEW]\r\nMode=1\r\n"));
    app_->InitInstance();
    if (!withWimgapi) app_->backends.wimgapi = WimgapiTable();
    dialog_ = std::make_unique<CQuarryDlg>(*app_);
    ASSERT_TRUE(dialog_->Create(nullptr));
    main_ = dialog_->hwnd();
    ASSERT_TRUE(WaitUntil([&] { return dialog_->easyPage().IsVisible(); }, 20000));
  }

  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    if (dialog_ && dialog_->hwnd()) DestroyWindow(dialog_->hwnd());
    Flush();
    dialog_.reset();
    app_.reset();
  }

  CPage_Easy& Easy() { return dialog_->easyPage(); }
  POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
  void DropOnSource(const std::wstring& path) { Easy().DropPath(path, Centre(Easy().SourceBox())); }
  void DropOnTarget(const std::wstring& path) { Easy().DropPath(path, Centre(Easy().TargetBox())); }
  HWND EasyItem(int id) { return GetDlgItem(Easy().hwnd(), id); }
  void Press(int id) {
    PostMessageW(Easy().hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(EasyItem(id)));
  }
  bool ResultShown() {
    HWND progress = dialog_->progressPage().hwnd();
    return dialog_->progressPage().IsShowingResult() && IsWindowVisible(GetDlgItem(progress, IDC_PROGRESS_OK));
  }
  std::wstring ResultText() { return WindowText(GetDlgItem(dialog_->progressPage().hwnd(), IDC_PROGRESS_TEXT)); }

  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CQuarryDlg> dialog_;
  HWND main_ = nullptr;
};

TEST_F(EasyPageTest, AFolderThenAWimTargetCapturesIntoTheFile) {
  Start();
  std::wstring data = TempDir() + L"\\data";
  MakeDataFolder(data);
  std::wstring wim = TempDir() + L"\\easy.wim";
  EXPECT_FALSE(IsWindowEnabled(EasyItem(IDC_EASY_CLEAR)));
  DropOnSource(data);
  EXPECT_TRUE(Easy().filled());
  EXPECT_TRUE(IsWindowEnabled(EasyItem(IDC_EASY_CLEAR)));
  EXPECT_FALSE(IsWindowVisible(EasyItem(IDC_EASY_CAPTURE)));
  // A second folder on the target box is the same kind: the target stays empty.
  DropOnTarget(TempDir());
  EXPECT_TRUE(Easy().targetPath().empty());
  DropOnTarget(wim);
  EXPECT_EQ(Easy().targetPath(), wim);
  EXPECT_TRUE(IsWindowVisible(EasyItem(IDC_EASY_CAPTURE)));
  EXPECT_FALSE(IsWindowVisible(EasyItem(IDC_EASY_APPLY)));
  EXPECT_FALSE(IsWindowVisible(EasyItem(IDC_EASY_MOUNT)));
  ShotIfAsked("easy_filled");

  // The capture options dialog is modal on this thread; a helper takes them.
  Helper helper([&] {
    HWND options = WaitForTitle(GetCurrentProcessId(), L"捕获选项", 30000);
    if (options) PostMessageW(options, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  Press(IDC_EASY_CAPTURE);
  ASSERT_TRUE(helper.Join(60000));
  ASSERT_TRUE(WaitUntil([&] { return ResultShown(); }, 120000));
  EXPECT_EQ(ResultText(), L"操作成功完成!");
  ASSERT_EQ(ImageCount(wim), 1);
  EXPECT_NE(ImageListing(wim, 1).find("/sub/notes.txt"), std::string::npos);
  // "确定" brings the easy page back with its paths.
  ClickButton(dialog_->progressPage().hwnd(), IDC_PROGRESS_OK);
  EXPECT_TRUE(WaitUntil([&] { return Easy().IsVisible(); }, 10000));
  EXPECT_EQ(Easy().sourcePath(), data);
}

TEST_F(EasyPageTest, AThreeImageFileOffersTheChooserWithoutWimgapi) {
  Start(false);
  ASSERT_FALSE(app_->backends.WimgapiAvailable());
  std::wstring base = TempDir();
  std::vector<std::wstring> folders;
  for (int i = 1; i <= 3; i++) {
    folders.push_back(base + L"\\v" + std::to_wstring(i));
    MakeDataFolder(folders.back());
    WriteFileBytes(folders.back() + L"\\which.txt", "image " + std::to_string(i));
  }
  std::wstring wim = base + L"\\three.wim";
  ASSERT_TRUE(MakeWim(wim, folders));
  std::wstring target = base + L"\\out";
  ASSERT_TRUE(MakeDirs(target));
  app_->backendKind = kBackendWimlib;
  DropOnSource(wim);
  DropOnTarget(target);
  EXPECT_TRUE(IsWindowVisible(EasyItem(IDC_EASY_APPLY)));
  EXPECT_TRUE(IsWindowVisible(EasyItem(IDC_EASY_MOUNT)));
  EXPECT_FALSE(IsWindowVisible(EasyItem(IDC_EASY_CAPTURE)));

  // The chooser is modal on this thread; a helper answers it.
  int rows = -1;
  bool boxShown = true;
  Helper helper([&] {
    HWND chooser = WaitForTitle(GetCurrentProcessId(), L"Quarry - 选择一个镜像", 30000);
    if (!chooser) return;
    HWND list = GetDlgItem(chooser, IDC_SELECT_LIST);
    rows = ListView_GetItemCount(list);
    ShotIfAsked("image_chooser");
    boxShown = IsWindowVisible(GetDlgItem(chooser, IDC_SELECT_WRITABLE)) != FALSE;
    NMITEMACTIVATE activate = {};
    activate.hdr.hwndFrom = list;
    activate.hdr.idFrom = IDC_SELECT_LIST;
    activate.hdr.code = NM_DBLCLK;
    activate.iItem = 1;  // the second image
    SendMessageW(chooser, WM_NOTIFY, IDC_SELECT_LIST, reinterpret_cast<LPARAM>(&activate));
  });
  Press(IDC_EASY_APPLY);
  ASSERT_TRUE(helper.Join(60000));
  EXPECT_EQ(rows, 3);
  EXPECT_FALSE(boxShown);
  ASSERT_TRUE(WaitUntil([&] { return ResultShown(); }, 120000));
  EXPECT_EQ(ResultText(), L"操作成功完成!");
  EXPECT_EQ(ReadFileBytes(target + L"\\which.txt"), "image 2");
}

TEST_F(EasyPageTest, ADamagedImageSaysWhyUnderTheResult) {
  Start();
  std::wstring data = TempDir() + L"\\damaged-src";
  MakeDataFolder(data);
  std::string marked;
  for (int i = 0; i < 1000; i++) marked += "EASY-DAMAGE-MARK-";
  ASSERT_TRUE(WriteFileBytes(data + L"\\marked.bin", marked));
  std::wstring wim = TempDir() + L"\\damaged.wim";
  UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(data)) + " " + ShQuote(UnixPath(wim)) +
                         " --compress=none 2>&1");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  std::string bytes = ReadFileBytes(wim);
  size_t at = bytes.find("EASY-DAMAGE-MARK-");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 2] ^= 0x20;  // the file's data no longer matches its SHA-1
  ASSERT_TRUE(WriteFileBytes(wim, bytes));
  std::wstring target = TempDir() + L"\\damaged-out";
  ASSERT_TRUE(MakeDirs(target));

  app_->backendKind = kBackendWimlib;
  DropOnSource(wim);
  DropOnTarget(target);
  Press(IDC_EASY_APPLY);
  ASSERT_TRUE(WaitUntil([&] { return ResultShown(); }, 120000));
  EXPECT_EQ(ResultText(), L"操作失败!");
  HWND reason = GetDlgItem(dialog_->progressPage().hwnd(), IDC_PROGRESS_REASON);
  EXPECT_TRUE(IsWindowVisible(reason));
  EXPECT_EQ(WindowText(reason), L"镜像已损坏: 数据校验 (SHA-1) 不符");
  ClickButton(dialog_->progressPage().hwnd(), IDC_PROGRESS_OK);
  EXPECT_TRUE(WaitUntil([&] { return Easy().IsVisible(); }, 10000));
}

TEST_F(EasyPageTest, ClearEmptiesThePage) {
  Start();
  DropOnSource(TempDir());
  ASSERT_TRUE(Easy().filled());
  PostMessageW(Easy().hwnd(), WM_COMMAND, MAKEWPARAM(ID_EASY_CLEAR_ALL, 0), 0);
  EXPECT_TRUE(WaitUntil([&] { return !Easy().filled(); }));
  EXPECT_TRUE(Easy().sourcePath().empty());
  EXPECT_FALSE(IsWindowEnabled(EasyItem(IDC_EASY_CLEAR)));
  // Things that are neither folders nor .wim files are not taken.
  DropOnSource(TempDir() + L"\\notes.txt");
  EXPECT_FALSE(Easy().filled());
}

TEST(EasyModeSwitchTest, CtrlTabEntersEasyModeAndItIsRememberedAtExit) {
  std::wstring folder = PrepareQuarryCopy(true);
  QuarryProcess quarry;
  ASSERT_TRUE(quarry.Start(folder));
  HWND main = quarry.MainWindow();
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main, IDD_PAGE_CAPTURE); }, 20000));
  ASSERT_TRUE(MakeForeground(main));
  PressKey(main, VK_TAB, VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main, IDD_PAGE_EASY); }, 20000));
  HWND easy = GetDlgItem(main, IDD_PAGE_EASY);
  EXPECT_FALSE(ItemVisible(main, IDC_TAB_CAPTURE));
  EXPECT_FALSE(ItemEnabled(easy, IDC_EASY_CLEAR));
  for (int id : {IDC_EASY_MOUNT, IDC_EASY_APPLY, IDC_EASY_CAPTURE}) EXPECT_FALSE(ItemVisible(easy, id)) << id;
  EXPECT_EQ(quarry.Close(), 0);
  EXPECT_EQ(GetPrivateProfileIntW(L"VIEW", L"Mode", -1, (folder + L"\\Quarry.ini").c_str()), 1);
}
}  // namespace
