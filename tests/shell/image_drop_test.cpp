// Image files dropped from the file manager onto the pages that read an
// image: an ESD file (and a split set's first part) is taken as a WIM file
// is, on the apply page and on the easy page, and what the page then does
// with it is judged by the files it writes. The main window is created
// inside the test program; the drop is the shell's own data object handed
// to the page's drop handler, as its registered drop target hands it.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <memory>

#include "app/quarry_app.h"
#include "app/quarry_dlg.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"
#include "win/handles.h"
#include "win/message_box.h"

namespace {
using namespace qtest;
using namespace shelltest;

// The data object Explorer offers for a file: from the shell's own folder.
ComPtr<IDataObject> ShellFileData(const std::wstring& file) {
  ComPtr<IDataObject> data;
  size_t slash = file.find_last_of(L'\\');
  std::wstring folder = file.substr(0, slash), name = file.substr(slash + 1);
  ComPtr<IShellFolder> desktop;
  if (FAILED(SHGetDesktopFolder(desktop.put()))) return data;
  PIDLIST_RELATIVE folderId = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(folder.c_str()), nullptr, &folderId,
                                       nullptr)))
    return data;
  ComPtr<IShellFolder> parent;
  desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(parent.put()));
  CoTaskMemFree(folderId);
  if (!parent) return data;
  PIDLIST_RELATIVE child = nullptr;
  if (FAILED(parent->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.c_str()), nullptr, &child, nullptr)))
    return data;
  PCUITEMID_CHILD children[1] = {child};
  parent->GetUIObjectOf(nullptr, 1, children, IID_IDataObject, nullptr, reinterpret_cast<void**>(data.put()));
  CoTaskMemFree(child);
  return data;
}

POINTL ScreenCentre(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Three small trees captured as an ESD file (solid) and as a WIM file.
class ImageDropTest : public ::testing::Test {
 protected:
  void Start(int mode) {
    app_ = std::make_unique<CQuarryApp>();
    app_->settingsPath = TempDir() + L"\\Quarry.ini";
    ASSERT_TRUE(WriteFileBytes(app_->settingsPath, "[VIEW]\r\nMode=" + std::to_string(mode) + "\r\n"));
    app_->InitInstance();
    app_->backendKind = kBackendWimlib;
    // Nothing here should ask or warn; a box that comes anyway is kept for
    // the failure message instead of waiting for a person.
    SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring&, UINT) {
      boxes_ += Utf8(text) + "\n";
      return IDCANCEL;
    });
    dialog_ = std::make_unique<CQuarryDlg>(*app_);
    ASSERT_TRUE(dialog_->Create(nullptr));
    main_ = dialog_->hwnd();
    Flush();
  }

  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    if (dialog_ && dialog_->hwnd()) DestroyWindow(dialog_->hwnd());
    Flush();
    dialog_.reset();
    app_.reset();
  }

  // `name` in the test's folder, captured by wimlib-imagex from a tree of
  // its own that holds "which.txt" with `content`.
  std::wstring MakeImage(const std::wstring& name, const std::string& content, const std::string& options) {
    std::wstring tree = TempDir() + L"\\tree-" + name;
    MakeDataFolder(tree);
    EXPECT_TRUE(WriteFileBytes(tree + L"\\which.txt", content));
    std::wstring file = TempDir() + L"\\" + name;
    UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(tree)) + " " + ShQuote(UnixPath(file)) +
                           " 'Dropped' " + options + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return file;
  }

  bool ResultShown() {
    HWND progress = dialog_->progressPage().hwnd();
    return dialog_->progressPage().IsShowingResult() && IsWindowVisible(GetDlgItem(progress, IDC_PROGRESS_OK));
  }
  std::wstring ResultText() { return WindowText(GetDlgItem(dialog_->progressPage().hwnd(), IDC_PROGRESS_TEXT)); }

  std::unique_ptr<CQuarryApp> app_;
  std::unique_ptr<CQuarryDlg> dialog_;
  HWND main_ = nullptr;
  std::string boxes_;
};

TEST_F(ImageDropTest, TheApplyPageListsADroppedEsdFileAndAppliesIt) {
  std::wstring esd = MakeImage(L"install.esd", "from the esd", "--solid");
  std::wstring wim = MakeImage(L"install.wim", "from the wim", "");
  ASSERT_TRUE(FileDataIsSolid(esd));
  std::wstring notes = TempDir() + L"\\notes.txt";
  ASSERT_TRUE(WriteFileBytes(notes, "text"));
  Start(2);
  ClickWindow(dialog_->Tab(1).hwnd());
  CPage_Apply& apply = dialog_->applyPage();
  ASSERT_TRUE(WaitUntil([&] { return apply.IsVisible(); }));
  HWND list = GetDlgItem(apply.hwnd(), IDC_APPLY_LIST);
  OleDropHandler& dropHandler = apply;

  // A WIM file first, then the ESD file in its place: each is listed.
  ComPtr<IDataObject> wimData = ShellFileData(wim), esdData = ShellFileData(esd);
  ASSERT_TRUE(wimData && esdData);
  EXPECT_NE(dropHandler.OnOleDrop(wimData.get(), DROPEFFECT_COPY | DROPEFFECT_LINK, ScreenCentre(list)),
            static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(WindowText(GetDlgItem(apply.hwnd(), IDC_APPLY_WIM)), wim);
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetItemCount(list) == 1; }));
  EXPECT_NE(dropHandler.OnOleDrop(esdData.get(), DROPEFFECT_COPY | DROPEFFECT_LINK, ScreenCentre(list)),
            static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(WindowText(GetDlgItem(apply.hwnd(), IDC_APPLY_WIM)), esd);
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetItemCount(list) == 1; }));

  // "应用" writes the ESD file's image, not the WIM file's.
  std::wstring target = TempDir() + L"\\apply-out";
  ASSERT_TRUE(MakeDirs(target));
  SetWindowTextW(GetDlgItem(apply.hwnd(), IDC_APPLY_TARGET), target.c_str());
  ClickButton(apply.hwnd(), IDC_APPLY_APPLY);
  ASSERT_TRUE(WaitUntil([&] { return ResultShown(); }, 120000)) << boxes_;
  EXPECT_EQ(ResultText(), L"操作成功完成!");
  EXPECT_EQ(ReadFileBytes(target + L"\\which.txt"), "from the esd");

  // A file that is no image is still refused: the page keeps its file.
  ClickButton(dialog_->progressPage().hwnd(), IDC_PROGRESS_OK);
  ASSERT_TRUE(WaitUntil([&] { return apply.IsVisible(); }));
  ComPtr<IDataObject> textData = ShellFileData(notes);
  ASSERT_TRUE(textData);
  EXPECT_EQ(dropHandler.OnOleDrop(textData.get(), DROPEFFECT_COPY | DROPEFFECT_LINK, ScreenCentre(list)),
            static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(WindowText(GetDlgItem(apply.hwnd(), IDC_APPLY_WIM)), esd);
}

TEST_F(ImageDropTest, TheEasyPageTakesADroppedEsdFileOrFirstSplitPartAsAnImageToApply) {
  std::wstring esd = MakeImage(L"easy.esd", "easy esd", "--solid");
  Start(1);
  CPage_Easy& easy = dialog_->easyPage();
  ASSERT_TRUE(WaitUntil([&] { return easy.IsVisible(); }));
  OleDropHandler& dropHandler = easy;
  auto visible = [&](int id) { return IsWindowVisible(GetDlgItem(easy.hwnd(), id)) != FALSE; };

  // A split set's first part is an image to apply as well.
  std::wstring swm = TempDir() + L"\\set.swm";
  UnixResult split = RunUnix("wimlib-imagex split " + ShQuote(UnixPath(MakeImage(L"whole.wim", "split", ""))) + " " +
                             ShQuote(UnixPath(swm)) + " 100 2>&1");
  ASSERT_EQ(split.exitCode, 0) << split.output;
  ComPtr<IDataObject> swmData = ShellFileData(swm);
  ASSERT_TRUE(swmData);
  dropHandler.OnOleDrop(swmData.get(), DROPEFFECT_COPY | DROPEFFECT_LINK, ScreenCentre(easy.hwnd()));
  EXPECT_EQ(easy.sourcePath(), swm);
  PostMessageW(easy.hwnd(), WM_COMMAND, MAKEWPARAM(ID_EASY_CLEAR_ALL, 0), 0);
  ASSERT_TRUE(WaitUntil([&] { return !easy.filled(); }));

  ComPtr<IDataObject> esdData = ShellFileData(esd);
  ASSERT_TRUE(esdData);
  dropHandler.OnOleDrop(esdData.get(), DROPEFFECT_COPY | DROPEFFECT_LINK, ScreenCentre(easy.hwnd()));
  EXPECT_TRUE(easy.filled());
  EXPECT_EQ(easy.sourcePath(), esd);
  std::wstring target = TempDir() + L"\\easy-out";
  ASSERT_TRUE(MakeDirs(target));
  RECT box = easy.TargetBox();
  easy.DropPath(target, {(box.left + box.right) / 2, (box.top + box.bottom) / 2});
  EXPECT_EQ(easy.targetPath(), target);
  EXPECT_TRUE(visible(IDC_EASY_APPLY));
  EXPECT_TRUE(visible(IDC_EASY_MOUNT));
  EXPECT_FALSE(visible(IDC_EASY_CAPTURE));

  PostMessageW(easy.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_EASY_APPLY, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(easy.hwnd(), IDC_EASY_APPLY)));
  ASSERT_TRUE(WaitUntil([&] { return ResultShown(); }, 120000)) << boxes_;
  EXPECT_EQ(ResultText(), L"操作成功完成!");
  EXPECT_EQ(ReadFileBytes(target + L"\\which.txt"), "easy esd");
}

}  // namespace
