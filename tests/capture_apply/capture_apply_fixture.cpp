#include "capture_apply_fixture.h"

#include <commctrl.h>

#include "resources/resource.h"

using namespace qtest;

namespace catest {

namespace {
// Memory in another process for list-view messages that carry pointers.
class RemoteBlock {
 public:
  RemoteBlock(DWORD pid, size_t size) : size_(size) {
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBlock() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  void* get() const { return address_; }
  bool Write(const void* data, size_t n, size_t offset = 0) {
    return WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, n, nullptr);
  }
  bool Read(void* data, size_t n, size_t offset = 0) const {
    return ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, n, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  size_t size_;
};

BOOL CALLBACK FindDialogOfProcess(HWND hwnd, LPARAM lParam) {
  auto* found = reinterpret_cast<std::vector<HWND>*>(lParam);
  found->push_back(hwnd);
  return TRUE;
}
}  // namespace

void QuarryPages::StartQuarry(int backend, const std::string& moreIni) {
  folder_ = PrepareQuarryCopy(true);
  std::string ini = "[API]\r\nType=" + std::to_string(backend) + "\r\n[VIEW]\r\nMode=2\r\n" + moreIni;
  ASSERT_TRUE(WriteFileBytes(folder_ + L"\\Quarry.ini", ini));
  ASSERT_TRUE(quarry_.Start(folder_));
  main_ = quarry_.MainWindow();
  ASSERT_TRUE(WaitUntil([&] { return !WindowText(main_).empty(); }, 20000));
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_CAPTURE); }, 20000));
}

void QuarryPages::TearDown() {
  // Whatever a test left open is cancelled, then the window is closed. An
  // operation that is still ending (a worker that has just told its result)
  // makes the window ask whether to close once it is done: that question is
  // cancelled too and the close asked for again, until the process ends.
  auto dialogs = [&] {
    std::vector<HWND> open;
    for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
      if (hwnd != main_ && IsWindowVisible(hwnd)) open.push_back(hwnd);
    return open;
  };
  const DWORD start = GetTickCount();
  while (quarry_.Running() && GetTickCount() - start < 60000) {
    std::vector<HWND> open = dialogs();
    for (HWND hwnd : open) {
      PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
      Flush(hwnd);
    }
    if (!open.empty()) continue;
    PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
    WaitUntil([&] { return !quarry_.Running() || !dialogs().empty(); });
  }
  if (quarry_.Running()) quarry_.Close(1);  // ends it the hard way
}

void QuarryPages::Press(HWND page, int id) { PostMessageW(GetDlgItem(page, id), BM_CLICK, 0, 0); }

void QuarryPages::SetText(HWND page, int id, const std::wstring& text) { TypeText(GetDlgItem(page, id), text); }

void QuarryPages::SetCheck(HWND page, int id, bool on) {
  SendMessageTimeoutW(GetDlgItem(page, id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_NORMAL, 5000,
                      nullptr);
}

HWND QuarryPages::WaitDialog(const std::wstring& caption, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
          if (hwnd != main_ && IsWindowVisible(hwnd) && WindowText(hwnd) == caption) found = hwnd;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

HWND QuarryPages::WaitMessage(const std::wstring& text, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
          if (hwnd != main_ && IsWindowVisible(hwnd) && MessageBoxText(hwnd) == text) found = hwnd;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

bool QuarryPages::NoDialogShown() const {
  for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
    if (hwnd != main_ && IsWindowVisible(hwnd)) return false;
  return true;
}

std::wstring QuarryPages::WaitOperationResult(DWORD timeoutMs) {
  // The window makes its progress page after its first paint or when an
  // operation starts, so the page is looked for until the result shows.
  HWND progress = nullptr;
  if (!WaitUntil([&] { return (progress = Page(IDD_PAGE_PROGRESS)) && ItemVisible(progress, IDC_PROGRESS_OK); },
                 timeoutMs))
    return L"(no result)";
  std::wstring text = WindowText(GetDlgItem(progress, IDC_PROGRESS_TEXT));
  Press(progress, IDC_PROGRESS_OK);
  WaitUntil([&] { return !ItemVisible(main_, IDD_PAGE_PROGRESS); }, 20000);
  return text;
}

void QuarryPages::AcceptOptions(int compressionId, bool boot, int edition) {
  HWND dialog = WaitDialog(L"捕获选项");
  ASSERT_TRUE(dialog) << "no capture options dialog";
  if (compressionId) PostMessageW(GetDlgItem(dialog, compressionId), BM_CLICK, 0, 0);
  if (boot) PostMessageW(GetDlgItem(dialog, 1066), BM_CLICK, 0, 0);
  if (edition) {
    HWND combo = GetDlgItem(dialog, 1065);
    SendMessageTimeoutW(combo, CB_SETCURSEL, edition, 0, SMTO_NORMAL, 5000, nullptr);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1065, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  }
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 20000));
}

namespace {
BOOL CALLBACK CollectEdit(HWND hwnd, LPARAM lParam) {
  auto* edits = reinterpret_cast<std::vector<HWND>*>(lParam);
  if (ClassName(hwnd) == L"Edit" && IsWindowVisible(hwnd)) edits->push_back(hwnd);
  return TRUE;
}
std::vector<HWND> VisibleEdits(HWND dialog) {
  std::vector<HWND> edits;
  EnumChildWindows(dialog, CollectEdit, reinterpret_cast<LPARAM>(&edits));
  return edits;
}
}  // namespace

void QuarryPages::AnswerFileDialog(const std::wstring& path) {
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
          if (hwnd != main_ && IsWindowVisible(hwnd) && GetDlgItem(hwnd, IDOK) && !VisibleEdits(hwnd).empty())
            dialog = hwnd;
        return dialog != nullptr;
      },
      90000))
      << "no file dialog";
  HWND name = VisibleEdits(dialog).front();
  SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, 5000, nullptr);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 20000));
}

int QuarryPages::RowCount(HWND list) const {
  DWORD_PTR n = 0;
  SendMessageTimeoutW(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 5000, &n);
  return static_cast<int>(n);
}

int QuarryPages::RowImage(HWND list, int row) const {
  RemoteBlock block(quarry_.Pid(), sizeof(LVITEMW));
  LVITEMW item = {LVIF_IMAGE};
  item.iItem = row;
  item.iImage = -1;
  block.Write(&item, sizeof item);
  DWORD_PTR ok = 0;
  SendMessageTimeoutW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.get()), SMTO_NORMAL, 5000, &ok);
  block.Read(&item, sizeof item);
  return ok ? item.iImage : -1;
}

std::wstring QuarryPages::CellText(HWND list, int row, int column) const {
  const int chars = 4096;
  RemoteBlock block(quarry_.Pid(), sizeof(LVITEMW) + chars * sizeof(wchar_t));
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(block.get()) + sizeof(LVITEMW));
  item.cchTextMax = chars;
  block.Write(&item, sizeof item);
  DWORD_PTR n = 0;
  SendMessageTimeoutW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(block.get()), SMTO_NORMAL, 5000, &n);
  if (n >= static_cast<DWORD_PTR>(chars)) n = chars - 1;
  std::vector<wchar_t> buffer(chars, L'\0');
  block.Read(buffer.data(), chars * sizeof(wchar_t), sizeof(LVITEMW));
  return std::wstring(buffer.data(), wcsnlen(buffer.data(), n));
}

void QuarryPages::SetRowState(HWND list, int row, UINT state) {
  RemoteBlock block(quarry_.Pid(), sizeof(LVITEMW));
  LVITEMW item = {};
  item.stateMask = state;
  item.state = state;
  block.Write(&item, sizeof item);
  SendMessageTimeoutW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(block.get()), SMTO_NORMAL, 5000, nullptr);
}

void QuarryPages::ClickCell(HWND list, int row, int column) {
  RemoteBlock block(quarry_.Pid(), sizeof(RECT));
  RECT rect = {LVIR_BOUNDS, column, 0, 0};
  block.Write(&rect, sizeof rect);
  SendMessageTimeoutW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(block.get()), SMTO_NORMAL, 5000,
                      nullptr);
  block.Read(&rect, sizeof rect);
  POINT pt = {rect.left + 8, (rect.top + rect.bottom) / 2};
  ClientToScreen(list, &pt);
  ASSERT_TRUE(MakeForeground(main_));
  // The pointer comes to rest on the cell before the button goes down, as a
  // hand's would: a move that the list sees only after the press would
  // start a drag instead of a click.
  SetCursorPos(pt.x, pt.y);
  WaitUntil([&] {
    POINT at;
    return GetCursorPos(&at) && at.x == pt.x && at.y == pt.y;
  });
  Flush(list);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
  Flush(list);
}

std::string WimInfo(const std::wstring& wim, int image) {
  std::string command = "wimlib-imagex info " + ShQuote(UnixPath(wim));
  if (image) command += " " + std::to_string(image);
  return RunUnix(command + " 2>&1").output;
}

std::string InfoValue(const std::string& info, const std::string& key) {
  size_t at = 0;
  while ((at = info.find(key + ":", at)) != std::string::npos) {
    if (at == 0 || info[at - 1] == '\n') {
      size_t start = info.find_first_not_of(' ', at + key.size() + 1);
      size_t end = info.find('\n', at);
      return info.substr(start, end - start);
    }
    at += key.size();
  }
  return "(missing " + key + ")";
}

std::string DiffFolders(const std::wstring& a, const std::wstring& b) {
  UnixResult r = RunUnix("diff -r " + ShQuote(UnixPath(a)) + " " + ShQuote(UnixPath(b)) + " 2>&1");
  return r.exitCode == 0 ? "" : r.output + "(exit " + std::to_string(r.exitCode) + ")";
}

std::string DiffAppliedImage(const std::wstring& wim, int image, const std::wstring& folder) {
  std::wstring out = TempDir() + L"\\applied";
  UnixResult r = RunUnix("wimlib-imagex apply " + ShQuote(UnixPath(wim)) + " " + std::to_string(image) + " " +
                         ShQuote(UnixPath(out)) + " 2>&1");
  if (r.exitCode != 0) return "apply failed: " + r.output;
  return DiffFolders(out, folder);
}

}  // namespace catest
