// The delete and edit page with its edit dialog: deleting images, moving
// the boot mark, editing every field (with "&" and "<" and an emptied
// field), saving in place and into a copy, on both back ends, read back
// with wimlib-imagex.
#include <gtest/gtest.h>

#include <algorithm>

#include "advanced_fixture.h"
#include "resources/resource.h"

using namespace qtest;

class DeleteEditTest : public AdvancedTest, public ::testing::WithParamInterface<BackendKind> {
 protected:
  HWND List() { return GetDlgItem(deleteWnd(), IDC_DELETE_LIST); }
  void OpenDeletePage(const std::wstring& wim, int rows) {
    OpenOnDeletePage(wim);
    ASSERT_EQ(Rows(List()), rows);
    EXPECT_EQ(Text(deleteWnd(), IDC_DELETE_PATH), wim);
    EXPECT_FALSE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));
    EXPECT_TRUE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE_AS));
  }
  // Double-clicks a row and answers "编辑信息" with `edit`.
  void EditRow(int row, const std::function<void(HWND)>& edit) {
    SelectRows(List(), {row});
    ClickCell(List(), row, 5, WM_LBUTTONDBLCLK);
    HWND dialog = WaitForDialog(L"编辑信息");
    ASSERT_TRUE(dialog);
    edit(dialog);
    Click(dialog, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 20000));
  }
  static void SetEdit(HWND dialog, int id, const std::wstring& text) { TypeText(GetDlgItem(dialog, id), text); }
  static void PickEdition(HWND dialog, int entry) {
    HWND combo = GetDlgItem(dialog, IDC_EDIT_EDITION);
    SendMessageW(combo, CB_SETCURSEL, entry, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_EDIT_EDITION, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  }
  void SaveInPlace() {
    ClearMessages();
    Click(deleteWnd(), IDC_DELETE_SAVE);
    WaitDone();
  }
  void WaitDone() {
    ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 120000));
    for (const ShownMessage& m : Messages())
      EXPECT_TRUE(m.text.find(L"是否要保存对") == 0 || m.text.find(L"已存在") != std::wstring::npos) << Utf8(m.text);
  }
};

TEST_P(DeleteEditTest, DeletingRowsTwoAndFourKeepsOneThreeFiveWithTheBootMarkOnFive) {
  UseBackend(GetParam());
  std::wstring wim = MakeWim(L"five.wim", 5, "");
  ASSERT_EQ(RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) + " 2 --boot").exitCode, 0);
  OpenDeletePage(wim, 5);
  EXPECT_EQ(Cell(List(), 1, 10), L"BOOT");

  // Every row selected: refused.
  SelectRows(List(), {0, 1, 2, 3, 4});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_TRUE(WaitForMessage(L"不能删除所有卷，请至少保留一个!"));
  EXPECT_EQ(Rows(List()), 5);

  SelectRows(List(), {1, 3});
  SendMessageW(deleteWnd(), WM_COMMAND, ID_DELETE_IMAGE, 0);
  ASSERT_EQ(Rows(List()), 3);
  EXPECT_TRUE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));
  // The boot mark moves to image 5, now the third row.
  EditRow(2, [](HWND dialog) {
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_EDIT_NAME)), L"Image 5");
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_EDIT_BOOT), BST_UNCHECKED);
    ClickButton(dialog, IDC_EDIT_BOOT);
  });
  EXPECT_EQ(Cell(List(), 2, 10), L"BOOT");
  EXPECT_EQ(Cell(List(), 0, 10), L"");

  SaveInPlace();
  std::vector<ShownMessage> shown = Messages();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0].text, L"是否要保存对" + wim + L"的修改?");
  EXPECT_EQ(ImageCount(wim), 3);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Image 1");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Image 3");
  EXPECT_EQ(InfoField(wim, 3, "Name"), "Image 5");
  EXPECT_EQ(InfoField(wim, 0, "Boot Index"), "3");
  UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  // The list shows the file as it is now.
  ASSERT_EQ(Rows(List()), 3);
  EXPECT_EQ(Cell(List(), 2, 5), L"Image 5");
  EXPECT_EQ(Cell(List(), 2, 10), L"BOOT");
  EXPECT_FALSE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));
}

TEST_P(DeleteEditTest, EveryFieldIsWrittenAsTypedAndAnEmptiedFieldIsRemoved) {
  UseBackend(GetParam());
  std::wstring wim = MakeWim(L"edit.wim", 2, "--flags=Professional");
  ASSERT_EQ(RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) + " 1 --image-property DISPLAYNAME=OldShown").exitCode, 0);
  OpenDeletePage(wim, 2);
  EXPECT_EQ(Cell(List(), 0, 7), L"OldShown");
  EXPECT_EQ(Cell(List(), 0, 9), L"Professional");

  EditRow(0, [](HWND dialog) {
    // "Professional" is none of the ten entries: nothing is selected.
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_EDIT_EDITION), CB_GETCURSEL, 0, 0), CB_ERR);
    SetEdit(dialog, IDC_EDIT_NAME, L"A & B <1>");
    SetEdit(dialog, IDC_EDIT_DESCRIPTION, L"");
    SetEdit(dialog, IDC_EDIT_DISPLAY_NAME, L"Shown \"name\" & more");
    SetEdit(dialog, IDC_EDIT_DISPLAY_DESC, L"显示描述 <x>");
    PickEdition(dialog, 7);  // ServerStandard
  });
  EXPECT_EQ(Cell(List(), 0, 5), L"A & B <1>");
  EXPECT_EQ(Cell(List(), 0, 9), L"ServerStandard");
  // Image 2: "None" empties the edition; an unknown one stays when untouched.
  EditRow(1, [](HWND dialog) {
    EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_EDIT_DESCRIPTION)), L"Description 2");
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_EDIT_EDITION), CB_GETCURSEL, 0, 0), CB_ERR);
    PickEdition(dialog, 0);
  });
  EXPECT_EQ(Cell(List(), 1, 9), L"");

  SaveInPlace();
  EXPECT_EQ(InfoField(wim, 1, "Name"), "A & B <1>");
  EXPECT_EQ(InfoField(wim, 1, "Description"), "");
  EXPECT_EQ(InfoField(wim, 1, "Display Name"), "Shown \"name\" & more");
  EXPECT_EQ(InfoField(wim, 1, "Display Description"), "显示描述 <x>");
  EXPECT_EQ(InfoField(wim, 1, "Flags"), "ServerStandard");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Image 2");
  EXPECT_EQ(InfoField(wim, 2, "Description"), "Description 2");
  std::string flags2 = InfoField(wim, 2, "Flags");
  EXPECT_TRUE(flags2 == "(none)" || flags2.empty()) << flags2;
  // The XML holds each text escaped once.
  UnixResult xml = RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) + " --extract-xml /dev/stdout | iconv -f UTF-16LE -t UTF-8");
  EXPECT_NE(xml.output.find("<NAME>A &amp; B &lt;1&gt;</NAME>"), std::string::npos) << xml.output;
  EXPECT_EQ(xml.output.find("&amp;amp;"), std::string::npos);
  EXPECT_EQ(xml.output.find("<DESCRIPTION></DESCRIPTION>"), std::string::npos);
  // And the page shows them as typed again after reloading.
  EXPECT_EQ(Cell(List(), 0, 5), L"A & B <1>");
  EXPECT_EQ(Cell(List(), 0, 6), L"");
  EXPECT_EQ(Cell(List(), 0, 7), L"Shown \"name\" & more");
}

TEST_P(DeleteEditTest, SaveAsWritesTheCopyAndLeavesTheOriginalUntouched) {
  UseBackend(GetParam());
  std::wstring wim = MakeWim(L"original.wim", 3);
  std::string before = ReadFileBytes(wim);
  OpenDeletePage(wim, 3);
  SelectRows(List(), {0});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  EditRow(0, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Renamed"); });

  std::wstring copy = dir_ + L"\\copy.wim";
  ASSERT_TRUE(WriteFileBytes(copy, "old"));
  ClearMessages();
  QueueFileAnswer({copy});
  Click(deleteWnd(), IDC_DELETE_SAVE_AS);
  WaitDone();
  EXPECT_TRUE(WaitForMessage(L"已存在.\n你是否要替换他?"));
  EXPECT_EQ(ReadFileBytes(wim), before);
  EXPECT_EQ(ImageCount(copy), 2);
  EXPECT_EQ(InfoField(copy, 1, "Name"), "Renamed");
  EXPECT_EQ(InfoField(copy, 2, "Name"), "Image 3");
  // The page shows the opened file again, and "保存" can still save it.
  EXPECT_EQ(Rows(List()), 3);
  EXPECT_EQ(Text(deleteWnd(), IDC_DELETE_PATH), wim);
  EXPECT_TRUE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));

  // A copy that cannot be made writes nothing anywhere.
  ClearMessages();
  std::wstring blocked = dir_ + L"\\no-such-folder\\copy.wim";
  QueueFileAnswer({blocked});
  Click(deleteWnd(), IDC_DELETE_SAVE_AS);
  EXPECT_TRUE(WaitForMessage(L"无法复制文件"));
  ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 60000));
  EXPECT_EQ(ReadFileBytes(wim), before);
  EXPECT_EQ(GetFileAttributesW(blocked.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DeleteEditTest, AFileOpenedOrJumpedToWhileSavingIsIgnored) {
  std::wstring wim = MakeWim(L"busy.wim", 2);
  std::wstring other = MakeWim(L"other.wim", 3);
  OpenDeletePage(wim, 2);
  EditRow(1, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Second"); });
  // The save starts and, before its worker can report back to this
  // thread, a drop and a jump try to load another file.
  OnUiThread([&] {
    SendMessageW(deleteWnd(), WM_COMMAND, MAKEWPARAM(IDC_DELETE_SAVE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(deleteWnd(), IDC_DELETE_SAVE)));
    EXPECT_TRUE(host().deletePage().IsSaving());
    host().deletePage().OpenWimFile(other);
    dialog_->JumpTo(ID_JUMP_DELETE, other);
  });
  ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 60000));
  EXPECT_EQ(host().deletePage().wimPath(), wim);
  EXPECT_EQ(Rows(List()), 2);
  EXPECT_EQ(Cell(List(), 1, 5), L"Second");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Second");
  EXPECT_EQ(ImageCount(other), 3);
}

// The rows stand for the images that were listed: a file that another
// program changed since then is not written, and the list is loaded again.
TEST_P(DeleteEditTest, AFileChangedSinceItWasListedIsNotWritten) {
  UseBackend(GetParam());
  std::wstring wim = MakeWim(L"grown.wim", 3);
  auto append = [&](const std::string& name) {
    UnixResult r = RunUnix("wimlib-imagex append " + ShQuote(UnixPath(SourceTree())) + " " + ShQuote(UnixPath(wim)) +
                           " " + ShQuote(name) + " 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
  };
  auto waitSaved = [&] {
    ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 60000));
  };
  OpenDeletePage(wim, 3);
  SelectRows(List(), {1});
  SendMessageW(deleteWnd(), WM_COMMAND, ID_DELETE_IMAGE, 0);
  EditRow(1, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Renamed"); });

  // Two images merged in from elsewhere before "保存".
  append("Image 4");
  append("Image 5");
  ClearMessages();
  Click(deleteWnd(), IDC_DELETE_SAVE);
  EXPECT_TRUE(WaitForMessage(L"在载入后已被修改"));
  waitSaved();
  ASSERT_EQ(ImageCount(wim), 5);
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Image 2");
  EXPECT_EQ(InfoField(wim, 3, "Name"), "Image 3");
  EXPECT_EQ(InfoField(wim, 5, "Name"), "Image 5");
  EXPECT_EQ(Rows(List()), 5);
  EXPECT_FALSE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));

  // An image removed while the save question is open: the edit of row 1
  // (image 2) must not land on the image that has moved into its place.
  EditRow(1, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Renamed"); });
  answer = [&](const ShownMessage& m) {
    if (m.text.find(L"是否要保存对") == 0)
      EXPECT_EQ(RunUnix("wimlib-imagex delete " + ShQuote(UnixPath(wim)) + " 1").exitCode, 0);
    return (m.style & 0xF) == MB_YESNO ? IDYES : IDOK;
  };
  ClearMessages();
  Click(deleteWnd(), IDC_DELETE_SAVE);
  EXPECT_TRUE(WaitForMessage(L"在载入后已被修改"));
  waitSaved();
  ASSERT_EQ(ImageCount(wim), 4);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Image 2");
  EXPECT_EQ(InfoField(wim, 2, "Name"), "Image 3");
  EXPECT_EQ(Rows(List()), 4);
}

// An open that finds no images leaves nothing to save, whatever was
// pending for the file before; a save that still reaches the page writes
// nothing.
TEST_F(DeleteEditTest, AnOpenThatListsNothingLeavesNothingToSave) {
  std::wstring wim = MakeWim(L"good.wim", 2);
  std::wstring bad = dir_ + L"\\bad.wim";
  ASSERT_TRUE(WriteFileBytes(bad, "not an image"));
  OpenDeletePage(wim, 2);
  SelectRows(List(), {0});
  SendMessageW(deleteWnd(), WM_COMMAND, ID_DELETE_IMAGE, 0);
  ASSERT_TRUE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));

  QueueFileAnswer({bad});
  Click(deleteWnd(), IDC_DELETE_OPEN);
  EXPECT_EQ(Rows(List()), 0);
  EXPECT_FALSE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));
  EXPECT_FALSE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE_AS));

  ClearMessages();
  const int dialogs = FileDialogsShown();
  SendMessageW(deleteWnd(), WM_COMMAND, MAKEWPARAM(IDC_DELETE_SAVE_AS, BN_CLICKED), 0);
  SendMessageW(deleteWnd(), WM_COMMAND, MAKEWPARAM(IDC_DELETE_SAVE, BN_CLICKED), 0);
  EXPECT_TRUE(WaitForMessage(L"不能删除所有卷，请至少保留一个!"));
  EXPECT_EQ(FileDialogsShown(), dialogs);
  ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 60000));
  EXPECT_EQ(ReadFileBytes(bad), "not an image");
  EXPECT_EQ(ImageCount(wim), 2);
}

// "中止" beside the busy text of a wimlib save: the save stops at its next
// progress call once the user agrees, says it was cancelled, and leaves
// every file as it was: the opened file, and the file a Save As was to
// replace. Nothing is left beside them, and the next save still works.
TEST_F(DeleteEditTest, AnAbortedWimlibSaveLeavesEveryFileAsItWas) {
  UseBackend(kBackendWimlib);
  std::wstring noise;
  std::wstring wim = MakeNoiseWim(L"big.wim", 20, 5 << 20, &noise);
  UnixResult appended =
      RunUnix("wimlib-imagex append " + ShQuote(UnixPath(noise)) + " " + ShQuote(UnixPath(wim)) + " Second 2>&1");
  ASSERT_EQ(appended.exitCode, 0) << appended.output;
  const std::string before = ReadFileBytes(wim);
  std::wstring copy = dir_ + L"\\copy.wim";
  ASSERT_TRUE(WriteFileBytes(copy, "old"));
  auto filesInDir = [&] {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dir_ + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::wstring> filesBefore = filesInDir();

  OpenDeletePage(wim, 2);
  SelectRows(List(), {0});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  EditRow(0, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Renamed"); });
  auto saveAndAbort = [&](int saveButton) {
    ClearMessages();
    HWND abort = GetDlgItem(deleteWnd(), IDC_DELETE_ABORT);
    // "中止" pressed at once, before the save's worker can get far.
    OnUiThread([&] {
      SendMessageW(deleteWnd(), WM_COMMAND, MAKEWPARAM(saveButton, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(deleteWnd(), saveButton)));
      EXPECT_TRUE(host().deletePage().IsSaving());
      EXPECT_TRUE(IsWindowVisible(abort));
      EXPECT_EQ(WindowText(abort), L"中止");
      SendMessageW(deleteWnd(), WM_COMMAND, MAKEWPARAM(IDC_DELETE_ABORT, BN_CLICKED), reinterpret_cast<LPARAM>(abort));
    });
    EXPECT_TRUE(WaitForMessage(L"操作被取消.", 120000));
    ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 120000));
    bool asked = false;
    for (const ShownMessage& m : Messages()) {
      asked = asked || m.text == L"是否要中止当前操作?";
      EXPECT_EQ(m.text.find(L"保存失败"), std::wstring::npos) << Utf8(m.text);
    }
    EXPECT_TRUE(asked);
    EXPECT_FALSE(IsWindowVisible(abort));
  };

  saveAndAbort(IDC_DELETE_SAVE);
  EXPECT_TRUE(ReadFileBytes(wim) == before);
  EXPECT_EQ(filesInDir(), filesBefore);
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  // The list shows the file as it still is.
  ASSERT_EQ(Rows(List()), 2);

  SelectRows(List(), {0});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  EditRow(0, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Renamed"); });
  QueueFileAnswer({copy});
  saveAndAbort(IDC_DELETE_SAVE_AS);
  EXPECT_EQ(ReadFileBytes(copy), "old");
  EXPECT_TRUE(ReadFileBytes(wim) == before);
  EXPECT_EQ(filesInDir(), filesBefore);

  // A save that is let run writes the changes.
  SelectRows(List(), {0});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  EditRow(0, [](HWND dialog) { SetEdit(dialog, IDC_EDIT_NAME, L"Renamed"); });
  SaveInPlace();
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_EQ(InfoField(wim, 1, "Name"), "Renamed");
}

INSTANTIATE_TEST_SUITE_P(Backends, DeleteEditTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });
