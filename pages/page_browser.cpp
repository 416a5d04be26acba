#include "pages/page_browser.h"

#include <shellapi.h>
#include <shlobj.h>
#include <uxtheme.h>

#include <algorithm>
#include <set>

#include "controls/control_context.h"
#include "win/messages.h"
#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wim_file_reader.h"
#include "pages/wim_info_dlg.h"
#include "resources/ids_browser.h"
#include "resources/ids_compare.h"
#include "resources/ids_browser_edit.h"
#include "resources/resource.h"
#include "win/handles.h"
#include "win/long_path.h"
#include "win/paths.h"
#include "win/pickers.h"
#include "win/message_box.h"
#include "win/strings.h"

namespace {
const int kColumnWidths[] = {250, 180, 110, 110, 110};
const int kColumnFormats[] = {LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_RIGHT, LVCFMT_RIGHT};

std::wstring NameOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

// The image count of a file, 0 when the reader finds no images.
int ImageCountOf(const std::wstring& path) {
  WimFileReader reader;
  if (!reader.Read(path) || reader.xmlText.empty()) return 0;
  return static_cast<int>(reader.ListedImageCount());
}
}  // namespace

CPage_Browser::CPage_Browser() : CFormPage(IDD_PAGE_BROWSER) {}

CPage_Browser::~CPage_Browser() {
  if (notifyId_) SHChangeNotifyDeregister(notifyId_);
  if (dropTarget_) dropTarget_->Revoke();
}

void CPage_Browser::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  list_.AttachDlgItem(hwnd_, IDC_BROWSER_LIST);
  list_.SetFileListMode(true);
  SetWindowTheme(list_.hwnd(), L"explorer", nullptr);
  DWORD styles = LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP | LVS_EX_DOUBLEBUFFER;
  ListView_SetExtendedListViewStyleEx(list_.hwnd(), styles, styles);
  Controls().fileIcons = IconCache::SystemImageList();
  std::vector<std::wstring> captions = SplitFields(LoadStr(IDS_BROWSER_COLUMNS));
  for (int i = 0; i < 5; i++) {
    std::wstring caption = i < static_cast<int>(captions.size()) ? captions[i] : L"";
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.cx = kColumnWidths[i];
    column.fmt = kColumnFormats[i];
    column.pszText = &caption[0];
    ListView_InsertColumn(list_.hwnd(), i, &column);
  }
  RegisterShellNotify();
  icons_.FindFolderIcon();
  CreateEditBar();
  ListDrives();
}

void CPage_Browser::Layout(int width, int height) {
  CFormPage::Layout(width, height);
  lastWidth_ = width;
  lastHeight_ = height;
  LayoutEditBar(width, height);
  MoveItem(Item(IDC_BROWSER_UP), 50, height - 40, 25, 25);
  MoveItem(Item(IDC_BROWSER_LOCATION), 85, height - 35, width - 85 - 130, 20);
  MoveItem(Item(IDC_BROWSER_EXTRACT), width - 115, height - 40, 100, 25);
}

// The list holds no items of its own: it has a row count and asks the page
// for the texts and icons of the rows it draws, so that a folder of many
// thousand entries is listed and sorted at once.
const BrowserItem* CPage_Browser::ItemOfRow(int row) const {
  if (row < 0 || row >= static_cast<int>(items_.size())) return nullptr;
  return items_[row];
}

void CPage_Browser::ClearRows() {
  items_.clear();
  store_.Clear();
  ListView_SetItemCountEx(list_.hwnd(), 0, 0);
}

BrowserItem& CPage_Browser::NewRow() {
  BrowserItem& item = store_.Add();
  item.row = static_cast<int>(items_.size());
  items_.push_back(&item);
  return item;
}

void CPage_Browser::PublishRows() {
  HWND list = list_.hwnd();
  // Only what is selected or focused is cleared: a change of every row's
  // state visits each row of an owner-data list.
  if (ListView_GetSelectedCount(list) > 0) ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  const int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
  if (focused >= 0) ListView_SetItemState(list, focused, 0, LVIS_FOCUSED);
  ListView_SetItemCountEx(list, static_cast<int>(items_.size()), 0);
  list_.Invalidate(true);
}

void CPage_Browser::FillDisplayInfo(NMLVDISPINFOW* info) const {
  const BrowserItem* item = ItemOfRow(info->item.iItem);
  if (!item) return;
  if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
    int column = info->item.iSubItem >= 0 && info->item.iSubItem < 5 ? info->item.iSubItem : 0;
    WriteCellText(*item, column, zone_, info->item.pszText, info->item.cchTextMax);
  }
  if (info->item.mask & LVIF_IMAGE) info->item.iImage = item->icon;
}

void CPage_Browser::EnterMode(Mode mode, const std::wstring& locationText) {
  // The edit bar is shown or hidden before the rows are published: the
  // list it makes room for is resized while it is still empty.
  mode_ = mode;
  UpdateEditBar();
  PublishRows();
  SetItemText(IDC_BROWSER_LOCATION, locationText);
  UpdateButtons();
}

void CPage_Browser::UpdateButtons() {
  bool selected = ListView_GetSelectedCount(list_.hwnd()) > 0;
  EnableWindow(Item(IDC_BROWSER_EXTRACT), selected && mode_ != kComputer);
  bool drives = mode_ == kComputer && location_.empty();
  EnableWindow(Item(IDC_BROWSER_UP), !drives && !saving_);
  UpdateEditBar();
}

void CPage_Browser::ListDrives() {
  LeaveImageFolder();
  ClearRows();
  location_.clear();
  wchar_t drives[512] = {};
  GetLogicalDriveStringsW(511, drives);
  for (const wchar_t* d = drives; *d; d += wcslen(d) + 1) {
    SHFILEINFOW info = {};
    SHGetFileInfoW(d, 0, &info, sizeof(info), SHGFI_DISPLAYNAME | SHGFI_TYPENAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON);
    BrowserItem* item = &NewRow();
    item->kind = 0;
    item->path = std::wstring(d, 2) + L"\\";
    item->texts[0] = info.szDisplayName[0] ? info.szDisplayName : d;
    item->texts[1] = info.szTypeName;
    item->icon = info.iIcon;
  }
  EnterMode(kComputer, LoadStr(IDS_COMPUTER));
}

bool CPage_Browser::ListFolder(const std::wstring& folder) {
  std::wstring base = WithoutTrailingSeparator(folder);
  if (base.size() == 2 && base[1] == L':') base += L'\\';  // "C:" is the drive's current folder
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW(LongPathForm(JoinPath(base, L"*.*")).c_str(), &found));
  if (!find) return false;
  LeaveImageFolder();
  location_ = base;
  GetTimeZoneInformation(&zone_);
  ClearRows();
  folderType_ = LoadStr(IDS_FOLDER_TYPE);
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    BrowserItem* item = &NewRow();
    bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    item->kind = isFolder ? 0 : 1;
    item->size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    item->path = JoinPath(base, name);
    if (isFolder) {
      item->type = &folderType_;
      item->icon = icons_.FolderIcon();
    } else {
      const IconCache::FileKind& fileKind = icons_.KindOf(name);
      item->type = &fileKind.type;
      item->icon = fileKind.icon;
      item->sizeStyle = CellStyle::kComputerSize;
    }
    item->time = TicksOf(found.ftCreationTime);
    item->timeStyle = CellStyle::kFileTime;
    item->texts[0] = std::move(name);
  } while (FindNextFileW(find.get(), &found));
  find.reset();
  Sort();
  EnterMode(kComputer, location_);
  return true;
}

void CPage_Browser::ListNearestFolder(std::wstring folder) {
  while (!folder.empty()) {
    if (ListFolder(folder)) return;
    folder = ParentOf(folder);
  }
  ListDrives();
}

void CPage_Browser::ListImages() {
  ForgetListing();
  ClearRows();
  folderType_ = LoadStr(IDS_FOLDER_TYPE);
  for (int n = 1; n <= imageCount_; n++) {
    BrowserItem* item = &NewRow();
    item->kind = n;
    item->texts[0] = FormatStr(L"Image %d", n);
    item->type = &folderType_;
    item->icon = icons_.FolderIcon();
  }
  location_ = wimPath_;
  EnterMode(kImageList, wimPath_);
}

void CPage_Browser::ListImageFolder(int image, const std::wstring& pathInImage) {
  if (!wim_) return;
  RequestImageFolder(FileShown(), image, pathInImage == L"\\" ? L"" : pathInImage);
}

void CPage_Browser::ShowImageFolder(const std::wstring& wimPath, int image, const std::wstring& folder) {
  // The file being opened, else the one shown.
  ShownFile file = listing() && pending_.wim ? pending_ : FileShown();
  const bool open = listing() || mode_ == kImageList || mode_ == kInsideImage;
  if (!open || !SamePath(wimPath, file.path) || image < 1 || image > file.imageCount) return;
  if (!file.wim && !(file.wim = OpenBrowsedWim(file.path))) return;
  RequestImageFolder(std::move(file), image, folder == L"\\" ? L"" : folder);
}

CPage_Browser::ShownFile CPage_Browser::FileShown() const { return ShownFile{wim_, wimPath_, imageCount_, loaded_}; }

// The folder as the pending changes show it: where it is in the image now
// is read, and the changes are laid over it when it has come. A folder that
// only a change makes is not in the image yet, and is shown at once.
void CPage_Browser::RequestImageFolder(ShownFile file, int image, const std::wstring& shown) {
  std::wstring inImage;
  if (!edits_.ImageFolderOf(shown, inImage)) {
    ForgetListing();
    ShowListing(std::move(file), image, shown, false, L"", std::make_unique<FolderListing>());
    return;
  }
  const std::wstring folder = inImage.empty() ? L"\\" : inImage;
  // The file travels with the request, not in what is run when it has been
  // read: a request dropped lets go of it at once.
  std::shared_ptr<BrowsedWim> wim = std::move(file.wim);
  // The rows and the keys of their names, for the sort by name, are made
  // there too (the keys in the window's locale); the window gives the rows
  // their types and icons.
  auto ready = std::make_shared<ReadyRows>();
  auto prepare = [ready, rowsFolder = &pathInImage_, lcid = GetThreadLocale()](const FolderListing& listing) {
    ready->names = std::make_unique<SortKeyMaker>(
        listing.size(), [&listing](size_t i) { return listing.NameOf(listing.entries()[i]); }, lcid);
    AddImageRows(listing, rowsFolder, ready->store, ready->items);
    ready->names->Finish();
  };
  auto done = [this, file, image, shown, inImage, ready](bool listed, std::unique_ptr<FolderListing> entries,
                                                         std::shared_ptr<BrowsedWim> read) {
    pending_ = ShownFile();
    if (!listed) return;
    ShownFile from = file;
    from.wim = std::move(read);
    // A change made while it was read (an undo) may have moved the folder.
    std::wstring now;
    if (!edits_.ImageFolderOf(shown, now) || now != inImage) {
      RequestImageFolder(std::move(from), image, shown);
      return;
    }
    ShowListing(std::move(from), image, shown, true, inImage, std::move(entries), ready.get());
  };
  pending_ = ShownFile{wim, file.path, file.imageCount, file.stamp};
  if (lister_.Start(hwnd_, wim, image, folder, prepare, done)) return;
  pending_ = ShownFile();
  // No worker: read here.
  auto entries = std::make_unique<FolderListing>();
  if (!wim->ListFolder(image, folder, *entries)) return;
  file.wim = std::move(wim);
  ShowListing(std::move(file), image, shown, true, inImage, std::move(entries));
}

void CPage_Browser::ShowListing(ShownFile file, int image, const std::wstring& shown, bool fromImage,
                                const std::wstring& inImage, std::unique_ptr<FolderListing> entries,
                                ReadyRows* ready) {
  // The rows go first: those of an image folder share its listing's names.
  ClearRows();
  wim_ = std::move(file.wim);
  wimPath_ = std::move(file.path);
  location_ = wimPath_;
  imageCount_ = file.imageCount;
  loaded_ = file.stamp;
  image_ = image;
  pathInImage_ = shown;
  listing_ = std::move(entries);
  listedFromImage_ = fromImage;
  listedFolder_ = inImage;
  FillImageRows(ready);
}

void CPage_Browser::FillImageRows(ReadyRows* ready) {
  GetTimeZoneInformation(&zone_);
  folderType_ = LoadStr(IDS_FOLDER_TYPE);
  if (edits_.empty()) {
    // Nothing is pending: the rows are the image's own entries, made
    // without a shown copy of each first. They are in the listing's order
    // until sorted, so a sort by name can use keys made from the listing,
    // while the rows are made or with them on the worker that read it.
    SortKeyMaker* names = nullptr;
    std::unique_ptr<SortKeyMaker> made;
    if (ready && ready->items.size() == listing_->size()) {
      store_ = std::move(ready->store);
      items_ = std::move(ready->items);
      names = ready->names.get();
    } else {
      if (sortColumn_ == 0) {
        made = std::make_unique<SortKeyMaker>(
            listing_->size(), [this](size_t i) { return listing_->NameOf(listing_->entries()[i]); });
        names = made.get();
      }
      AddImageRows(*listing_, &pathInImage_, store_, items_);
    }
    for (BrowserItem* item : items_) SetKind(*item, item->Name(), item->kind == 0);
    Sort(sortColumn_ == 0 ? names : nullptr);
  } else {
    std::vector<ShownEntry> rows = edits_.Apply(pathInImage_, *listing_);
    items_.reserve(rows.size());
    for (ShownEntry& entry : rows) AddShownEntry(std::move(entry));
    Sort();
  }
  EnterMode(kInsideImage, pathInImage_.empty() ? L"\\" : pathInImage_);
}

std::shared_ptr<BrowsedWim> CPage_Browser::OpenBrowsedWim(const std::wstring& path) {
  BackendChoice wimlib;
  wimlib.backend = kBackendWimlib;
  OperationContext context;  // a file that cannot be opened is told
  context.host = bench_;
  return MakeEngine(bench_->backends, wimlib, context)->OpenForBrowsing(path);
}

bool CPage_Browser::OpenPageWim() {
  std::shared_ptr<BrowsedWim> wim = OpenBrowsedWim(wimPath_);
  if (!wim) return false;
  wim_ = std::move(wim);
  return true;
}

void CPage_Browser::FreePageWim() { wim_.reset(); }

void CPage_Browser::LeaveImageFolder() {
  // The computer's rows: no image is open, not even one whose folder was
  // still being read.
  ForgetListing();
  FreePageWim();
}

void CPage_Browser::ForgetListing() {
  lister_.Drop();
  pending_ = ShownFile();
}

void CPage_Browser::OpenWimFile(const std::wstring& path) {
  if (!bench_->backends.WimlibAvailable() || saving_) return;
  if (!ConfirmLeave([this, path] { OpenWimFile(path); })) return;
  WimStamp stamp = StampOfFile(path);
  int count = ImageCountOf(path);
  if (count == 0) {
    AppMessageBox(hwnd_, LoadStr(IDS_CANNOT_OPEN_WIM), L"", MB_ICONERROR);
    return;
  }
  stamp.imageCount = static_cast<uint32_t>(count);
  if (count == 1) {
    // The page goes on showing what it shows until the image's root has
    // been read; the file becomes the page's then.
    std::shared_ptr<BrowsedWim> wim = OpenBrowsedWim(path);
    if (wim) RequestImageFolder(ShownFile{std::move(wim), path, 1, stamp}, 1, L"");
    return;
  }
  FreePageWim();
  wimPath_ = path;
  imageCount_ = count;
  loaded_ = stamp;
  ListImages();
}

void CPage_Browser::Reset() {
  if (saving_ || !ConfirmLeave([this] { Reset(); })) return;
  FreePageWim();
  wimPath_.clear();
  imageCount_ = 0;
  ListDrives();
}

void CPage_Browser::Up() {
  if (mode_ == kInsideImage) {
    if (pathInImage_.empty() || pathInImage_ == L"\\") {
      if (saving_ || !ConfirmLeave([this] { Up(); })) return;
      // Workers open the file themselves, so letting go of the page's
      // copy never pulls it away from an extraction.
      FreePageWim();
      // The image's rows go with the file: when the folder that holds it
      // cannot be listed (gone, or no access), a folder above it or the
      // drives take their place.
      if (imageCount_ < 2) ListNearestFolder(ParentOf(wimPath_));
      else ListImages();
      return;
    }
    ListImageFolder(image_, ParentOf(pathInImage_));
    return;
  }
  if (location_.size() > 3) {
    std::wstring parent = ParentOf(location_);
    if (parent.size() == 2) parent += L"\\";
    ListFolder(parent);
  } else {
    ListDrives();
  }
}

void CPage_Browser::Activate(int row) {
  const BrowserItem* item = ItemOfRow(row);
  if (!item) return;
  if (mode_ == kComputer) {
    if (item->kind == 0) ListFolder(item->path);
    else if (IsImageFileName(item->path)) OpenWimFile(item->path);
    else ShellExecuteW(hwnd_, L"open", item->path.c_str(), nullptr, nullptr, SW_RESTORE);
  } else if (mode_ == kImageList) {
    int image = item->kind;
    if (OpenPageWim()) ListImageFolder(image, L"");
  } else if (item->mark == static_cast<int>(EditMark::kDeleted)) {
    AppMessageBox(GetAncestor(hwnd_, GA_ROOT), LoadFilledStr(IDS_EDIT_DELETED_ITEM, {std::wstring(item->Name())}), L"Quarry",
                  MB_ICONINFORMATION);
  } else if (item->kind == 0) {
    ListImageFolder(image_, item->Path());
  } else if (item->inImage && item->mark != static_cast<int>(EditMark::kReplaced)) {
    ExtractAndOpen(row);
  }
}

void CPage_Browser::Sort(SortKeyMaker* names) { SortBrowserRows(items_, sortColumn_, ascending_, zone_, names); }

void CPage_Browser::SortByColumn(int column) {
  std::vector<const BrowserItem*> chosen = SelectedItems();
  const BrowserItem* focused = ItemOfRow(ListView_GetNextItem(list_.hwnd(), -1, LVNI_FOCUSED));
  ascending_ = column == sortColumn_ ? !ascending_ : true;
  sortColumn_ = column;
  Sort();
  PublishRows();
  SelectItems(chosen, focused);
}

std::vector<const BrowserItem*> CPage_Browser::SelectedItems() const {
  std::vector<const BrowserItem*> chosen;
  HWND list = list_.hwnd();
  for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list, row, LVNI_SELECTED)) {
    if (const BrowserItem* item = ItemOfRow(row)) chosen.push_back(item);
  }
  return chosen;
}

// Selects the rows of `chosen` where they stand now, and focuses `focused`.
void CPage_Browser::SelectItems(const std::vector<const BrowserItem*>& chosen, const BrowserItem* focused) {
  HWND list = list_.hwnd();
  std::set<const BrowserItem*> wanted(chosen.begin(), chosen.end());
  for (size_t row = 0; row < items_.size(); row++) {
    const BrowserItem* item = items_[row];
    UINT state = (wanted.count(item) ? LVIS_SELECTED : 0) | (item == focused ? LVIS_FOCUSED : 0);
    if (state) ListView_SetItemState(list, static_cast<int>(row), state, state);
    if (item == focused) {
      ListView_SetSelectionMark(list, static_cast<int>(row));
      ListView_EnsureVisible(list, static_cast<int>(row), FALSE);
    }
  }
}

std::vector<std::wstring> CPage_Browser::SelectedPaths() const {
  std::vector<std::wstring> paths;
  HWND list = list_.hwnd();
  for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list, row, LVNI_SELECTED)) {
    const BrowserItem* item = ItemOfRow(row);
    if (!item) continue;
    // Inside an image only what the image holds now can be taken out.
    if (mode_ != kInsideImage) paths.push_back(item->path);
    else if (item->inImage && item->mark != static_cast<int>(EditMark::kReplaced))
      paths.push_back(item->ImagePath());
  }
  return paths;
}

ExtractJob CPage_Browser::SelectionJob(const std::wstring& target) const {
  ExtractJob job;
  job.wimPath = wimPath_;
  job.image = image_;
  job.backends = &bench_->backends;
  job.paths = SelectedPaths();
  job.target = target;
  return job;
}

void CPage_Browser::ExtractTo(const std::wstring& folder) {
  if (mode_ != kInsideImage || folder.empty()) return;
  ExtractJob job = SelectionJob(folder);
  if (job.paths.empty()) return;
  HWND owner = GetAncestor(hwnd_, GA_ROOT);
  if (RefuseWhileQueueRuns(owner)) return;
  EnableWindow(Item(IDC_BROWSER_EXTRACT), FALSE);
  std::wstring reason;
  int result = ExtractWithDialog(owner, job, &reason);
  UpdateButtons();
  if (result == kResultAborted) {
    AppMessageBox(owner, LoadStr(IDS_OP_CANCELLED), L"Quarry", MB_ICONINFORMATION);
    return;
  }
  if (result == 0) return;
  if (reason.empty()) reason = WimlibReasonText(result);
  AppMessageBox(owner, FormatStr(LoadStr(IDS_EXTRACT_FAILED_WHY).c_str(), folder.c_str(), reason.c_str()), L"Quarry",
                MB_ICONERROR);
}

void CPage_Browser::ExtractToPickedFolder() {
  if (mode_ != kInsideImage) return;
  if (RefuseWhileQueueRuns(GetAncestor(hwnd_, GA_ROOT))) return;
  std::wstring folder = PickFolder(hwnd_, bench_->settings.lastFolder);
  if (!folder.empty()) ExtractTo(folder);
}

bool CPage_Browser::ExtractAndOpen(int row) {
  const BrowserItem* item = ItemOfRow(row);
  if (mode_ != kInsideImage || !item || item->kind != 1) return false;
  ExtractJob job;
  job.wimPath = wimPath_;
  job.image = image_;
  job.backends = &bench_->backends;
  job.paths = {item->ImagePath()};
  return StartExtractAndOpen(job, bench_->tempFolder, std::wstring(item->Name()));
}

std::wstring CPage_Browser::CommandFile() const {
  if (mode_ != kComputer) return wimPath_;
  int row = ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED);
  const BrowserItem* item = row >= 0 ? ItemOfRow(row) : nullptr;
  return item ? item->path : L"";
}

void CPage_Browser::GreyMenu(HMENU menu) {
  HWND list = list_.hwnd();
  const int selected = ListView_GetSelectedCount(list);
  auto grey = [menu](UINT id, bool grey) { EnableMenuItem(menu, id, MF_BYCOMMAND | (grey ? MF_GRAYED : MF_ENABLED)); };
  grey(ID_BROWSER_EXTRACT, !(mode_ == kInsideImage && selected > 0));
  grey(ID_BROWSER_OPEN, mode_ == kImageList || selected == 0);
  GreyEditItems(menu);
  if (mode_ != kComputer) {
    for (int i = 0; i < 6; i++) DeleteMenu(menu, 3, MF_BYPOSITION);
    if (selected > 0) grey(ID_BROWSER_PROPERTIES, true);
    return;
  }
  // On the computer: the sub-menu "跳转到" goes, the direct items stay.
  DeleteMenu(menu, 9, MF_BYPOSITION);
  int row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  const BrowserItem* item = selected == 1 ? ItemOfRow(row) : nullptr;
  grey(ID_JUMP_CAPTURE, !(item && item->kind == 0));
  bool wim = item && item->kind == 1 && IsImageFileName(item->path);
  for (UINT id : {ID_JUMP_APPLY, ID_JUMP_SPLIT, ID_JUMP_MERGE, ID_JUMP_DELETE, ID_JUMP_INFO, ID_BROWSER_DETAILS})
    grey(id, !wim);
}

void CPage_Browser::ShowContextMenu() {
  bench_->ShowPopupMenu(PopupMenu::kBrowser, hwnd_);
}

bool CPage_Browser::OnCommand(int id, int code, HWND control) {
  if (OnEditCommand(id)) return true;
  switch (id) {
    case IDC_BROWSER_UP:
      if (code == BN_CLICKED) Up();
      return true;
    case IDC_BROWSER_EXTRACT:
      if (code == BN_CLICKED) ExtractToPickedFolder();
      return true;
    case ID_BROWSER_EXTRACT: ExtractToPickedFolder(); return true;
    case ID_BROWSER_OPEN: {
      int row = ListView_GetNextItem(list_.hwnd(), -1, LVNI_SELECTED);
      if (row < 0) return true;
      if (mode_ == kComputer) {
        if (const BrowserItem* item = ItemOfRow(row))
          ShellExecuteW(hwnd_, L"open", item->path.c_str(), nullptr, nullptr, SW_RESTORE);
      } else {
        ExtractAndOpen(row);
      }
      return true;
    }
    case ID_BROWSER_PROPERTIES: Properties(); return true;
    case ID_COMPARE_IMAGES: bench_->JumpTo(ID_COMPARE_IMAGES, CommandFile()); return true;
    case ID_BROWSER_DETAILS: {
      std::wstring file = CommandFile();
      if (!file.empty()) CWimInfoDlg::Open(file, hwnd_, 1);
      return true;
    }
    case ID_JUMP_CAPTURE:
    case ID_JUMP_APPLY:
    case ID_JUMP_SPLIT:
    case ID_JUMP_MERGE:
    case ID_JUMP_DELETE:
    case ID_JUMP_INFO: {
      std::wstring file = CommandFile();
      Workbench& app = *bench_;
      if (!file.empty()) app.JumpTo(id, file);
      return true;
    }
    default:
      return CFormPage::OnCommand(id, code, control);
  }
}

bool CPage_Browser::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_BROWSER_LIST) return false;
  if (OnEditNotify(header, result)) return true;
  switch (header->code) {
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:  // a range or marquee selection of the owner-data list
      UpdateButtons();
      return false;
    case LVN_GETDISPINFOW:
      FillDisplayInfo(reinterpret_cast<NMLVDISPINFOW*>(header));
      return true;
    case NM_DBLCLK: {
      auto* activate = reinterpret_cast<NMITEMACTIVATE*>(header);
      if (activate->iItem >= 0) Activate(activate->iItem);
      return true;
    }
    case LVN_COLUMNCLICK:
      SortByColumn(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      return true;
    case NM_RCLICK:
      ShowContextMenu();
      result = 1;
      return true;
    case LVN_BEGINDRAG:
      if (mode_ == kInsideImage) RunDragOut();
      return true;
    default:
      return false;
  }
}

bool CPage_Browser::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_DESTROY:
      if (dropTarget_) dropTarget_->Revoke();
      dropTarget_ = ComPtr<CMyOleTarget>();
      return CFormPage::HandleMessage(msg, wParam, lParam, result);
    case WM_INITMENUPOPUP:
      if (!HIWORD(lParam) && GetMenuItemID(reinterpret_cast<HMENU>(wParam), 0) == ID_BROWSER_EXTRACT)
        GreyMenu(reinterpret_cast<HMENU>(wParam));
      return true;
    case UM_SHELL_CHANGE: {
      auto** pidls = reinterpret_cast<PCIDLIST_ABSOLUTE*>(wParam);
      wchar_t* path = nullptr;
      if ((lParam & SHCNE_CREATE) && pidls && pidls[0] &&
          SUCCEEDED(SHGetNameFromIDList(pidls[0], SIGDN_FILESYSPATH, &path))) {
        OnShellCreated(path);
        CoTaskMemFree(path);
      }
      return true;
    }
    default:
      return CFormPage::HandleMessage(msg, wParam, lParam, result);
  }
}
