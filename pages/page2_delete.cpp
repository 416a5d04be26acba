#include "pages/page2_delete.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "win/messages.h"
#include "engine/image_xml.h"
#include "engine/mount_guard.h"
#include "engine/wim_file_reader.h"
#include "pages/edit_info_dlg.h"
#include "pages/page2_common.h"
#include "resources/ids_safety.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {
struct Column {
  int piece;  // -1: no heading
  int format;
  int width;
};
const Column kColumns[11] = {{-1, LVCFMT_LEFT, 30},    {0, LVCFMT_RIGHT, 90},   {1, LVCFMT_RIGHT, 60},
                             {2, LVCFMT_RIGHT, 60},    {3, LVCFMT_RIGHT, 100},  {4, LVCFMT_CENTER, 100},
                             {5, LVCFMT_CENTER, 100},  {6, LVCFMT_CENTER, 100}, {7, LVCFMT_CENTER, 105},
                             {8, LVCFMT_CENTER, 100},  {-1, LVCFMT_CENTER, 60}};
enum {
  kColumnIndex = 1,
  kColumnName = 5,
  kColumnDescription = 6,
  kColumnDisplayName = 7,
  kColumnDisplayDescription = 8,
  kColumnFlags = 9,
  kColumnBoot = 10,
};
constexpr int kRowIcon = 5;
const wchar_t kBootMark[] = L"BOOT";
constexpr UINT_PTR kBusyTimer = 1;
const wchar_t kBusyDots[] = L"......";

// The properties of an image that the dialog shows beside its six fields:
// all but the elements those fields write.
std::vector<ImageProperty> EditableProperties(const ImageXml& xml, int index) {
  static const wchar_t* const kFields[] = {L"NAME", L"DESCRIPTION", L"DISPLAYNAME", L"DISPLAYDESCRIPTION", L"FLAGS"};
  std::vector<ImageProperty> all = xml.Properties(index);
  std::vector<ImageProperty> out;
  for (ImageProperty& p : all)
    if (std::none_of(std::begin(kFields), std::end(kFields), [&](const wchar_t* f) { return p.path == f; }))
      out.push_back(std::move(p));
  return out;
}

}  // namespace

CPage2_Delete::CPage2_Delete() : CFormPage(IDD_PAGE_DELETE) {}

CPage2_Delete::~CPage2_Delete() {
  if (dropTarget_) dropTarget_->Revoke();
}

void CPage2_Delete::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  list_.AttachDlgItem(hwnd_, IDC_DELETE_LIST);
  PrepareReportList(list_.hwnd());
  CreateColumns();
  EnableSaveButtons(false, false);
  ShowWindow(Item(IDC_DELETE_BUSY), SW_HIDE);
  ShowWindow(Item(IDC_DELETE_ABORT), SW_HIDE);
  SetItemText(IDC_DELETE_PATH, L"");
  dragHelper_ = CreateDragImageHelper();
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, dragHelper_.get());
  if (dropTarget_) dropTarget_->Register();
}

void CPage2_Delete::CreateColumns() {
  for (int c = 0; c < 11; c++) {
    const Column& column = kColumns[c];
    InsertListColumn(list_.hwnd(), c, column.piece < 0 ? L"" : InfoColumnHeading(column.piece), column.format,
                     column.width);
  }
}

void CPage2_Delete::EnableSaveButtons(bool save, bool saveAs) {
  EnableWindow(Item(IDC_DELETE_SAVE), save);
  EnableWindow(Item(IDC_DELETE_SAVE_AS), saveAs);
}

void CPage2_Delete::OpenWimFile(const std::wstring& path) {
  if (saving_) return;
  wimPath_ = path;
  SetItemText(IDC_DELETE_PATH, wimPath_);
  LoadList();
}

void CPage2_Delete::LoadList() {
  HWND list = list_.hwnd();
  ListView_DeleteAllItems(list);
  // Nothing can be saved from an empty list, whatever the last file left.
  EnableSaveButtons(false, false);
  xml_ = ImageXml();
  editedProperties_.clear();
  loaded_ = StampOfFile(wimPath_);
  WimFileReader reader;
  if (!loaded_.valid || !reader.Read(wimPath_) || reader.xmlText.empty()) {
    loaded_ = WimStamp();
    return;
  }
  loaded_.imageCount = reader.ImageCount();
  listedCount_ = reader.ListedImageCount();
  auto value = [&](int index, const wchar_t* tag) { return reader.ImageValue(index, tag); };
  const uint32_t images = reader.ListedImageCount();
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);  // drawn once, when every row is in
  for (uint32_t i = 1; i <= images; i++) {
    int index = static_cast<int>(i);
    AppendListRow(list, kRowIcon,
                  {L"", FormatStr(L"%d", index), value(index, L"<FILECOUNT>"), value(index, L"<DIRCOUNT>"),
                   value(index, L"<TOTALBYTES>") + L" Bytes", value(index, L"<NAME>"), value(index, L"<DESCRIPTION>"),
                   value(index, L"<DISPLAYNAME>"), value(index, L"<DISPLAYDESCRIPTION>"), value(index, L"<FLAGS>"),
                   L""});
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  xml_ = ImageXml(reader.xmlText);
  int boot = static_cast<int>(reader.BootIndex());
  if (boot >= 1 && boot <= ListRowCount(list)) SetListCell(list, boot - 1, kColumnBoot, kBootMark);
  EnableSaveButtons(false, ListRowCount(list) > 0);
}

std::vector<ImageRow> CPage2_Delete::SnapshotRows() const {
  std::vector<ImageRow> rows;
  HWND list = list_.hwnd();
  int count = ListRowCount(list);
  for (int r = 0; r < count; r++) {
    ImageRow row;
    row.index = _wtoi(ListItemText(list, r, kColumnIndex).c_str());
    row.info.name = ListItemText(list, r, kColumnName);
    row.info.description = ListItemText(list, r, kColumnDescription);
    row.info.displayName = ListItemText(list, r, kColumnDisplayName);
    row.info.displayDescription = ListItemText(list, r, kColumnDisplayDescription);
    row.info.flags = ListItemText(list, r, kColumnFlags);
    row.boot = !ListItemText(list, r, kColumnBoot).empty();
    auto edited = editedProperties_.find(row.index);
    if (edited != editedProperties_.end())
      row.info.properties = PropertyChanges(EditableProperties(xml_, row.index), edited->second);
    rows.push_back(std::move(row));
  }
  return rows;
}

void CPage2_Delete::OpenByDialog() {
  if (!IsVisible() || saving_) return;
  FocusMainWindow();
  std::wstring path = PickWimFile(MainWindow(), false, OFN_OVERWRITEPROMPT);
  if (!path.empty()) OpenWimFile(path);
}

DWORD CPage2_Delete::OnOleDrop(IDataObject* data, DWORD effect, POINTL) {
  if (saving_) return DROPEFFECT_NONE;
  std::vector<std::wstring> files = DroppedFiles(data);
  if (files.empty()) return DROPEFFECT_NONE;
  OpenWimFile(files[0]);
  return effect;
}

void CPage2_Delete::RemoveSelected() {
  if (saving_) return;
  HWND list = list_.hwnd();
  int count = ListRowCount(list);
  if (ListSelectedCount(list) == count) {
    PageMessage(LoadStr(IDS_CANNOT_DELETE_ALL), L"", MB_ICONEXCLAMATION);
    return;
  }
  for (int r = count - 1; r >= 0; r--)
    if (ListRowSelected(list, r)) ListView_DeleteItem(list, r);
  EnableSaveButtons(true, true);
}

void CPage2_Delete::EditRow(int row) {
  HWND list = list_.hwnd();
  CEditInfoDlg dialog;
  dialog.name = ListItemText(list, row, kColumnName);
  dialog.description = ListItemText(list, row, kColumnDescription);
  dialog.displayName = ListItemText(list, row, kColumnDisplayName);
  dialog.displayDescription = ListItemText(list, row, kColumnDisplayDescription);
  dialog.flags = ListItemText(list, row, kColumnFlags);
  dialog.boot = !ListItemText(list, row, kColumnBoot).empty();
  const int index = _wtoi(ListItemText(list, row, kColumnIndex).c_str());
  auto edited = editedProperties_.find(index);
  dialog.properties = edited != editedProperties_.end() ? edited->second : EditableProperties(xml_, index);
  if (dialog.DoModal(MainWindow()) != IDOK || saving_) return;
  editedProperties_[index] = dialog.properties;
  SetListCell(list, row, kColumnName, dialog.name);
  SetListCell(list, row, kColumnDescription, dialog.description);
  SetListCell(list, row, kColumnDisplayName, dialog.displayName);
  SetListCell(list, row, kColumnDisplayDescription, dialog.displayDescription);
  SetListCell(list, row, kColumnFlags, dialog.flags);
  if (dialog.boot) {
    int count = ListRowCount(list);
    for (int r = 0; r < count; r++) SetListCell(list, r, kColumnBoot, L"");
    SetListCell(list, row, kColumnBoot, kBootMark);
  } else {
    SetListCell(list, row, kColumnBoot, L"");
  }
  EnableSaveButtons(true, true);
}

// The refusals every save starts with, before any question: a running
// task queue, nothing to keep, and a file changed since it was listed (the
// rows would then name other images, and the list is loaded again).
bool CPage2_Delete::RefuseSave() {
  if (RefuseWhileQueueRuns(MainWindow())) return true;
  if (ListRowCount(list_.hwnd()) == 0) {
    PageMessage(LoadStr(IDS_CANNOT_DELETE_ALL), L"", MB_ICONEXCLAMATION);
    return true;
  }
  if (ChangedSince(wimPath_, loaded_)) {
    ShowChangedMessage();
    LoadList();
    return true;
  }
  // The rows stand for the listed images only: a save would delete every
  // image the list could not hold.
  if (listedCount_ != loaded_.imageCount) {
    PageMessage(FormatStr(LoadStr(IDS_SAFETY_NOT_ALL_LISTED).c_str(), wimPath_.c_str(),
                          static_cast<int>(loaded_.imageCount), static_cast<int>(listedCount_)),
                L"", MB_ICONEXCLAMATION);
    return true;
  }
  return false;
}

bool CPage2_Delete::RefuseMounted(const std::wstring& path) {
  std::wstring folder = MountFolderOf(bench_->backends, path);
  if (folder.empty()) return false;
  PageMessage(MountedRefusalText(path, folder), L"", MB_ICONEXCLAMATION);
  return true;
}

void CPage2_Delete::ShowChangedMessage() {
  std::wstring text = LoadFilledStr(IDS_FILE_CHANGED_SINCE_LOAD, {wimPath_});
  PageMessage(text, L"", MB_ICONEXCLAMATION);
}

void CPage2_Delete::OnSave() {
  if (!IsVisible() || saving_ || wimPath_.empty()) return;
  FocusMainWindow();
  if (RefuseSave() || RefuseMounted(wimPath_)) return;
  std::wstring question = LoadFilledStr(IDS_ASK_SAVE_CHANGES, {wimPath_});
  if (PageMessage(question, L"", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  StartSave(wimPath_);
}

void CPage2_Delete::OnSaveAs() {
  if (!IsVisible() || saving_ || wimPath_.empty()) return;
  FocusMainWindow();
  if (RefuseSave()) return;
  std::wstring path = PickWimFile(MainWindow(), true);
  if (path.empty() || RefuseMounted(path)) return;
  if (FileExists(path) && !AskAboutPath(path, IDS_ASK_REPLACE, IDS_ASK_CREATE_CAPTION, MB_ICONEXCLAMATION)) return;
  StartSave(path);
}

void CPage2_Delete::StartSave(const std::wstring& destination) {
  SaveJob job;
  job.wimPath = wimPath_;
  job.destination = destination;
  job.rows = SnapshotRows();
  job.loaded = loaded_;
  job.backends = &bench_->backends;
  job.choice = bench_->Choice();
  const bool save = IsWindowEnabled(Item(IDC_DELETE_SAVE)) != FALSE;
  const bool saveAs = IsWindowEnabled(Item(IDC_DELETE_SAVE_AS)) != FALSE;
  auto end = std::make_shared<SaveEnd>();
  Operation saving;
  saving.display = this;
  saving.body = [job, end](const OperationContext& context) { return OperationOutcome{Save(job, context, *end)}; };
  saveJob_ = job;
  saveEnd_ = end;
  EnterBusyState(job.choice.backend == kBackendWimlib);
  if (StartOperation(std::move(saving))) return;
  // Not started (another operation holds the program): the pending
  // changes stay in the list and the operation that runs keeps its hold.
  UndoBusyState(save, saveAs);
  RefuseWhileQueueRuns(MainWindow());
}

void CPage2_Delete::UndoBusyState(bool save, bool saveAs) {
  saving_ = false;
  KillTimer(hwnd_, kBusyTimer);
  ShowWindow(Item(IDC_DELETE_PATH), SW_SHOW);
  ShowWindow(Item(IDC_DELETE_BUSY), SW_HIDE);
  ShowWindow(Item(IDC_DELETE_ABORT), SW_HIDE);
  EnableWindow(Item(IDC_DELETE_OPEN), TRUE);
  EnableSaveButtons(save, saveAs);
  EnableWindow(list_.hwnd(), TRUE);
}

void CPage2_Delete::EnterBusyState(bool abortable) {
  saving_ = true;
  EnableWindow(list_.hwnd(), FALSE);
  ShowWindow(Item(IDC_DELETE_PATH), SW_HIDE);
  SetItemText(IDC_DELETE_BUSY, LoadStr(IDS_SAVING_FILE));
  ShowWindow(Item(IDC_DELETE_BUSY), SW_SHOW);
  // A wimlib save can be stopped; WIMGAPI's edits cannot.
  EnableWindow(Item(IDC_DELETE_ABORT), TRUE);
  ShowWindow(Item(IDC_DELETE_ABORT), abortable ? SW_SHOW : SW_HIDE);
  EnableSaveButtons(false, false);
  EnableWindow(Item(IDC_DELETE_OPEN), FALSE);
  SetTimer(hwnd_, kBusyTimer, 500, nullptr);
}

void CPage2_Delete::LeaveBusyState(const SaveJob& job, EngineResult result, bool refused, bool told) {
  saving_ = false;
  LoadList();
  if (HWND main = MainWindow()) PostMessageW(main, UM_REFRESH_INFO, 0, 0);
  ShowWindow(Item(IDC_DELETE_PATH), SW_SHOW);
  ShowWindow(Item(IDC_DELETE_BUSY), SW_HIDE);
  ShowWindow(Item(IDC_DELETE_ABORT), SW_HIDE);
  EnableWindow(Item(IDC_DELETE_OPEN), TRUE);
  const bool listed = ListRowCount(list_.hwnd()) > 0;
  EnableSaveButtons(listed && !refused && !SamePath(job.destination, job.wimPath), listed);
  EnableWindow(list_.hwnd(), TRUE);
  KillTimer(hwnd_, kBusyTimer);
  if (told || result == kResultSuccess) return;
  if (result == kResultAborted) PageMessage(LoadStr(IDS_OP_CANCELLED), L"", MB_ICONINFORMATION);
  else PageMessage(LoadStr(IDS_SAVE_FAILED), L"", MB_ICONEXCLAMATION);
}

EngineResult CPage2_Delete::Save(const SaveJob& job, const OperationContext& context, SaveEnd& end) {
  // Looked at again here: another program may have written the file since
  // the question was answered.
  end.changed = ChangedSince(job.wimPath, job.loaded);
  end.copied = false;
  return end.changed ? kResultFailed : SaveChanges(job, context, end.copied);
}

void CPage2_Delete::OperationEnded(const OperationOutcome& outcome) {
  const SaveEnd end = saveEnd_ ? *saveEnd_ : SaveEnd();
  if (end.changed) ShowChangedMessage();
  else if (!end.copied) PageMessage(LoadStr(IDS_COPY_FAILED), L"", MB_ICONEXCLAMATION);
  LeaveBusyState(saveJob_, outcome.result, end.changed, end.changed || !end.copied);
}

// Like "中止" of the progress page: the save's next progress call asks
// whether to stop, and an aborted save leaves the file as it was.
void CPage2_Delete::OnAbort() {
  if (!saving_ || !IsWindowVisible(Item(IDC_DELETE_ABORT))) return;
  runner_->RequestCancel();
}

void CPage2_Delete::OnBusyTimer() {
  std::wstring text = ItemText(IDC_DELETE_BUSY);
  size_t dots = text.find(kBusyDots);
  if (dots == std::wstring::npos) text += L".";
  else text.erase(dots, wcslen(kBusyDots));
  SetItemText(IDC_DELETE_BUSY, text);
}

void CPage2_Delete::OnContextMenu() {
  bench_->ShowPopupMenu(PopupMenu::kDeleteEdit, hwnd_);
}

void CPage2_Delete::OnInitMenuPopup(HMENU menu) {
  HWND list = list_.hwnd();
  if (ListSelectedCount(list) == 0) EnableMenuItem(menu, ID_DELETE_IMAGE, MF_BYCOMMAND | MF_GRAYED);
  if (ListRowCount(list) != 0) return;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; i++)
    if (GetSubMenu(menu, i)) EnableMenuItem(menu, i, MF_BYPOSITION | MF_GRAYED);
}

void CPage2_Delete::OnJump(UINT command) {
  Workbench& app = *bench_;
  if (!wimPath_.empty()) app.JumpTo(command, wimPath_);
}

bool CPage2_Delete::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_DELETE_OPEN:
    case ID_DELETE_OPEN:
      OpenByDialog();
      return true;
    case ID_DELETE_IMAGE:
      RemoveSelected();
      return true;
    case IDC_DELETE_ABORT:
      OnAbort();
      return true;
    case IDC_DELETE_SAVE:
      if (code == BN_CLICKED) OnSave();
      return true;
    case IDC_DELETE_SAVE_AS:
      if (code == BN_CLICKED) OnSaveAs();
      return true;
    case ID_JUMP_APPLY:
    case ID_JUMP_SPLIT:
    case ID_JUMP_MERGE:
    case ID_JUMP_INFO:
    case ID_JUMP_BROWSER:
      OnJump(static_cast<UINT>(id));
      return true;
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage2_Delete::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->hwndFrom != list_.hwnd()) return false;
  switch (header->code) {
    case NM_DBLCLK: {
      int row = reinterpret_cast<NMITEMACTIVATE*>(header)->iItem;
      if (ListSelectedCount(list_.hwnd()) == 1) {
        if (row < 0) row = ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED);
        if (row >= 0 && !saving_) EditRow(row);
      }
      return true;
    }
    case NM_RCLICK:
      OnContextMenu();
      return true;
    case LVN_KEYDOWN:
      if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_DELETE) RemoveSelected();
      return true;
    default:
      return false;
  }
}

bool CPage2_Delete::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_TIMER:
      if (wParam == kBusyTimer) OnBusyTimer();
      return true;
    case WM_INITMENUPOPUP:
      OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
      return true;
    case UM_EDIT_DROPPED:
      if (!saving_) LoadList();
      return true;
    case WM_DESTROY:
      if (dropTarget_) dropTarget_->Revoke();
      KillTimer(hwnd_, kBusyTimer);
      break;
    default:
      break;
  }
  return CFormPage::HandleMessage(msg, wParam, lParam, result);
}

void CPage2_Delete::Layout(int w, int h) {
  MoveItem(list_.hwnd(), -1, 20, w + 2, h > 100 ? h - 100 : 0);
  int textWidth = w - 350 - 45;
  MoveItem(Item(IDC_DELETE_PATH), 45, h - 36, textWidth > 0 ? textWidth : 0, 20);
  // While saving, "中止" stands at the end of the busy text.
  MoveItem(Item(IDC_DELETE_BUSY), 45, h - 36, textWidth > 110 ? textWidth - 110 : 0, 20);
  MoveItem(Item(IDC_DELETE_ABORT), w - 460, h - 40, 95, 25);
  MoveItem(Item(IDC_DELETE_SAVE_AS), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_DELETE_SAVE), w - 220, h - 40, 95, 25);
  MoveItem(Item(IDC_DELETE_OPEN), w - 330, h - 40, 95, 25);
  CFormPage::Layout(w, h);
}
