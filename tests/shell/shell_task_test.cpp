// Each switch started as its own Quarry process, as Explorer's verbs start
// it: the shell tasks run without the main window, show their small
// progress dialog and image chooser, and leave files that wimlib-imagex
// reads back; /I and /E open the main window on the right page.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "shell_test_util.h"

namespace {
using namespace qtest;
using namespace shelltest;

// The text of the selected item of a tree view in another process (read
// through a buffer in that process); empty when nothing is selected.
std::wstring SelectedTreeText(HWND tree) {
  HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!item) return L"";
  DWORD pid = 0;
  GetWindowThreadProcessId(tree, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return L"";
  std::wstring text;
  const SIZE_T size = sizeof(TVITEMW) + 260 * sizeof(wchar_t);
  if (auto* remote = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE))) {
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
    tv.cchTextMax = 260;
    wchar_t buffer[260] = {};
    if (WriteProcessMemory(process, remote, &tv, sizeof tv, nullptr) &&
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote)) &&
        ReadProcessMemory(process, remote + sizeof(TVITEMW), buffer, sizeof buffer - sizeof(wchar_t), nullptr))
      text = buffer;
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return text;
}

class ShellTaskTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = PrepareQuarryCopy(true); }

  std::wstring Ini() const { return folder_ + L"\\Quarry.ini"; }
  void WriteIni(const std::string& text) { ASSERT_TRUE(WriteFileBytes(Ini(), text)); }

  // Starts Quarry with arguments; the shell tasks show no main window, so
  // only the process is waited for here.
  void Start(const std::wstring& arguments) { quarry_.Start(folder_, arguments, 1); }

  // A visible window of Quarry's main dialog class with its title.
  bool MainWindowShown() const {
    for (HWND hwnd : TopWindows(quarry_.Pid()))
      if (IsWindowVisible(hwnd) && WindowText(hwnd).rfind(L"KLO Quarry", 0) == 0) return true;
    return false;
  }

  // A new WIM file of three images, each of a folder of data; empty when
  // it could not be made.
  static std::wstring ThreeImageWim() {
    std::wstring base = TempDir();
    std::vector<std::wstring> folders;
    for (int i = 1; i <= 3; i++) {
      folders.push_back(base + L"\\v" + std::to_wstring(i));
      MakeDataFolder(folders.back());
    }
    std::wstring wim = base + L"\\three.wim";
    return MakeWim(wim, folders) ? wim : L"";
  }

  std::wstring folder_;
  QuarryProcess quarry_;
};

// Takes the capture options as they are offered ("确定").
bool AcceptCaptureOptions(DWORD pid) {
  HWND options = WaitForTitle(pid, L"捕获选项");
  if (!options) return false;
  PostMessageW(options, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(options, IDOK)));
  return true;
}

TEST_F(ShellTaskTest, QuickCaptureMakesTheImageBesideTheFolderWithoutTheMainWindow) {
  std::wstring data = TempDir() + L"\\data";
  MakeDataFolder(data, 24 * 1024 * 1024);
  Start(L"/q " + data);
  ASSERT_TRUE(AcceptCaptureOptions(quarry_.Pid()));
  HWND tip = WaitForDialogWithItem(quarry_.Pid(), IDC_SHELL_TIP_TASK);
  ASSERT_NE(tip, nullptr) << "the shell-task dialog never showed";
  EXPECT_EQ(WindowText(GetDlgItem(tip, IDC_SHELL_TIP_TASK)), L"捕获 data 到 data.WIM");
  EXPECT_EQ(WindowText(tip), L"Quarry");
  EXPECT_EQ(quarry_.WaitExit(120000), 0);
  EXPECT_FALSE(MainWindowShown());
  std::wstring wim = data + L".WIM";
  ASSERT_EQ(ImageCount(wim), 1);
  std::string listing = ImageListing(wim, 1);
  EXPECT_NE(listing.find("/sub/notes.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("/big.bin"), std::string::npos) << listing;
}

// The options are asked first, then whether an existing file may be
// replaced: only Yes writes it, and never as an added image.
TEST_F(ShellTaskTest, QuickCaptureOverAnExistingImageAsksAfterTheOptionsAndOnlyYesReplaces) {
  std::wstring data = TempDir() + L"\\data";
  MakeDataFolder(data);
  std::wstring wim = data + L".WIM";
  ASSERT_TRUE(MakeWim(wim, {data}));
  std::string before = ReadFileBytes(wim);

  // No: the existing image stays exactly as it was.
  Start(L"/Q " + data);
  ASSERT_TRUE(AcceptCaptureOptions(quarry_.Pid())) << "the options come before the question";
  HWND box = WaitForMessageBox(quarry_.Pid());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), wim + L"已存在.\n你是否要替换他?");
  AnswerDialog(box, IDNO);
  EXPECT_EQ(quarry_.WaitExit(30000), 0);
  EXPECT_EQ(ReadFileBytes(wim), before);
  EXPECT_EQ(ImageCount(wim), 1);

  // Yes: a new file of one image in its place.
  WriteFileBytes(data + L"\\added.txt", "new");
  QuarryProcess second;
  second.Start(folder_, L"/Q " + data, 1);
  ASSERT_TRUE(AcceptCaptureOptions(second.Pid()));
  box = WaitForMessageBox(second.Pid());
  ASSERT_NE(box, nullptr);
  AnswerDialog(box, IDYES);
  EXPECT_EQ(second.WaitExit(120000), 0);
  EXPECT_EQ(ImageCount(wim), 1);
  EXPECT_NE(ImageListing(wim, 1).find("/added.txt"), std::string::npos);
}

TEST_F(ShellTaskTest, AWimgapiFailureIsToldInOneBox) {
  // A folder where the image file would go: WIMGAPI cannot create it.
  std::wstring data = TempDir() + L"\\data";
  MakeDataFolder(data);
  ASSERT_TRUE(MakeDirs(data + L".WIM"));
  Start(L"/Q " + data);
  ASSERT_TRUE(AcceptCaptureOptions(quarry_.Pid()));
  HWND box = WaitForMessageBox(quarry_.Pid(), 60000);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(MessageBoxText(box).find(L"WIMCreateFile"), std::wstring::npos) << Utf8(MessageBoxText(box));
  AnswerDialog(box, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 30000));
  // The task ends after that one box; no second box for the same failure.
  HWND again = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return !quarry_.Running() || (again = FindDialogWithItem(quarry_.Pid(), 0xFFFF)); },
                        60000));
  EXPECT_EQ(again, nullptr) << Utf8(MessageBoxText(again));
  if (again) AnswerDialog(again, IDOK);
  EXPECT_EQ(quarry_.WaitExit(30000), 0);
}

// WIMGAPI fails without a box of its own on a file it cannot open, and its
// failures are not told twice: a file that is no WIM is told before any
// folder is asked for.
TEST_F(ShellTaskTest, ApplyOfAFileThatIsNoWimSaysSo) {
  std::wstring notWim = TempDir() + L"\\text.wim";
  ASSERT_TRUE(WriteFileBytes(notWim, "not an image"));
  Start(L"/A \"" + notWim + L"\"");
  HWND box = WaitForMessageBox(quarry_.Pid(), 30000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"路径无效!");
  AnswerDialog(box, IDOK);
  EXPECT_EQ(quarry_.WaitExit(30000), 0);
}

TEST_F(ShellTaskTest, QuickCaptureRefusesADriveRootAndABareSwitchEndsCleanly) {
  Start(L"/Q C:\\");
  HWND box = WaitForMessageBox(quarry_.Pid());
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"路径无效!");
  AnswerDialog(box, IDOK);
  EXPECT_EQ(quarry_.WaitExit(30000), 0);
  EXPECT_EQ(GetFileAttributesW(L"C:\\.WIM"), INVALID_FILE_ATTRIBUTES);

  QuarryProcess bare;
  bare.Start(folder_, L"/A", 1);
  box = WaitForMessageBox(bare.Pid(), 20000);
  if (box) AnswerDialog(box, IDOK);
  EXPECT_EQ(bare.WaitExit(30000), 0);
}

TEST_F(ShellTaskTest, ApplyOfAOneImageFileAsksOnlyForTheFolder) {
  std::wstring base = TempDir();
  std::wstring data = base + L"\\source data";
  MakeDataFolder(data);
  std::wstring wim = base + L"\\one image.wim";  // a path with blanks, quoted as Explorer passes it
  ASSERT_TRUE(MakeWim(wim, {data}));
  // The folder browser walks to the last folder from "My Computer"; a
  // folder right on drive C keeps that walk short.
  std::wstring target = L"C:\\quarry apply " + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(MakeDirs(target));
  struct Cleanup {
    std::wstring path;
    ~Cleanup() { RemoveTree(path); }
  } cleanup{target};
  // The folder browser opens on the folder chosen last.
  WriteIni("[DIR]\r\nLast=" + Utf8(target) + "\r\n");
  Start(L"/A \"" + wim + L"\"");
  HWND browser = WaitForDialogWithItem(quarry_.Pid(), IDOK, nullptr, 30000);
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(FindByTitle(quarry_.Pid(), L"Quarry - 选择一个镜像"), nullptr);
  HWND tree = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (tree = FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr)) != nullptr; }, 10000));
  // The browser selects the last folder as it opens.
  const std::wstring last = target.substr(3);
  ASSERT_TRUE(WaitUntil([&] { return SelectedTreeText(tree) == last; })) << Utf8(SelectedTreeText(tree));
  AnswerDialog(browser, IDOK);
  EXPECT_EQ(quarry_.WaitExit(120000), 0);
  EXPECT_EQ(ReadFileBytes(target + L"\\readme.txt"), "quarry shell test\r\n");
  EXPECT_EQ(ReadFileBytes(target + L"\\sub\\notes.txt"), std::string(5000, 'n'));
  // The folder chosen is remembered for the next time.
  EXPECT_EQ(IniText(Ini(), L"DIR", L"Last"), target);
}

TEST_F(ShellTaskTest, MountOfAThreeImageFileOffersTheChooserWithTheWritableBox) {
  std::wstring wim = ThreeImageWim();
  ASSERT_FALSE(wim.empty());
  Start(L"/M " + wim);
  HWND chooser = WaitForTitle(quarry_.Pid(), L"Quarry - 选择一个镜像");
  ASSERT_NE(chooser, nullptr);
  HWND list = GetDlgItem(chooser, IDC_SELECT_LIST);
  EXPECT_EQ(ListView_GetItemCount(list), 3);
  EXPECT_TRUE(ItemVisible(chooser, IDC_SELECT_WRITABLE));
  EXPECT_FALSE(ItemEnabled(chooser, IDOK));
  ClickWindow(list);  // a click on a row
  EXPECT_TRUE(WaitUntil([&] { return ItemEnabled(chooser, IDOK); }, 10000));
  PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(quarry_.WaitExit(30000), 0);
  EXPECT_FALSE(MainWindowShown());
}

TEST_F(ShellTaskTest, ApplyOfAThreeImageFileOffersTheChooserWithoutTheBox) {
  std::wstring wim = ThreeImageWim();
  ASSERT_FALSE(wim.empty());
  Start(L"/a " + wim);
  HWND chooser = WaitForTitle(quarry_.Pid(), L"Quarry - 选择一个镜像");
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(ListView_GetItemCount(GetDlgItem(chooser, IDC_SELECT_LIST)), 3);
  EXPECT_FALSE(ItemVisible(chooser, IDC_SELECT_WRITABLE));
  PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(quarry_.WaitExit(30000), 0);
}

TEST_F(ShellTaskTest, InformationAndEditOpenTheMainWindowOnTheirPageWithTheFile) {
  std::wstring data = TempDir() + L"\\data";
  MakeDataFolder(data);
  std::wstring wim = TempDir() + L"\\info.wim";
  ASSERT_TRUE(MakeWim(wim, {data}));
  WriteIni("[VIEW]\r\nMode=1\r\n");  // even from easy mode

  ASSERT_TRUE(quarry_.Start(folder_, L"/I " + wim));
  HWND main = quarry_.MainWindow();
  EXPECT_TRUE(WaitUntil([&] { return ItemVisible(main, IDD_PAGE_INFO); }, 20000));
  EXPECT_FALSE(ItemVisible(main, IDD_PAGE_EASY));
  // (The rows the Info page shows for the file are the Info page's own
  // business; here it is enough that the file goes to that page.)
  EXPECT_TRUE(ItemVisible(main, IDC_TAB_INFO));
  quarry_.Close();

  QuarryProcess edit;
  ASSERT_TRUE(edit.Start(folder_, L"/E " + wim));
  main = edit.MainWindow();
  EXPECT_TRUE(WaitUntil([&] { return ItemVisible(main, IDD_PAGE_ADVANCED); }, 20000));
  HWND host = GetDlgItem(main, IDD_PAGE_ADVANCED);
  EXPECT_TRUE(WaitUntil([&] { return IsDlgButtonChecked(host, IDC_ADVANCED_DELETE) == BST_CHECKED; }, 20000));
  edit.Close();
}
}  // namespace

#include "app/shell_task_tip.h"
#include "engine/progress.h"

namespace {
// The work may end before the progress dialog has come up: the dialog must
// then close by itself instead of waiting for a report that never comes.
TEST(ShellTaskTipTest, TheDialogClosesWhenTheWorkEndedBeforeItCameUp) {
  ShellTaskRun run(L"捕获 a 到 a.WIM");
  run.Finish(0);  // over before the dialog exists
  ASSERT_TRUE(run.StartDialog());
  DWORD start = GetTickCount();
  run.Finish(30000);
  EXPECT_LT(GetTickCount() - start, 30000u);
  EXPECT_EQ(shelltest::FindDialogWithItem(GetCurrentProcessId(), IDC_SHELL_TIP_TASK), nullptr);
}

TEST(ShellTaskTipTest, TheDialogShowsTheTaskAndClosesWhenTheWorkEnds) {
  ShellTaskRun run(L"应用 a.wim 到 out");
  ASSERT_TRUE(run.StartDialog());
  HWND tip = shelltest::WaitForDialogWithItem(GetCurrentProcessId(), IDC_SHELL_TIP_TASK);
  ASSERT_NE(tip, nullptr);
  EXPECT_EQ(qtest::WindowText(GetDlgItem(tip, IDC_SHELL_TIP_TASK)), L"应用 a.wim 到 out");
  EXPECT_EQ(qtest::WindowText(GetDlgItem(tip, IDC_SHELL_TIP_STATUS)), L"请等待...");
  run.Finish(30000);
  EXPECT_FALSE(IsWindow(tip));
}

// The run is the operation's progress target: what the operation's thread
// reports reaches the dialog on its own thread, and a report after the
// dialog has gone goes nowhere.
TEST(ShellTaskTipTest, TheOperationsPercentagesReachTheDialog) {
  ShellTaskRun run(L"捕获 a 到 a.WIM");
  ReportProgress(&run, 10.0f);  // no dialog yet: nothing to do
  ASSERT_TRUE(run.StartDialog());
  HWND tip = shelltest::WaitForDialogWithItem(GetCurrentProcessId(), IDC_SHELL_TIP_TASK);
  ASSERT_NE(tip, nullptr);
  ASSERT_TRUE(qtest::WaitUntil([&] { return IsWindowVisible(tip) != FALSE; }));
  ReportProgress(&run, 42.5f);
  EXPECT_TRUE(qtest::WaitUntil(
      [&] { return qtest::WindowText(GetDlgItem(tip, IDC_SHELL_TIP_STATUS)) == L"42.50% 已完成"; }));
  run.Finish(30000);
  EXPECT_FALSE(IsWindow(tip));
  ReportProgress(&run, 99.0f);
}
}  // namespace
