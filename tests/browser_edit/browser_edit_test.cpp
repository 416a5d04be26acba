// The browser page as an editor, driven as the real page: on an image
// captured from an NTFS volume (files with security descriptors, short
// names and attributes of their own), a folder of three files is dropped in,
// a file renamed in place, a folder deleted and the whole saved; then
// wimlib-imagex shows exactly those changes and every other file as it was.
// Undo, discard and leaving the image leave the file byte-identical, every
// refusal of a save is told and writes nothing, and a save stopped with
// "中止" leaves the file byte-identical.
#include "../look_inside/look_fixture.h"

#include <algorithm>
#include <mutex>

#include <shlobj.h>

#include "held_operation.h"
#include "resources/ids_browser_edit.h"
#include "resources/resource.h"
#include "win/message_box.h"

namespace {
using namespace look;
using qtest::WaitUntil;

struct Shown {
  std::wstring text;
  UINT style;
};

// A data object of the shell for files of one folder, as Explorer offers
// them in a drag.
ComPtr<IDataObject> ShellData(const std::wstring& folder, const std::vector<std::wstring>& names) {
  ComPtr<IDataObject> data;
  ComPtr<IShellFolder> desktop, parent;
  if (FAILED(SHGetDesktopFolder(desktop.put()))) return data;
  PIDLIST_RELATIVE folderId = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(folder.c_str()), nullptr, &folderId,
                                       nullptr)))
    return data;
  HRESULT bound = desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(parent.put()));
  CoTaskMemFree(folderId);
  if (FAILED(bound)) return data;
  std::vector<PCUITEMID_CHILD> children;
  for (const std::wstring& name : names) {
    PIDLIST_RELATIVE child = nullptr;
    if (SUCCEEDED(parent->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.c_str()), nullptr, &child,
                                           nullptr)))
      children.push_back(child);
  }
  if (children.size() == names.size())
    parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject, nullptr,
                          reinterpret_cast<void**>(data.put()));
  for (PCUITEMID_CHILD child : children) CoTaskMemFree(const_cast<ITEMID_CHILD*>(child));
  return data;
}

class BrowserEditTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    previous_ = SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring&, UINT style) {
      std::lock_guard<std::mutex> lock(mutex_);
      shown_.push_back({text, style});
      UINT buttons = style & 0xF;
      if (buttons == MB_OK) return IDOK;
      if (text == L"是否要中止当前操作?") return IDYES;
      return answer_;
    });
    dir_ = qtest::TempDir();
    wim_ = dir_ + L"\\ntfs.wim";
    if (GetEnvironmentVariableA("QUARRY_BENCH_WIM", nullptr, 0)) return;
    if (!qtest::MakeNtfsVolumeWim(dir_, wim_)) GTEST_SKIP() << "no mkntfs/ntfs-3g, or not root";
  }
  void TearDown() override {
    SetMessageBoxHandler(previous_);
    FrameTest::TearDown();
  }

  CPage_Browser& Page() { return dialog_->browserPage(); }
  HWND List() { return Page().Item(IDC_BROWSER_LIST); }
  std::wstring Status() { return qtest::WindowText(Page().Item(IDC_BROWSER_EDIT_STATUS)); }
  void Open(const std::wstring& wim) {
    dialog_->JumpTo(ID_JUMP_BROWSER, wim);
    ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }));
  }
  int Row(const std::wstring& name) { return FindRow(List(), 0, name); }
  std::vector<std::wstring> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::wstring> texts;
    for (const Shown& s : shown_) texts.push_back(s.text);
    return texts;
  }
  bool Told(const std::wstring& part) {
    for (const std::wstring& text : Messages())
      if (text.find(part) != std::wstring::npos) return true;
    return false;
  }
  void ClearMessages() {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.clear();
  }
  DWORD Drop(const std::wstring& folder, const std::vector<std::wstring>& names) {
    ComPtr<IDataObject> data = ShellData(folder, names);
    EXPECT_TRUE(data);
    if (!data) return DROPEFFECT_NONE;
    OleDropHandler& target = Page();
    return target.OnOleDrop(data.get(), DROPEFFECT_COPY | DROPEFFECT_LINK, POINTL{100, 100});
  }
  void Press(int id) {
    SendMessageW(Page().hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Page().Item(id)));
  }
  void Key(int row, WORD key) {
    SelectRows(List(), {row});
    SendMessageW(List(), WM_KEYDOWN, key, 0);
  }
  // F2, the new name typed into the label's edit box, Enter.
  void RenameInPlace(const std::wstring& from, const std::wstring& to) {
    int row = Row(from);
    ASSERT_GE(row, 0) << qtest::Utf8(from);
    Key(row, VK_F2);
    HWND edit = ListView_GetEditControl(List());
    ASSERT_TRUE(edit);
    SetWindowTextW(edit, to.c_str());
    SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
    qtest::Flush();
    ASSERT_TRUE(WaitUntil([&] { return ListView_GetEditControl(List()) == nullptr; }));
  }
  void WaitSaved() {
    ASSERT_TRUE(WaitUntil([&] { return !Page().saving() && !dialog_->runner().Busy() && !Page().listing(); }, 120000));
  }
  // A folder of three files on the computer, ready to be dropped.
  std::wstring MakeDropFolder() {
    std::wstring folder = dir_ + L"\\drop\\tools";
    EXPECT_TRUE(qtest::MakeDirs(folder));
    std::string text;
    for (int i = 0; i < 3000; i++) text += "line of a script that compresses well\r\n";
    EXPECT_TRUE(qtest::WriteFileBytes(folder + L"\\setup.cmd", text));
    EXPECT_TRUE(qtest::WriteFileBytes(folder + L"\\unattend.xml", "<unattend/>"));
    EXPECT_TRUE(qtest::WriteFileBytes(folder + L"\\empty.txt", ""));
    return folder;
  }

  MessageBoxHandler previous_;
  std::mutex mutex_;
  std::vector<Shown> shown_;
  int answer_ = IDYES;
  std::wstring dir_, wim_;
};

std::string Listing(const std::wstring& wim) {
  return Imagex("dir " + Q(wim) + " 1").output;
}

TEST_F(BrowserEditTest, ADroppedFolderARenameAndADeletionAreSavedAndNothingElseChanges) {
  const std::map<std::string, std::string> before = qtest::ImageMetadata(wim_, 1);
  ASSERT_TRUE(before.count("\"/a.txt\"") && before.count("\"/b.txt\"") && before.count("\"/.hidden\""));
  const std::string oldBytes = qtest::ReadFileBytes(wim_);
  std::wstring tools = MakeDropFolder();
  Open(wim_);
  EXPECT_EQ(Status(), L"没有尚未保存的更改");
  EXPECT_FALSE(IsWindowEnabled(Page().Item(IDC_BROWSER_SAVE)));

  // The drop: one folder of three files.
  EXPECT_NE(Drop(dir_ + L"\\drop", {L"tools"}), static_cast<DWORD>(DROPEFFECT_NONE));
  int row = Row(L"tools");
  ASSERT_GE(row, 0);
  EXPECT_EQ(Cell(List(), row, 1).find(L"(待添加)"), 0u) << qtest::Utf8(Cell(List(), row, 1));
  EXPECT_EQ(Status(), L"1 项更改尚未保存");

  // A rename to a name Windows cannot hold, and to one the folder has, is
  // refused and changes nothing; then a good one.
  ClearMessages();
  RenameInPlace(L"b.txt", L"con.txt");
  EXPECT_TRUE(Told(L"不能用作 Windows 的文件名"));
  RenameInPlace(L"b.txt", L"A.TXT");
  EXPECT_TRUE(Told(L"已有名为 “A.TXT” 的项目"));
  EXPECT_EQ(Status(), L"1 项更改尚未保存");
  RenameInPlace(L"b.txt", L"renamed.txt");
  row = Row(L"renamed.txt");
  ASSERT_GE(row, 0);
  EXPECT_EQ(Cell(List(), row, 1).find(L"(待重命名)"), 0u);
  EXPECT_LT(Row(L"b.txt"), 0);
  // A row renamed but not saved yet is taken out of the image from where
  // it is now.
  std::wstring taken = dir_ + L"\\taken";
  ASSERT_TRUE(qtest::MakeDirs(taken));
  SelectRows(List(), {row});
  Page().ExtractTo(taken);
  std::vector<std::wstring> takenNames = qtest::NamesIn(taken);
  ASSERT_EQ(takenNames.size(), 1u);
  EXPECT_EQ(qtest::ReadFileBytes(taken + L"\\" + takenNames[0]), "two\n");

  // The deletion asks once, naming how many.
  ClearMessages();
  Key(Row(L"d"), VK_DELETE);
  EXPECT_EQ(Messages(), std::vector<std::wstring>{L"要从映像中删除选中的 1 个项目吗?"});
  ASSERT_GE(Row(L"d"), 0);
  EXPECT_EQ(Cell(List(), Row(L"d"), 1).find(L"(待删除)"), 0u);
  EXPECT_EQ(Status(), L"3 项更改尚未保存");
  // Nothing is written before "保存".
  EXPECT_TRUE(qtest::ReadFileBytes(wim_) == oldBytes);
  ShotIfAsked("browser_edit");

  ClearMessages();
  Press(IDC_BROWSER_SAVE);
  WaitSaved();
  EXPECT_TRUE(Messages().empty()) << qtest::Utf8(Messages().empty() ? L"" : Messages()[0]);
  EXPECT_EQ(Status(), L"没有尚未保存的更改");
  EXPECT_GE(Row(L"renamed.txt"), 0);
  EXPECT_LT(Row(L"d"), 0);
  EXPECT_EQ(Cell(List(), Row(L"tools"), 1).find(L"(待"), std::wstring::npos);

  // The judge: exactly these changes.
  std::string listing = Listing(wim_);
  for (const char* path : {"/tools\n", "/tools/setup.cmd", "/tools/unattend.xml", "/tools/empty.txt",
                           "/renamed.txt", "/a.txt", "/.hidden"})
    EXPECT_NE(listing.find(path), std::string::npos) << path << "\n" << listing;
  for (const char* path : {"/b.txt", "/d\n", "/d/c.txt", "/d/change.txt"})
    EXPECT_EQ(listing.find(path), std::string::npos) << path << "\n" << listing;
  const std::map<std::string, std::string> after = qtest::ImageMetadata(wim_, 1);
  EXPECT_EQ(after.at("\"/a.txt\""), before.at("\"/a.txt\""));
  EXPECT_EQ(after.at("\"/.hidden\""), before.at("\"/.hidden\""));
  // The renamed file keeps its descriptor, attributes and times; its short
  // name went with the old name.
  auto withoutShortName = [](std::string text) {
    size_t at = text.find("Short Name");
    if (at != std::string::npos) text.erase(at, text.find('\n', at) - at + 1);
    return text;
  };
  EXPECT_EQ(withoutShortName(after.at("\"/renamed.txt\"")), withoutShortName(before.at("\"/b.txt\"")));
  EXPECT_EQ(Imagex("verify " + Q(wim_)).exitCode, 0);

  // The contents, taken out by the judge.
  std::wstring out = dir_ + L"\\out";
  ASSERT_EQ(Imagex("apply " + Q(wim_) + " 1 " + Q(out)).exitCode, 0);
  EXPECT_EQ(qtest::ReadFileBytes(out + L"\\a.txt"), "one\n");
  EXPECT_EQ(qtest::ReadFileBytes(out + L"\\renamed.txt"), "two\n");
  EXPECT_EQ(qtest::ReadFileBytes(out + L"\\.hidden"), "hidden\n");
  EXPECT_TRUE(qtest::ReadFileBytes(out + L"\\tools\\setup.cmd") == qtest::ReadFileBytes(tools + L"\\setup.cmd"));
  EXPECT_EQ(qtest::ReadFileBytes(out + L"\\tools\\unattend.xml"), "<unattend/>");

  // The save appended: what the file held after its header is still there,
  // and the added data is compressed as the image is.
  const std::string newBytes = qtest::ReadFileBytes(wim_);
  ASSERT_GT(newBytes.size(), oldBytes.size());
  EXPECT_TRUE(newBytes.compare(208, oldBytes.size() - 208, oldBytes, 208, oldBytes.size() - 208) == 0);
  std::string detailed = Imagex("dir " + Q(wim_) + " 1 --path=/tools/setup.cmd --detailed").output;
  size_t uncompressed = detailed.find("Uncompressed size");
  size_t compressed = detailed.find("Compressed size");
  ASSERT_NE(uncompressed, std::string::npos) << detailed;
  ASSERT_NE(compressed, std::string::npos) << detailed;
  long long u = atoll(detailed.c_str() + detailed.find('=', uncompressed) + 1);
  long long c = atoll(detailed.c_str() + detailed.find('=', compressed) + 1);
  EXPECT_GT(u, 0);
  EXPECT_LT(c, u / 4) << detailed;
}

TEST_F(BrowserEditTest, UndoDiscardAndLeavingTheImageLeaveTheFileByteIdentical) {
  const std::string oldBytes = qtest::ReadFileBytes(wim_);
  MakeDropFolder();
  Open(wim_);
  const std::vector<std::wstring> rowsBefore = Column(List(), 0);
  Drop(dir_ + L"\\drop", {L"tools"});
  Key(Row(L"a.txt"), VK_DELETE);
  EXPECT_EQ(Status(), L"2 项更改尚未保存");
  Press(IDC_BROWSER_UNDO);
  EXPECT_EQ(Status(), L"1 项更改尚未保存");
  EXPECT_EQ(Cell(List(), Row(L"a.txt"), 1).find(L"(待"), std::wstring::npos);

  // Discard asks first; "no" keeps the changes.
  answer_ = IDNO;
  ClearMessages();
  Press(IDC_BROWSER_DISCARD);
  EXPECT_EQ(Messages(), std::vector<std::wstring>{L"要放弃全部 1 项更改吗?"});
  EXPECT_EQ(Status(), L"1 项更改尚未保存");
  answer_ = IDYES;
  Press(IDC_BROWSER_DISCARD);
  EXPECT_EQ(Status(), L"没有尚未保存的更改");
  EXPECT_EQ(Column(List(), 0), rowsBefore);
  EXPECT_TRUE(qtest::ReadFileBytes(wim_) == oldBytes);

  // Leaving the image with a change pending asks whether to save: "cancel"
  // stays, "no" leaves without writing.
  Key(Row(L"b.txt"), VK_DELETE);
  answer_ = IDCANCEL;
  ClearMessages();
  Press(IDC_BROWSER_UP);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].find(L"项更改尚未保存。\n是否保存?"), std::wstring::npos) << qtest::Utf8(Messages()[0]);
  EXPECT_EQ(Page().mode(), CPage_Browser::kInsideImage);
  answer_ = IDNO;
  Press(IDC_BROWSER_UP);
  EXPECT_EQ(Page().mode(), CPage_Browser::kComputer);
  EXPECT_TRUE(qtest::ReadFileBytes(wim_) == oldBytes);

  // Closing the window asks too; "yes" saves, and the window closes once
  // the save is done.
  Open(wim_);
  answer_ = IDYES;
  Key(Row(L"b.txt"), VK_DELETE);
  ClearMessages();
  dialog_->RequestClose();
  EXPECT_TRUE(Page().saving());
  WaitSaved();
  qtest::Flush();
  EXPECT_EQ(Listing(wim_).find("/b.txt"), std::string::npos);
  EXPECT_EQ(Imagex("verify " + Q(wim_)).exitCode, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(main_); }));
}

TEST_F(BrowserEditTest, EverySaveThatCannotBeSafeIsRefusedWithItsReasonAndWritesNothing) {
  MakeDropFolder();
  auto pending = [&](const std::wstring& wim) {
    Open(wim);
    Drop(dir_ + L"\\drop", {L"tools"});
    ASSERT_EQ(Status(), L"1 项更改尚未保存");
  };
  auto refused = [&](const std::wstring& wim, const std::wstring& reason) {
    const std::string bytes = qtest::ReadFileBytes(wim);
    ClearMessages();
    Press(IDC_BROWSER_SAVE);
    EXPECT_FALSE(Page().saving());
    EXPECT_TRUE(Told(reason)) << qtest::Utf8(reason) << " / "
                              << qtest::Utf8(Messages().empty() ? L"(nothing told)" : Messages()[0]);
    EXPECT_TRUE(qtest::ReadFileBytes(wim) == bytes);
    EXPECT_EQ(Status(), L"1 项更改尚未保存");
  };

  // A read-only file.
  pending(wim_);
  ASSERT_TRUE(SetFileAttributesW(wim_.c_str(), FILE_ATTRIBUTE_READONLY));
  refused(wim_, L"是只读文件, 不能保存更改");
  SetFileAttributesW(wim_.c_str(), FILE_ATTRIBUTE_NORMAL);

  // A file another program wrote since it was listed.
  ASSERT_EQ(Imagex("info " + Q(wim_) + " 1 Renamed").exitCode, 0);
  refused(wim_, L"在列出后已被修改, 没有写入任何更改");

  // While the task queue runs.
  answer_ = IDNO;
  Press(IDC_BROWSER_UP);  // leave, dropping the change
  pending(wim_);
  {
    qtest::HeldOperation queue(dialog_->runner(), true);
    ASSERT_TRUE(queue.started());
    refused(wim_, L"任务队列正在执行");
  }
  ASSERT_TRUE(WaitUntil([&] { return !dialog_->runner().Busy(); }));

  // A part of a split set.
  Press(IDC_BROWSER_UP);
  std::wstring whole = dir_ + L"\\whole.wim", part = dir_ + L"\\set.swm";
  ASSERT_EQ(qtest::RunUnix("head -c 3000000 /dev/urandom > " + Q(dir_ + L"\\drop\\tools\\noise.bin")).exitCode, 0);
  ASSERT_TRUE(Capture(dir_ + L"\\drop", whole, "Whole", "--compress=none"));
  ASSERT_EQ(Imagex("split " + Q(whole) + " " + Q(part) + " 1").exitCode, 0);
  answer_ = IDYES;  // the set holds "tools" already: replaced
  pending(part);
  refused(part, L"是分卷映像的一部分");
  answer_ = IDNO;
  Press(IDC_BROWSER_UP);

  // A file one of whose images is mounted (read-only, as a copy).
  {
    std::wstring folder = dir_ + L"\\mnt";
    ASSERT_TRUE(qtest::MakeDirs(folder));
    SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1");
    MountRequest mount;
    mount.wimPath = wim_;
    mount.folder = folder;
    int mounted = MakeEngine(app_->backends, app_->Choice(kBackendWimgapi))->Mount(mount);
    SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr);
    ASSERT_EQ(mounted, 0);
    answer_ = IDYES;
    pending(wim_);
    refused(wim_, L"的映像已挂载于");
    answer_ = IDNO;
    Press(IDC_BROWSER_UP);
    app_->backends.wimgapi.UnmountImage(folder.c_str(), nullptr, 0, FALSE);
  }

  // Without wimlib's update call the page says why and takes no change.
  WimlibTable& api = app_->backends.wimlib;
  PFN_wimlib_update_image update = api.update_image;
  api.update_image = nullptr;
  Open(wim_);
  EXPECT_EQ(Status(), L"编辑映像需要 wimlib: libwim-15.dll 未载入, 或它没有 wimlib_update_image.");
  EXPECT_FALSE(IsWindowEnabled(Page().Item(IDC_BROWSER_SAVE)));
  ClearMessages();
  EXPECT_EQ(Drop(dir_ + L"\\drop", {L"tools"}), static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_TRUE(Told(L"编辑映像需要 wimlib"));
  EXPECT_TRUE(Page().edits().empty());
  api.update_image = update;
}

TEST_F(BrowserEditTest, ASaveStoppedWithAbortLeavesTheFileByteIdenticalAndTheChangesPending) {
  // Enough data that the write is still under way when it is stopped.
  std::wstring big = dir_ + L"\\big";
  ASSERT_TRUE(qtest::MakeDirs(big));
  ASSERT_EQ(qtest::RunUnix("head -c 40000000 /dev/urandom > " + Q(big + L"\\noise.bin")).exitCode, 0);
  const std::string oldBytes = qtest::ReadFileBytes(wim_);
  Open(wim_);
  Drop(dir_, {L"big"});
  ASSERT_EQ(Status(), L"1 项更改尚未保存");
  ClearMessages();
  // "中止" once the write is under way.
  Press(IDC_BROWSER_SAVE);
  ASSERT_TRUE(Page().saving());
  HWND bar = Page().Item(IDC_BROWSER_PROGRESS);
  ASSERT_TRUE(WaitUntil([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) > 0 || !Page().saving(); }, 120000));
  ASSERT_TRUE(Page().saving()) << "the save ended before it could be stopped";
  EXPECT_TRUE(IsWindowVisible(Page().Item(IDC_BROWSER_ABORT)));
  EXPECT_EQ(qtest::WindowText(Page().Item(IDC_BROWSER_ABORT)), L"中止");
  Press(IDC_BROWSER_ABORT);
  WaitSaved();
  EXPECT_TRUE(Told(L"是否要中止当前操作?"));
  EXPECT_TRUE(Told(L"操作被取消."));
  EXPECT_TRUE(qtest::ReadFileBytes(wim_) == oldBytes);
  EXPECT_EQ(Imagex("verify " + Q(wim_)).exitCode, 0);
  EXPECT_EQ(Status(), L"1 项更改尚未保存");
  EXPECT_FALSE(IsWindowVisible(Page().Item(IDC_BROWSER_ABORT)));
  // Nothing was left beside the file.
  EXPECT_EQ(qtest::NamesIn(dir_), (std::vector<std::wstring>{L"big", L"ntfs.wim", L"vm", L"vol.img"}));

  // Let run, the same save writes the change.
  ClearMessages();
  Press(IDC_BROWSER_SAVE);
  WaitSaved();
  EXPECT_EQ(Status(), L"没有尚未保存的更改");
  EXPECT_NE(Listing(wim_).find("/big/noise.bin"), std::string::npos);
  EXPECT_EQ(Imagex("verify " + Q(wim_)).exitCode, 0);
}

}  // namespace

namespace {

double ProcessCpuSeconds() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// Not a test: bench/edit.sh runs it to time one file dropped into an image
// and saved through the page (QUARRY_BENCH_WIM, QUARRY_BENCH_FILE), and
// prints the process's CPU time and the wall time of the save.
class EditBench : public BrowserEditTest {};

TEST_F(EditBench, DISABLED_OneFileIntoABigImage) {
  char wim[1024] = {}, file[1024] = {};
  ASSERT_TRUE(GetEnvironmentVariableA("QUARRY_BENCH_WIM", wim, sizeof(wim)));
  ASSERT_TRUE(GetEnvironmentVariableA("QUARRY_BENCH_FILE", file, sizeof(file)));
  std::wstring path = qtest::Wide(file);
  size_t slash = path.rfind(L'\\');
  Open(qtest::Wide(wim));
  ASSERT_NE(Drop(path.substr(0, slash), {path.substr(slash + 1)}), static_cast<DWORD>(DROPEFFECT_NONE));
  const double cpu = ProcessCpuSeconds();
  const DWORD start = GetTickCount();
  Press(IDC_BROWSER_SAVE);
  WaitSaved();
  printf("quarry-edit cpu %.3f wall %.3f\n", ProcessCpuSeconds() - cpu, (GetTickCount() - start) / 1000.0);
  EXPECT_EQ(Status(), L"没有尚未保存的更改");
}

}  // namespace
