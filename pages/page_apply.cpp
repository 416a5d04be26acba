#include "pages/page_apply.h"

#include <uxtheme.h>

#include "win/messages.h"
#include "engine/image_xml.h"
#include "engine/wim_file_reader.h"
#include "engine/engine.h"
#include "win/paths.h"
#include "win/pickers.h"
#include "pages/wim_info_dlg.h"
#include "resources/resource.h"
#include "tasks/progress_page.h"
#include "tasks/task_queue_page.h"
#include "win/message_box.h"
#include "win/pickers.h"
#include "win/notices.h"
#include "win/strings.h"
#include "win/window.h"

namespace {
constexpr int kChosenIcon = 1;
constexpr int kOtherIcon = 2;


void AddColumn(HWND list, int index, const std::wstring& caption, int width, int format) {
  LVCOLUMNW column = {LVCF_TEXT | LVCF_WIDTH | LVCF_FMT};
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<wchar_t*>(caption.c_str());
  ListView_InsertColumn(list, index, &column);
}

void SetCell(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW item = {};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  SendPastSubclass(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// The first file of a shell drop whose name can be read.
std::wstring FirstDroppedFile(IDataObject* data) {
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (!data || FAILED(data->GetData(&format, &medium))) return L"";
  std::wstring path;
  auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal));
  if (drop) {
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && path.empty(); i++) {
      UINT length = DragQueryFileW(drop, i, nullptr, 0);
      if (length == 0) continue;
      path.assign(length + 1, L'\0');
      path.resize(DragQueryFileW(drop, i, &path[0], length + 1));
    }
    GlobalUnlock(medium.hGlobal);
  }
  ReleaseStgMedium(&medium);
  return path;
}
}  // namespace

CPage_Apply::CPage_Apply() : CFormPage(IDD_PAGE_APPLY) {}

CPage_Apply::~CPage_Apply() = default;

void CPage_Apply::OpenWimFile(const std::wstring& path) {
  wimFile_ = path;
  if (!hwnd_) return;
  SetItemText(IDC_APPLY_WIM, path);
  LoadList();
}

void CPage_Apply::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  list_.AttachDlgItem(hwnd_, IDC_APPLY_LIST);
  wimEdit_.AttachDlgItem(hwnd_, IDC_APPLY_WIM);
  targetEdit_.AttachDlgItem(hwnd_, IDC_APPLY_TARGET);
  SetupList();
  dragImages_ = CreateDragImageHelper();
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, dragImages_.get());
  dropTarget_->Register();
  UpdateButtons();
}

void CPage_Apply::SetupList() {
  Workbench& app = *bench_;
  std::vector<std::wstring> headings = SplitFields(LoadStr(IDS_INFO_COLUMNS));
  headings.resize(9);
  HWND list = list_.hwnd();
  AddColumn(list, 0, L"", 32, LVCFMT_LEFT);
  AddColumn(list, 1, headings[0], 90, LVCFMT_CENTER);
  AddColumn(list, 2, headings[1], 60, LVCFMT_RIGHT);
  AddColumn(list, 3, headings[2], 60, LVCFMT_RIGHT);
  AddColumn(list, 4, headings[3], 120, LVCFMT_RIGHT);
  AddColumn(list, 5, headings[4], 100, LVCFMT_LEFT);
  AddColumn(list, 6, headings[5], 100, LVCFMT_LEFT);
  AddColumn(list, 7, headings[8], 100, LVCFMT_CENTER);
  ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                                      LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  if (app.visualStylesActive) SetWindowTheme(list, L"explorer", nullptr);
  if (HIMAGELIST images = app.StateImages()) {
    ListView_SetImageList(list, images, LVSIL_NORMAL);
    ListView_SetImageList(list, images, LVSIL_SMALL);
  }
}

void CPage_Apply::LoadList() {
  ListView_DeleteAllItems(list_.hwnd());
  WimFileReader reader;
  if (FileExists(wimFile_) && reader.Read(wimFile_) && !reader.xmlText.empty()) {
    images_ = reader.Images();
    int count = static_cast<int>(reader.ListedImageCount());
    HWND list = list_.hwnd();
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);  // drawn once, when every row is in
    for (int i = 1; i <= count; i++) AddImageRow(i, images_);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
  }
  UpdateButtons();
}

void CPage_Apply::AddImageRow(int index, const ImageXml& xml) {
  HWND list = list_.hwnd();
  LVITEMW item = {LVIF_TEXT | LVIF_IMAGE};
  item.iItem = index - 1;
  item.pszText = const_cast<wchar_t*>(L"");
  item.iImage = index == 1 ? kChosenIcon : kOtherIcon;
  int row = static_cast<int>(SendPastSubclass(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  if (row < 0) return;
  SetCell(list, row, 1, FormatStr(L"%d", index));
  SetCell(list, row, 2, xml.Value(index, L"<FILECOUNT>"));
  SetCell(list, row, 3, xml.Value(index, L"<DIRCOUNT>"));
  SetCell(list, row, 4, xml.Value(index, L"<TOTALBYTES>") + L" Bytes");
  SetCell(list, row, 5, xml.Value(index, L"<NAME>"));
  SetCell(list, row, 6, xml.Value(index, L"<DESCRIPTION>"));
  SetCell(list, row, 7, xml.Value(index, L"<FLAGS>"));
}

void CPage_Apply::UpdateButtons() {
  BOOL any = ListView_GetItemCount(list_.hwnd()) > 0;
  EnableWindow(Item(IDC_APPLY_APPLY), any);
  EnableWindow(Item(IDC_APPLY_MOUNT), any);
}

void CPage_Apply::ChooseRow(int row) {
  HWND list = list_.hwnd();
  int n = ListView_GetItemCount(list);
  for (int i = 0; i < n; i++) {
    LVITEMW item = {LVIF_IMAGE};
    item.iItem = i;
    item.iImage = i == row ? kChosenIcon : kOtherIcon;
    ListView_SetItem(list, &item);
  }
}

int CPage_Apply::ChosenImage() const {
  HWND list = list_.hwnd();
  int n = ListView_GetItemCount(list);
  for (int i = 0; i < n; i++) {
    LVITEMW item = {LVIF_IMAGE};
    item.iItem = i;
    if (ListView_GetItem(list, &item) && item.iImage == kChosenIcon) return i + 1;
  }
  return 0;
}

void CPage_Apply::PickWimFile() {
  if (!IsVisible()) return;
  Workbench& app = *bench_;
  bool wimlib = app.backendKind == kBackendWimlib;
  std::wstring filter = LoadStr(wimlib ? IDS_APPLY_FILTER_WIMLIB : IDS_APPLY_FILTER_WIMGAPI);
  std::wstring path = PickFile(hwnd_, PickerKind::kOpen, filter, L"WIM", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
  if (!path.empty()) OpenWimFile(path);
}

void CPage_Apply::PickTarget() {
  if (!IsVisible()) return;
  std::wstring folder = PickFolder(hwnd_, bench_->settings.lastFolder);
  if (folder.empty()) return;
  target_ = folder;
  SetItemText(IDC_APPLY_TARGET, folder);
}

bool CPage_Apply::CheckPaths() {
  wimFile_ = ItemText(IDC_APPLY_WIM);
  target_ = ItemText(IDC_APPLY_TARGET);
  std::wstring lines;
  if (!IsExistingFolder(target_)) lines += L"\n" + target_;
  bool wimOk = FileExists(wimFile_) && IsImageFileName(wimFile_);
  if (!wimOk) lines += L"\n" + wimFile_;
  if (lines.empty()) return true;
  AppMessageBox(hwnd_, LoadStr(IDS_INVALID_PATH) + lines, L"Quarry", MB_OK | MB_ICONEXCLAMATION);
  return false;
}

// Adding to the queue is allowed while it runs (the run took its rows
// when it started); anything else waits for the run to end.
bool CPage_Apply::RefuseBesideQueue() {
  return IsDlgButtonChecked(hwnd_, IDC_APPLY_QUEUE) != BST_CHECKED && RefuseWhileQueueRuns(hwnd_);
}

void CPage_Apply::OnApply() {
  FocusMainWindow();
  if (!IsVisible() || RefuseBesideQueue() || !CheckPaths()) return;
  if (IsDlgButtonChecked(hwnd_, IDC_APPLY_QUEUE) == BST_CHECKED) QueueTask(false, false);
  else StartWorker(false, false);
}

void CPage_Apply::OnMount() {
  FocusMainWindow();
  if (!IsVisible() || RefuseBesideQueue() || !CheckPaths()) return;
  Workbench& app = *bench_;
  if (app.backendKind == kBackendWimlib &&
      AppMessageBox(hwnd_, LoadStr(IDS_WIMLIB_NO_MOUNT), L"Quarry", MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
    return;
  bool writable =
      AppMessageBox(hwnd_, LoadStr(IDS_ASK_MOUNT_WRITABLE), L"Quarry", MB_YESNO | MB_ICONQUESTION) == IDYES;
  if (IsDlgButtonChecked(hwnd_, IDC_APPLY_QUEUE) == BST_CHECKED) QueueTask(true, writable);
  else StartWorker(true, writable);
}

void CPage_Apply::QueueTask(bool mount, bool writable) {
  Workbench& app = *bench_;
  CPage_TaskQueue* queue = app.TaskQueueView();
  if (!queue) return;
  TaskRequest task;
  task.type = mount ? kTaskMount : kTaskApply;
  task.image = TakeRequest(mount && writable);
  queue->AddTask(RowOfTask(task), true);
}

MountRequest CPage_Apply::TakeRequest(bool writable) const {
  return MountRequest{wimFile_, target_, ChosenImage(), IsDlgButtonChecked(hwnd_, IDC_APPLY_VERIFY) == BST_CHECKED,
                      IsDlgButtonChecked(hwnd_, IDC_APPLY_NO_ACL) == BST_CHECKED, writable};
}

void CPage_Apply::StartWorker(bool mount, bool writable) {
  MountRequest request = TakeRequest(writable);
  ApplyRequest apply{request.wimPath, request.folder, request.index, request.verify, request.noSecurity};
  std::vector<std::wstring> titles = SplitFields(LoadStr(IDS_PROGRESS_TITLES));
  titles.resize(3);
  Operation operation;
  operation.title = FormatStr(titles[mount ? 2 : 1].c_str(), LastComponent(apply.wimPath).c_str(),
                              LastComponent(apply.target).c_str());
  operation.display = bench_->ProgressView();
  const Backends* backends = &bench_->backends;
  if (mount) {
    // Only WIMGAPI mounts.
    operation.body = [backends, choice = bench_->Choice(kBackendWimgapi), request](const OperationContext& context) {
      EngineResult result = MakeEngine(*backends, choice, context)->Mount(request);
      // The mounted-images window reads the new mount on the user-interface thread.
      GiveNotice(Notice::kMountedFromPage);
      return OperationOutcome{result};
    };
  } else {
    operation.body = [backends, choice = bench_->Choice(), apply](const OperationContext& context) -> OperationOutcome {
      return {MakeEngine(*backends, choice, context)->Apply(apply)};
    };
  }
  Show(false);
  if (StartOperation(std::move(operation))) return;
  Show(true);
  RefuseWhileQueueRuns(hwnd_);  // a run that began after the first look
}

DWORD CPage_Apply::OnOleDrop(IDataObject* data, DWORD effect, POINTL point) {
  RECT area;
  GetWindowRect(list_.hwnd(), &area);
  POINT pt = {point.x, point.y};
  if (!PtInRect(&area, pt)) return DROPEFFECT_NONE;
  std::wstring path = FirstDroppedFile(data);
  if (!IsImageFileName(path)) return DROPEFFECT_NONE;
  OpenWimFile(path);
  return effect;
}

void CPage_Apply::ShowContextMenu() {
  bench_->ShowPopupMenu(PopupMenu::kApply, hwnd_);
}

// "显示细节" needs exactly one selected row; "跳转到" needs images.
void CPage_Apply::OnInitMenuPopup(HMENU menu) {
  if (GetMenuState(menu, ID_APPLY_DETAILS, MF_BYCOMMAND) == static_cast<UINT>(-1)) return;
  HWND list = list_.hwnd();
  bool one = ListView_GetSelectedCount(list) == 1;
  EnableMenuItem(menu, ID_APPLY_DETAILS, MF_BYCOMMAND | (one ? MF_ENABLED : MF_GRAYED));
  bool any = ListView_GetItemCount(list) > 0;
  for (int i = 0; i < GetMenuItemCount(menu); i++)
    if (GetSubMenu(menu, i)) EnableMenuItem(menu, i, MF_BYPOSITION | (any ? MF_ENABLED : MF_GRAYED));
}

bool CPage_Apply::OnCommand(int id, int code, HWND control) {
  Workbench& app = *bench_;
  switch (id) {
    case IDC_APPLY_PICK_WIM:
    case ID_APPLY_OPEN:
      if (code == BN_CLICKED) PickWimFile();
      return true;
    case IDC_APPLY_PICK_TARGET:
      if (code == BN_CLICKED) PickTarget();
      return true;
    case IDC_APPLY_APPLY:
      if (code == BN_CLICKED) OnApply();
      return true;
    case IDC_APPLY_MOUNT:
      if (code == BN_CLICKED) OnMount();
      return true;
    case IDC_APPLY_WIM:
      if (code == EN_CHANGE) {
        wimFile_ = ItemText(IDC_APPLY_WIM);
        LoadList();
      }
      return true;
    case IDC_APPLY_TARGET:
      if (code == EN_CHANGE) target_ = ItemText(IDC_APPLY_TARGET);
      return true;
    case ID_JUMP_SPLIT:
    case ID_JUMP_MERGE:
    case ID_JUMP_DELETE:
    case ID_JUMP_BROWSER:
    case ID_JUMP_INFO:
    case ID_JUMP_MAINTAIN:
      app.JumpTo(id, wimFile_);
      return true;
    case ID_APPLY_DETAILS:
      // The details open at the image of the selected row.
      if (!wimFile_.empty())
        CWimInfoDlg::Open(wimFile_, hwnd_, 1, ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED) + 1);
      return true;
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage_Apply::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_APPLY_LIST) return false;
  if (header->code == NM_CLICK) {
    auto* click = reinterpret_cast<NMITEMACTIVATE*>(header);
    if (click->iItem >= 0 && click->iSubItem == 0) ChooseRow(click->iItem);
  } else if (header->code == NM_RCLICK) {
    ShowContextMenu();
  }
  return false;
}

bool CPage_Apply::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case UM_EDIT_DROPPED:
      if (wParam == IDC_APPLY_WIM) {
        wimFile_ = ItemText(IDC_APPLY_WIM);
        LoadList();
      } else {
        target_ = ItemText(IDC_APPLY_TARGET);
      }
      return true;
    case WM_INITMENUPOPUP:
      OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
      return true;
    case WM_DESTROY:
      if (dropTarget_) dropTarget_->Revoke();
      return CFormPage::HandleMessage(msg, wParam, lParam, result);
    default:
      return CFormPage::HandleMessage(msg, wParam, lParam, result);
  }
}

void CPage_Apply::OnMainMenuButton() {
  CFormPage::OnMainMenuButton();
  FocusMainWindow();
}

void CPage_Apply::Layout(int w, int h) {
  CFormPage::Layout(w, h);
  MoveItem(list_.hwnd(), -1, -1, w + 2, h - 210 + 1);
  int edits[2] = {IDC_APPLY_WIM, IDC_APPLY_TARGET};
  int buttons[2] = {IDC_APPLY_PICK_WIM, IDC_APPLY_PICK_TARGET};
  for (int i = 0; i < 2; i++) {
    int y = h - 195 + i * 35;
    HWND label = GetWindow(Item(edits[i]), GW_HWNDPREV);
    MoveItem(label, 15, y + 3, 65, 18);
    MoveItem(Item(edits[i]), 90, y, w - 125 - 90, 23);
    MoveItem(Item(buttons[i]), w - 110, y - 1, 95, 25);
  }
  MoveItem(Item(IDC_APPLY_QUEUE), 90, h - 110, 120, 20);
  MoveItem(Item(IDC_APPLY_VERIFY), 217, h - 110, 65, 20);
  MoveItem(Item(IDC_APPLY_NO_ACL), 290, h - 110, 160, 20);
  MoveItem(Item(IDC_APPLY_APPLY), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_APPLY_MOUNT), w - 215, h - 40, 95, 25);
}
