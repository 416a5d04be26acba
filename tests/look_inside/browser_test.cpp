// The browser page: drives and folders of the computer, the images of a
// WIM file and the folders inside them (compared with what wimlib-imagex
// lists), sorting, extraction compared byte for byte and its failures,
// extract-and-open and its folders, the refusal while the queue runs, "U",
// the drag-out's creation notice (a drive root too) and the Properties data.
#include "look_fixture.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "held_operation.h"

#include "pages/browser_lister.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/messages.h"
#include "win/window_thread.h"

namespace {
using namespace look;
using qtest::WaitUntil;

// Holds the browser's folder reads on their worker: each read, numbered
// from 1, waits in the hook before it touches the file until its number is
// let through. Opens and goes with the test, so that no read is left
// waiting; a read still in the hook then keeps what it waits on alive.
class ReadGate {
 public:
  ReadGate() : shared_(std::make_shared<Shared>()) {
    previous_ = SetFolderReadHook([shared = shared_] {
      std::unique_lock<std::mutex> hold(shared->lock);
      const int number = ++shared->entered;
      shared->moved.notify_all();
      shared->moved.wait(hold, [&] { return number <= shared->allowed; });
    });
  }
  ~ReadGate() {
    Open();
    SetFolderReadHook(previous_);
  }
  void Open() { LetThrough(INT_MAX); }
  // Reads up to `number` go on; later ones wait.
  void LetThrough(int number) {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->allowed = number;
    shared_->moved.notify_all();
  }
  int Entered() {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->entered;
  }

 private:
  struct Shared {
    std::mutex lock;
    std::condition_variable moved;
    int allowed = 0;
    int entered = 0;
  };
  std::shared_ptr<Shared> shared_;
  FolderReadHook previous_;
};

// The titles of every visible top-level window, for a failure message.
std::string AllTitles() {
  std::string titles;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        if (IsWindowVisible(hwnd)) *reinterpret_cast<std::string*>(param) += qtest::Utf8(qtest::WindowText(hwnd)) + "|";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&titles));
  return titles;
}

class BrowserPageTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    dir_ = qtest::TempDir();
    source_ = dir_ + L"\\src";
    qtest::MakeSampleTree(source_);
    wim_ = dir_ + L"\\one.wim";
    ASSERT_TRUE(Capture(source_, wim_, "One"));
  }
  CPage_Browser& Page() { return dialog_->browserPage(); }
  HWND List() { return Page().Item(IDC_BROWSER_LIST); }
  std::vector<std::wstring> Names() { return Column(List(), 0); }
  void Open(const std::wstring& wim) { dialog_->JumpTo(ID_JUMP_BROWSER, wim); }
  void DoubleClick(int row) {
    RECT r;
    ASSERT_TRUE(ListView_GetItemRect(List(), row, &r, LVIR_LABEL));
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageW(List(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(List(), WM_LBUTTONUP, 0, at);
  }
  void ClickHeader(int column) { ASSERT_TRUE(ClickListHeader(List(), column)); }
  int RowIcon(int row) {
    LVITEMW item = {LVIF_IMAGE};
    item.iItem = row;
    return ListView_GetItem(List(), &item) ? item.iImage : -1;
  }
  static int SystemIcon(const wchar_t* name, DWORD attributes) {
    SHFILEINFOW info = {};
    if (!SHGetFileInfoW(name, attributes, &info, sizeof(info), SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
      return -2;
    return info.iIcon;
  }
  bool NamesAre(std::vector<std::wstring> expected) {
    std::vector<std::wstring> names = Names();
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    return names == expected;
  }
  std::wstring Location() { return qtest::WindowText(Page().Item(IDC_BROWSER_LOCATION)); }
  std::vector<std::wstring> SelectedNames() {
    std::vector<std::wstring> names;
    for (int row = ListView_GetNextItem(List(), -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(List(), row, LVNI_SELECTED))
      names.push_back(Cell(List(), row, 0));
    return names;
  }
  // A click on the name of a row, with MK_SHIFT or MK_CONTROL as `keys`.
  void ClickRow(int row, WPARAM keys) {
    RECT r;
    ASSERT_TRUE(ListView_GetItemRect(List(), row, &r, LVIR_LABEL));
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageW(List(), WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    PostMessageW(List(), WM_LBUTTONUP, keys, at);
  }
  // Every message box of the test is answered at once and its text kept.
  void CatchMessages() {
    SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring&, UINT) {
      std::lock_guard<std::mutex> hold(messagesLock_);
      messages_.push_back(text);
      return IDOK;
    });
  }
  std::vector<std::wstring> Messages() {
    std::lock_guard<std::mutex> hold(messagesLock_);
    return messages_;
  }
  void TearDown() override {
    SetMessageBoxHandler(nullptr);
    FrameTest::TearDown();
  }
  // The extract-and-open folders below `temp`.
  static std::vector<std::wstring> OpenFolders(const std::wstring& temp) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((temp + L"\\QuarryOpen-*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
  }
  std::wstring dir_, source_, wim_;
  std::mutex messagesLock_;
  std::vector<std::wstring> messages_;
};

// A visible dialog of this process other than `main`, null when none.
HWND OtherDialog(HWND main) {
  struct Search {
    HWND main, found;
  } search{main, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* search = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != GetCurrentProcessId() || hwnd == search->main || !IsWindowVisible(hwnd)) return TRUE;
        if (qtest::ClassName(hwnd) != L"#32770") return TRUE;
        search->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST_F(BrowserPageTest, DrivesThenAFolderOfTheComputer) {
  ClickTab(4);
  ASSERT_TRUE(WaitUntil([&] { return Page().IsVisible(); }, 20000));
  EXPECT_EQ(Location(), L"计算机");
  EXPECT_FALSE(IsWindowEnabled(Page().Item(IDC_BROWSER_UP)));
  int c = -1;
  for (int row = 0; row < ListView_GetItemCount(List()); row++)
    if (Page().ItemOfRow(row)->path == L"C:\\") c = row;
  ASSERT_GE(c, 0);
  Page().ListFolder(source_);
  EXPECT_EQ(Location(), source_);
  EXPECT_TRUE(NamesAre({L"sub", L"empty", L"small.txt", L"zero.bin", L"\u4e2d\u6587\u6587\u4ef6.txt"}));
  // Folders first, then files by name.
  EXPECT_EQ(Page().ItemOfRow(0)->kind, 0);
  EXPECT_EQ(Page().ItemOfRow(1)->kind, 0);
  EXPECT_EQ(Cell(List(), FindRow(List(), 0, L"small.txt"), 2), L"13 Bytes");
  // A double-click opens a folder; "U" goes back up.
  DoubleClick(FindRow(List(), 0, L"sub"));
  ASSERT_TRUE(WaitUntil([&] { return Location() == source_ + L"\\sub"; }, 20000));
  EXPECT_TRUE(NamesAre({L"deeper", L"big.bin", L"\U0001F600.txt"}));
  EXPECT_EQ(Cell(List(), FindRow(List(), 0, L"big.bin"), 2), L"293 KB");
  qtest::ClickButton(Page().hwnd(), IDC_BROWSER_UP);
  EXPECT_TRUE(WaitUntil([&] { return Location() == source_; }, 20000));
}

TEST_F(BrowserPageTest, OneImageOpensAtItsRootAndUpReturnsToItsFolder) {
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  EXPECT_TRUE(NamesAre({L"sub", L"empty", L"small.txt", L"zero.bin", L"\u4e2d\u6587\u6587\u4ef6.txt"}));
  // Each row shows the system's small icon of its type, as Explorer does.
  EXPECT_EQ(RowIcon(FindRow(List(), 0, L"small.txt")), SystemIcon(L"X:\\X.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(RowIcon(FindRow(List(), 0, L"sub")), SystemIcon(L"X:\\X", FILE_ATTRIBUTE_DIRECTORY));
  // The judge lists the same files with the same sizes.
  std::string listing = Imagex("dir " + Q(wim_) + " 1 --path=/sub").output;
  EXPECT_NE(listing.find("/sub/big.bin"), std::string::npos);
  DoubleClick(FindRow(List(), 0, L"sub"));
  ASSERT_TRUE(WaitUntil([&] { return Location() == L"\\sub"; }, 20000));
  EXPECT_TRUE(NamesAre({L"deeper", L"big.bin", L"\U0001F600.txt"}));
  EXPECT_EQ(Cell(List(), FindRow(List(), 0, L"big.bin"), 2), L"300000 Bytes");
  EXPECT_FALSE(Cell(List(), FindRow(List(), 0, L"big.bin"), 3).empty());
  qtest::ClickButton(Page().hwnd(), IDC_BROWSER_UP);
  ASSERT_TRUE(WaitUntil([&] { return Location() == L"\\"; }, 20000));
  qtest::ClickButton(Page().hwnd(), IDC_BROWSER_UP);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kComputer; }, 20000));
  EXPECT_EQ(Location(), dir_);
  EXPECT_GE(FindRow(List(), 0, L"one.wim"), 0);
}

TEST_F(BrowserPageTest, ThreeImagesAreListedAndEachOpens) {
  std::wstring three = dir_ + L"\\three.wim";
  ASSERT_TRUE(Capture(source_, three, "A"));
  ASSERT_TRUE(Capture(source_ + L"\\sub", three, "B"));
  ASSERT_TRUE(Capture(source_ + L"\\sub\\deeper", three, "C"));
  Open(three);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kImageList; }, 20000));
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Image 1", L"Image 2", L"Image 3"}));
  EXPECT_FALSE(IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)));
  DoubleClick(1);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  EXPECT_EQ(Page().image(), 2);
  EXPECT_TRUE(NamesAre({L"deeper", L"big.bin", L"\U0001F600.txt"}));
  qtest::ClickButton(Page().hwnd(), IDC_BROWSER_UP);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kImageList; }, 20000));
  EXPECT_EQ(ListView_GetItemCount(List()), 3);
}

TEST_F(BrowserPageTest, ADamagedImageCountListsOnlyTheImagesTheFileHolds) {
  std::wstring wim = dir_ + L"\\damaged.wim";
  ASSERT_TRUE(Capture(source_, wim, "A"));
  ASSERT_TRUE(Capture(source_ + L"\\sub", wim, "B"));
  std::string bytes = qtest::ReadFileBytes(wim);
  bytes.replace(44, 4, "\xFF\xFF\xFF\xFF");
  ASSERT_TRUE(qtest::WriteFileBytes(wim, bytes));
  Open(wim);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kImageList; }, 20000));
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"Image 1", L"Image 2"}));
}

TEST_F(BrowserPageTest, SizeColumnTwiceSortsDescendingWithFilesFirst) {
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  DoubleClick(FindRow(List(), 0, L"sub"));
  ASSERT_TRUE(WaitUntil([&] { return Location() == L"\\sub"; }, 20000));
  ClickHeader(2);
  ASSERT_TRUE(WaitUntil([&] { return Page().sortColumn() == 2; }, 20000));
  EXPECT_TRUE(Page().sortAscending());
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"deeper", L"\U0001F600.txt", L"big.bin"}));
  ClickHeader(2);
  ASSERT_TRUE(WaitUntil([&] { return !Page().sortAscending(); }, 20000));
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"big.bin", L"\U0001F600.txt", L"deeper"}));
}

TEST_F(BrowserPageTest, SortingKeepsTheSelectedRows) {
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  DoubleClick(FindRow(List(), 0, L"sub"));
  ASSERT_TRUE(WaitUntil([&] { return Location() == L"\\sub"; }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"big.bin"), FindRow(List(), 0, L"deeper")});
  ASSERT_EQ(ListView_GetSelectedCount(List()), 2u);
  ClickHeader(2);
  ASSERT_TRUE(WaitUntil([&] { return Page().sortColumn() == 2; }, 20000));
  EXPECT_EQ(SelectedNames(), (std::vector<std::wstring>{L"deeper", L"big.bin"}));
  ClickHeader(2);
  ASSERT_TRUE(WaitUntil([&] { return !Page().sortAscending(); }, 20000));
  EXPECT_EQ(SelectedNames(), (std::vector<std::wstring>{L"big.bin", L"deeper"}));
  EXPECT_TRUE(IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)));
}

// A shift-click selects a range of the owner-data list with one notice for
// the whole range: "提取..." follows it like any other selection.
TEST_F(BrowserPageTest, ARangeSelectionEnablesExtract) {
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  ClickRow(0, 0);
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetSelectedCount(List()) == 1; }, 20000));
  ClickRow(0, MK_CONTROL);  // the anchor stays, the selection goes
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetSelectedCount(List()) == 0; }, 20000));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)); }, 20000));
  ClickRow(2, MK_SHIFT);
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetSelectedCount(List()) == 3; }, 20000));
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)) != FALSE; }));
}

// "U" at the root of a one-image file whose folder can no longer be listed
// (moved away while it was open) goes to the nearest folder above that can.
TEST_F(BrowserPageTest, UpFromAnImageWhoseFolderIsGoneListsTheNearestFolderAbove) {
  std::wstring folder = dir_ + L"\\gone";
  ASSERT_TRUE(qtest::MakeDirs(folder));
  std::wstring wim = folder + L"\\one.wim";
  ASSERT_TRUE(CopyFileW(wim_.c_str(), wim.c_str(), TRUE));
  Open(wim);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  ASSERT_TRUE(MoveFileW(folder.c_str(), (dir_ + L"\\moved").c_str()));
  qtest::ClickButton(Page().hwnd(), IDC_BROWSER_UP);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kComputer; }, 20000))
      << "the view stayed on the rows of the image";
  EXPECT_EQ(Location(), dir_);
  EXPECT_GE(FindRow(List(), 0, L"moved"), 0);
  EXPECT_TRUE(IsWindowEnabled(Page().Item(IDC_BROWSER_UP)));
}

// A folder whose path is longer than 259 characters lists like any other,
// and "U" walks back out of it.
TEST_F(BrowserPageTest, AFolderWithALongPathIsListedAndLeftWithUp) {
  std::wstring deep = dir_;
  while (deep.size() < 300) deep += L"\\" + std::wstring(40, L'd');
  ASSERT_TRUE(qtest::MakeDirs(deep));
  ASSERT_TRUE(qtest::WriteFileBytes(deep + L"\\inside.txt", "x"));
  ClickTab(4);
  ASSERT_TRUE(WaitUntil([&] { return Page().IsVisible(); }, 20000));
  ASSERT_TRUE(Page().ListFolder(deep));
  EXPECT_EQ(Location(), deep);
  EXPECT_EQ(Names(), (std::vector<std::wstring>{L"inside.txt"}));
  qtest::ClickButton(Page().hwnd(), IDC_BROWSER_UP);
  ASSERT_TRUE(WaitUntil([&] { return Location().size() < deep.size(); }, 20000));
  EXPECT_EQ(Names(), (std::vector<std::wstring>{std::wstring(40, L'd')}));
}

TEST_F(BrowserPageTest, ExtractedFilesAndFoldersLandDirectlyInTheTarget) {
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"sub"), FindRow(List(), 0, L"small.txt")});
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)) != FALSE; }, 20000));
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));
  Page().ExtractTo(target);
  EXPECT_EQ(qtest::ReadFileBytes(target + L"\\small.txt"), qtest::ReadFileBytes(source_ + L"\\small.txt"));
  EXPECT_EQ(qtest::ReadFileBytes(target + L"\\sub\\big.bin"), qtest::ReadFileBytes(source_ + L"\\sub\\big.bin"));
  EXPECT_EQ(qtest::RunUnix("diff -r " + Q(source_ + L"\\sub") + " " + Q(target + L"\\sub")).exitCode, 0);
  EXPECT_EQ(GetFileAttributesW((target + L"\\zero.bin").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)));
}

TEST_F(BrowserPageTest, DragOutLandsWhereThePlaceholderWasCreated) {
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"sub")});
  // A drag that is cancelled leaves nothing pending.
  Page().BeginDragOut();
  Page().EndDragOut(DROPEFFECT_NONE);
  EXPECT_FALSE(Page().dragPending());

  std::wstring first = Page().BeginDragOut();
  Page().EndDragOut(DROPEFFECT_COPY);
  std::wstring second = Page().BeginDragOut();
  EXPECT_NE(first, second);
  std::wstring drop = dir_ + L"\\drop";
  ASSERT_TRUE(qtest::MakeDirs(drop));
  // A file of the same name that is not our hidden 128-byte placeholder is
  // left alone and does not end the wait.
  std::wstring other = dir_ + L"\\other";
  ASSERT_TRUE(qtest::MakeDirs(other));
  ASSERT_TRUE(qtest::WriteFileBytes(other + L"\\" + second, "a user's own file"));
  Page().OnShellCreated(other + L"\\" + second);
  EXPECT_EQ(qtest::ReadFileBytes(other + L"\\" + second), "a user's own file");
  EXPECT_TRUE(Page().dragPending());
  // Explorer's placeholder: hidden, 128 bytes; the shell reports it.
  std::wstring placeholder = drop + L"\\" + second;
  ASSERT_TRUE(qtest::WriteFileBytes(placeholder, std::string(128, '\0')));
  SetFileAttributesW(placeholder.c_str(), FILE_ATTRIBUTE_HIDDEN);
  PIDLIST_ABSOLUTE created = ILCreateFromPathW(placeholder.c_str());
  ASSERT_TRUE(created);
  PCIDLIST_ABSOLUTE pair[2] = {created, nullptr};
  PostMessageW(Page().hwnd(), UM_SHELL_CHANGE, reinterpret_cast<WPARAM>(pair), SHCNE_CREATE);
  EXPECT_TRUE(WaitUntil([&] { return !Page().dragPending(); }, 20000));
  EXPECT_TRUE(WaitUntil([&] { return qtest::ReadFileBytes(drop + L"\\sub\\big.bin").size() == 300000; }, 30000));
  EXPECT_EQ(qtest::RunUnix("diff -r " + Q(source_ + L"\\sub") + " " + Q(drop + L"\\sub")).exitCode, 0);
  EXPECT_EQ(GetFileAttributesW(placeholder.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW((other + L"\\" + second).c_str()), INVALID_FILE_ATTRIBUTES);
  ILFree(created);
}

TEST_F(BrowserPageTest, ExtractAndOpenKeepsTheFileWhileTheViewerRuns) {
  // Text files open in notepad; a fresh prefix may lack the ".txt" key that
  // points at its command, so the test adds it for the user when missing.
  HKEY key = nullptr;
  bool added = false;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".txt", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
  } else {
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, L"txtfile", 7), ERROR_SUCCESS);
    added = true;
  }
  struct Restore {
    bool added;
    ~Restore() {
      if (added) RegDeleteKeyW(HKEY_CLASSES_ROOT, L".txt");
    }
  } restore{added};
  app_->tempFolder = dir_ + L"\\temp";
  ASSERT_TRUE(qtest::MakeDirs(app_->tempFolder));
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  int row = FindRow(List(), 0, L"small.txt");
  ASSERT_TRUE(Page().ExtractAndOpen(row));
  // The file lands in a folder of its own below the temporary folder.
  std::wstring opened;
  ASSERT_TRUE(WaitUntil(
      [&] {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((app_->tempFolder + L"\\QuarryOpen-*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return false;
        FindClose(find);
        opened = app_->tempFolder + L"\\" + found.cFileName + L"\\small.txt";
        return qtest::ReadFileBytes(opened) == "hello quarry\n";
      },
      30000));
  // The viewer (Wine's notepad) shows it; while it is open the file stays.
  HWND viewer = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        viewer = nullptr;
        EnumWindows(
            [](HWND hwnd, LPARAM param) -> BOOL {
              if (IsWindowVisible(hwnd) && qtest::WindowText(hwnd).find(L"small") != std::wstring::npos) {
                *reinterpret_cast<HWND*>(param) = hwnd;
                return FALSE;
              }
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&viewer));
        return viewer != nullptr;
      },
      30000))
      << AllTitles();
  PostMessageW(viewer, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(viewer); }, 30000));
  // The program the shell started may not be the viewer, nor the last to
  // read the file: it stays as long as Quarry runs...
  EXPECT_TRUE(WaitUntil([&] { return OpenWorkersRunning() == 0; }, 30000));
  qtest::Flush();
  EXPECT_EQ(qtest::ReadFileBytes(opened), "hello quarry\n");
  // ... and its folder, and only it, goes when Quarry ends.
  std::wstring temp = app_->tempFolder;
  DestroyWindow(main_);
  app_->ExitInstance();
  EXPECT_EQ(GetFileAttributesW(opened.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(OpenFolders(temp).empty());
  EXPECT_NE(GetFileAttributesW(temp.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(BrowserPageTest, FoldersLeftByAnEndedQuarryGoAtTheNextStart) {
  std::wstring temp = dir_ + L"\\temp";
  ASSERT_TRUE(qtest::MakeDirs(temp));
  // A process that has ended, for the name of a folder it left behind.
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi = {};
  wchar_t command[] = L"cmd.exe /c exit";
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::wstring ended = temp + L"\\QuarryOpen-" + std::to_wstring(pi.dwProcessId) + L"-1-0";
  std::wstring running = temp + L"\\QuarryOpen-" + std::to_wstring(GetCurrentProcessId()) + L"-1-0";
  std::wstring someoneElses = temp + L"\\QuarryOpen-notes";
  for (const std::wstring& folder : {ended, running, someoneElses}) {
    ASSERT_TRUE(qtest::MakeDirs(folder));
    ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\small.txt", "hello quarry\n"));
  }
  DestroyWindow(main_);
  dialog_.reset();
  app_.reset();
  StartWith("[DIR]\r\nTemp=" + qtest::Utf8(temp) + "\r\n");
  EXPECT_EQ(GetFileAttributesW(ended.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(qtest::ReadFileBytes(running + L"\\small.txt"), "hello quarry\n");
  EXPECT_EQ(qtest::ReadFileBytes(someoneElses + L"\\small.txt"), "hello quarry\n");
}

TEST_F(BrowserPageTest, AnExtractionWritesItsFilesAndAFailedOpenIsToldAndLeavesNothing) {
  CatchMessages();
  app_->tempFolder = dir_ + L"\\temp";
  ASSERT_TRUE(qtest::MakeDirs(app_->tempFolder));
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  // Extraction with its own dialog.
  SelectRows(List(), {FindRow(List(), 0, L"sub")});
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));
  Page().ExtractTo(target);
  EXPECT_EQ(qtest::ReadFileBytes(target + L"\\sub\\big.bin"), qtest::ReadFileBytes(source_ + L"\\sub\\big.bin"));
  EXPECT_TRUE(Messages().empty());
  // Extract and open, from a file replaced under the page by one that is
  // no WIM: the failure is told and its folder goes at once.
  ASSERT_TRUE(DeleteFileW(wim_.c_str()));
  ASSERT_TRUE(qtest::WriteFileBytes(wim_, std::string(4096, 'z')));
  ASSERT_TRUE(Page().ExtractAndOpen(FindRow(List(), 0, L"small.txt")));
  ASSERT_TRUE(WaitUntil([&] { return !Messages().empty(); }, 30000));
  EXPECT_TRUE(WaitUntil([&] { return OpenWorkersRunning() == 0; }, 30000));
  std::vector<std::wstring> messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(L"small.txt"), std::wstring::npos) << qtest::Utf8(messages[0]);
  EXPECT_NE(messages[0].find(L"不是有效的 WIM 文件"), std::wstring::npos) << "why: " << qtest::Utf8(messages[0]);
  EXPECT_TRUE(OpenFolders(app_->tempFolder).empty());
}

TEST_F(BrowserPageTest, AFailedExtractionIsTold) {
  CatchMessages();
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"small.txt")});
  // The file is replaced under the page by something that is no WIM.
  ASSERT_TRUE(DeleteFileW(wim_.c_str()));
  ASSERT_TRUE(qtest::WriteFileBytes(wim_, std::string(4096, 'z')));
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));
  Page().ExtractTo(target);
  std::vector<std::wstring> messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(L"提取失败", 0), 0u) << qtest::Utf8(messages[0]);
  EXPECT_NE(messages[0].find(target), std::wstring::npos);
  EXPECT_NE(messages[0].find(L"不是有效的 WIM 文件"), std::wstring::npos) << "why: " << qtest::Utf8(messages[0]);
}

// "中止" on the extraction's dialog, pressed while a big extraction runs:
// once the user agrees, the extraction stops, the dialog closes and the
// page says it was cancelled, not that it failed.
TEST_F(BrowserPageTest, AbortStopsAnExtractionAndSaysSo) {
  std::wstring big = dir_ + L"\\big";
  ASSERT_TRUE(qtest::MakeDirs(big));
  qtest::UnixResult made =
      qtest::RunUnix("for i in $(seq 1 40); do head -c 6000000 /dev/urandom > " + Q(big) + "/noise$i.bin || exit 1; done");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  std::wstring wim = dir_ + L"\\big.wim";
  ASSERT_TRUE(Capture(big, wim, "Big", "--compress=none"));
  SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring&, UINT style) {
    std::lock_guard<std::mutex> hold(messagesLock_);
    messages_.push_back(text);
    return (style & 0xF) == MB_YESNO ? IDYES : IDOK;
  });
  Open(wim);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  std::vector<int> rows;
  for (int row = 0; row < ListView_GetItemCount(List()); row++) rows.push_back(row);
  ASSERT_EQ(rows.size(), 40u);
  SelectRows(List(), rows);
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));

  // The dialog is modal on this thread: another one presses "中止" as soon
  // as it shows.
  std::atomic<bool> pressed{false};
  std::thread presser([&] {
    HWND tip = nullptr;
    WaitUntil([&] { return (tip = OtherDialog(main_)) != nullptr && GetDlgItem(tip, IDC_EXTRACT_ABORT); }, 60000);
    HWND abort = tip ? GetDlgItem(tip, IDC_EXTRACT_ABORT) : nullptr;
    if (!abort || qtest::WindowText(abort) != L"中止") return;
    PostMessageW(tip, WM_COMMAND, MAKEWPARAM(IDC_EXTRACT_ABORT, BN_CLICKED), reinterpret_cast<LPARAM>(abort));
    pressed = true;
  });
  Page().ExtractTo(target);
  presser.join();
  ASSERT_TRUE(pressed);
  std::vector<std::wstring> messages = Messages();
  ASSERT_EQ(messages.size(), 2u) << AllTitles();
  EXPECT_EQ(messages[0], L"是否要中止当前操作?");
  EXPECT_EQ(messages[1], L"操作被取消.");
  EXPECT_TRUE(IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)));
}

TEST_F(BrowserPageTest, ExtractionIsRefusedWhileTheQueueRuns) {
  CatchMessages();
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"small.txt")});
  auto run = std::make_unique<qtest::HeldOperation>(dialog_->runner(), true);
  ASSERT_TRUE(run->started());
  // "提取...": the refusal comes before the folder chooser. A chooser that
  // shows all the same is cancelled, so the test cannot hang on it.
  std::atomic<bool> done{false}, chooserShown{false};
  std::thread guard([&] {
    while (!done) {
      HWND chooser = OtherDialog(main_);
      if (chooser) {
        chooserShown = true;
        PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
      }
      Sleep(100);
    }
  });
  Page().ExtractToPickedFolder();
  done = true;
  guard.join();
  EXPECT_FALSE(chooserShown);
  // A drop that ends while the queue runs extracts nothing either.
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));
  Page().ExtractTo(target);
  run.reset();  // the run ends
  EXPECT_EQ(GetFileAttributesW((target + L"\\small.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Messages(), std::vector<std::wstring>(2, L"任务队列正在执行, 请等待它完成或中止它."));
  EXPECT_EQ(Page().mode(), CPage_Browser::kInsideImage);
  EXPECT_EQ(ListView_GetSelectedCount(List()), 1u);
}

TEST_F(BrowserPageTest, ADropOnADriveRootLandsInThatRoot) {
  // The current directory is elsewhere on the same drive, where a bare "C:"
  // would lead.
  std::wstring cwd = dir_ + L"\\cwd";
  ASSERT_TRUE(qtest::MakeDirs(cwd));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(cwd.c_str()));
  std::wstring root = dir_.substr(0, 3);
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage; }, 20000));
  SelectRows(List(), {FindRow(List(), 0, L"small.txt")});
  std::wstring landed = root + L"small.txt";
  ASSERT_EQ(GetFileAttributesW(landed.c_str()), INVALID_FILE_ATTRIBUTES) << "a small.txt is in the way";
  std::wstring placeholder = root + Page().BeginDragOut();
  Page().EndDragOut(DROPEFFECT_COPY);
  ASSERT_TRUE(qtest::WriteFileBytes(placeholder, std::string(128, '\0')));
  SetFileAttributesW(placeholder.c_str(), FILE_ATTRIBUTE_HIDDEN);
  Page().OnShellCreated(placeholder);
  SetCurrentDirectoryW(previous);
  std::string bytes = qtest::ReadFileBytes(landed);
  DeleteFileW(landed.c_str());
  EXPECT_EQ(bytes, "hello quarry\n");
  EXPECT_EQ(GetFileAttributesW((cwd + L"\\small.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(placeholder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(BrowserPageTest, PropertiesDataHoldsEverySelectedPath) {
  std::wstring other = source_ + L"\\zero.bin";
  ComPtr<IDataObject> data = CPage_Browser::PropertiesData({wim_, other});
  ASSERT_TRUE(data);
  FORMATETC format = {static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_SHELLIDLIST)), nullptr,
                      DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  ASSERT_EQ(data->GetData(&format, &medium), S_OK);
  auto* ids = static_cast<CIDA*>(GlobalLock(medium.hGlobal));
  ASSERT_NE(ids, nullptr);
  EXPECT_EQ(ids->cidl, 2u);
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);
  EXPECT_FALSE(CPage_Browser::PropertiesData({dir_ + L"\\missing\\nothing.wim"}));
}

// A folder of an image is read off the window's thread: while it is read
// the rows shown stay usable, no change is taken for rows about to go, and
// only the newest listing asked for is shown.
TEST_F(BrowserPageTest, WhileAnImageFolderIsReadThePageStaysUsableAndOnlyTheNewestListingShows) {
  CatchMessages();
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage && !Page().listing(); }));
  const std::vector<std::wstring> root = {L"sub", L"empty", L"small.txt", L"zero.bin", L"\u4e2d\u6587\u6587\u4ef6.txt"};
  ReadGate gate;
  DoubleClick(FindRow(List(), 0, L"sub"));
  ASSERT_TRUE(WaitUntil([&] { return gate.Entered() == 1; }));
  EXPECT_TRUE(Page().listing());
  EXPECT_EQ(Location(), L"\\");
  EXPECT_TRUE(NamesAre(root));
  ClickHeader(2);
  ASSERT_TRUE(WaitUntil([&] { return Page().sortColumn() == 2; }));
  ClickRow(FindRow(List(), 0, L"small.txt"), 0);
  ASSERT_TRUE(WaitUntil([&] { return SelectedNames() == std::vector<std::wstring>{L"small.txt"}; }));
  EXPECT_FALSE(Page().AddPaths({source_ + L"\\zero.bin"}));
  EXPECT_EQ(Messages(), std::vector<std::wstring>{L"正在读取文件夹, 请稍候再更改"});
  EXPECT_TRUE(Page().edits().empty());
  gate.LetThrough(1);
  ASSERT_TRUE(WaitUntil([&] { return Location() == L"\\sub"; }));
  EXPECT_FALSE(Page().listing());
  EXPECT_TRUE(NamesAre({L"deeper", L"big.bin", L"\U0001F600.txt"}));

  // A read overtaken by a folder of the computer is never shown.
  DoubleClick(FindRow(List(), 0, L"deeper"));
  ASSERT_TRUE(WaitUntil([&] { return gate.Entered() == 2; }));
  ASSERT_TRUE(Page().ListFolder(dir_));
  EXPECT_FALSE(Page().listing());
  // The file opened from there: its read comes after the overtaken one has
  // ended, and anything that one handed to the window runs before this.
  DoubleClick(FindRow(List(), 0, L"one.wim"));
  ASSERT_TRUE(WaitUntil([&] { return Page().listing(); }));
  gate.LetThrough(2);
  ASSERT_TRUE(WaitUntil([&] { return gate.Entered() == 3; }));
  bool ran = false;
  ASSERT_TRUE(PostToWindowThread(Page().hwnd(), [&ran] { ran = true; }));
  ASSERT_TRUE(WaitUntil([&] { return ran; }));
  EXPECT_EQ(Page().mode(), CPage_Browser::kComputer);
  EXPECT_EQ(Location(), dir_);
  EXPECT_GE(FindRow(List(), 0, L"one.wim"), 0);
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage && !Page().listing(); }));
  EXPECT_EQ(Location(), L"\\");
  EXPECT_TRUE(NamesAre(root));
  EXPECT_EQ(Messages().size(), 1u);
}

// Another file opened while one is shown becomes the page's only when its
// root has been read: until then an extraction takes the rows shown from
// the file they came from.
TEST_F(BrowserPageTest, AFileBeingOpenedTakesThePageOnlyOnceItsRootIsRead) {
  std::wstring other = dir_ + L"\\other.wim";
  ASSERT_TRUE(Capture(source_ + L"\\sub", other, "Other"));
  Open(wim_);
  ASSERT_TRUE(WaitUntil([&] { return Page().mode() == CPage_Browser::kInsideImage && !Page().listing(); }));
  ReadGate gate;
  Page().OpenWimFile(other);
  ASSERT_TRUE(WaitUntil([&] { return gate.Entered() == 1; }));
  EXPECT_EQ(Page().wimPath(), wim_);
  SelectRows(List(), {FindRow(List(), 0, L"small.txt")});
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));
  Page().ExtractTo(target);
  EXPECT_EQ(qtest::ReadFileBytes(target + L"\\small.txt"), "hello quarry\n");
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return Page().wimPath() == other && !Page().listing(); }));
  EXPECT_EQ(Page().mode(), CPage_Browser::kInsideImage);
  EXPECT_TRUE(NamesAre({L"deeper", L"big.bin", L"\U0001F600.txt"}));
}

}  // namespace
