// The folder pickers of the capture and apply pages, answered through the
// pickers' seam inside a main window of the test program: each opens at the
// folder chosen last and remembers its own choice, in memory at once and in
// Quarry.ini when the program ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <thread>

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/pickers.h"

namespace {
using namespace qtest;

class FolderPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempDir();
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = dir_ + L"\\Quarry.ini";
    ASSERT_TRUE(WriteFileBytes(app_->settingsPath, "[VIEW]\r\nMode=0\r\n"));
    app_->InitInstance();
    dialog_ = std::make_unique<CQuarryDlg>(*app_);
    ASSERT_TRUE(dialog_->Create(nullptr));
    SetPickerHandler([this](const PickerRequest& request, std::vector<std::wstring>& paths) {
      asked_.push_back(request);
      if (answers_.empty()) return false;
      paths.push_back(answers_.front());
      answers_.erase(answers_.begin());
      return true;
    });
  }

  void TearDown() override {
    SetPickerHandler(nullptr);
    if (dialog_ && dialog_->hwnd()) DestroyWindow(dialog_->hwnd());
    dialog_.reset();
    app_.reset();
  }

  // Shows tab `tab` and clicks button `id` of its page.
  void Click(int tab, int id) {
    dialog_->SelectTab(tab);
    HWND page = dialog_->TabPage(tab)->hwnd();
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(page) != FALSE; }, 20000));
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
  }
  std::wstring Field(int tab, int id) { return WindowText(GetDlgItem(dialog_->TabPage(tab)->hwnd(), id)); }

  std::wstring IniLast() {
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(L"DIR", L"Last", L"", value, 1024, app_->settingsPath.c_str());
    return value;
  }

  std::wstring dir_;
  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CQuarryDlg> dialog_;
  std::vector<PickerRequest> asked_;
  std::vector<std::wstring> answers_;
};

TEST_F(FolderPickerTest, CaptureAndApplyPickersStartAtTheLastFolderAndStoreTheChoice) {
  const std::wstring first = dir_ + L"\\source folder";
  const std::wstring second = dir_ + L"\\target folder";
  ASSERT_TRUE(MakeDirs(first));
  ASSERT_TRUE(MakeDirs(second));
  app_->settings.lastFolder = dir_;

  answers_ = {first};
  Click(0, IDC_CAP_PICK_SOURCE);
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].kind, PickerKind::kFolder);
  EXPECT_EQ(asked_[0].start, dir_) << "the capture page's picker opens at the folder chosen last";
  EXPECT_EQ(Field(0, IDC_CAP_SOURCE), first);
  EXPECT_EQ(app_->settings.lastFolder, first);

  answers_ = {second};
  Click(1, IDC_APPLY_PICK_TARGET);
  ASSERT_EQ(asked_.size(), 2u);
  EXPECT_EQ(asked_[1].kind, PickerKind::kFolder);
  EXPECT_EQ(asked_[1].start, first) << "the apply page's picker opens where the capture page's choice was";
  EXPECT_EQ(Field(1, IDC_APPLY_TARGET), second);

  // Cancel keeps both the field and the remembered folder.
  Click(1, IDC_APPLY_PICK_TARGET);
  ASSERT_EQ(asked_.size(), 3u);
  EXPECT_EQ(asked_[2].start, second);
  EXPECT_EQ(Field(1, IDC_APPLY_TARGET), second);

  DestroyWindow(dialog_->hwnd());
  app_->ExitInstance();
  EXPECT_EQ(IniLast(), second) << "the choice reaches [DIR] Last when the program ends";
}

BOOL CALLBACK FindVisibleEdit(HWND hwnd, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (lstrcmpiW(name, L"Edit") != 0 || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// With no test answering, a file picker is the system's own file dialog:
// it opens with the picker's title, and the name typed into it is what the
// picker gives back.
TEST(FileDialogTest, TheSystemDialogOpensAndGivesTheNameTyped) {
  const std::wstring dir = TempDir();
  const std::wstring typed = dir + L"\\picked.wim";
  const wchar_t* title = L"保存 WIM 文件";
  bool typedIn = false;
  std::thread user([&] {
    HWND dialog = nullptr, edit = nullptr;
    for (int i = 0; i < 3000 && !edit; i++) {
      dialog = FindWindowW(L"#32770", title);
      if (dialog && IsWindowVisible(dialog)) EnumChildWindows(dialog, FindVisibleEdit, reinterpret_cast<LPARAM>(&edit));
      if (!edit) Sleep(10);
    }
    if (!edit) return;
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
    typedIn = true;
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  PickerRequest request;
  request.kind = PickerKind::kSave;
  request.title = title;
  request.filter = L"WIM (*.wim)|*.wim||";
  request.defaultExt = L"wim";
  std::vector<std::wstring> paths;
  const bool ok = ShowPicker(request, paths);
  user.join();
  ASSERT_TRUE(typedIn) << "no file dialog with the picker's title was shown";
  ASSERT_TRUE(ok);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(lstrcmpiW(paths[0].c_str(), typed.c_str()), 0) << paths[0];
}
}  // namespace
