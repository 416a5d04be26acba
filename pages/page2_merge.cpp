#include "pages/page2_merge.h"

#include <commctrl.h>

#include <deque>
#include <functional>
#include <mutex>

#include "engine/mount_guard.h"
#include "engine/wim_file_reader.h"
#include "pages/page2_common.h"
#include "pages/page2_merge_export.h"
#include "resources/resource.h"
#include "win/strings.h"
#include "win/window.h"
#include "win/window_thread.h"

// Files waiting to be read into the list, shared by the page and the one
// background thread that reads them. The thread knows the page only by its
// window: when the window is gone, what it read is dropped.
//
// Clearing the list stops the loading: the files still waiting are
// forgotten, and the file being read when the list was cleared (an older
// `generation`) adds no rows.
struct MergeLoader {
  std::mutex lock;
  std::deque<std::wstring> paths;
  bool running = false;
  bool reading = false;
  unsigned generation = 0;
  HWND page = nullptr;
};

namespace {
// Column headings: pieces of IDS_INFO_COLUMNS, alignment and width.
struct Column {
  int piece;  // -1: no heading
  int format;
  int width;
};
const Column kColumns[9] = {{-1, LVCFMT_LEFT, 32},   {9, LVCFMT_LEFT, 355},  {0, LVCFMT_RIGHT, 96},
                            {1, LVCFMT_RIGHT, 60},   {2, LVCFMT_RIGHT, 60},  {3, LVCFMT_RIGHT, 120},
                            {4, LVCFMT_LEFT, 100},   {5, LVCFMT_LEFT, 100},  {8, LVCFMT_LEFT, 100}};

constexpr int kColumnPath = 1;
constexpr int kColumnIndex = 2;

// The rows of every image of a WIM file (the first part of a split set).
std::vector<CPage2_Merge::Row> ReadRows(const std::wstring& path) {
  std::vector<CPage2_Merge::Row> rows;
  WimFileReader reader;
  if (!reader.Read(path) || reader.PartNumber() != 1) return rows;
  auto value = [&](int index, const wchar_t* tag) { return reader.ImageValue(index, tag); };
  const uint32_t images = reader.ListedImageCount();
  for (uint32_t i = 1; i <= images; i++) {
    int index = static_cast<int>(i);
    CPage2_Merge::Row row;
    row.cells = {L"",
                 path,
                 FormatStr(L"%d", index),
                 value(index, L"<FILECOUNT>"),
                 value(index, L"<DIRCOUNT>"),
                 value(index, L"<TOTALBYTES>") + L" Bytes",
                 value(index, L"<NAME>"),
                 value(index, L"<DESCRIPTION>"),
                 value(index, L"<FLAGS>")};
    rows.push_back(std::move(row));
  }
  return rows;
}

std::mutex g_hookLock;
std::function<void(const std::wstring&)> g_loadHook;

void CallLoadHook(const std::wstring& path) {
  std::function<void(const std::wstring&)> hook;
  {
    std::lock_guard<std::mutex> lock(g_hookLock);
    hook = g_loadHook;
  }
  if (hook) hook(path);
}

// Reads the queued files one after another until none is left.
void LoadQueued(MergeLoader& loader) {
  for (;;) {
    std::wstring path;
    unsigned generation = 0;
    {
      std::lock_guard<std::mutex> lock(loader.lock);
      loader.reading = false;
      if (loader.paths.empty()) {
        loader.running = false;
        return;
      }
      path = loader.paths.front();
      loader.paths.pop_front();
      loader.reading = true;
      generation = loader.generation;
    }
    CallLoadHook(path);
    std::vector<CPage2_Merge::Row> rows = ReadRows(path);
    HWND page = loader.page;
    RunOnWindowThread(page, [&] {
      // On the page's thread, where the list is cleared: no clear can come
      // between this look and the rows. Once its rows are in, the file is
      // read: an export asked for as soon as they are shown is not told
      // the list is still loading.
      {
        std::lock_guard<std::mutex> lock(loader.lock);
        if (loader.generation != generation) return;
        loader.reading = false;
      }
      if (auto* self = dynamic_cast<CPage2_Merge*>(Window::FromHandle(page))) self->AppendRows(rows);
    });
  }
}
}  // namespace

CPage2_Merge::CPage2_Merge() : CFormPage(IDD_PAGE_MERGE), loader_(std::make_shared<MergeLoader>()) {}

CPage2_Merge::~CPage2_Merge() {
  if (dropTarget_) dropTarget_->Revoke();
}

void CPage2_Merge::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  loader_->page = hwnd_;
  list_.AttachDlgItem(hwnd_, IDC_MERGE_LIST);
  PrepareReportList(list_.hwnd());
  CreateColumns();
  EnableWindow(Item(IDC_MERGE_EXPORT), FALSE);
  dragHelper_ = CreateDragImageHelper();
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, dragHelper_.get());
  if (dropTarget_) dropTarget_->Register();
}

void CPage2_Merge::CreateColumns() {
  for (int c = 0; c < 9; c++) {
    const Column& column = kColumns[c];
    InsertListColumn(list_.hwnd(), c, column.piece < 0 ? L"" : InfoColumnHeading(column.piece), column.format,
                     column.width);
  }
}

int CPage2_Merge::AddWimFile(const std::wstring& path) {
  // The header is enough here; the loader reads the images.
  WimFileReader reader;
  if (!reader.ReadHeader(path)) return -1;
  if (reader.PartNumber() == 1) {
    bool start = false;
    {
      std::lock_guard<std::mutex> lock(loader_->lock);
      loader_->paths.push_back(path);
      start = !loader_->running;
      if (start) loader_->running = true;
    }
    if (start) {
      std::shared_ptr<MergeLoader> loader = loader_;
      UniqueHandle thread = StartThread([loader] { LoadQueued(*loader); });
      if (!thread) {
        std::lock_guard<std::mutex> lock(loader_->lock);
        loader_->running = false;
        loader_->paths.pop_back();
        AppendRows(ReadRows(path));
      }
    }
  }
  return static_cast<int>(reader.ImageCount());
}

bool CPage2_Merge::IsLoading() const {
  std::lock_guard<std::mutex> lock(loader_->lock);
  return loader_->reading || !loader_->paths.empty();
}

void CPage2_Merge::StopLoading() {
  std::lock_guard<std::mutex> lock(loader_->lock);
  loader_->paths.clear();
  loader_->generation++;
}

void SetMergeLoadHook(std::function<void(const std::wstring& path)> hook) {
  std::lock_guard<std::mutex> lock(g_hookLock);
  g_loadHook = std::move(hook);
}

void CPage2_Merge::AppendRows(const std::vector<Row>& rows) {
  HWND list = list_.hwnd();
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);  // drawn once, when every row is in
  // Room for every row at once, rather than growing row by row.
  SendPastSubclass(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(ListRowCount(list)) + rows.size(), LVSICF_NOSCROLL);
  for (const Row& row : rows) AppendListRow(list, kTicked, row.cells);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  if (!rows.empty()) UpdateExportButton();
}

void CPage2_Merge::AddByDialog() {
  std::vector<std::wstring> paths;
  if (!PickWimFiles(MainWindow(), paths)) return;
  for (const std::wstring& path : paths) AddWimFile(path);
}

DWORD CPage2_Merge::OnOleDrop(IDataObject* data, DWORD effect, POINTL point) {
  RECT listRect;
  GetWindowRect(list_.hwnd(), &listRect);
  POINT pt = {point.x, point.y};
  if (!PtInRect(&listRect, pt)) return DROPEFFECT_NONE;
  std::vector<std::wstring> files = DroppedFiles(data);
  if (files.empty()) return DROPEFFECT_NONE;
  EnableWindow(Item(IDC_MERGE_EXPORT), TRUE);
  for (const std::wstring& file : files) AddWimFile(file);
  return effect;
}

void CPage2_Merge::RemoveAll() {
  StopLoading();
  ListView_DeleteAllItems(list_.hwnd());
  EnableWindow(Item(IDC_MERGE_EXPORT), FALSE);
}

int CPage2_Merge::TickedCount() const {
  int ticked = 0;
  int rows = ListRowCount(list_.hwnd());
  for (int r = 0; r < rows; r++)
    if (ListRowImage(list_.hwnd(), r) == kTicked) ticked++;
  return ticked;
}

void CPage2_Merge::UpdateExportButton() { EnableWindow(Item(IDC_MERGE_EXPORT), TickedCount() > 0); }

void CPage2_Merge::OnListClick(const NMITEMACTIVATE* click) {
  LVHITTESTINFO hit = {};
  hit.pt = click->ptAction;
  int row = static_cast<int>(SendMessageW(list_.hwnd(), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (row < 0 || hit.iSubItem != 0) return;
  SetListRowImage(list_.hwnd(), row, ListRowImage(list_.hwnd(), row) == kTicked ? kUnticked : kTicked);
  UpdateExportButton();
}

void CPage2_Merge::OnDeleteKey() {
  HWND list = list_.hwnd();
  if (ListSelectedCount(list) == 0) return;
  StopLoading();
  for (int r = ListRowCount(list) - 1; r >= 0; r--)
    if (ListRowSelected(list, r)) ListView_DeleteItem(list, r);
  if (ListRowCount(list) == 0) EnableWindow(Item(IDC_MERGE_EXPORT), FALSE);
  else UpdateExportButton();
}

void CPage2_Merge::OnContextMenu() {
  bench_->ShowPopupMenu(PopupMenu::kMergeExport, hwnd_);
}

void CPage2_Merge::OnInitMenuPopup(HMENU menu) {
  HWND list = list_.hwnd();
  int count = GetMenuItemCount(menu);
  if (ListSelectedCount(list) != 1 && count > 0) EnableMenuItem(menu, count - 1, MF_BYPOSITION | MF_GRAYED);
  if (ListRowCount(list) == 0) EnableMenuItem(menu, ID_MERGE_REMOVE_ALL, MF_BYCOMMAND | MF_GRAYED);
}

void CPage2_Merge::OnJump(UINT command) {
  int row = ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED);
  if (row < 0) return;
  std::wstring path = ListItemText(list_.hwnd(), row, kColumnPath);
  Workbench& app = *bench_;
  app.JumpTo(command, path);
}

// Asks for the destination and how to write it. A new file gets the
// capture options; an existing one keeps its own compression.
bool CPage2_Merge::ChooseDestination(std::wstring& destination, int& compression, int& wimBoot) {
  destination = PickWimFile(MainWindow(), true);
  if (destination.empty()) return false;
  int rows = ListRowCount(list_.hwnd());
  for (int r = 0; r < rows; r++) {
    if (SamePath(destination, ListItemText(list_.hwnd(), r, kColumnPath))) {
      PageMessage(LoadStr(IDS_MERGE_INTO_SOURCE), L"", MB_ICONEXCLAMATION);
      return false;
    }
  }
  std::wstring folder = MountFolderOf(bench_->backends, destination);
  if (!folder.empty()) {
    PageMessage(MountedRefusalText(destination, folder), L"", MB_ICONEXCLAMATION);
    return false;
  }
  if (FileExists(destination)) {
    if (!AskAboutPath(destination, IDS_ASK_MERGE_INTO, IDS_ASK_MERGE_CAPTION, MB_ICONEXCLAMATION)) return false;
    WimFileReader reader;
    reader.Read(destination);
    compression = reader.CompressionType();
    wimBoot = 0;
    return true;
  }
  return AskNewDestinationOptions(MainWindow(), *bench_, destination, compression, wimBoot);
}

void CPage2_Merge::OnExport() {
  FocusMainWindow();
  if (!IsVisible() || RefuseWhileQueueRuns(MainWindow())) return;
  // The ticked rows are what gets exported: not before the list is whole.
  if (IsLoading()) {
    PageMessage(LoadStr(IDS_MERGE_STILL_LOADING), L"", MB_ICONEXCLAMATION);
    return;
  }
  ExportJob job;
  HWND list = list_.hwnd();
  int rows = ListRowCount(list);
  for (int r = 0; r < rows; r++) {
    if (ListRowImage(list, r) != kTicked) continue;
    job.images.push_back({ListItemText(list, r, kColumnPath), _wtoi(ListItemText(list, r, kColumnIndex).c_str())});
  }
  if (job.images.empty()) {
    PageMessage(LoadStr(IDS_MERGE_NOTHING), L"", MB_ICONEXCLAMATION);
    return;
  }
  if (!ChooseDestination(job.destination, job.compression, job.wimBoot)) return;
  job.backends = &bench_->backends;
  job.choice = bench_->Choice();
  job.progress = bench_->ProgressView();
  if (runner_) StartExport(this, *runner_, job);
}

bool CPage2_Merge::OnCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_MERGE_ADD:
    case ID_MERGE_ADD:
      AddByDialog();
      return true;
    case ID_MERGE_REMOVE_ALL:
      RemoveAll();
      return true;
    case IDC_MERGE_EXPORT:
      if (code == BN_CLICKED) OnExport();
      return true;
    case ID_JUMP_APPLY:
    case ID_JUMP_SPLIT:
    case ID_JUMP_DELETE:
    case ID_JUMP_INFO:
    case ID_JUMP_BROWSER:
      OnJump(static_cast<UINT>(id));
      return true;
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage2_Merge::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->hwndFrom == list_.hwnd()) {
    switch (header->code) {
      case NM_CLICK:
        OnListClick(reinterpret_cast<NMITEMACTIVATE*>(header));
        return true;
      case NM_RCLICK:
        OnContextMenu();
        return true;
      case LVN_KEYDOWN:
        if (reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey == VK_DELETE) OnDeleteKey();
        return true;
      default:
        return false;
    }
  }
  // The width of the tick column stays as it is.
  if ((header->code == HDN_BEGINTRACKW || header->code == HDN_BEGINTRACKA) &&
      reinterpret_cast<NMHEADERW*>(header)->iItem == 0) {
    result = TRUE;
    return true;
  }
  return false;
}

bool CPage2_Merge::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_INITMENUPOPUP) {
    OnInitMenuPopup(reinterpret_cast<HMENU>(wParam));
    return true;
  }
  if (msg == WM_DESTROY) {
    if (dropTarget_) dropTarget_->Revoke();
    loader_->page = nullptr;
  }
  return CFormPage::HandleMessage(msg, wParam, lParam, result);
}

void CPage2_Merge::Layout(int w, int h) {
  MoveItem(list_.hwnd(), -1, 20, w + 2, h > 100 ? h - 100 : 0);
  MoveItem(Item(IDC_MERGE_EXPORT), w - 110, h - 40, 95, 25);
  MoveItem(Item(IDC_MERGE_ADD), w - 220, h - 40, 95, 25);
  CFormPage::Layout(w, h);
}
