#include "pages/page_capture.h"

#include "win/messages.h"
#include "engine/engine.h"
#include "engine/mount_guard.h"
#include "win/paths.h"
#include "win/pickers.h"
#include "pages/save_option_dlg.h"
#include "pages/shell_task_options.h"
#include "pages/skipped_items_dlg.h"
#include "resources/resource.h"
#include "tasks/progress_page.h"
#include "tasks/task_queue_page.h"
#include "win/message_box.h"
#include "win/pickers.h"
#include "win/strings.h"

namespace {

void MoveLabelLeftOf(HWND page, int editId, int x, int y) {
  HWND label = GetWindow(GetDlgItem(page, editId), GW_HWNDPREV);
  if (label) MoveItem(label, x, y + 3, 70, 18);
}
}  // namespace

CPage_Capture::CPage_Capture() : CFormPage(IDD_PAGE_CAPTURE) {}

void CPage_Capture::SetSourceFolder(const std::wstring& folder) {
  sourceFolder_ = folder;
  if (hwnd_) SetItemText(IDC_CAP_SOURCE, folder);
  UpdateButtons();
}

void CPage_Capture::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  sourceEdit_.AttachDlgItem(hwnd_, IDC_CAP_SOURCE);
  wimEdit_.AttachDlgItem(hwnd_, IDC_CAP_WIM);
  EnableWindow(Item(IDC_CAP_CREATE), FALSE);
  EnableWindow(Item(IDC_CAP_APPEND), FALSE);
}

void CPage_Capture::ReadFields() {
  sourceFolder_ = ItemText(IDC_CAP_SOURCE);
  wimFile_ = ItemText(IDC_CAP_WIM);
  name_ = ItemText(IDC_CAP_NAME);
  displayName_ = ItemText(IDC_CAP_DISPLAY_NAME);
  description_ = ItemText(IDC_CAP_DESCRIPTION);
  displayDescription_ = ItemText(IDC_CAP_DISPLAY_DESC);
}

void CPage_Capture::UpdateButtons() {
  if (!hwnd_) return;
  BOOL enable = !sourceFolder_.empty();
  EnableWindow(Item(IDC_CAP_CREATE), enable);
  EnableWindow(Item(IDC_CAP_APPEND), enable);
}

void CPage_Capture::PickSource() {
  std::wstring folder = PickFolder(hwnd_, bench_->settings.lastFolder);
  if (folder.empty()) return;
  SetItemText(IDC_CAP_SOURCE, folder);
  ReadFields();
  UpdateButtons();
}

void CPage_Capture::PickWimFile() {
  std::wstring path = PickFile(hwnd_, PickerKind::kSave, LoadStr(IDS_CAPTURE_WIM_FILTER), L"WIM", OFN_HIDEREADONLY);
  if (path.empty()) return;
  wimFile_ = path;
  SetItemText(IDC_CAP_WIM, path);
}

bool CPage_Capture::PathsValid(const std::wstring& source, const std::wstring& wimPath) {
  if (!IsExistingFolder(source)) return false;
  if (!HasExtension(wimPath, L".wim") && !HasExtension(wimPath, L".esd")) return false;
  // A capture must never read the file it writes.
  return !IsInsideFolder(wimPath, source);
}

void CPage_Capture::SelectWimText() {
  HWND edit = Item(IDC_CAP_WIM);
  SetFocus(edit);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

// Create asks before replacing a file; append asks before creating one.
bool CPage_Capture::ConfirmTarget(bool append) {
  bool exists = FileExists(wimFile_);
  if (exists == !append) {
    UINT question = append ? IDS_ASK_CREATE : IDS_ASK_REPLACE;
    int answer = AppMessageBox(hwnd_, wimFile_ + L" " + LoadStr(question), LoadStr(IDS_ASK_CREATE_CAPTION),
                               MB_YESNO | MB_ICONEXCLAMATION);
    if (answer != IDYES) {
      SelectWimText();
      return false;
    }
  }
  return true;
}

void CPage_Capture::OnCreateOrAppend(bool append) {
  Workbench& app = *bench_;
  if (app.mainWindow) SetFocus(app.mainWindow);
  if (!IsVisible()) return;
  // Adding to the queue is allowed while it runs: the run takes its rows
  // when it starts, so a new row waits for the next run.
  if (IsDlgButtonChecked(hwnd_, IDC_CAP_QUEUE) != BST_CHECKED && RefuseWhileQueueRuns(hwnd_)) return;
  ReadFields();
  if (wimFile_.empty()) PickWimFile();
  if (!PathsValid(sourceFolder_, wimFile_)) {
    AppMessageBox(hwnd_, LoadStr(IDS_INVALID_PATH), L"Quarry", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  std::wstring mountFolder = MountFolderOf(bench_->backends, wimFile_);
  if (!mountFolder.empty()) {
    AppMessageBox(hwnd_, MountedRefusalText(wimFile_, mountFolder), L"Quarry", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (!ConfirmTarget(append)) return;

  info_ = ImageInfo();
  CSaveOptionDlg options;
  OfferBackendOf(*bench_, options);
  options.appendMode = append ? 1 : 0;
  options.wimPath = wimFile_;
  options.offerTemplate = append;
  if (options.DoModal(app.mainWindow) != IDOK) return;
  templateImage_ = options.templateImage;
  compression_ = options.compressionType;
  info_.flags = options.editionFlag;
  info_.bootIndex = options.bootIndex;
  info_.wimBoot = options.wimBoot;
  info_.name = name_;
  info_.displayName = displayName_;
  info_.description = description_;
  info_.displayDescription = displayDescription_;

  if (IsDlgButtonChecked(hwnd_, IDC_CAP_QUEUE) == BST_CHECKED) QueueTask(append);
  else StartCapture(append);
}

void CPage_Capture::QueueTask(bool append) {
  Workbench& app = *bench_;
  CPage_TaskQueue* queue = app.TaskQueueView();
  if (!queue) return;
  TaskRequest task;
  task.type = append ? kTaskCaptureAppend : kTaskCaptureNew;
  task.capture = TakeRequest(append);
  queue->AddTask(RowOfTask(task), true);
}

CaptureRequest CPage_Capture::TakeRequest(bool append) const {
  CaptureRequest request;
  request.source = sourceFolder_;
  request.wimPath = wimFile_;
  request.compression = compression_;
  request.append = append;
  request.templateImage = append ? templateImage_ : kTemplateNone;
  request.verify = IsDlgButtonChecked(hwnd_, IDC_CAP_VERIFY) == BST_CHECKED;
  request.noSecurity = IsDlgButtonChecked(hwnd_, IDC_CAP_NO_ACL) == BST_CHECKED;
  request.info = info_;
  return request;
}

// The capture as an operation: everything it needs is copied here, on the
// user-interface thread.
void CPage_Capture::StartCapture(bool append) {
  CaptureRequest request = TakeRequest(append);
  // The user is asked about the first file that cannot be read.
  request.unreadable = UnreadablePolicy::kAsk;
  request.ask = AskAboutUnreadable;
  request.askContext = bench_->mainWindow;
  Operation capture;
  std::wstring format = SplitFields(LoadStr(IDS_PROGRESS_TITLES)).at(0);
  capture.title = FormatStr(format.c_str(), LastComponent(request.source).c_str(), LastComponent(request.wimPath).c_str());
  capture.display = bench_->ProgressView();
  if (capture.display) bench_->ProgressView()->SetSkippedViewer(ShowSkippedItems);
  capture.body = [backends = &bench_->backends, choice = bench_->Choice(), request](const OperationContext& context) {
    OperationOutcome outcome;
    CaptureRequest own = request;
    own.report = &outcome.report;
    outcome.result = MakeEngine(*backends, choice, context)->Capture(own);
    return outcome;
  };
  Show(false);
  if (StartOperation(std::move(capture))) return;
  Show(true);
  RefuseWhileQueueRuns(hwnd_);  // a run that began after the first look
}

bool CPage_Capture::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_CAP_PICK_SOURCE:
      if (code == BN_CLICKED) PickSource();
      return true;
    case IDC_CAP_PICK_WIM:
      if (code == BN_CLICKED) PickWimFile();
      return true;
    case IDC_CAP_CREATE:
    case IDC_CAP_APPEND:
      if (code == BN_CLICKED) OnCreateOrAppend(id == IDC_CAP_APPEND);
      return true;
    case IDC_CAP_SOURCE:
    case IDC_CAP_WIM:
    case IDC_CAP_NAME:
    case IDC_CAP_DISPLAY_NAME:
    case IDC_CAP_DESCRIPTION:
    case IDC_CAP_DISPLAY_DESC:
      if (code == EN_CHANGE) {
        ReadFields();
        if (id == IDC_CAP_SOURCE) UpdateButtons();
      }
      return true;
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage_Capture::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == UM_EDIT_DROPPED) {
    ReadFields();
    UpdateButtons();
    return true;
  }
  return CFormPage::HandleMessage(msg, wParam, lParam, result);
}

void CPage_Capture::Layout(int w, int h) {
  CFormPage::Layout(w, h);
  const int editLeft = 90, buttonWidth = 95;
  const int editWidth = w - editLeft - buttonWidth - 25;
  int rows[2] = {IDC_CAP_SOURCE, IDC_CAP_WIM};
  int buttons[2] = {IDC_CAP_PICK_SOURCE, IDC_CAP_PICK_WIM};
  for (int i = 0; i < 2; i++) {
    int y = 20 + i * 35;
    MoveLabelLeftOf(hwnd_, rows[i], 15, y);
    MoveItem(Item(rows[i]), editLeft, y, editWidth, 23);
    MoveItem(Item(buttons[i]), w - buttonWidth - 15, y - 1, buttonWidth, 25);
  }
  // The four texts: two columns of equal width.
  const int columnWidth = (w - 2 * editLeft - 25) / 2;
  int texts[4] = {IDC_CAP_NAME, IDC_CAP_DISPLAY_NAME, IDC_CAP_DESCRIPTION, IDC_CAP_DISPLAY_DESC};
  for (int i = 0; i < 4; i++) {
    int x = editLeft + (i % 2) * (columnWidth + editLeft);
    int y = 100 + (i / 2) * 35;
    MoveLabelLeftOf(hwnd_, texts[i], x - editLeft + 15, y);
    MoveItem(Item(texts[i]), x, y, columnWidth, 23);
  }
  MoveItem(Item(IDC_CAP_QUEUE), editLeft, 175, 125, 20);
  MoveItem(Item(IDC_CAP_VERIFY), editLeft + 135, 175, 70, 20);
  MoveItem(Item(IDC_CAP_NO_ACL), editLeft + 215, 175, 160, 20);
  MoveItem(Item(IDC_CAP_APPEND), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_CAP_CREATE), w - 215, h - 40, 95, 25);
}
