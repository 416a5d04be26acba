// The browser page as an editor of an image: the edit bar under the list,
// adding by drop and by menu, delete, rename in place, new folder, undo,
// discard, and the save that writes every pending change into the file in
// one update, as an operation of the runner.
#include "pages/page_browser.h"

#include <shellapi.h>
#include <commctrl.h>

#include <algorithm>

#include "engine/mount_guard.h"
#include "engine/wim_file_reader.h"
#include "pages/page2_common.h"
#include "resources/ids_browser_edit.h"
#include "resources/resource.h"
#include "win/long_path.h"
#include "win/message_box.h"
#include "win/paths.h"
#include "win/pickers.h"
#include "win/strings.h"

namespace {

constexpr int kEditBarHeight = 30;


std::wstring Field(UINT id, size_t index) {
  std::vector<std::wstring> fields = SplitFields(LoadStr(id));
  return index < fields.size() ? fields[index] : L"";
}

// A file's size and creation time on the computer, for the row of an item
// that is to be added.
bool ComputerFacts(const std::wstring& path, uint64_t& size, FILETIME& created, bool& isFolder) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(LongPathForm(path).c_str(), GetFileExInfoStandard, &data)) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  created = data.ftCreationTime;
  isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The edit bar

void CPage_Browser::CreateEditBar() {
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  auto make = [&](const wchar_t* cls, const std::wstring& text, DWORD style, int id) {
    HWND item = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | style, 0, 0, 10, 10, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(item, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return item;
  };
  make(L"Static", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE, IDC_BROWSER_EDIT_STATUS);
  make(L"Button", Field(IDS_EDIT_BUTTONS, 0), BS_PUSHBUTTON | WS_TABSTOP, IDC_BROWSER_SAVE);
  make(L"Button", Field(IDS_EDIT_BUTTONS, 1), BS_PUSHBUTTON | WS_TABSTOP, IDC_BROWSER_UNDO);
  make(L"Button", Field(IDS_EDIT_BUTTONS, 2), BS_PUSHBUTTON | WS_TABSTOP, IDC_BROWSER_DISCARD);
  make(L"Button", Field(IDS_EDIT_BUTTONS, 3), BS_PUSHBUTTON | WS_TABSTOP, IDC_BROWSER_ABORT);
  make(PROGRESS_CLASSW, L"", 0, IDC_BROWSER_PROGRESS);
  SendMessageW(Item(IDC_BROWSER_PROGRESS), PBM_SETRANGE32, 0, 100);
  // Labels are edited only when the page starts it (F2, "重命名").
  SetWindowLongPtrW(list_.hwnd(), GWL_STYLE, GetWindowLongPtrW(list_.hwnd(), GWL_STYLE) | LVS_EDITLABELS);
  dropTarget_ = CMyOleTarget::Create(hwnd_, this, CreateDragImageHelper().get());
  if (dropTarget_) dropTarget_->Register();
}

void CPage_Browser::LayoutEditBar(int width, int height) {
  const bool bar = mode_ == kInsideImage;
  const int listHeight = height - 70 - (bar ? kEditBarHeight : 0);
  MoveItem(list_.hwnd(), 0, 0, width, listHeight);
  const int y = listHeight + 4;
  int right = width - 15;
  auto place = [&](int id, int w) {
    right -= w;
    MoveItem(Item(id), right, y, w, 24);
    right -= 8;
  };
  place(IDC_BROWSER_ABORT, 70);
  place(IDC_BROWSER_DISCARD, 110);
  place(IDC_BROWSER_UNDO, 70);
  place(IDC_BROWSER_SAVE, 70);
  MoveItem(Item(IDC_BROWSER_EDIT_STATUS), 15, y, std::max(0, right - 15 - 150), 24);
  MoveItem(Item(IDC_BROWSER_PROGRESS), std::max(15, right - 150), y + 4, 150, 16);
}

std::wstring CPage_Browser::EditRefusal() const {
  const WimlibTable& api = bench_->backends.wimlib;
  if (!api.open_wim || !api.update_image || !api.overwrite) return LoadStr(IDS_EDIT_NO_WIMLIB);
  // The rows may be about to give way to those of another folder or file.
  if (listing()) return LoadStr(IDS_EDIT_READING);
  return L"";
}

std::wstring CPage_Browser::EditStatusText() const {
  std::wstring refusal = EditRefusal();
  if (!refusal.empty()) return refusal;
  if (saving_) return LoadStr(IDS_EDIT_SAVING);
  if (edits_.empty()) return LoadStr(IDS_EDIT_NOTHING);
  return LoadFilledStr(IDS_EDIT_PENDING, {std::to_wstring(edits_.Count())});
}

void CPage_Browser::UpdateEditBar() {
  if (!Item(IDC_BROWSER_SAVE)) return;
  const bool bar = mode_ == kInsideImage;
  const bool editable = bar && EditRefusal().empty();
  const int show = bar ? SW_SHOW : SW_HIDE;
  ShowWindow(Item(IDC_BROWSER_EDIT_STATUS), show);
  ShowWindow(Item(IDC_BROWSER_SAVE), show);
  ShowWindow(Item(IDC_BROWSER_UNDO), show);
  ShowWindow(Item(IDC_BROWSER_DISCARD), show);
  ShowWindow(Item(IDC_BROWSER_ABORT), bar && saving_ ? SW_SHOW : SW_HIDE);
  ShowWindow(Item(IDC_BROWSER_PROGRESS), bar && saving_ ? SW_SHOW : SW_HIDE);
  const bool pending = editable && !edits_.empty() && !saving_;
  EnableWindow(Item(IDC_BROWSER_SAVE), pending);
  EnableWindow(Item(IDC_BROWSER_UNDO), pending);
  EnableWindow(Item(IDC_BROWSER_DISCARD), pending);
  SetItemText(IDC_BROWSER_EDIT_STATUS, bar ? EditStatusText() : L"");
  if (lastWidth_ > 0) LayoutEditBar(lastWidth_, lastHeight_);
}

// ---------------------------------------------------------------------------
// Rows

void CPage_Browser::AddShownEntry(ShownEntry entry) {
  BrowserItem* item = &NewRow();
  item->kind = entry.isFolder ? 0 : 1;
  item->path = ImageChild(pathInImage_, entry.name);
  item->inImage = !entry.imagePath.empty();
  if (item->inImage && entry.imagePath != item->path) item->imagePath = std::move(entry.imagePath);
  item->mark = static_cast<int>(entry.mark);
  const bool fromComputer = entry.mark == EditMark::kAdded || entry.mark == EditMark::kReplaced;
  if (fromComputer) {
    uint64_t bytes = 0;
    FILETIME time = {};
    bool isFolder = entry.isFolder;
    if (!entry.source.empty() && ComputerFacts(entry.source, bytes, time, isFolder)) {
      if (!isFolder) {
        item->size = bytes;
        item->sizeStyle = CellStyle::kBytes;
      }
      item->time = TicksOf(time);
      item->timeStyle = CellStyle::kFileTime;
    }
  } else {
    SetImageFacts(*item, entry.image);
  }
  SetKind(*item, entry.name, entry.isFolder);
  if (entry.mark != EditMark::kNone) {
    item->texts[1] = Field(IDS_EDIT_MARKS, static_cast<size_t>(entry.mark) - 1) + L" " + *item->type;
    item->type = nullptr;
  }
  item->texts[0] = std::move(entry.name);
}

void CPage_Browser::AddImageRows(const FolderListing& listing, const std::wstring* folder, BrowserRowStore& store,
                                 std::vector<BrowserItem*>& items) {
  items.reserve(items.size() + listing.size());
  for (const FolderEntry& entry : listing) {
    BrowserItem& item = store.Add();
    item.row = static_cast<int>(items.size());
    items.push_back(&item);
    item.kind = entry.isFolder ? 0 : 1;
    item.folder = folder;
    item.name = listing.NameTextOf(entry);
    item.nameLength = entry.nameLength;
    item.inImage = true;
    ShownEntry::Facts facts;
    facts.hasData = entry.hasData;
    facts.size = entry.size;
    facts.compressed = entry.compressed;
    facts.createdSeconds = entry.createdSeconds;
    facts.createdNanoseconds = entry.createdNanoseconds;
    SetImageFacts(item, facts);
  }
}

void CPage_Browser::SetImageFacts(BrowserItem& item, const ShownEntry::Facts& facts) {
  if (facts.hasData) {
    item.size = facts.size;
    item.compressed = facts.compressed;
    item.sizeStyle = item.compressedStyle = CellStyle::kBytes;
  }
  item.time = TicksOfUnix(facts.createdSeconds, facts.createdNanoseconds);
  item.timeStyle = CellStyle::kUnixTime;
}

void CPage_Browser::SetKind(BrowserItem& item, std::wstring_view name, bool isFolder) {
  if (isFolder) {
    item.type = &folderType_;
    item.icon = icons_.FolderIcon();
    return;
  }
  const IconCache::FileKind& fileKind = icons_.KindOf(name);
  item.type = &fileKind.type;
  item.icon = fileKind.icon;
}

void CPage_Browser::Relist() {
  if (mode_ != kInsideImage) return;
  // The changes are laid over the entries read already; the image is read
  // again only when a change (an undo, a discard) moved where the folder is.
  std::wstring inImage;
  const bool fromImage = edits_.ImageFolderOf(pathInImage_, inImage);
  if (fromImage != listedFromImage_ || (fromImage && inImage != listedFolder_)) {
    ListImageFolder(image_, pathInImage_);
    return;
  }
  ClearRows();
  FillImageRows();
}

std::vector<ShownEntry> CPage_Browser::ShownNow() const { return edits_.Apply(pathInImage_, *listing_); }

int CPage_Browser::RowOfName(const std::wstring& name) const {
  for (size_t row = 0; row < items_.size(); row++)
    if (items_[row]->Name() == name && items_[row]->mark != static_cast<int>(EditMark::kDeleted))
      return static_cast<int>(row);
  return -1;
}

// ---------------------------------------------------------------------------
// The edits

bool CPage_Browser::AddPaths(const std::vector<std::wstring>& paths) {
  HWND owner = GetAncestor(hwnd_, GA_ROOT);
  if (mode_ != kInsideImage || saving_ || paths.empty()) return false;
  std::wstring refusal = EditRefusal();
  if (!refusal.empty()) {
    AppMessageBox(owner, refusal, L"Quarry", MB_ICONEXCLAMATION);
    return false;
  }
  if (RefuseWhileQueueRuns(owner)) return false;
  struct Dropped {
    std::wstring path, name;
    bool isFolder = false;
    bool exists = false;
  };
  std::vector<Dropped> dropped;
  const std::vector<ShownEntry> shown = ShownNow();
  int existing = 0;
  for (const std::wstring& path : paths) {
    Dropped d;
    d.path = WithoutTrailingSeparator(path);
    d.name = LastComponent(d.path);
    DWORD attributes = GetFileAttributesW(LongPathForm(d.path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    d.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // The file cannot go into itself: its own data would be read while
    // it is being written.
    if (SamePath(d.path, wimPath_) || (d.isFolder && IsInsideFolder(wimPath_, d.path))) continue;
    if (!IsValidWindowsName(d.name)) {
      AppMessageBox(owner, LoadFilledStr(IDS_EDIT_BAD_NAME, {d.name}), L"Quarry", MB_ICONEXCLAMATION);
      return false;
    }
    for (const ShownEntry& entry : shown)
      if (entry.mark != EditMark::kDeleted && EqualNoCase(entry.name, d.name)) d.exists = true;
    for (const Dropped& other : dropped)
      if (EqualNoCase(other.name, d.name)) d.exists = true;
    if (d.exists) existing++;
    dropped.push_back(d);
  }
  if (dropped.empty()) return false;
  bool replace = false;
  if (existing > 0) {
    int answer = AppMessageBox(owner, LoadFilledStr(IDS_EDIT_ASK_REPLACE, {std::to_wstring(existing)}), L"Quarry",
                               MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    replace = answer == IDYES;
  }
  edits_.BeginAction();
  int added = 0;
  for (const Dropped& d : dropped) {
    if (d.exists && !replace) continue;
    edits_.Add(pathInImage_, d.name, d.path, d.isFolder, d.exists);
    added++;
  }
  Relist();
  return added > 0;
}

void CPage_Browser::AddFilesPicked() {
  if (mode_ != kInsideImage || saving_ || !EditRefusal().empty()) return;
  PickerRequest request;
  request.kind = PickerKind::kOpenMany;
  request.owner = GetAncestor(hwnd_, GA_ROOT);
  request.filter = LoadStr(IDS_EDIT_ADD_FILES_FILTER);
  request.flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  std::vector<std::wstring> paths;
  if (ShowPicker(request, paths)) AddPaths(paths);
}

void CPage_Browser::AddFolderPicked() {
  if (mode_ != kInsideImage || saving_ || !EditRefusal().empty()) return;
  std::wstring folder = PickFolder(GetAncestor(hwnd_, GA_ROOT), bench_->settings.lastFolder);
  if (!folder.empty()) AddPaths({folder});
}

void CPage_Browser::DeleteSelected() {
  if (mode_ != kInsideImage || saving_ || !EditRefusal().empty()) return;
  std::vector<const BrowserItem*> chosen;
  for (const BrowserItem* item : SelectedItems())
    if (item->mark != static_cast<int>(EditMark::kDeleted)) chosen.push_back(item);
  if (chosen.empty()) return;
  HWND owner = GetAncestor(hwnd_, GA_ROOT);
  if (RefuseWhileQueueRuns(owner)) return;
  std::wstring question = LoadFilledStr(IDS_EDIT_ASK_DELETE, {std::to_wstring(chosen.size())});
  if (AppMessageBox(owner, question, L"Quarry", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  edits_.BeginAction();
  for (const BrowserItem* item : chosen) edits_.Delete(pathInImage_, std::wstring(item->Name()), item->kind == 0);
  Relist();
}

void CPage_Browser::BeginRename(int row) {
  const BrowserItem* item = ItemOfRow(row);
  if (mode_ != kInsideImage || saving_ || !item || !EditRefusal().empty()) return;
  if (item->mark == static_cast<int>(EditMark::kDeleted)) return;
  SetFocus(list_.hwnd());
  renaming_ = true;
  if (!ListView_EditLabel(list_.hwnd(), row)) renaming_ = false;
}

bool CPage_Browser::RenameRow(int row, const std::wstring& newName) {
  const BrowserItem* item = ItemOfRow(row);
  if (mode_ != kInsideImage || saving_ || !item || item->mark == static_cast<int>(EditMark::kDeleted)) return false;
  HWND owner = GetAncestor(hwnd_, GA_ROOT);
  const std::wstring oldName(item->Name());
  if (newName == oldName) return true;
  if (!IsValidWindowsName(newName)) {
    AppMessageBox(owner, LoadFilledStr(IDS_EDIT_BAD_NAME, {newName}), L"Quarry", MB_ICONEXCLAMATION);
    return false;
  }
  for (const ShownEntry& entry : ShownNow()) {
    if (entry.mark == EditMark::kDeleted || EqualNoCase(entry.name, oldName)) continue;
    if (EqualNoCase(entry.name, newName)) {
      AppMessageBox(owner, LoadFilledStr(IDS_EDIT_NAME_EXISTS, {newName}), L"Quarry", MB_ICONEXCLAMATION);
      return false;
    }
  }
  if (RefuseWhileQueueRuns(owner)) return false;
  edits_.BeginAction();
  edits_.Rename(pathInImage_, oldName, newName);
  Relist();
  int now = RowOfName(newName);
  if (now >= 0) SelectItems({ItemOfRow(now)}, ItemOfRow(now));
  return true;
}

void CPage_Browser::NewFolder() {
  if (mode_ != kInsideImage || saving_ || !EditRefusal().empty()) return;
  if (RefuseWhileQueueRuns(GetAncestor(hwnd_, GA_ROOT))) return;
  const std::wstring base = LoadStr(IDS_EDIT_NEW_FOLDER_NAME);
  const std::vector<ShownEntry> shown = ShownNow();
  std::wstring name = base;
  for (int n = 2;; n++) {
    bool taken = false;
    for (const ShownEntry& entry : shown)
      if (entry.mark != EditMark::kDeleted && EqualNoCase(entry.name, name)) taken = true;
    if (!taken) break;
    name = base + L" (" + std::to_wstring(n) + L")";
  }
  edits_.BeginAction();
  edits_.NewFolder(pathInImage_, name);
  Relist();
  int row = RowOfName(name);
  if (row >= 0) {
    SelectItems({ItemOfRow(row)}, ItemOfRow(row));
    BeginRename(row);
  }
}

void CPage_Browser::UndoEdit() {
  if (saving_ || !edits_.Undo()) return;
  Relist();
}

void CPage_Browser::DiscardEdits() {
  if (saving_ || edits_.empty()) return;
  std::wstring question = LoadFilledStr(IDS_EDIT_ASK_DISCARD, {std::to_wstring(edits_.Count())});
  if (AppMessageBox(GetAncestor(hwnd_, GA_ROOT), question, L"Quarry", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  edits_.Clear();
  Relist();
}

// ---------------------------------------------------------------------------
// The save

// The refusals a save starts with, each with its reason; nothing is written.
bool CPage_Browser::RefuseSave() {
  HWND owner = GetAncestor(hwnd_, GA_ROOT);
  auto refuse = [owner](const std::wstring& text) {
    AppMessageBox(owner, text, L"Quarry", MB_ICONEXCLAMATION);
    return true;
  };
  if (RefuseWhileQueueRuns(owner)) return true;
  std::wstring refusal = EditRefusal();
  if (!refusal.empty()) return refuse(refusal);
  WimFileReader reader;
  if (reader.ReadHeader(wimPath_) && reader.TotalParts() > 1)
    return refuse(LoadFilledStr(IDS_EDIT_SPLIT_PART, {wimPath_}));
  DWORD attributes = GetFileAttributesW(LongPathForm(wimPath_).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    return refuse(LoadFilledStr(IDS_EDIT_READ_ONLY, {wimPath_}));
  if (ChangedSince(wimPath_, loaded_)) return refuse(LoadFilledStr(IDS_EDIT_CHANGED, {wimPath_}));
  std::wstring folder = MountFolderOf(bench_->backends, wimPath_);
  if (!folder.empty()) return refuse(MountedRefusalText(wimPath_, folder));
  return false;
}

bool CPage_Browser::SaveEdits() {
  if (mode_ != kInsideImage || saving_ || edits_.empty() || !wim_) return false;
  if (RefuseSave()) return false;
  ImageUpdateRequest request;
  request.wimPath = wimPath_;
  request.image = image_;
  request.commands = edits_.Commands();
  request.scratchFolder = bench_->tempFolder;
  const Backends* backends = &bench_->backends;
  BackendChoice wimlib = bench_->Choice(kBackendWimlib);
  const WimStamp loaded = loaded_;
  auto changed = std::make_shared<bool>(false);
  Operation saving;
  saving.title = LoadStr(IDS_EDIT_SAVING);
  saving.display = this;
  saving.body = [request, backends, wimlib, loaded, changed](const OperationContext& context) {
    // Looked at again on the worker: another program may have written the
    // file since the user pressed "保存".
    if (ChangedSince(request.wimPath, loaded)) {
      *changed = true;
      return OperationOutcome{kResultFailed};
    }
    return OperationOutcome{MakeEngine(*backends, wimlib, context)->UpdateImage(request)};
  };
  saving_ = true;
  // The page's own copy of the file is let go, so that nothing of this
  // process holds it open while it is written.
  pending_ = ShownFile();
  lister_.Quiesce();
  FreePageWim();
  EnableWindow(list_.hwnd(), FALSE);
  SendMessageW(Item(IDC_BROWSER_PROGRESS), PBM_SETPOS, 0, 0);
  UpdateButtons();
  if (StartOperation(std::move(saving))) return true;
  saving_ = false;
  EnableWindow(list_.hwnd(), TRUE);
  OpenPageWim();
  UpdateButtons();
  RefuseWhileQueueRuns(GetAncestor(hwnd_, GA_ROOT));
  return false;
}

void CPage_Browser::AbortSave() {
  if (saving_) runner_->RequestCancel();
}

void CPage_Browser::SetPercent(float percent) {
  PostMessageW(Item(IDC_BROWSER_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void CPage_Browser::OperationBegun(const std::wstring&) {}

void CPage_Browser::OperationEnded(const OperationOutcome& outcome) {
  saving_ = false;
  EnableWindow(list_.hwnd(), TRUE);
  HWND owner = GetAncestor(hwnd_, GA_ROOT);
  if (outcome.result == kResultSuccess) {
    // The file now holds the changes: it is read again, as it is.
    edits_.Clear();
    loaded_ = CurrentStamp(wimPath_);
    loaded_.imageCount = static_cast<uint32_t>(imageCount_);
  }
  if (OpenPageWim()) {
    // Read again: the file is not the one the rows were read from.
    if (mode_ == kInsideImage) ListImageFolder(image_, pathInImage_);
  } else {
    // Not readable any more: back to the folder that holds it.
    edits_.Clear();
    size_t slash = wimPath_.rfind(L'\\');
    ListNearestFolder(slash == std::wstring::npos ? L"" : wimPath_.substr(0, slash));
  }
  UpdateButtons();
  if (outcome.result == kResultSuccess) {
    if (afterSave_) {
      std::function<void()> after = std::move(afterSave_);
      afterSave_ = nullptr;
      after();
    }
    return;
  }
  afterSave_ = nullptr;
  if (outcome.result == kResultAborted) {
    AppMessageBox(owner, LoadStr(IDS_OP_CANCELLED), L"Quarry", MB_ICONINFORMATION);
    return;
  }
  std::wstring reason = outcome.reason;
  if (ChangedSince(wimPath_, loaded_)) reason = LoadFilledStr(IDS_EDIT_CHANGED, {wimPath_});
  AppMessageBox(owner, LoadFilledStr(IDS_EDIT_SAVE_FAILED, {reason}), L"Quarry", MB_ICONEXCLAMATION);
}

bool CPage_Browser::ConfirmLeave(std::function<void()> after) {
  if (edits_.empty()) return true;
  if (saving_) return false;
  std::wstring question = LoadFilledStr(IDS_EDIT_ASK_SAVE, {wimPath_, std::to_wstring(edits_.Count())});
  int answer = AppMessageBox(GetAncestor(hwnd_, GA_ROOT), question, L"Quarry", MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDNO) {
    edits_.Clear();
    return true;
  }
  if (answer == IDYES && SaveEdits()) afterSave_ = std::move(after);
  return false;
}

// ---------------------------------------------------------------------------
// Commands and notifications

void CPage_Browser::GreyEditItems(HMENU menu) {
  const bool editable = mode_ == kInsideImage && !saving_ && EditRefusal().empty();
  const int selected = ListView_GetSelectedCount(list_.hwnd());
  auto grey = [menu](UINT id, bool grey) { EnableMenuItem(menu, id, MF_BYCOMMAND | (grey ? MF_GRAYED : MF_ENABLED)); };
  grey(ID_BROWSER_ADD_FILES, !editable);
  grey(ID_BROWSER_ADD_FOLDER, !editable);
  grey(ID_BROWSER_NEW_FOLDER, !editable);
  grey(ID_BROWSER_RENAME, !editable || selected != 1);
  grey(ID_BROWSER_DELETE, !editable || selected == 0);
  grey(ID_BROWSER_UNDO, !editable || edits_.empty());
  grey(ID_BROWSER_DISCARD, !editable || edits_.empty());
  grey(ID_BROWSER_SAVE, !editable || edits_.empty());
}

bool CPage_Browser::OnEditCommand(int id) {
  switch (id) {
    case ID_BROWSER_ADD_FILES: AddFilesPicked(); return true;
    case ID_BROWSER_ADD_FOLDER: AddFolderPicked(); return true;
    case ID_BROWSER_NEW_FOLDER: NewFolder(); return true;
    case ID_BROWSER_RENAME: BeginRename(ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED)); return true;
    case ID_BROWSER_DELETE: DeleteSelected(); return true;
    case ID_BROWSER_UNDO:
    case IDC_BROWSER_UNDO: UndoEdit(); return true;
    case ID_BROWSER_DISCARD:
    case IDC_BROWSER_DISCARD: DiscardEdits(); return true;
    case ID_BROWSER_SAVE:
    case IDC_BROWSER_SAVE: SaveEdits(); return true;
    case IDC_BROWSER_ABORT: AbortSave(); return true;
    default: return false;
  }
}

bool CPage_Browser::OnEditNotify(NMHDR* header, LRESULT& result) {
  switch (header->code) {
    case LVN_KEYDOWN: {
      WORD key = reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey;
      if (mode_ != kInsideImage) return false;
      if (key == VK_DELETE) DeleteSelected();
      else if (key == VK_F2) BeginRename(ListView_GetNextItem(list_.hwnd(), -1, LVNI_FOCUSED | LVNI_SELECTED));
      else return false;
      return true;
    }
    case LVN_BEGINLABELEDITW:
      // Only a rename the page started; a click on a label edits nothing.
      result = renaming_ ? FALSE : TRUE;
      return true;
    case LVN_ENDLABELEDITW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      renaming_ = false;
      result = FALSE;  // the rows are made again from the changes
      if (info->item.pszText) RenameRow(info->item.iItem, info->item.pszText);
      return true;
    }
    default:
      return false;
  }
}

DWORD CPage_Browser::OnOleDrop(IDataObject* data, DWORD effect, POINTL) {
  if (mode_ != kInsideImage) return DROPEFFECT_NONE;
  return AddPaths(DroppedFiles(data)) ? (effect & DROPEFFECT_COPY ? DROPEFFECT_COPY : effect) : DROPEFFECT_NONE;
}
