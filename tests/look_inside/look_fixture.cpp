#include "look_fixture.h"

namespace look {

qtest::UnixResult Imagex(const std::string& args) { return qtest::RunUnix("wimlib-imagex " + args); }

std::string Q(const std::wstring& winPath) { return qtest::ShQuote(qtest::UnixPath(winPath)); }

bool Capture(const std::wstring& source, const std::wstring& wim, const std::string& name, const std::string& extra) {
  bool append = GetFileAttributesW(wim.c_str()) != INVALID_FILE_ATTRIBUTES;
  std::string command = std::string(append ? "append " : "capture ") + Q(source) + " " + Q(wim) + " " +
                        qtest::ShQuote(name) + " " + extra;
  return Imagex(command).exitCode == 0;
}

std::wstring Cell(HWND list, int row, int column) {
  wchar_t buffer[2048] = {};
  ListView_GetItemText(list, row, column, buffer, 2048);
  return buffer;
}

std::vector<std::wstring> Column(HWND list, int column) {
  std::vector<std::wstring> texts;
  for (int row = 0; row < ListView_GetItemCount(list); row++) texts.push_back(Cell(list, row, column));
  return texts;
}

std::wstring RemoteCell(HWND list, int row, int column) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return L"";
  const size_t chars = 1024;
  BYTE* remote = static_cast<BYTE*>(
      VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + chars * 2, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  std::wstring text;
  if (remote) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    item.cchTextMax = chars;
    WriteProcessMemory(process, remote, &item, sizeof(item), nullptr);
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
    std::vector<wchar_t> buffer(chars + 1, L'\0');
    ReadProcessMemory(process, remote + sizeof(LVITEMW), buffer.data(), chars * 2, nullptr);
    text = buffer.data();
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return text;
}

int FindRow(HWND list, int column, const std::wstring& text) {
  for (int row = 0; row < ListView_GetItemCount(list); row++)
    if (Cell(list, row, column) == text) return row;
  return -1;
}

void SelectRows(HWND list, const std::vector<int>& rows) {
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
  for (int row : rows) ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

bool ClickListHeader(HWND list, int column) {
  HWND header = ListView_GetHeader(list);
  RECT r;
  if (!Header_GetItemRect(header, column, &r)) return false;
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(header, WM_LBUTTONUP, 0, at);
  qtest::Flush(header);
  return true;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

}  // namespace look
