// The mount manager: mounts made through the WIMGAPI library (the call the
// apply page makes), listed, committed, discarded and unmounted in turn,
// one window however often Ctrl+M is pressed, a second Quarry process that
// finds the mounts of the first, and a stale record cleared by "卸载".
#include "look_fixture.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/wimgapi_engine.h"
#include "held_operation.h"
#include "mount/mount_view.h"
#include "resources/ids_failure.h"
#include "resources/ids_mounts.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {
using namespace look;
using qtest::WaitUntil;

const wchar_t kTitle[] = L"当前挂载的镜像";

std::string Sha(const std::wstring& path) { return qtest::RunUnix("sha256sum < " + Q(path)).output; }

// The wimlib-imagex processes whose command line names the folder, as
// "pid pid ...", with `verb` ("mount" matches mount and mountrw) as their
// command; the folder itself is never looked at.
std::string ImagexPids(const std::wstring& folder, const std::string& verb) {
  // Only the parent is turned into its Unix form: that looks at the folder.
  size_t cut = folder.find_last_of(L'\\');
  std::string path = qtest::ShQuote(qtest::UnixPath(folder.substr(0, cut)) + "/" + qtest::Utf8(folder.substr(cut + 1)));
  return qtest::RunUnix("{ for p in /proc/[0-9]*; do a=$(tr '\\0' '\\n' < $p/cmdline); "
                        "if printf '%s\\n' \"$a\" | grep -qxF -e " + path + " && "
                        "printf '%s\\n' \"$a\" | sed -n 2p | grep -q '^" + verb + "' && "
                        "printf '%s\\n' \"$a\" | head -n1 | grep -q wimlib-imagex; then printf '%s ' ${p#/proc/}; fi; done; } 2>/dev/null")
      .output;
}

// Lines of the staging folders of the library holding exactly `text`.
int StagedCopies(const std::string& text) {
  wchar_t data[MAX_PATH] = L"C:\\ProgramData";
  GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  std::string root = qtest::ShQuote(qtest::UnixPath(std::wstring(data) + L"\\WimgapiWine\\staging"));
  return atoi(qtest::RunUnix("grep -rlxF " + qtest::ShQuote(text) + " " + root + " 2>/dev/null | wc -l").output.c_str());
}

class MountManagerTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    if (!app_->backends.WimgapiAvailable() || !app_->backends.wimgapi.GetMountedImages)
      GTEST_SKIP() << "no WIMGAPI library in this prefix";
    dir_ = qtest::TempDir();
    source_ = dir_ + L"\\src";
    qtest::MakeSampleTree(source_);
    previous_ = SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring&, UINT) {
      std::function<int(const std::wstring&)> answer;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(text);
        answer = onBox_;
      }
      return answer ? answer(text) : IDNO;
    });
  }
  void TearDown() override {
    if (CMountView* view = CMountView::Instance()) DestroyWindow(view->hwnd());
    WaitForUnmountWorker(30000);
    for (const std::wstring& folder : mounted_)
      if (app_->backends.wimgapi.UnmountImage) app_->backends.wimgapi.UnmountImage(folder.c_str(), nullptr, 0, FALSE);
    SetMessageBoxHandler(previous_);
    FrameTest::TearDown();
  }

  // A WIM of the sample tree mounted at a new folder as an extracted copy,
  // as where the machine offers no FUSE.
  std::wstring MountCopy(const std::string& name, bool writable) {
    SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1");
    std::wstring folder = Mount(name, writable);
    SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr);
    return folder;
  }
  // The status column for a row that is neither busy nor stale.
  std::wstring QuietStatus(const std::wstring& folder) {
    MountKind kind;
    return ReadMountKind(app_->backends, folder, kind) && kind.copy ? L"副本" : L"";
  }
  void ClickUnmount(const std::wstring& folder) {
    SelectRows(List(), {RowOf(folder)});
    HWND view = CMountView::Instance()->hwnd();
    ASSERT_TRUE(WaitUntil([&] { return qtest::ItemEnabled(view, IDC_MOUNT_UNMOUNT); }, 20000));
    qtest::ClickButton(view, IDC_MOUNT_UNMOUNT);
  }
  bool FuseHere() {
    return qtest::RunUnix("test -r /dev/fuse -a -w /dev/fuse && exec 3<>/dev/fuse && command -v wimlib-imagex").exitCode ==
           0;
  }
  // A WIM of the sample tree mounted at a new folder; returns the folder.
  std::wstring Mount(const std::string& name, bool writable) {
    std::wstring wim = dir_ + L"\\" + qtest::Wide(name) + L".wim";
    std::wstring folder = dir_ + L"\\mnt_" + qtest::Wide(name);
    EXPECT_TRUE(Capture(source_, wim, name));
    EXPECT_TRUE(qtest::MakeDirs(folder));
    EXPECT_EQ(WimgapiEngine(app_->backends, app_->Choice(kBackendWimgapi), OperationContext()).MountImage(wim, folder, 1, false, false, writable), 0);
    mounted_.push_back(folder);
    wims_.push_back(wim);
    return folder;
  }
  CMountView* OpenView() {
    SendMessageW(main_, WM_COMMAND, ID_SHOW_MOUNTED, 0);
    CMountView* view = CMountView::Instance();
    EXPECT_NE(view, nullptr);
    return view;
  }
  HWND List() { return CMountView::Instance()->Item(IDC_MOUNT_LIST); }
  int RowOf(const std::wstring& folder) { return FindRow(List(), 3, folder); }
  std::vector<std::wstring> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  std::string ImageListing(const std::wstring& wim) { return Imagex("dir " + Q(wim) + " 1").output; }

  std::wstring dir_, source_;
  std::vector<std::wstring> mounted_, wims_;
  std::mutex mutex_;
  std::vector<std::wstring> boxes_;
  std::function<int(const std::wstring&)> onBox_;
  MessageBoxHandler previous_;
};

TEST_F(MountManagerTest, CtrlMTwiceGivesOneWindow) {
  Key('M', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return CMountView::Instance() && CMountView::Instance()->IsVisible(); }, 20000));
  HWND first = CMountView::Instance()->hwnd();
  EXPECT_EQ(qtest::WindowText(first), kTitle);
  ShowWindow(first, SW_HIDE);
  Key('M', VK_CONTROL);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(first) != FALSE; }, 20000));
  EXPECT_EQ(CMountView::Instance()->hwnd(), first);
  int windows = 0;
  for (HWND w : qtest::TopWindows(GetCurrentProcessId(), L"#32770"))
    if (qtest::WindowText(w) == kTitle) windows++;
  EXPECT_EQ(windows, 1);
  // Columns as the user reads them.
  HWND header = ListView_GetHeader(List());
  EXPECT_EQ(Header_GetItemCount(header), 6);
  SendMessageW(first, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return CMountView::Instance() == nullptr; }, 20000));
}

TEST_F(MountManagerTest, CommitSavesTheChangeAndRemakesTheFolderEmpty) {
  std::wstring folder = Mount("commit", true);
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\added.txt", "new file"));
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  int row = RowOf(folder);
  EXPECT_EQ(Cell(List(), row, 1), wims_[0]);
  EXPECT_EQ(Cell(List(), row, 2), L"1");
  EXPECT_EQ(Cell(List(), row, 4), L"R/W");
  EXPECT_EQ(Cell(List(), row, 5), QuietStatus(folder));
  HWND view = CMountView::Instance()->hwnd();
  // The user closes the window while the question is open: it only hides,
  // and goes once the unmount has ended.
  bool hiddenWhileRunning = false;
  onBox_ = [&](const std::wstring&) {
    SendMessageW(view, WM_COMMAND, IDCANCEL, 0);
    hiddenWhileRunning = IsWindow(view) && !IsWindowVisible(view);
    return IDYES;
  };
  SelectRows(List(), {row});
  ASSERT_TRUE(WaitUntil([&] { return qtest::ItemEnabled(view, IDC_MOUNT_UNMOUNT); }, 20000));
  qtest::ClickButton(view, IDC_MOUNT_UNMOUNT);
  ASSERT_TRUE(WaitUntil([&] { return !UnmountWorkerRunning() && CMountView::Instance() == nullptr; }, 60000));
  EXPECT_TRUE(hiddenWhileRunning);
  EXPECT_FALSE(IsWindow(view));
  std::vector<MountRecord> records;
  ASSERT_TRUE(ReadMountedImages(app_->backends, records));
  for (const MountRecord& r : records) EXPECT_NE(lstrcmpiW(r.mountPath.c_str(), folder.c_str()), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], L"是否要保存对" + wims_[0] + L"的修改?");
  EXPECT_NE(ImageListing(wims_[0]).find("/added.txt"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000));
  EXPECT_EQ(qtest::RunUnix("test -z \"$(ls -A " + Q(folder) + ")\"").exitCode, 0);
}

// "保存时追加为新映像": the changes become a further image of the file and
// the mounted image stays as it was, from a FUSE mount (where the machine
// has one) and from an extracted copy.
TEST_F(MountManagerTest, SavingAsANewImageKeepsTheOriginalImage) {
  std::vector<std::wstring> folders;
  if (FuseHere()) folders.push_back(Mount("fuse_new", true));
  folders.push_back(MountCopy("copy_new", true));
  OpenView();
  HWND view = CMountView::Instance()->hwnd();
  CheckDlgButton(view, IDC_MOUNT_AS_NEW_IMAGE, BST_CHECKED);
  onBox_ = [](const std::wstring&) { return IDYES; };
  for (size_t i = 0; i < folders.size(); i++) {
    const std::wstring& folder = folders[i];
    const std::wstring& wim = wims_[i];
    const std::string before = ImageListing(wim);
    ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\added.txt", "kept apart"));
    ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
    ClickUnmount(folder);
    ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
    std::vector<std::wstring> boxes = Boxes();
    ASSERT_EQ(boxes.size(), i + 1);
    EXPECT_EQ(boxes[i].rfind(L"是否要将对" + wim + L"的修改追加为一个新的映像?", 0), 0u) << qtest::Utf8(boxes[i]);
    EXPECT_NE(Imagex("info " + Q(wim)).output.find("Image Count:    2\n"), std::string::npos)
        << Imagex("info " + Q(wim)).output;
    EXPECT_EQ(ImageListing(wim), before) << "the mounted image is as it was";
    EXPECT_NE(Imagex("dir " + Q(wim) + " 2").output.find("/added.txt"), std::string::npos);
    EXPECT_EQ(Imagex("verify " + Q(wim)).exitCode, 0);
  }
}

TEST_F(MountManagerTest, UnmountWithoutSavingDiscardsAndReadOnlyAsksNothing) {
  std::wstring writable = Mount("discard", true);
  std::wstring readOnly = Mount("readonly", false);
  ASSERT_TRUE(qtest::WriteFileBytes(writable + L"\\added.txt", "thrown away"));
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(writable) >= 0 && RowOf(readOnly) >= 0; }, 20000));
  EXPECT_EQ(Cell(List(), RowOf(readOnly), 4), L"R");
  onBox_ = [](const std::wstring&) { return IDNO; };
  SelectRows(List(), {RowOf(writable)});
  qtest::SendCommand(CMountView::Instance()->hwnd(), ID_MOUNT_UNMOUNT);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(writable) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_EQ(ImageListing(wims_[0]).find("/added.txt"), std::string::npos);
  EXPECT_EQ(Boxes().size(), 1u);

  SelectRows(List(), {RowOf(readOnly)});
  qtest::ClickButton(CMountView::Instance()->hwnd(), IDC_MOUNT_UNMOUNT);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(readOnly) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_EQ(Boxes().size(), 1u);  // no question for a read-only mount
}

TEST_F(MountManagerTest, TwoRowsAreUnmountedInTurnEachShowingItsStatus) {
  std::wstring a = Mount("first", true);
  std::wstring b = Mount("second", true);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(a) >= 0 && RowOf(b) >= 0; }, 20000));
  std::vector<std::wstring> seen;
  // Each question comes while its own row, and only it, says "正在卸载...".
  onBox_ = [&](const std::wstring& text) {
    std::wstring folder = text.find(wims_[0]) != std::wstring::npos ? a : b;
    std::wstring other = folder == a ? b : a;
    bool shown = WaitUntil(
        [&] {
          int row = RowOf(folder);
          return row >= 0 && Cell(List(), row, 5) == L"正在卸载...";
        },
        20000);
    int otherRow = RowOf(other);
    bool otherQuiet = otherRow < 0 || Cell(List(), otherRow, 5).empty();
    if (shown && otherQuiet) seen.push_back(folder);
    return IDNO;
  };
  SelectRows(List(), {RowOf(a), RowOf(b)});
  qtest::ClickButton(CMountView::Instance()->hwnd(), IDC_MOUNT_UNMOUNT);
  // The worker waits for the first answer: a second start is refused.
  EXPECT_TRUE(UnmountWorkerRunning());
  EXPECT_FALSE(CMountView::Instance()->UnmountSelected());
  ASSERT_TRUE(WaitUntil([&] { return RowOf(a) < 0 && RowOf(b) < 0 && !UnmountWorkerRunning(); }, 60000));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0], seen[1]);
  ShotIfAsked("mount_done");
}

// The image file lives on a small volume that the commit fills: the image
// stays mounted, and its row says why.
TEST_F(MountManagerTest, AFailedCommitSaysWhyInItsRow) {
  std::wstring volume = dir_ + L"\\small";
  ASSERT_TRUE(qtest::MakeDirs(volume));
  qtest::UnixResult r = qtest::RunUnix("mount -t tmpfs -o size=1m quarry-small " + Q(volume) + " 2>&1");
  if (r.exitCode != 0) GTEST_SKIP() << "no small volume can be mounted here: " << r.output;
  struct Unmount {
    std::wstring path;
    ~Unmount() { qtest::RunUnix("umount -l " + Q(path) + " 2>&1"); }
  } unmountVolume{volume};
  std::wstring wim = volume + L"\\full.wim", folder = dir_ + L"\\mnt_full";
  ASSERT_TRUE(Capture(source_, wim, "full"));
  ASSERT_TRUE(qtest::MakeDirs(folder));
  SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1");
  ASSERT_EQ(WimgapiEngine(app_->backends, app_->Choice(kBackendWimgapi), OperationContext()).MountImage(wim, folder, 1, false, false, true), 0);
  SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr);
  mounted_.push_back(folder);
  std::string noise(3000000, '\0');
  uint32_t x = 2463534242u;  // xorshift: data that no compression shrinks
  for (char& c : noise) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = char(x);
  }
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\noise.bin", noise));

  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  onBox_ = [](const std::wstring& text) { return text.find(L"Error Code") == std::wstring::npos ? IDYES : IDOK; };
  ClickUnmount(folder);
  ASSERT_TRUE(WaitUntil([&] { return !UnmountWorkerRunning() && RowOf(folder) >= 0 &&
                                     Cell(List(), RowOf(folder), 5) == L"磁盘空间不足"; },
                        60000))
      << "status: " << qtest::Utf8(RowOf(folder) >= 0 ? Cell(List(), RowOf(folder), 5) : L"(no row)");
  std::vector<std::wstring> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].rfind(L"WIMUnmountImage()\nError Code: 112\n", 0), 0u) << qtest::Utf8(boxes[1]);
  EXPECT_EQ(qtest::ReadFileBytes(folder + L"\\noise.bin").size(), noise.size()) << "the change is kept";
}

TEST_F(MountManagerTest, AStaleRecordShowsAsStaleAndUnmountClearsIt) {
  std::wstring folder = MountCopy("stale", true);
  // The folder goes behind the library's back.
  qtest::RemoveTree(folder);
  ASSERT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  EXPECT_EQ(Cell(List(), RowOf(folder), 5), L"失效");
  ShotIfAsked("mount_stale");
  SelectRows(List(), {RowOf(folder)});
  qtest::ClickButton(CMountView::Instance()->hwnd(), IDC_MOUNT_UNMOUNT);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_TRUE(Boxes().empty());
  // The record is gone for good: a fresh list does not bring it back.
  qtest::SendCommand(CMountView::Instance()->hwnd(), ID_MOUNT_REFRESH);
  std::vector<MountRecord> records;
  ASSERT_TRUE(ReadMountedImages(app_->backends, records));
  for (const MountRecord& r : records) EXPECT_NE(lstrcmpiW(r.mountPath.c_str(), folder.c_str()), 0);
  // The user's decision to delete the folder stands.
  EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MountManagerTest, ASecondQuarryProcessListsTheMount) {
  std::wstring folder = Mount("shared", true);
  qtest::QuarryProcess other;
  ASSERT_TRUE(other.Start(qtest::PrepareQuarryCopy(true)));
  HWND otherMain = other.MainWindow();
  ASSERT_TRUE(qtest::MakeForeground(otherMain));
  qtest::PressKey(otherMain, 'M', VK_CONTROL);
  HWND view = nullptr;
  auto findView = [&] {
    int count = 0;
    for (HWND w : qtest::TopWindows(other.Pid(), L"#32770"))
      if (IsWindowVisible(w) && qtest::WindowText(w) == kTitle) {
        view = w;
        count++;
      }
    return count;
  };
  ASSERT_TRUE(WaitUntil([&] { return findView() == 1; }, 30000));
  HWND list = GetDlgItem(view, IDC_MOUNT_LIST);
  auto listed = [&] {
    int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; row++)
      if (RemoteCell(list, row, 3) == folder)
        return RemoteCell(list, row, 1) == wims_[0] && RemoteCell(list, row, 4) == L"R/W";
    return false;
  };
  EXPECT_TRUE(WaitUntil(listed, 30000));
  ASSERT_TRUE(qtest::MakeForeground(otherMain));
  qtest::PressKey(otherMain, 'M', VK_CONTROL);
  EXPECT_TRUE(WaitUntil([&] { return findView() == 1; }, 30000));
  other.Close();
}

// An extracted copy says so; a FUSE mount whose process died shows as
// stale, and "卸载" clears it and leaves the folder.
TEST_F(MountManagerTest, CopiesShowTheirKindAndADeadMountShowsStale) {
  std::wstring copy = MountCopy("copy", false);
  std::wstring served = Mount("served", false);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(copy) >= 0 && RowOf(served) >= 0; }, 20000));
  EXPECT_EQ(Cell(List(), RowOf(copy), 5), L"副本");
  MountKind kind;
  ASSERT_TRUE(ReadMountKind(app_->backends, served, kind));
  if (kind.copy) GTEST_SKIP() << "skipped: no FUSE";
  EXPECT_EQ(Cell(List(), RowOf(served), 5), L"");
  // The process that serves the mount is killed.
  std::string q = Q(served);
  qtest::RunUnix("for p in /proc/[0-9]*; do if tr '\\0' '\\n' < $p/cmdline 2>/dev/null | grep -qxF " + q +
                 " && grep -q wimlib-imagex $p/cmdline; then kill -9 ${p#/proc/}; fi; done");
  ASSERT_TRUE(WaitUntil(
      [&] {
        qtest::SendCommand(CMountView::Instance()->hwnd(), ID_MOUNT_REFRESH);
        return RowOf(served) >= 0 && Cell(List(), RowOf(served), 5) == L"失效";
      },
      20000));
  ClickUnmount(served);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(served) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(qtest::RunUnix("test -d " + q + " && test -z \"$(ls -A " + q + ")\"").exitCode, 0);
}

// A stale writable copy whose image file is missing still holds the
// user's changes: the user is asked, and may keep the folder as it is.
// A file that comes back in time makes the mount a good one again.
TEST_F(MountManagerTest, AStaleWritableCopyAsksBeforeItsFilesGo) {
  std::wstring folder = MountCopy("offline", true);
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\mine.txt", "the user's"));
  std::wstring moved = wims_[0] + L".away";
  ASSERT_TRUE(MoveFileW(wims_[0].c_str(), moved.c_str()));
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0 && Cell(List(), RowOf(folder), 5) == L"失效"; }, 20000));
  onBox_ = [](const std::wstring&) { return IDNO; };
  ClickUnmount(folder);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].find(folder), std::wstring::npos);
  EXPECT_EQ(qtest::ReadFileBytes(folder + L"\\mine.txt"), "the user's");
  EXPECT_EQ(qtest::ReadFileBytes(folder + L"\\small.txt"), "hello quarry\n");

  // The file is back by the time the user unmounts: the normal question.
  ASSERT_TRUE(MoveFileW(moved.c_str(), wims_[0].c_str()));
  std::wstring second = MountCopy("back", true);
  ASSERT_TRUE(MoveFileW(wims_[1].c_str(), moved.c_str()));
  qtest::SendCommand(CMountView::Instance()->hwnd(), ID_MOUNT_REFRESH);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(second) >= 0 && Cell(List(), RowOf(second), 5) == L"失效"; }, 20000));
  ASSERT_TRUE(MoveFileW(moved.c_str(), wims_[1].c_str()));
  ClickUnmount(second);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(second) < 0 && !UnmountWorkerRunning(); }, 60000));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1], L"是否要保存对" + wims_[1] + L"的修改?");
}

// The save question comes before the image file is held: while it stands,
// another writer can still open the file.
TEST_F(MountManagerTest, TheSaveQuestionDoesNotHoldTheImageFile) {
  std::wstring folder = MountCopy("question", true);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  DWORD openError = 0xFFFF;
  onBox_ = [&](const std::wstring&) {
    HANDLE wim = app_->backends.wimgapi.CreateFile(wims_[0].c_str(), WIM_GENERIC_READ | WIM_GENERIC_WRITE,
                                                   WIM_OPEN_EXISTING, 0, 0, nullptr);
    openError = wim ? 0 : GetLastError();
    if (wim) app_->backends.wimgapi.CloseHandle(wim);
    return IDNO;
  };
  ClickUnmount(folder);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_EQ(openError, 0u);
}

TEST_F(MountManagerTest, UnmountIsRefusedWhileTheTaskQueueRuns) {
  std::wstring folder = Mount("queue", true);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  auto run = std::make_unique<qtest::HeldOperation>(dialog_->runner(), true);
  ASSERT_TRUE(run->started());
  ClickUnmount(folder);
  run.reset();
  EXPECT_FALSE(UnmountWorkerRunning());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], LoadStr(IDS_TASK_RUNNER_BUSY));
  EXPECT_GE(RowOf(folder), 0);
}

// A mount another process is still making shows so, and is not unmounted.
TEST_F(MountManagerTest, AMountStillBeingMadeShowsItsStateAndIsLeftAlone) {
  std::wstring wim = dir_ + L"\\making.wim", folder = dir_ + L"\\mnt_making";
  ASSERT_TRUE(Capture(source_, wim, "making"));
  ASSERT_TRUE(qtest::MakeDirs(folder));
  std::wstring signal = dir_ + L"\\started", go = dir_ + L"\\go";
  mounted_.push_back(folder);
  std::wstring command = L"wimgapi_tool.exe mount \"" + wim + L"\" 1 \"" + folder + L"\" rw --signal \"" + signal +
                        L"\" --wait \"" + go + L"\"";
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesW(signal.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000));
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  EXPECT_EQ(Cell(List(), RowOf(folder), 5), L"正在挂载...");
  ClickUnmount(folder);
  EXPECT_FALSE(UnmountWorkerRunning());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].find(L"仍在挂载"), std::wstring::npos);
  qtest::WriteFileBytes(go, "");
  DWORD code = 1;
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
  const std::wstring quiet = QuietStatus(folder);
  EXPECT_TRUE(WaitUntil(
      [&] {
        qtest::SendCommand(CMountView::Instance()->hwnd(), ID_MOUNT_REFRESH);
        return RowOf(folder) >= 0 && Cell(List(), RowOf(folder), 5) == quiet;
      },
      20000));
}

// Closing Quarry while an unmount runs waits for it: the user is asked as
// for any running operation.
TEST_F(MountManagerTest, ClosingDuringAnUnmountWaitsForIt) {
  std::wstring folder = Mount("closing", true);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  const std::wstring closeQuestion = LoadStr(IDS_ASK_CLOSE_WHEN_DONE);
  onBox_ = [&](const std::wstring& text) {
    if (text == closeQuestion) return IDNO;
    PostMessageW(main_, WM_COMMAND, ID_EXIT, 0);
    WaitUntil([&] { return Boxes().size() >= 2; }, 10000);
    return IDNO;
  };
  ClickUnmount(folder);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1], closeQuestion);
  EXPECT_TRUE(IsWindow(main_));
}

// The image file is replaced from outside while mounted: "save" fails,
// the row says why, nothing is written into the file that is there now,
// and unmounting without saving still works.
TEST_F(MountManagerTest, SavingIntoAReplacedImageFileIsRefusedAndDiscardingWorks) {
  std::wstring folder = Mount("replaced", true);
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\added.txt", "not for the other file"));
  std::wstring other = dir_ + L"\\other.wim";
  ASSERT_TRUE(Capture(source_ + L"\\sub", other, "other"));
  const std::string otherSha = Sha(other);
  ASSERT_EQ(qtest::RunUnix("mv -f " + Q(other) + " " + Q(wims_[0])).exitCode, 0);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  onBox_ = [](const std::wstring& text) { return text.find(L"Error Code") == std::wstring::npos ? IDYES : IDOK; };
  ClickUnmount(folder);
  const std::wstring reason = LoadStr(IDS_REASON_WIM_REPLACED);
  ASSERT_TRUE(WaitUntil([&] { return !UnmountWorkerRunning() && RowOf(folder) >= 0 &&
                                     Cell(List(), RowOf(folder), 5) == reason; },
                        60000))
      << "status: " << qtest::Utf8(RowOf(folder) >= 0 ? Cell(List(), RowOf(folder), 5) : L"(no row)");
  EXPECT_EQ(Sha(wims_[0]), otherSha);
  EXPECT_EQ(Imagex("verify " + Q(wims_[0])).exitCode, 0);
  EXPECT_EQ(qtest::ReadFileBytes(folder + L"\\added.txt"), "not for the other file");

  onBox_ = [](const std::wstring&) { return IDNO; };
  ClickUnmount(folder);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_EQ(Sha(wims_[0]), otherSha);
}

// A read-write mount served by a process of its own whose file system is
// gone (the process died and the endpoint was released, as after a
// restart): its staged changes are still there, so the user is asked, and
// "否" keeps them.
TEST_F(MountManagerTest, StagedChangesOfAMountThatIsGoneAreNeverDroppedUnasked) {
  std::wstring folder = Mount("gone", true);
  MountKind kind;
  ASSERT_TRUE(ReadMountKind(app_->backends, folder, kind));
  if (kind.copy) GTEST_SKIP() << "skipped: no FUSE";
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\mine.txt", "staged and not yet saved\n"));
  std::string pids = ImagexPids(folder, "mount");
  ASSERT_FALSE(pids.empty());
  qtest::RunUnix("kill -9 " + pids);
  ASSERT_TRUE(WaitUntil([&] { return ReadMountKind(app_->backends, folder, kind) && kind.dead; }, 20000));
  ASSERT_EQ(qtest::RunUnix("umount -l " + Q(folder)).exitCode, 0);
  ASSERT_TRUE(WaitUntil([&] { return ReadMountKind(app_->backends, folder, kind) && !kind.dead; }, 20000));
  ASSERT_GE(kind.stagedFiles, 1u);
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0 && Cell(List(), RowOf(folder), 5) == L"失效"; }, 20000));
  onBox_ = [](const std::wstring&) { return IDNO; };
  ClickUnmount(folder);
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].find(folder), std::wstring::npos);
  EXPECT_NE(Boxes()[0].find(L"已不再挂载"), std::wstring::npos) << qtest::Utf8(Boxes()[0]);
  EXPECT_EQ(StagedCopies("staged and not yet saved"), 1);
  // What the test kept goes; the next mount clears the emptied folder.
  wchar_t data[MAX_PATH] = L"C:\\ProgramData";
  GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  qtest::RunUnix("grep -rlxF 'staged and not yet saved' " +
                 qtest::ShQuote(qtest::UnixPath(std::wstring(data) + L"\\WimgapiWine\\staging")) +
                 " | xargs -r rm -f");
}

// While a mount is being saved its file system answers nothing (here its
// process is stopped, which makes the commit last as long as the test
// wants): the mount manager still answers refresh, activation and clicks.
TEST_F(MountManagerTest, TheManagerAnswersDuringALongCommit) {
  std::wstring folder = Mount("long", true);
  MountKind kind;
  ASSERT_TRUE(ReadMountKind(app_->backends, folder, kind));
  if (kind.copy) GTEST_SKIP() << "skipped: no FUSE";
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\saved.txt", "saved at last\n"));
  OpenView();
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0; }, 20000));
  const std::string pids = ImagexPids(folder, "mount");
  ASSERT_FALSE(pids.empty());

  // Should the manager wait for the file system, the process is resumed
  // after a long while (a hang guard, not a measure) and the test fails.
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::atomic<bool> hadToResume{false};
  ASSERT_EQ(qtest::RunUnix("kill -STOP " + pids).exitCode, 0);
  std::thread guard([&] {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) hadToResume = true;
    qtest::RunUnix("kill -CONT " + pids);
  });
  struct Join {
    std::function<void()> f;
    ~Join() { f(); }
  } join{[&] {
    {
      std::lock_guard<std::mutex> lock(m);
      done = true;
    }
    cv.notify_all();
    if (guard.joinable()) guard.join();
  }};

  onBox_ = [](const std::wstring&) { return IDYES; };
  ClickUnmount(folder);
  // The commit has begun: wimlib-imagex is asked to store the changes.
  ASSERT_TRUE(WaitUntil([&] { return !ImagexPids(folder, "unmount").empty(); }, 30000));
  HWND view = CMountView::Instance()->hwnd();
  qtest::SendCommand(view, ID_MOUNT_REFRESH);
  SendMessageW(view, WM_ACTIVATE, WA_ACTIVE, 0);
  SelectRows(List(), {RowOf(folder)});
  EXPECT_GE(RowOf(folder), 0);
  EXPECT_TRUE(WaitUntil([&] { return RowOf(folder) >= 0 && Cell(List(), RowOf(folder), 5) == L"正在卸载..."; }, 20000));
  EXPECT_FALSE(hadToResume) << "the manager waited for the busy file system";
  join.f();  // resumes the process: the commit goes on
  ASSERT_TRUE(WaitUntil([&] { return RowOf(folder) < 0 && !UnmountWorkerRunning(); }, 60000));
  EXPECT_NE(ImageListing(wims_[0]).find("/saved.txt"), std::string::npos);
  EXPECT_FALSE(hadToResume);
}

}  // namespace
