#include "pages/skipped_items_dlg.h"

#include "resources/ids_skip.h"
#include "resources/resource.h"
#include "win/handles.h"
#include "win/long_path.h"
#include "win/message_box.h"
#include "win/pickers.h"
#include "win/strings.h"

CSkippedItemsDlg::CSkippedItemsDlg(std::vector<SkippedItem> items)
    : Dialog(IDD_SKIPPED_ITEMS), items_(std::move(items)) {}

std::wstring CSkippedItemsDlg::ItemsText(const std::vector<SkippedItem>& items) {
  std::wstring text;
  for (const SkippedItem& item : items) text += item.path + L"\t" + item.reason + L"\r\n";
  return text;
}

bool CSkippedItemsDlg::SaveText(const std::wstring& path, const std::wstring& text) {
  std::string bytes = "\xEF\xBB\xBF";
  if (!text.empty()) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n, nullptr, nullptr);
    bytes += utf8;
  }
  // Written beside the chosen name and renamed once complete, so that a
  // failed save leaves a file that was there as it was.
  std::wstring temp = TempFileBeside(path);
  if (temp.empty()) return false;
  bool written = false;
  {
    HANDLE file = CreateFileW(LongPathForm(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD done = 0;
      written = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                done == bytes.size();
      DWORD error = GetLastError();
      written = CloseHandle(file) && written;
      if (!written) SetLastError(error);
    }
  }
  DWORD error = GetLastError();
  if (written && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  if (written) error = GetLastError();
  DeleteFileW(temp.c_str());
  SetLastError(error);
  return false;
}

bool CSkippedItemsDlg::OnInitDialog() {
  SetItemText(IDC_SKIP_HEADER, FormatStr(LoadStr(IDS_SKIP_HEADER).c_str(), static_cast<int>(items_.size())));
  SetItemText(IDC_SKIP_LIST, ItemsText(items_));
  // The list opens unselected, with "关闭" ready for Enter.
  SetFocus(Item(IDOK));
  return false;
}

void CSkippedItemsDlg::Copy() {
  HWND edit = Item(IDC_SKIP_LIST);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, WM_COPY, 0, 0);
}

void CSkippedItemsDlg::Save() {
  std::wstring path =
      PickFile(hwnd_, PickerKind::kSave, LoadStr(IDS_SKIP_FILTER), L"txt", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
  if (path.empty()) return;
  if (SaveText(path, ItemsText(items_))) return;
  DWORD error = GetLastError();
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                 error, 0x400, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  AppMessageBox(hwnd_, FormatStr(LoadStr(IDS_SKIP_SAVE_FAILED).c_str(), path.c_str(), message ? message : L""),
                L"Quarry", MB_OK | MB_ICONERROR);
  if (message) LocalFree(message);
}

bool CSkippedItemsDlg::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_SKIP_COPY:
      Copy();
      return true;
    case IDC_SKIP_SAVE:
      Save();
      return true;
    default:
      return false;
  }
}

void ShowSkippedItems(HWND owner, const std::vector<SkippedItem>& items) {
  CSkippedItemsDlg dialog(items);
  dialog.DoModal(owner);
}

UnreadableChoice AskAboutUnreadable(void* owner, const std::wstring& path, const std::wstring& reason) {
  int answer = AppMessageBox(static_cast<HWND>(owner),
                             FormatStr(LoadStr(IDS_SKIP_ASK).c_str(), path.c_str(), reason.c_str()),
                             LoadStr(IDS_SKIP_ASK_CAPTION), MB_YESNOCANCEL | MB_ICONEXCLAMATION);
  if (answer == IDYES) return UnreadableChoice::kSkip;
  if (answer == IDNO) return UnreadableChoice::kSkipAll;
  return UnreadableChoice::kStop;
}
