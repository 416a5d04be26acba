// The mount manager: mounts made through the WIMGAPI library (the call the
// apply page makes), listed, committed, discarded and unmounted in turn,
// one window however often Ctrl+M is pressed, a second Quarry process that
// finds the mounts of the first, and a stale record cleared by "卸载".
#include "look_fixture.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include "engine/wimgapi_engine.h"
#include "mount/mount_view.h"
#include "resources/resource.h"
#include "win/message_box.h"

namespace {
using namespace look;
using qtest::WaitUntil;

const wchar_t kTitle[] = L"当前挂载的镜像";

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
      std::lock_guard<std::mutex> lock(mutex_);
      boxes_.push_back(text);
      return onBox_ ? onBox_(text) : IDNO;
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

  // A WIM of the sample tree mounted at a new folder; returns the folder.
  std::wstring Mount(const std::string& name, bool writable) {
    std::wstring wim = dir_ + L"\\" + qtest::Wide(name) + L".wim";
    std::wstring folder = dir_ + L"\\mnt_" + qtest::Wide(name);
    EXPECT_TRUE(Capture(source_, wim, name));
    EXPECT_TRUE(qtest::MakeDirs(folder));
    EXPECT_EQ(WimgapiEngine(app_->tempFolder).MountImage(wim, folder, 1, false, false, writable), 0);
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
  EXPECT_EQ(Cell(List(), row, 5), L"");
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
  ASSERT_TRUE(ReadMountedImages(records));
  for (const MountRecord& r : records) EXPECT_NE(lstrcmpiW(r.mountPath.c_str(), folder.c_str()), 0);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0], L"是否要保存对" + wims_[0] + L"的修改?");
  EXPECT_NE(ImageListing(wims_[0]).find("/added.txt"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000));
  EXPECT_EQ(qtest::RunUnix("test -z \"$(ls -A " + Q(folder) + ")\"").exitCode, 0);
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

TEST_F(MountManagerTest, AStaleRecordShowsAsStaleAndUnmountClearsIt) {
  std::wstring folder = Mount("stale", true);
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
  ASSERT_TRUE(ReadMountedImages(records));
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
  qtest::Pause(500);
  EXPECT_TRUE(WaitUntil([&] { return findView() == 1; }, 30000));
  other.Close();
}

}  // namespace
