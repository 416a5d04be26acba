#include "pages/page_easy.h"

#include <shellapi.h>

#include <algorithm>

#include "win/paths.h"
#include "win/pickers.h"
#include "pages/shell_task_img_select.h"
#include "pages/skipped_items_dlg.h"
#include "engine/wim_file_reader.h"
#include "engine/engine.h"
#include "resources/resource.h"
#include "tasks/progress_page.h"
#include "win/message_box.h"
#include "win/paint.h"
#include "win/strings.h"

namespace {
constexpr UINT_PTR kTipTimer = 1;
constexpr UINT kTipDelayMs = 900;
constexpr COLORREF kBorder = RGB(195, 195, 195);
constexpr COLORREF kArrow = RGB(130, 155, 152);

void FramedWhite(HDC dc, const RECT& r) {
  FillSolid(dc, r, kBorder);
  RECT inner = r;
  InflateRect(&inner, -2, -2);
  FillSolid(dc, inner, RGB(255, 255, 255));
}

// The first file name of a shell file list, whatever its length.
std::wstring FirstDroppedPath(IDataObject* data) {
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (!data || FAILED(data->GetData(&format, &medium))) return L"";
  std::wstring path;
  if (auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal))) {
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count && path.empty(); i++) {
      UINT length = DragQueryFileW(drop, i, nullptr, 0);
      if (length == 0) continue;
      std::wstring name(length + 1, L'\0');
      if (DragQueryFileW(drop, i, &name[0], length + 1)) path = name.c_str();
    }
    GlobalUnlock(medium.hGlobal);
  }
  ReleaseStgMedium(&medium);
  return path;
}

}  // namespace

CPage_Easy::CPage_Easy() : CFormPage(IDD_PAGE_EASY) {}

CPage_Easy::~CPage_Easy() {
  if (dropTarget_) dropTarget_->Revoke();
}

int CPage_Easy::ClassOf(const std::wstring& path) {
  if (path.empty()) return -1;
  if (IsExistingFolder(path)) return kModeCapture;
  return IsImageFileName(path) ? kModeApply : -1;
}

void CPage_Easy::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  emptyPicture_.Load(IDP_DROP_AREA);
  folderPicture_.Load(IDP_FOLDER);
  wimPicture_.Load(IDP_WIM_FILE);
  dragImages_ = CreateDragImageHelper();
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, dragImages_.get());
  if (dropTarget_) dropTarget_->Register();
  EnableWindow(Item(IDC_EASY_CLEAR), FALSE);
  for (int id : {IDC_EASY_CAPTURE, IDC_EASY_APPLY, IDC_EASY_MOUNT}) ShowWindow(Item(id), SW_HIDE);
  SetTimer(hwnd_, kTipTimer, kTipDelayMs, nullptr);
  tipTimerStarted_ = true;
}

void CPage_Easy::Clear() {
  if (!IsVisible()) return;
  filled_ = false;
  mode_ = kModeNone;
  for (int id : {IDC_EASY_CAPTURE, IDC_EASY_APPLY, IDC_EASY_MOUNT}) ShowWindow(Item(id), SW_HIDE);
  EnableWindow(Item(IDC_EASY_CLEAR), FALSE);
  source_.clear();
  target_.clear();
  Invalidate();
}

void CPage_Easy::UpdateMode() {
  int from = ClassOf(source_), to = ClassOf(target_);
  if (from < 0 || to < 0) mode_ = kModeNone;
  else mode_ = from == kModeCapture ? kModeCapture : kModeApply;
  // A capture makes a whole file: never one named as a part of a split set.
  if (mode_ == kModeCapture && HasExtension(target_, L".swm")) mode_ = kModeNone;
  ShowWindow(Item(IDC_EASY_CAPTURE), mode_ == kModeCapture ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_EASY_APPLY), mode_ == kModeApply ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_EASY_MOUNT), mode_ == kModeApply ? SW_SHOW : SW_HIDE);
  Invalidate();
}

DWORD CPage_Easy::OnOleDrop(IDataObject* data, DWORD effect, POINTL point) {
  std::wstring path = FirstDroppedPath(data);
  if (path.empty()) return DROPEFFECT_NONE;
  POINT client = {point.x, point.y};
  ScreenToClient(hwnd_, &client);
  DropPath(path, client);
  return effect & DROPEFFECT_LINK ? DROPEFFECT_LINK : effect;
}

void CPage_Easy::DropPath(const std::wstring& path, POINT at) {
  int kind = ClassOf(path);
  if (kind < 0) return;
  if (!filled_) {
    source_ = path;
    filled_ = true;
    EnableWindow(Item(IDC_EASY_CLEAR), TRUE);
  } else {
    RECT source = SourceBox(), target = TargetBox();
    if (PtInRect(&source, at)) source_ = path;
    else if (PtInRect(&target, at)) target_ = path;
    if (ClassOf(target_) == ClassOf(source_)) target_.clear();
  }
  UpdateMode();
}

void CPage_Easy::OnDoubleClick(POINT at) {
  RECT target = TargetBox();
  if (!filled_ || !PtInRect(&target, at)) return;
  if (ClassOf(source_) == kModeCapture) {
    std::wstring chosen = target_.empty() ? source_ + L".WIM" : target_;
    if (AskSaveWimPath(hwnd_, chosen)) target_ = chosen;
  } else {
    target_ = PickFolder(hwnd_, bench_->settings.lastFolder);
  }
  UpdateMode();
}

// ---- operations -----------------------------------------------------------

void CPage_Easy::OnCapture() {
  bench_->FocusMainWindow();
  if (!IsVisible() || mode_ != kModeCapture || RefuseWhileQueueRuns(hwnd_)) return;
  // The image file inside the folder it captures would capture itself.
  if (IsInsideFolder(target_, source_)) {
    AppMessageBox(hwnd_, LoadStr(IDS_INVALID_PATH), L"Quarry", MB_ICONERROR);
    return;
  }
  append_ = false;
  if (FileExists(target_)) {
    int answer = AppMessageBox(hwnd_, target_ + LoadStr(IDS_ASK_REPLACE), L"Quarry", MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    if (answer == IDCANCEL) return;
    append_ = answer == IDNO;
  }
  choice_ = CaptureChoice();
  if (!AskCaptureOptions(hwnd_, *bench_, append_, target_, choice_)) return;
  choice_.info.name.clear();
  choice_.info.displayName.clear();
  choice_.info.description.clear();
  choice_.info.displayDescription.clear();
  CaptureRequest request;
  request.source = source_;
  request.wimPath = target_;
  request.compression = choice_.compression;
  request.append = append_;
  request.info = choice_.info;
  // The user is asked about the first file that cannot be read.
  request.unreadable = UnreadablePolicy::kAsk;
  request.ask = AskAboutUnreadable;
  request.askContext = bench_->mainWindow;
  if (CPage_Progress* progress = bench_->ProgressView()) progress->SetSkippedViewer(ShowSkippedItems);
  StartEasyOperation([backends = &bench_->backends, choice = bench_->Choice(), request](const OperationContext& context) {
    OperationOutcome outcome;
    CaptureRequest own = request;
    own.report = &outcome.report;
    outcome.result = MakeEngine(*backends, choice, context)->Capture(own);
    return outcome;
  });
}

void CPage_Easy::OnApply() {
  bench_->FocusMainWindow();
  if (!IsVisible() || mode_ != kModeApply || RefuseWhileQueueRuns(hwnd_)) return;
  // The image count comes from the file itself: no back end is needed.
  WimFileReader reader;
  int count = reader.Read(source_) ? static_cast<int>(reader.ImageCount()) : 0;
  image_ = 1;
  if (count >= 2) {
    CShellTaskImgSelectDlg chooser(source_, false);
    if (chooser.DoModal(bench_->mainWindow ? bench_->mainWindow : hwnd_) != IDOK) return;
    image_ = chooser.image();
  }
  ApplyRequest request{source_, target_, image_, false, false};
  StartEasyOperation([backends = &bench_->backends, choice = bench_->Choice(), request](const OperationContext& context) {
    return OperationOutcome{MakeEngine(*backends, choice, context)->Apply(request)};
  });
}

void CPage_Easy::OnMount() {
  bench_->FocusMainWindow();
  if (!IsVisible() || mode_ != kModeApply || RefuseWhileQueueRuns(hwnd_)) return;
  Workbench& app = *bench_;
  if (app.backendKind == kBackendWimlib &&
      AppMessageBox(hwnd_, LoadStr(IDS_WIMLIB_NO_MOUNT), L"Quarry", MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
    return;
  CShellTaskImgSelectDlg chooser(source_, true);
  if (chooser.DoModal(app.mainWindow) != IDOK) return;
  image_ = chooser.image();
  writable_ = chooser.writable();
  // Only WIMGAPI mounts.
  MountRequest request{source_, target_, image_, false, false, writable_};
  StartEasyOperation([backends = &bench_->backends, choice = bench_->Choice(kBackendWimgapi),
                      request](const OperationContext& context) {
    return OperationOutcome{MakeEngine(*backends, choice, context)->Mount(request)};
  });
}

void CPage_Easy::StartEasyOperation(std::function<OperationOutcome(const OperationContext&)> body) {
  CPage_Progress* progress = bench_->ProgressView();
  Operation operation;
  operation.display = progress;
  operation.body = std::move(body);
  Show(false);
  bench_->FocusMainWindow();
  if (progress) progress->SetReturnPage(this);
  if (StartOperation(std::move(operation))) return;
  if (progress) progress->SetReturnPage(nullptr);
  Show(true);
}

// ---- commands and messages ------------------------------------------------

void CPage_Easy::OnMainMenuButton() {
  bench_->ShowPopupMenu(PopupMenu::kEasyMain, hwnd_);
}

bool CPage_Easy::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_EASY_CLEAR:
    case ID_EASY_CLEAR_ALL:
      Clear();
      return true;
    case IDC_EASY_CAPTURE:
      OnCapture();
      return true;
    case IDC_EASY_APPLY:
      OnApply();
      return true;
    case IDC_EASY_MOUNT:
      OnMount();
      return true;
    default:
      break;
  }
  if (CFormPage::OnCommand(id, code, control)) return true;
  // Commands of the menus this page opens are carried out by the main window.
  if (!control) {
    Workbench& app = *bench_;
    if (app.mainWindow) PostMessageW(app.mainWindow, WM_COMMAND, MAKEWPARAM(id, code), 0);
    return true;
  }
  return false;
}

bool CPage_Easy::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      PaintBuffered(hwnd_, [this](HDC dc, const RECT& client) { Paint(dc, client); });
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_LBUTTONDBLCLK:
      OnDoubleClick({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return true;
    case WM_TIMER:
      if (wParam != kTipTimer) return false;
      KillTimer(hwnd_, kTipTimer);
      if (bench_->IsEasyMode() && bench_->mainWindow) bench_->ShowTip(LoadStr(IDS_CLICK_TO_SWITCH));
      return true;
    case WM_CONTEXTMENU:
      bench_->ShowPopupMenu(PopupMenu::kEasyContext, hwnd_);
      return true;
    case WM_INITMENUPOPUP: {
      HMENU menu = reinterpret_cast<HMENU>(wParam);
      EnableMenuItem(menu, ID_EASY_CLEAR_ALL, MF_BYCOMMAND | (filled_ ? MF_ENABLED : MF_GRAYED));
      bench_->UpdateBackendMenu(menu);
      return true;
    }
    default:
      return CFormPage::HandleMessage(msg, wParam, lParam, result);
  }
}

// ---- layout and painting --------------------------------------------------

void CPage_Easy::Layout(int width, int height) {
  MoveItem(Item(IDC_EASY_CLEAR), width - 110, height - 40, 95, 25);
  MoveItem(Item(IDC_EASY_APPLY), width - 220, height - 40, 95, 25);
  MoveItem(Item(IDC_EASY_CAPTURE), width - 220, height - 40, 95, 25);
  MoveItem(Item(IDC_EASY_MOUNT), width - 330, height - 40, 95, 25);
  MoveItem(Item(IDC_MAIN_MENU), 15, height - 40, 25, 25);
  Invalidate();
}

RECT CPage_Easy::DropArea() const {
  RECT client;
  GetClientRect(hwnd_, &client);
  return {client.left + 60, client.top + 60, client.right - 60, client.bottom - 120};
}

RECT CPage_Easy::SourceBox() const {
  RECT area = DropArea();
  int middle = (area.top + area.bottom) / 2, eighth = (area.bottom - area.top) / 8;
  return {area.left, area.top, area.right, middle - eighth};
}

RECT CPage_Easy::TargetBox() const {
  RECT area = DropArea();
  int middle = (area.top + area.bottom) / 2, eighth = (area.bottom - area.top) / 8;
  return {area.left, middle + eighth, area.right, area.bottom};
}

const PngImage* CPage_Easy::Picture(UINT id) const {
  if (id == IDP_FOLDER) return &folderPicture_;
  if (id == IDP_WIM_FILE) return &wimPicture_;
  return nullptr;
}

void CPage_Easy::Paint(HDC dc, const RECT& client) {
  FillSolid(dc, client, GetSysColor(COLOR_BTNFACE));
  RECT area = DropArea();
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  if (area.right > area.left && area.bottom > area.top) {
    if (filled_) PaintFilled(dc);
    else PaintEmpty(dc, area, client);
  }
  if (old) SelectObject(dc, old);
  RECT line = {client.left, client.bottom - 60, client.right, client.bottom - 58};
  DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
}

void CPage_Easy::PaintEmpty(HDC dc, const RECT& area, const RECT& client) {
  FramedWhite(dc, area);
  int cx = (client.left + client.right) / 2, cy = (client.top + client.bottom) / 2;
  if (emptyPicture_) {
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(emptyPicture_.get(), cx - emptyPicture_.width() / 2, cy - emptyPicture_.height() / 2 - 40,
                       emptyPicture_.width(), emptyPicture_.height());
  }
  int middle = (area.top + area.bottom) / 2;
  RECT text = {area.left, middle + 40, area.right, area.bottom};
  SetTextColor(dc, RGB(130, 130, 130));
  std::wstring prompt = LoadStr(IDS_DROP_HERE);
  DrawTextW(dc, prompt.c_str(), -1, &text, DT_SINGLELINE | DT_CENTER | DT_TOP | DT_NOPREFIX);
}

void CPage_Easy::PaintFilled(HDC dc) {
  RECT source = SourceBox(), target = TargetBox();
  PaintArrow(dc, source, target);
  PaintBox(dc, source, source_, ClassOf(source_) == kModeCapture ? IDP_FOLDER : IDP_WIM_FILE);
  UINT targetPicture = mode_ == kModeCapture ? IDP_WIM_FILE : mode_ == kModeApply ? IDP_FOLDER : 0;
  PaintBox(dc, target, target_, targetPicture);
  if (target_.empty()) {
    SetTextColor(dc, RGB(123, 123, 123));
    std::wstring prompt = LoadStr(IDS_DROP_OR_PICK);
    DrawTextW(dc, prompt.c_str(), -1, &target, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  }
}

void CPage_Easy::PaintBox(HDC dc, const RECT& box, const std::wstring& path, UINT pictureId) {
  FramedWhite(dc, box);
  if (!path.empty()) {
    RECT band = {box.left + 2, box.top + 2, box.right - 2, box.top + 26};
    FillSolid(dc, band, RGB(245, 245, 245));
    SetTextColor(dc, RGB(80, 80, 80));
    std::wstring text = path;  // DT_PATH_ELLIPSIS may rewrite a copy only
    DrawTextW(dc, &text[0], -1, &band, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX | DT_PATH_ELLIPSIS);
  }
  const PngImage* picture = Picture(pictureId);
  if (!picture || !*picture) return;
  int height = box.bottom - box.top;
  int side = std::min(100, height * 8 / 10);
  int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2 + 10;
  Gdiplus::Graphics graphics(dc);
  graphics.DrawImage(picture->get(), cx - side / 2, cy - side / 2, side, side);
}

void CPage_Easy::PaintArrow(HDC dc, const RECT& from, const RECT& to) {
  int cx = (from.left + from.right) / 2;
  RECT shaft = {cx - 3, from.bottom, cx + 3, to.top - 15};
  FillSolid(dc, shaft, kArrow);
  POINT tip[3] = {{cx - 10, to.top - 15}, {cx + 11, to.top - 15}, {cx, to.top}};
  HBRUSH brush = CreateSolidBrush(kArrow);
  HPEN pen = CreatePen(PS_SOLID, 1, kArrow);
  HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
  Polygon(dc, tip, 3);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(brush);
  DeleteObject(pen);
}
