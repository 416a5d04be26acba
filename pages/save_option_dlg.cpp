#include "pages/save_option_dlg.h"

#include <commctrl.h>

#include "engine/engine.h"
#include "engine/engine_host.h"
#include "engine/solid_output.h"
#include "engine/wim_file_reader.h"
#include "resources/ids_incremental.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/paths.h"
#include "win/strings.h"

const wchar_t* const CSaveOptionDlg::kEditions[] = {
    L"None",          L"Business",         L"Enterprise",       L"HomeBasic",      L"HomePremium",
    L"ServerDatacenter", L"ServerEnterprise", L"ServerStandard", L"Starter",        L"WindowsPE",
};
const int CSaveOptionDlg::kEditionCount = sizeof(kEditions) / sizeof(kEditions[0]);

namespace {
// Indexed by compression type: none, XPRESS, LZX, solid LZMS.
const int kCompressionButtons[4] = {IDC_OPT_COMP_NONE, IDC_OPT_COMP_XPRESS, IDC_OPT_COMP_LZX, IDC_OPT_COMP_LZMS};

int CompressionOfButton(int id) {
  for (int type = 0; type < 4; type++)
    if (kCompressionButtons[type] == id) return type;
  return -1;
}

void AddEdition(HWND combo, int index, const std::wstring& text) {
  COMBOBOXEXITEMW item = {};
  item.mask = CBEIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
}
}  // namespace

CSaveOptionDlg::CSaveOptionDlg() : Dialog(IDD_SAVE_OPTIONS) {}

bool CSaveOptionDlg::OnInitDialog() {
  FillEditions();
  if (appendMode) {
    ReadAppendTarget();
  } else {
    compressionType = 1;
    offeredBootIndex_ = 1;
    MarkCompression(1);
  }
  if (backend == kBackendWimgapi) {
    ShowWindow(Item(IDC_OPT_WIMBOOT), SW_HIDE);
    OfferSolidOnlyIfWritable();
  }
  if (offerTemplate && appendMode) OfferTemplate();
  else HideTemplate();
  return true;
}

bool CSaveOptionDlg::BackendTakesTemplate() const {
  if (!backends) return backend == kBackendWimlib;
  BackendChoice choice;
  choice.backend = backend;
  choice.tempFolder = tempFolder;
  return MakeEngine(*backends, choice)->CapturesAgainstTemplate();
}

// The entries: the file's last image first (what a repeated capture of one
// folder wants), then every image by number and name. The choice starts
// unticked: an append reads every file unless the user asks otherwise.
void CSaveOptionDlg::OfferTemplate() {
  HWND combo = Item(IDC_OPT_TEMPLATE_IMAGE);
  const int count = static_cast<int>(imageNames_.size());
  if (count > 0) {
    std::wstring last = LoadFilledStr(IDS_TEMPLATE_LAST_IMAGE, {std::to_wstring(count)});
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(last.c_str()));
    for (int i = 0; i < count; i++) {
      std::wstring entry = LoadFilledStr(IDS_TEMPLATE_IMAGE_ENTRY, {std::to_wstring(i + 1), imageNames_[i]});
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
  }
  std::wstring reason;
  if (!BackendTakesTemplate()) reason = LoadStr(IDS_TEMPLATE_NEEDS_WIMLIB);
  else if (count == 0) reason = LoadStr(IDS_TEMPLATE_NO_IMAGES);
  SetItemText(IDC_OPT_TEMPLATE_NOTE, reason);
  EnableWindow(Item(IDC_OPT_TEMPLATE), reason.empty() ? TRUE : FALSE);
  EnableTemplateImage();
}

void CSaveOptionDlg::EnableTemplateImage() {
  bool on = IsWindowEnabled(Item(IDC_OPT_TEMPLATE)) && IsDlgButtonChecked(hwnd_, IDC_OPT_TEMPLATE) == BST_CHECKED;
  EnableWindow(Item(IDC_OPT_TEMPLATE_IMAGE), on ? TRUE : FALSE);
}

// Without the choice the dialog ends below the WIMBoot box, as it always has.
void CSaveOptionDlg::HideTemplate() {
  const int ids[3] = {IDC_OPT_TEMPLATE, IDC_OPT_TEMPLATE_IMAGE, IDC_OPT_TEMPLATE_NOTE};
  for (int id : ids) ShowWindow(Item(id), SW_HIDE);
  // The buttons go back up by the height the choice takes (dialog units).
  RECT shift = {0, 0, 0, 174 - 132};
  MapDialogRect(hwnd_, &shift);
  const int dy = shift.bottom;
  const int buttons[2] = {IDOK, IDCANCEL};
  for (int id : buttons) {
    RECT r;
    GetWindowRect(Item(id), &r);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(Item(id), nullptr, r.left, r.top - dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT window;
  GetWindowRect(hwnd_, &window);
  SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left, window.bottom - window.top - dy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A system WIMGAPI that cannot write solid files gets the choice greyed, with
// a tooltip that says why; appending keeps the existing file's compression
// whatever the back end can make.
void CSaveOptionDlg::OfferSolidOnlyIfWritable() {
  if (compressionLocked_ || !backends) return;
  BackendChoice wimgapi;
  wimgapi.tempFolder = tempFolder;
  if (MakeEngine(*backends, wimgapi)->WritesSolid()) return;
  HWND button = Item(IDC_OPT_COMP_LZMS);
  EnableWindow(button, FALSE);
  solidUnavailable_ = true;
  tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, nullptr, nullptr);
  if (!tooltip_) return;
  // A disabled button gets no mouse messages, so the tip watches its
  // rectangle on the dialog instead.
  tooltipText_ = LoadStr(IDS_OPT_LZMS_UNAVAILABLE);
  TOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = hwnd_;
  tool.uId = IDC_OPT_COMP_LZMS;
  GetWindowRect(button, &tool.rect);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&tool.rect), 2);
  tool.lpszText = const_cast<wchar_t*>(tooltipText_.c_str());
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::wstring CSaveOptionDlg::SolidTooltipText() const {
  if (!tooltip_) return L"";
  wchar_t buffer[512] = {};
  TOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.hwnd = hwnd_;
  tool.uId = IDC_OPT_COMP_LZMS;
  tool.lpszText = buffer;
  SendMessageW(tooltip_, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
  return buffer;
}

void CSaveOptionDlg::FillEditions() {
  HWND combo = Item(IDC_OPT_EDITION);
  if (defaultOnly) {
    AddEdition(combo, 0, LoadStr(IDS_COMPRESSION_DEFAULT));
    EnableWindow(combo, FALSE);
    EnableWindow(Item(IDC_OPT_BOOT), FALSE);
  } else {
    for (int i = 0; i < kEditionCount; i++) AddEdition(combo, i, kEditions[i]);
  }
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  editionFlag.clear();
}

// Append mode: the existing file's compression is shown and kept, and the
// new image gets the number after the file's last image. A file that is not
// (yet) a readable WIM file is created by the capture, so its compression
// stays the user's choice and the new image is number 1.
void CSaveOptionDlg::ReadAppendTarget() {
  WimFileReader reader;
  if (!reader.Read(wimPath)) {
    compressionType = 1;
    offeredBootIndex_ = 1;
    MarkCompression(1);
    return;
  }
  compressionLocked_ = true;
  for (uint32_t i = 1; i <= reader.ListedImageCount(); i++) imageNames_.push_back(reader.ImageValue(i, L"<NAME>"));
  EnableCompression(false);
  compressionType = reader.CompressionType();
  MarkCompression(compressionType);
  offeredBootIndex_ = static_cast<int>(reader.ImageCount()) + 1;
  if (compressionType != 1) EnableWindow(Item(IDC_OPT_WIMBOOT), FALSE);
}

void CSaveOptionDlg::MarkCompression(int type) {
  for (int i = 0; i < 4; i++) CheckDlgButton(hwnd_, kCompressionButtons[i], i == type ? BST_CHECKED : BST_UNCHECKED);
}

void CSaveOptionDlg::EnableCompression(bool enable) {
  for (int id : kCompressionButtons) {
    bool offered = id != IDC_OPT_COMP_LZMS || !solidUnavailable_;
    EnableWindow(Item(id), enable && offered ? TRUE : FALSE);
  }
}

void CSaveOptionDlg::OnWimBootClicked() {
  if (IsDlgButtonChecked(hwnd_, IDC_OPT_WIMBOOT) == BST_CHECKED) {
    MarkCompression(1);
    compressionType = 1;
    EnableCompression(false);
  } else if (!compressionLocked_) {
    EnableCompression(true);
  }
}

bool CSaveOptionDlg::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_OPT_COMP_NONE:
    case IDC_OPT_COMP_XPRESS:
    case IDC_OPT_COMP_LZX:
    case IDC_OPT_COMP_LZMS:
      if (code == BN_CLICKED) compressionType = CompressionOfButton(id);
      return true;
    case IDC_OPT_EDITION:
      if (code == CBN_SELCHANGE) {
        int index = static_cast<int>(SendMessageW(Item(IDC_OPT_EDITION), CB_GETCURSEL, 0, 0));
        editionFlag = (index > 0 && index < kEditionCount && !defaultOnly) ? kEditions[index] : L"";
      }
      return true;
    case IDC_OPT_WIMBOOT:
      if (code == BN_CLICKED) OnWimBootClicked();
      return true;
    case IDC_OPT_TEMPLATE:
      if (code == BN_CLICKED) EnableTemplateImage();
      return true;
    default:
      return false;
  }
}

// A new ".esd" file is expected to be solid: one plain question when the
// choice says otherwise. "No" leaves the dialog open for another choice.
bool CSaveOptionDlg::ConfirmEsdCompression() {
  if (compressionLocked_ || compressionType == kCompressionSolidLzms || !HasExtension(wimPath, L".esd")) return true;
  int answer = AppMessageBox(hwnd_, wimPath + L" " + LoadStr(IDS_ESD_NOT_SOLID), L"Quarry", MB_YESNO | MB_ICONQUESTION);
  return answer == IDYES;
}

void CSaveOptionDlg::OnOK() {
  if (!ConfirmEsdCompression()) return;
  bool boot = IsDlgButtonChecked(hwnd_, IDC_OPT_BOOT) == BST_CHECKED;
  bootIndex = boot ? offeredBootIndex_ : 0;
  // A hidden WIMBoot box (WIMGAPI) is never ticked by the user.
  wimBoot = IsWindowVisible(Item(IDC_OPT_WIMBOOT)) && IsDlgButtonChecked(hwnd_, IDC_OPT_WIMBOOT) == BST_CHECKED;
  // Only a choice the user could make counts: a greyed or hidden one never does.
  templateImage = kTemplateNone;
  if (IsWindowEnabled(Item(IDC_OPT_TEMPLATE)) && IsWindowVisible(Item(IDC_OPT_TEMPLATE)) &&
      IsDlgButtonChecked(hwnd_, IDC_OPT_TEMPLATE) == BST_CHECKED) {
    int entry = static_cast<int>(SendMessageW(Item(IDC_OPT_TEMPLATE_IMAGE), CB_GETCURSEL, 0, 0));
    templateImage = entry <= 0 ? kTemplateLastImage : entry;
  }
  Dialog::OnOK();
}
