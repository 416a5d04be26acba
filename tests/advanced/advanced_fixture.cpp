#include "advanced_fixture.h"

#include <commctrl.h>

#include <sstream>

#include "pages/page2_common.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/pickers.h"

using namespace qtest;

DWORD WINAPI AdvancedTest::UiThread(void* arg) {
  auto* self = static_cast<AdvancedTest*>(arg);
  self->app_ = std::make_unique<CQuarryApp>();
  self->app_->settingsPath = self->dir_ + L"\\Quarry.ini";
  self->app_->InitInstance();
  self->dialog_ = std::make_unique<CQuarryDlg>(*self->app_);
  SetEvent(self->ready_);
  self->dialog_->DoModal(nullptr);
  self->app_->ExitInstance();
  return 0;
}

void AdvancedTest::SetUp() {
  dir_ = TempDir();
  SetMessageBoxHandler([this](HWND, const std::wstring& text, const std::wstring& caption, UINT style) {
    ShownMessage shown{text, caption, style};
    int button = IDOK;
    {
      std::lock_guard<std::mutex> guard(lock_);
      messages_.push_back(shown);
    }
    if (answer) button = answer(shown);
    else if ((style & 0xF) == MB_YESNO) button = IDYES;
    return button;
  });
  SetPickerHandler([this](const PickerRequest&, std::vector<std::wstring>& paths) {
    std::lock_guard<std::mutex> guard(lock_);
    fileDialogs_++;
    if (fileAnswers_.empty()) return false;
    paths = fileAnswers_.front();
    fileAnswers_.erase(fileAnswers_.begin());
    return !paths.empty();
  });
  ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  uiThread_ = CreateThread(nullptr, 0, UiThread, this, 0, nullptr);
  ASSERT_TRUE(uiThread_);
  ASSERT_EQ(WaitForSingleObject(ready_, 30000), WAIT_OBJECT_0);
  ASSERT_TRUE(WaitUntil([&] { return dialog_->hwnd() && IsWindowVisible(dialog_->hwnd()) && dialog_->AllPagesMade(); },
                        30000));
  main_ = dialog_->hwnd();
}

void AdvancedTest::TearDown() {
  if (main_) PostMessageW(main_, WM_CLOSE, 0, 0);
  if (uiThread_) {
    // A message box left open by a failed test would keep the window alive.
    DWORD waited = WaitForSingleObject(uiThread_, 30000);
    if (waited != WAIT_OBJECT_0) TerminateThread(uiThread_, 1);
    CloseHandle(uiThread_);
  }
  if (ready_) CloseHandle(ready_);
  dialog_.reset();
  app_.reset();
  SetMessageBoxHandler(nullptr);
  SetPickerHandler(nullptr);
}

void AdvancedTest::OnUiThread(const std::function<void()>& work) {
  ASSERT_TRUE(RunOnWindowThread(mergeWnd(), work));
}

std::unique_ptr<HeldOperation> AdvancedTest::HoldRunner(bool queue) {
  std::unique_ptr<HeldOperation> held;
  OnUiThread([&] { held = std::make_unique<HeldOperation>(runner(), queue); });
  EXPECT_TRUE(held && held->started());
  return held;
}

void AdvancedTest::EndHeld(std::unique_ptr<HeldOperation>& held) {
  if (held) OnUiThread([&] { held.reset(); });
}

void AdvancedTest::UseBackend(BackendKind kind) {
  SendMessageW(main_, WM_COMMAND, kind == kBackendWimlib ? ID_BACKEND_WIMLIB : ID_BACKEND_WIMGAPI, 0);
  ASSERT_EQ(app_->backendKind, kind);
}

void AdvancedTest::ShowAdvancedTab() {
  ClickWindow(dialog_->Tab(2).hwnd());
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(hostWnd()); }, 20000));
}

void AdvancedTest::OpenOnDeletePage(const std::wstring& wim) {
  ShowAdvancedTab();
  ClickRadio(IDC_ADVANCED_DELETE);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(deleteWnd()); }, 20000));
  QueueFileAnswer({wim});
  Click(deleteWnd(), IDC_DELETE_OPEN);
}

void AdvancedTest::ClickRadio(int id) {
  // A radio button is clicked with the mouse; BM_CLICK does the same.
  Click(hostWnd(), id);
}

void AdvancedTest::PostClick(HWND parent, int id) { PostMessageW(GetDlgItem(parent, id), BM_CLICK, 0, 0); }

std::vector<ShownMessage> AdvancedTest::Messages() {
  std::lock_guard<std::mutex> guard(lock_);
  return messages_;
}

void AdvancedTest::ClearMessages() {
  std::lock_guard<std::mutex> guard(lock_);
  messages_.clear();
}

bool AdvancedTest::WaitForMessage(const std::wstring& text, DWORD timeoutMs) {
  return WaitUntil(
      [&] {
        for (const ShownMessage& m : Messages())
          if (m.text.find(text) != std::wstring::npos) return true;
        return false;
      },
      timeoutMs);
}

void AdvancedTest::QueueFileAnswer(std::vector<std::wstring> paths) {
  std::lock_guard<std::mutex> guard(lock_);
  fileAnswers_.push_back(std::move(paths));
}

int AdvancedTest::FileDialogsShown() {
  std::lock_guard<std::mutex> guard(lock_);
  return fileDialogs_;
}

std::wstring AdvancedTest::WaitForResult(DWORD timeoutMs) {
  CPage_Progress& progress = dialog_->progressPage();
  bool shown = WaitUntil([&] { return IsWindowVisible(progress.hwnd()) && ItemVisible(progress.hwnd(), IDC_PROGRESS_OK); },
                         timeoutMs);
  if (!shown) return L"(no result)";
  std::wstring text = WindowText(GetDlgItem(progress.hwnd(), IDC_PROGRESS_TEXT));
  Click(progress.hwnd(), IDC_PROGRESS_OK);
  WaitUntil([&] { return IsWindowVisible(hostWnd()) && !runner().Busy(); }, 20000);
  return text;
}

HWND AdvancedTest::WaitForDialog(const std::wstring& caption, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND hwnd : TopWindows(GetCurrentProcessId(), L"#32770"))
          if (IsWindowVisible(hwnd) && WindowText(hwnd) == caption) found = hwnd;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

int AdvancedTest::Rows(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring AdvancedTest::Cell(HWND list, int row, int column) { return ListItemText(list, row, column); }

int AdvancedTest::RowImage(HWND list, int row) { return ListRowImage(list, row); }

void AdvancedTest::SelectRows(HWND list, const std::vector<int>& rows) {
  LVITEMW none = {};
  none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
  for (int row : rows) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }
}

void AdvancedTest::ClickCell(HWND list, int row, int column, UINT message) {
  RECT cell = {};
  cell.top = column;
  cell.left = LVIR_BOUNDS;
  SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
  if (column == 0) {
    // Column 0's bounds are the whole row: take the first column's width.
    int width = static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0));
    cell.right = cell.left + width;
  }
  LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
  if (message == WM_LBUTTONDBLCLK) {
    // The row is selected already; the double click opens it.
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
  } else {
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
  }
}

std::wstring AdvancedTest::MakeWim(const std::wstring& name, int images, const std::string& options) {
  if (tree_.empty()) {
    tree_ = TempDir() + L"\\tree";
    MakeSampleTree(tree_);
  }
  std::wstring wim = dir_ + L"\\" + name;
  for (int i = 1; i <= images; i++) {
    std::string verb = i == 1 ? "capture" : "append";
    std::string cmd = "wimlib-imagex " + verb + " " + ShQuote(UnixPath(tree_)) + " " + ShQuote(UnixPath(wim)) + " " +
                      ShQuote("Image " + std::to_string(i)) + " " + ShQuote("Description " + std::to_string(i)) +
                      " " + options;
    UnixResult r = RunUnix(cmd);
    EXPECT_EQ(r.exitCode, 0) << r.output;
  }
  return wim;
}

std::string AdvancedTest::Info(const std::wstring& wim, const std::string& extra) {
  return RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) + " " + extra).output;
}

// Fields of "wimlib-imagex info": the header part first, then one block
// per image starting with "Index:".
std::string AdvancedTest::InfoField(const std::wstring& wim, int image, const std::string& field) {
  std::istringstream lines(Info(wim));
  std::string line;
  int current = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("Index:", 0) == 0) current = std::stoi(line.substr(6));
    if (current != image || line.rfind(field + ":", 0) != 0) continue;
    std::string value = line.substr(field.size() + 1);
    size_t start = value.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : value.substr(start);
  }
  return "(none)";
}

int AdvancedTest::ImageCount(const std::wstring& wim) {
  std::string count = InfoField(wim, 0, "Image Count");
  return count == "(none)" ? -1 : std::stoi(count);
}

std::wstring AdvancedTest::MakeNoiseWim(const std::wstring& name, int files, size_t bytes, std::wstring* folder) {
  std::wstring data = TempDir();
  uint32_t x = 12345;
  for (int f = 0; f < files; f++) {
    std::string noise(bytes, '\0');
    for (char& c : noise) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    EXPECT_TRUE(WriteFileBytes(data + L"\\noise" + std::to_wstring(f) + L".bin", noise));
  }
  std::wstring wim = dir_ + L"\\" + name;
  UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(data)) + " " + ShQuote(UnixPath(wim)) + " Noise");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  if (folder) *folder = data;
  return wim;
}
