#include "pages/compare_dlg.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>

#include "engine/engine.h"
#include "engine/wim_file_reader.h"
#include "pages/browser_extract.h"
#include "pages/compare_report.h"
#include "pages/page2_common.h"
#include "pages/skipped_items_dlg.h"
#include "resources/ids_compare.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/paths.h"
#include "win/pickers.h"
#include "win/strings.h"

namespace {
CCompareDlg* g_compare = nullptr;

constexpr int kBarRange = 1000;

const UINT kKindChecks[kDiffKindCount] = {
    IDC_COMPARE_SHOW_ADDED,    IDC_COMPARE_SHOW_REMOVED, IDC_COMPARE_SHOW_CONTENT, IDC_COMPARE_SHOW_ATTRIBUTES,
    IDC_COMPARE_SHOW_SECURITY, IDC_COMPARE_SHOW_TIMES,   IDC_COMPARE_SHOW_MOVED,
};

int ImageCountOf(const std::wstring& path) {
  WimFileReader reader;
  if (!reader.Read(path) || reader.xmlText.empty()) return 0;
  return static_cast<int>(reader.ListedImageCount());
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos || slash == 0 ? L"\\" : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring Decimal(uint64_t n) { return std::to_wstring(n); }


// Half of the read's progress: the first tree fills the bar to 50, the
// second from there to 100.
class HalfProgress : public ProgressTarget {
 public:
  HalfProgress(ProgressTarget* whole, float base) : whole_(whole), base_(base) {}
  HWND Hwnd() const override { return whole_ ? whole_->Hwnd() : nullptr; }
  void SetPercent(float percent) override {
    if (whole_) whole_->SetPercent(base_ + percent / 2);
  }

 private:
  ProgressTarget* whole_;
  float base_;
};

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}
}  // namespace

// What the read's body fills on the worker; the window takes it when the
// operation has ended.
struct CCompareDlg::Reading {
  TreeRequest first;
  TreeRequest second;
  DiffOptions options;
  ImageTree before;
  ImageTree after;
  std::vector<DiffRow> rows;
  double compareMs = 0;
};

CCompareDlg::CCompareDlg(Workbench& bench, OperationRunner& runner, BrowseImageFolder browse)
    : Dialog(IDD_COMPARE), bench_(bench), runner_(runner), browse_(std::move(browse)) {}

CCompareDlg* CCompareDlg::Instance() { return g_compare; }

CCompareDlg* CCompareDlg::Show(HWND owner, Workbench& bench, OperationRunner& runner, const std::wstring& file,
                               BrowseImageFolder browse) {
  bool fresh = false;
  if (!g_compare) {
    auto* dialog = new CCompareDlg(bench, runner, std::move(browse));
    if (!dialog->Create(owner)) {
      delete dialog;
      return nullptr;
    }
    g_compare = dialog;
    fresh = true;
  }
  CCompareDlg* dialog = g_compare;
  dialog->closePending_ = false;
  if (!file.empty() && IsImageFileName(file) && !dialog->reading_) {
    int side = fresh || dialog->FileOf(1).empty() ? 1 : 2;
    dialog->SetFile(side, file);
  }
  ShowWindow(dialog->hwnd(), SW_SHOW);
  SetForegroundWindow(dialog->hwnd());
  return dialog;
}

bool CCompareDlg::OnInitDialog() {
  icon_ = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_QUARRY));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  SetWindowTextW(hwnd_, LoadStr(IDS_COMPARE_TITLE).c_str());
  for (UINT id : kKindChecks) CheckDlgButton(hwnd_, id, BST_CHECKED);
  SendDlgItemMessageW(hwnd_, IDC_COMPARE_PROGRESS, PBM_SETRANGE32, 0, kBarRange);
  CreateColumns();
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, CreateDragImageHelper().get());
  if (dropTarget_) dropTarget_->Register();
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  ShowSummary();
  UpdateButtons();
  return true;
}

void CCompareDlg::CreateColumns() {
  HWND list = Item(IDC_COMPARE_LIST);
  SetWindowTheme(list, L"explorer", nullptr);
  ListView_SetExtendedListViewStyleEx(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP,
                                      LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP);
  std::vector<std::wstring> titles = SplitFields(LoadStr(IDS_COMPARE_COLUMNS));
  const int widths[] = {330, 150, 90, 90, 260};
  for (int i = 0; i < 5; i++) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = (i == 2 || i == 3) ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = widths[i];
    std::wstring title = i < static_cast<int>(titles.size()) ? titles[i] : L"";
    column.pszText = &title[0];
    ListView_InsertColumn(list, i, &column);
  }
}

void CCompareDlg::Layout(int width, int height) {
  if (width <= 0 || height <= 0) return;
  RECT probe = {0, 0, 4, 8};
  MapDialogRect(hwnd_, &probe);  // one dialog unit across and down, times four and eight
  auto dx = [&](int units) { return MulDiv(units, probe.right, 4); };
  auto dy = [&](int units) { return MulDiv(units, probe.bottom, 8); };
  const int margin = dx(7);
  const int right = width - margin;
  // The two file rows: edit, "...", image list, then the buttons at the right.
  const int buttonW = dx(47), comboW = dx(60), pickW = dx(20), gap = dx(4);
  const int editLeft = dx(45);
  const int editRight = right - buttonW - gap - comboW - gap - pickW - gap;
  for (int side = 0; side < 2; side++) {
    const int top = dy(side == 0 ? 7 : 24);
    MoveItem(Item(side == 0 ? IDC_COMPARE_FILE1 : IDC_COMPARE_FILE2), editLeft, top, editRight - editLeft, dy(13));
    MoveItem(Item(side == 0 ? IDC_COMPARE_PICK1 : IDC_COMPARE_PICK2), editRight + gap, top, pickW, dy(13));
    SetWindowPos(Item(side == 0 ? IDC_COMPARE_IMAGE1 : IDC_COMPARE_IMAGE2), nullptr, editRight + gap + pickW + gap,
                 top, comboW, dy(100), SWP_NOZORDER | SWP_NOACTIVATE);
    MoveItem(Item(side == 0 ? IDC_COMPARE_RUN : IDC_COMPARE_ABORT), right - buttonW, top, buttonW, dy(14));
  }
  MoveItem(Item(IDC_COMPARE_PROGRESS), dx(70), dy(43), editRight - dx(70), dy(10));
  MoveItem(Item(IDC_COMPARE_STATUS), editRight + gap, dy(43), right - editRight - gap, dy(10));
  const int textLeft = dx(347);
  MoveItem(Item(IDC_COMPARE_TEXT), textLeft, dy(57), std::max(dx(60), right - textLeft), dy(13));
  const int listTop = dy(74);
  const int bottomRow = height - dy(21);
  MoveItem(Item(IDC_COMPARE_LIST), margin, listTop, right - margin, std::max(dy(20), bottomRow - dy(6) - listTop));
  MoveItem(Item(IDCANCEL), right - dx(50), bottomRow, dx(50), dy(14));
  MoveItem(Item(IDC_COMPARE_SAVE), right - dx(50) - gap - dx(62), bottomRow, dx(62), dy(14));
  MoveItem(Item(IDC_COMPARE_SUMMARY), margin, bottomRow - dy(3), right - dx(50) - dx(62) - 2 * gap - margin, dy(20));
  InvalidateRect(hwnd_, nullptr, TRUE);
}

std::wstring CCompareDlg::FileOf(int side) const {
  return ItemText(side == 1 ? IDC_COMPARE_FILE1 : IDC_COMPARE_FILE2);
}

bool CCompareDlg::SetFile(int side, const std::wstring& path) {
  HWND combo = Item(side == 1 ? IDC_COMPARE_IMAGE1 : IDC_COMPARE_IMAGE2);
  int count = ImageCountOf(path);
  if (count == 0) {
    AppMessageBox(hwnd_, path + L"\n" + LoadStr(IDS_COMPARE_NOT_A_WIM), LoadStr(IDS_COMPARE_TITLE), MB_ICONERROR);
    return false;
  }
  SetItemText(side == 1 ? IDC_COMPARE_FILE1 : IDC_COMPARE_FILE2, path);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (int i = 1; i <= count; i++)
    SendMessageW(combo, CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(FormatStr(LoadStr(IDS_COMPARE_IMAGE_ITEM).c_str(), i).c_str()));
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  // Two images of one file: the second starts at the file's next image.
  if (side == 2 && count > 1 && _wcsicmp(FileOf(1).c_str(), path.c_str()) == 0 && ChosenImage(1) < count)
    SendMessageW(combo, CB_SETCURSEL, ChosenImage(1), 0);
  if (side == 1 && FileOf(2).empty() && count > 1) SetFile(2, path);
  UpdateButtons();
  return true;
}

void CCompareDlg::SetImage(int side, int image) {
  SendDlgItemMessageW(hwnd_, side == 1 ? IDC_COMPARE_IMAGE1 : IDC_COMPARE_IMAGE2, CB_SETCURSEL, image - 1, 0);
}

int CCompareDlg::ChosenImage(int side) const {
  LRESULT chosen = SendDlgItemMessageW(hwnd_, side == 1 ? IDC_COMPARE_IMAGE1 : IDC_COMPARE_IMAGE2, CB_GETCURSEL, 0, 0);
  return chosen == CB_ERR ? 0 : static_cast<int>(chosen) + 1;
}

void CCompareDlg::PickFile(int side) {
  std::wstring path = ::PickFile(hwnd_, PickerKind::kOpen, LoadStr(IDS_COMPARE_WIM_FILTER), L"WIM",
                                 OFN_HIDEREADONLY | OFN_FILEMUSTEXIST);
  if (!path.empty()) SetFile(side, path);
}

DWORD CCompareDlg::OnOleDrop(IDataObject* data, DWORD effect, POINTL point) {
  if (reading_) return DROPEFFECT_NONE;
  std::vector<std::wstring> files = DroppedFiles(data);
  // Only files can be images: a dropped folder is passed over.
  files.erase(std::remove_if(files.begin(), files.end(), [](const std::wstring& f) { return IsExistingFolder(f); }),
              files.end());
  if (files.empty()) return DROPEFFECT_NONE;
  if (files.size() >= 2) {
    if (SetFile(1, files[0])) SetFile(2, files[1]);
    return effect;
  }
  // One file: onto the first file's row it is the first image's file,
  // anywhere else the second's.
  RECT first;
  GetWindowRect(Item(IDC_COMPARE_FILE1), &first);
  RECT label;
  GetWindowRect(Item(IDC_COMPARE_LABEL1), &label);
  bool onFirst = point.y >= first.top && point.y < first.bottom && point.x >= label.left;
  SetFile(onFirst || FileOf(1).empty() ? 1 : 2, files[0]);
  return effect;
}

bool CCompareDlg::StartCompare() {
  if (reading_ || runner_.RefuseWhileQueueRuns(hwnd_)) return false;
  if (!bench_.backends.WimlibAvailable()) {
    AppMessageBox(hwnd_, LoadStr(IDS_COMPARE_NO_WIMLIB), LoadStr(IDS_COMPARE_TITLE), MB_ICONERROR);
    return false;
  }
  std::wstring first = FileOf(1), second = FileOf(2);
  if (first.empty() || second.empty() || !ChosenImage(1) || !ChosenImage(2)) {
    AppMessageBox(hwnd_, LoadStr(IDS_COMPARE_NEED_TWO), LoadStr(IDS_COMPARE_TITLE), MB_ICONINFORMATION);
    return false;
  }
  auto reading = std::make_shared<Reading>();
  reading->first = {first, ChosenImage(1)};
  reading->second = {second, ChosenImage(2)};
  reading->options.ignoreTimes = IsDlgButtonChecked(hwnd_, IDC_COMPARE_IGNORE_TIMES) == BST_CHECKED;
  const Backends* backends = &bench_.backends;  // bound for the program's life
  Operation operation;
  operation.title = LoadStr(IDS_COMPARE_TITLE);
  operation.display = this;
  operation.body = [reading, backends](const OperationContext& context) {
    OperationOutcome outcome;
    BackendChoice wimlib;
    wimlib.backend = kBackendWimlib;
    HalfProgress firstHalf(context.progress, 0), secondHalf(context.progress, 50);
    OperationContext firstContext = context, secondContext = context;
    firstContext.progress = &firstHalf;
    secondContext.progress = &secondHalf;
    outcome.result = MakeEngine(*backends, wimlib, firstContext)->ReadTree(reading->first, reading->before);
    if (outcome.result != kResultSuccess) return outcome;
    outcome.result = MakeEngine(*backends, wimlib, secondContext)->ReadTree(reading->second, reading->after);
    if (outcome.result != kResultSuccess) return outcome;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    reading->rows = CompareTrees(reading->before, reading->after, reading->options);
    QueryPerformanceCounter(&end);
    reading->compareMs = Milliseconds(start, end);
    return outcome;
  };
  pending_ = reading;
  reading_ = true;  // before Start: the display is told of the start at once
  if (!runner_.Start(std::move(operation))) {
    reading_ = false;
    pending_.reset();
    SetItemText(IDC_COMPARE_STATUS, LoadStr(IDS_COMPARE_BUSY));
    UpdateButtons();
    return false;
  }
  UpdateButtons();  // "中止" at once, before the read has begun
  return true;
}

void CCompareDlg::Abort() {
  if (reading_) runner_.RequestCancel(true);
}

void CCompareDlg::SetPercent(float percent) {
  // Any thread: a posted message, so the worker never waits for this window.
  PostMessageW(Item(IDC_COMPARE_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent * kBarRange / 100), 0);
}

void CCompareDlg::OperationBegun(const std::wstring&) {
  reading_ = true;
  SendDlgItemMessageW(hwnd_, IDC_COMPARE_PROGRESS, PBM_SETPOS, 0, 0);
  if (pending_)
    SetItemText(IDC_COMPARE_STATUS, FormatStr(LoadStr(IDS_COMPARE_READING).c_str(), NameOf(pending_->first.wimPath).c_str(),
                                              pending_->first.image));
  UpdateButtons();
}

void CCompareDlg::OperationEnded(const OperationOutcome& outcome) {
  reading_ = false;
  std::shared_ptr<Reading> reading = std::move(pending_);
  SetItemText(IDC_COMPARE_STATUS, L"");
  if (closePending_) {
    DestroyWindow(hwnd_);
    return;
  }
  if (outcome.result == kResultSuccess && reading) {
    before_ = std::move(reading->before);
    after_ = std::move(reading->after);
    rows_ = std::move(reading->rows);
    compareMs_ = reading->compareMs;
    haveTrees_ = true;
    SendDlgItemMessageW(hwnd_, IDC_COMPARE_PROGRESS, PBM_SETPOS, kBarRange, 0);
    ApplyFilter();
  } else if (outcome.result == kResultAborted) {
    SendDlgItemMessageW(hwnd_, IDC_COMPARE_PROGRESS, PBM_SETPOS, 0, 0);
    SetItemText(IDC_COMPARE_STATUS, LoadStr(IDS_COMPARE_CANCELLED));
  } else {
    SendDlgItemMessageW(hwnd_, IDC_COMPARE_PROGRESS, PBM_SETPOS, 0, 0);
    std::wstring file = reading ? reading->first.wimPath + L"\n" + reading->second.wimPath : L"";
    AppMessageBox(hwnd_, FormatStr(LoadStr(IDS_COMPARE_READ_FAILED).c_str(), file.c_str(), outcome.reason.c_str()),
                  LoadStr(IDS_COMPARE_TITLE), MB_ICONERROR);
  }
  UpdateButtons();
}

void CCompareDlg::Recompare() {
  if (!haveTrees_ || reading_) return;
  DiffOptions options;
  options.ignoreTimes = IsDlgButtonChecked(hwnd_, IDC_COMPARE_IGNORE_TIMES) == BST_CHECKED;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  rows_ = CompareTrees(before_, after_, options);
  QueryPerformanceCounter(&end);
  compareMs_ = Milliseconds(start, end);
  ApplyFilter();
}

void CCompareDlg::ApplyFilter() {
  unsigned kinds = 0;
  for (int k = 0; k < kDiffKindCount; k++)
    if (IsDlgButtonChecked(hwnd_, kKindChecks[k]) == BST_CHECKED) kinds |= 1u << k;
  shown_ = FilterRows(rows_, kinds, ItemText(IDC_COMPARE_TEXT));
  HWND list = Item(IDC_COMPARE_LIST);
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  ListView_SetItemCountEx(list, static_cast<int>(shown_.size()), 0);
  InvalidateRect(list, nullptr, TRUE);
  ShowSummary();
  UpdateButtons();
}

void CCompareDlg::ShowSummary() {
  if (!haveTrees_) {
    SetItemText(IDC_COMPARE_SUMMARY, L"");
    return;
  }
  DiffSummary summary = Summarize(rows_);
  std::wstring c[kDiffKindCount];
  for (int k = 0; k < kDiffKindCount; k++) c[k] = Decimal(summary.counts[k]);
  std::wstring text = FormatStr(LoadStr(IDS_COMPARE_SUMMARY).c_str(), c[0].c_str(), c[1].c_str(), c[2].c_str(),
                                c[3].c_str(), c[4].c_str(), c[5].c_str(), c[6].c_str(),
                                Decimal(summary.bytesAdded).c_str(), Decimal(summary.bytesRemoved).c_str());
  text += L"\r\n" + FormatStr(LoadStr(IDS_COMPARE_SHOWN).c_str(), Decimal(shown_.size()).c_str(),
                              Decimal(rows_.size()).c_str());
  SetItemText(IDC_COMPARE_SUMMARY, text);
}

void CCompareDlg::UpdateButtons() {
  EnableWindow(Item(IDC_COMPARE_RUN), !reading_);
  EnableWindow(Item(IDC_COMPARE_ABORT), reading_);
  EnableWindow(Item(IDC_COMPARE_SAVE), !reading_ && haveTrees_);
  for (UINT id : {IDC_COMPARE_FILE1, IDC_COMPARE_FILE2, IDC_COMPARE_PICK1, IDC_COMPARE_PICK2, IDC_COMPARE_IMAGE1,
                  IDC_COMPARE_IMAGE2, IDC_COMPARE_IGNORE_TIMES})
    EnableWindow(Item(id), !reading_);
}

std::wstring CCompareDlg::KindsText(unsigned kinds) {
  // Loaded once: a report of many rows names the kinds many times.
  static const std::vector<std::wstring> names = [] {
    std::vector<std::wstring> loaded;
    for (int k = 0; k < kDiffKindCount; k++) loaded.push_back(LoadStr(IDS_COMPARE_KIND_FIRST + k));
    return loaded;
  }();
  std::wstring text;
  for (int k = 0; k < kDiffKindCount; k++) {
    if (!(kinds & (1u << k))) continue;
    if (!text.empty()) text += L"、";
    text += names[k];
  }
  return text;
}

void CCompareDlg::FillDisplayInfo(NMLVDISPINFOW* info) {
  if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0) return;
  const int index = info->item.iItem;
  cell_.clear();
  if (index >= 0 && index < static_cast<int>(shown_.size())) {
    const DiffRow& row = rows_[shown_[index]];
    switch (info->item.iSubItem) {
      case 0: cell_ = row.path; break;
      case 1: cell_ = KindsText(row.kinds); break;
      case 2: if (row.hasBefore && !row.folder) cell_ = Decimal(row.sizeBefore); break;
      case 3: if (row.hasAfter && !row.folder) cell_ = Decimal(row.sizeAfter); break;
      case 4: cell_ = row.fromPath; break;
      default: break;
    }
  }
  lstrcpynW(info->item.pszText, cell_.c_str(), info->item.cchTextMax);
}

std::vector<uint32_t> CCompareDlg::SelectedRows() const {
  std::vector<uint32_t> chosen;
  HWND list = Item(IDC_COMPARE_LIST);
  for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list, i, LVNI_SELECTED))
    if (i < static_cast<int>(shown_.size())) chosen.push_back(shown_[i]);
  return chosen;
}

void CCompareDlg::CopySelectedPaths() {
  std::wstring text;
  for (uint32_t i : SelectedRows()) {
    if (!text.empty()) text += L"\r\n";
    text += rows_[i].path;
  }
  if (text.empty() || !OpenClipboard(hwnd_)) return;
  EmptyClipboard();
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  }
  CloseClipboard();
}

void CCompareDlg::OpenBothVersions() {
  std::vector<uint32_t> chosen = SelectedRows();
  if (chosen.size() != 1 || !haveTrees_) return;
  const DiffRow& row = rows_[chosen[0]];
  if (row.folder) return;
  // Each version goes into a fresh folder of its own (both have the same
  // name), opened with the program the shell chooses for it.
  if (row.hasBefore) {
    ExtractJob job;
    job.wimPath = before_.wimPath;
    job.image = before_.image;
    job.paths = {row.fromPath.empty() ? row.path : row.fromPath};
    job.backends = &bench_.backends;
    StartExtractAndOpen(job, bench_.tempFolder, NameOf(job.paths[0]));
  }
  if (row.hasAfter) {
    ExtractJob job;
    job.wimPath = after_.wimPath;
    job.image = after_.image;
    job.paths = {row.path};
    job.backends = &bench_.backends;
    StartExtractAndOpen(job, bench_.tempFolder, NameOf(row.path));
  }
}

void CCompareDlg::BrowseSelected(int side) {
  std::vector<uint32_t> chosen = SelectedRows();
  if (chosen.empty() || !haveTrees_ || !browse_ || reading_) return;
  const DiffRow& row = rows_[chosen[0]];
  if (side == 1 ? !row.hasBefore : !row.hasAfter) return;
  const std::wstring& path = side == 1 && !row.fromPath.empty() ? row.fromPath : row.path;
  const ImageTree& tree = side == 1 ? before_ : after_;
  browse_(tree.wimPath, tree.image, row.folder ? path : ParentOf(path));
}

bool CCompareDlg::SaveReport(const std::wstring& path) const {
  std::wstring text;
  size_t dot = path.rfind(L'.');
  bool csv = dot != std::wstring::npos && _wcsicmp(path.c_str() + dot, L".csv") == 0;
  if (csv) {
    text = DiffCsv(rows_, shown_, LoadStr(IDS_COMPARE_CSV_HEADER), &CCompareDlg::KindsText);
  } else {
    std::wstring heading = FormatStr(LoadStr(IDS_COMPARE_TEXT_HEADER).c_str(), before_.wimPath.c_str(), before_.image,
                                     after_.wimPath.c_str(), after_.image, ItemText(IDC_COMPARE_SUMMARY).c_str());
    text = DiffText(rows_, shown_, heading, LoadStr(IDS_COMPARE_FROM), &CCompareDlg::KindsText);
  }
  return CSkippedItemsDlg::SaveText(path, text);
}

void CCompareDlg::SaveReportAs() {
  if (!haveTrees_) return;
  std::wstring path = ::PickFile(hwnd_, PickerKind::kSave, LoadStr(IDS_COMPARE_REPORT_FILTER), L"csv",
                                 OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
  if (path.empty() || SaveReport(path)) return;
  DWORD error = GetLastError();
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                 error, 0x400, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
  AppMessageBox(hwnd_, FormatStr(LoadStr(IDS_COMPARE_SAVE_FAILED).c_str(), path.c_str(), message ? message : L""),
                LoadStr(IDS_COMPARE_TITLE), MB_OK | MB_ICONERROR);
  if (message) LocalFree(message);
}

void CCompareDlg::ShowContextMenu() {
  HMENU resource = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_COMPARE_MENU));
  if (!resource) return;
  HMENU menu = GetSubMenu(resource, 0);
  std::vector<uint32_t> chosen = SelectedRows();
  const DiffRow* row = chosen.empty() ? nullptr : &rows_[chosen[0]];
  auto grey = [&](UINT id, bool enabled) { EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED)); };
  grey(ID_COMPARE_COPY_PATH, row != nullptr);
  grey(ID_COMPARE_OPEN_BOTH, row && chosen.size() == 1 && !row->folder);
  grey(ID_COMPARE_BROWSE_FIRST, row && row->hasBefore && browse_ && !reading_);
  grey(ID_COMPARE_BROWSE_SECOND, row && row->hasAfter && browse_ && !reading_);
  POINT at;
  GetCursorPos(&at);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
  DestroyMenu(resource);
}

void CCompareDlg::OnOK() { StartCompare(); }

void CCompareDlg::OnCancel() {
  // While a read runs the window only hides; it goes when the read ends.
  if (reading_) {
    closePending_ = true;
    Abort();
    ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  DestroyWindow(hwnd_);
}

bool CCompareDlg::OnCommand(int id, int code, HWND) {
  switch (id) {
    case IDC_COMPARE_RUN: if (code == BN_CLICKED) StartCompare(); return true;
    case IDC_COMPARE_ABORT: if (code == BN_CLICKED) Abort(); return true;
    case IDC_COMPARE_PICK1: if (code == BN_CLICKED) PickFile(1); return true;
    case IDC_COMPARE_PICK2: if (code == BN_CLICKED) PickFile(2); return true;
    case IDC_COMPARE_SAVE: if (code == BN_CLICKED) SaveReportAs(); return true;
    case IDC_COMPARE_IGNORE_TIMES: if (code == BN_CLICKED) Recompare(); return true;
    case IDC_COMPARE_TEXT: if (code == EN_CHANGE) ApplyFilter(); return true;
    case IDC_COMPARE_FILE1:
    case IDC_COMPARE_FILE2:
      // A path typed in: its images are listed once the field is left.
      if (code == EN_KILLFOCUS) {
        int side = id == IDC_COMPARE_FILE1 ? 1 : 2;
        std::wstring path = FileOf(side);
        LRESULT listed = SendDlgItemMessageW(hwnd_, side == 1 ? IDC_COMPARE_IMAGE1 : IDC_COMPARE_IMAGE2,
                                             CB_GETCOUNT, 0, 0);
        if (!path.empty() && listed <= 0) SetFile(side, path);
      } else if (code == EN_CHANGE && GetFocus() == Item(id)) {
        SendDlgItemMessageW(hwnd_, id == IDC_COMPARE_FILE1 ? IDC_COMPARE_IMAGE1 : IDC_COMPARE_IMAGE2, CB_RESETCONTENT,
                            0, 0);
      }
      return true;
    case ID_COMPARE_COPY_PATH: CopySelectedPaths(); return true;
    case ID_COMPARE_OPEN_BOTH: OpenBothVersions(); return true;
    case ID_COMPARE_BROWSE_FIRST: BrowseSelected(1); return true;
    case ID_COMPARE_BROWSE_SECOND: BrowseSelected(2); return true;
    default:
      for (UINT check : kKindChecks)
        if (static_cast<UINT>(id) == check) {
          if (code == BN_CLICKED) ApplyFilter();
          return true;
        }
      return false;
  }
}

bool CCompareDlg::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_COMPARE_LIST) return false;
  switch (header->code) {
    case LVN_GETDISPINFOW:
      FillDisplayInfo(reinterpret_cast<NMLVDISPINFOW*>(header));
      return true;
    case NM_RCLICK:
      ShowContextMenu();
      result = 1;
      return true;
    case NM_DBLCLK:
      OpenBothVersions();
      return true;
    case LVN_KEYDOWN: {
      auto* key = reinterpret_cast<NMLVKEYDOWN*>(header);
      if (key->wVKey == 'C' && (GetKeyState(VK_CONTROL) & 0x8000)) CopySelectedPaths();
      return true;
    }
    default:
      return false;
  }
}

bool CCompareDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_SIZE) {
    Layout(LOWORD(lParam), HIWORD(lParam));
    return false;
  }
  if (msg == WM_GETMINMAXINFO) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    info->ptMinTrackSize.x = 600;
    info->ptMinTrackSize.y = 300;
    return true;
  }
  return Dialog::HandleMessage(msg, wParam, lParam, result);
}

void CCompareDlg::OnFinalDestroy() {
  if (dropTarget_) dropTarget_->Revoke();
  dropTarget_ = ComPtr<CMyOleTarget>();
  if (g_compare == this) g_compare = nullptr;
  delete this;
}
