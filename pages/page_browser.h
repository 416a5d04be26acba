// The browser page (IDD_PAGE_BROWSER): the computer's drives and folders and,
// below a WIM or ESD file, its images and the folders and files inside an
// image (read through wimlib), with extraction, extract-and-open and the
// drag-out to Explorer. Inside an image the page is also an editor: files
// and folders dropped or chosen are added to the folder shown, and rows are
// deleted, renamed and new folders made, all pending (see browser_edits.h)
// until "保存" writes them into the file in one update.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "engine/engine.h"
#include "pages/browser_edits.h"
#include "pages/browser_extract.h"
#include "pages/browser_items.h"
#include "pages/browser_lister.h"
#include "pages/form_page.h"
#include "pages/page2_delete_save.h"

class CPage_Browser : public CFormPage, public OleDropHandler, public OperationDisplay {
 public:
  enum Mode { kComputer = 0, kImageList = 1, kInsideImage = 2 };

  CPage_Browser();
  ~CPage_Browser() override;

  // Back to the start view (the drives), letting go of any open image.
  void Reset();
  // Opens a WIM file (the "文件浏览器" jump, the command line, a
  // double-click): one image opens at its root, several give the image list.
  void OpenWimFile(const std::wstring& path);

  // Listing.
  void ListDrives();
  // False, with the view unchanged, when the folder cannot be listed.
  bool ListFolder(const std::wstring& folder);
  // `folder`, else the nearest folder above it that can be listed, else
  // the drives.
  void ListNearestFolder(std::wstring folder);
  void ListImages();
  // A folder inside an image of the file shown, as the pending changes show
  // it. The image's part is read on a worker: the rows, the mode and the
  // location change when it has been read (see listing()), and a newer
  // listing of any kind asked for in between takes its place.
  void ListImageFolder(int image, const std::wstring& pathInImage);
  // A folder of image `image` of `wimPath`, from its image list or from
  // inside one of its images; nothing when the page shows another file.
  void ShowImageFolder(const std::wstring& wimPath, int image, const std::wstring& folder);
  // An image folder asked for is still being read.
  bool listing() const { return lister_.Busy(); }
  // "U": one level up.
  void Up();
  // A double-click on a row.
  void Activate(int row);
  // A click on a column heading.
  void SortByColumn(int column);

  // "提取..." and ID_BROWSER_EXTRACT: extract the selection to a folder the user picks.
  // Both refuse, before anything else, while the task queue runs.
  void ExtractToPickedFolder();
  // Extracts the selection into `folder` with the extraction dialog shown;
  // a failed or partial extraction is told in a box.
  void ExtractTo(const std::wstring& folder);
  // ID_BROWSER_OPEN inside an image: extract the selected file and open it.
  bool ExtractAndOpen(int row);

  // The drag-out: the placeholder offered to Explorer, the drag's end and
  // the shell's report that the placeholder was created.
  std::wstring BeginDragOut();
  void EndDragOut(DWORD effect);
  void OnShellCreated(const std::wstring& createdPath);
  bool dragPending() const { return dragPending_; }
  const std::wstring& placeholderName() const { return placeholder_; }

  // The data object the Properties command hands to the shell, for the
  // paths (null when a path cannot be parsed).
  static ComPtr<IDataObject> PropertiesData(const std::vector<std::wstring>& paths);

  // Editing inside an image. Each asks what it must ask and tells why it
  // refuses; each is one action that "撤销" takes back.
  // Why the image cannot be edited now (empty when it can).
  std::wstring EditRefusal() const;
  // Adds files and folders of the computer to the folder shown; names that
  // are there already are replaced after one question (false: nothing added).
  bool AddPaths(const std::vector<std::wstring>& paths);
  void AddFilesPicked();
  void AddFolderPicked();
  // Deletes the selected rows after one question naming how many.
  void DeleteSelected();
  // Starts the in-place rename of a row (F2).
  void BeginRename(int row);
  // Renames a row: false, with the reason told, for a name Windows cannot
  // hold or one the folder has already.
  bool RenameRow(int row, const std::wstring& newName);
  // A new folder in the folder shown, its name then edited in place.
  void NewFolder();
  void UndoEdit();
  // Asks first.
  void DiscardEdits();
  // Starts the save ("保存"); false when it was refused or not started.
  bool SaveEdits();
  // "中止" while saving.
  void AbortSave();
  // Leaving the image with changes pending: asks whether to save. True when
  // the page may leave (saved nothing or discarded); false to stay, also
  // while a save that the user chose runs (`after` then runs once it has
  // succeeded).
  bool ConfirmLeave(std::function<void()> after = nullptr);
  const BrowserEdits& edits() const { return edits_; }
  bool saving() const { return saving_; }
  // The edit bar's line: "N 项更改尚未保存", or why editing is not possible.
  std::wstring EditStatusText() const;

  // OleDropHandler
  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;
  // OperationDisplay
  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float percent) override;
  void OperationBegun(const std::wstring& title) override;
  void OperationEnded(const OperationOutcome& outcome) override;

  Mode mode() const { return mode_; }
  const std::wstring& location() const { return location_; }
  const std::wstring& wimPath() const { return wimPath_; }
  const std::wstring& pathInImage() const { return pathInImage_; }
  int image() const { return image_; }
  int sortColumn() const { return sortColumn_; }
  bool sortAscending() const { return ascending_; }
  const BrowserItem* ItemOfRow(int row) const;

 protected:
  void OnInitialUpdate() override;
  void Layout(int width, int height) override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void ClearRows();
  // A new empty row at the end, for the caller to fill in.
  BrowserItem& NewRow();
  void EnterMode(Mode mode, const std::wstring& locationText);
  // `names`: keys of the rows' names made while they were added (see SortBrowserRows).
  void Sort(SortKeyMaker* names = nullptr);
  // The file opened for browsing, or null with the failure told.
  std::shared_ptr<BrowsedWim> OpenBrowsedWim(const std::wstring& path);
  bool OpenPageWim();
  void FreePageWim();
  // For the computer's rows: no image open or being read.
  void LeaveImageFolder();
  // The image folder being read is not wanted any more.
  void ForgetListing();
  // The file an image folder is read from: made the page's own, with its
  // facts, when the folder is shown.
  struct ShownFile {
    std::shared_ptr<BrowsedWim> wim;
    std::wstring path;
    int imageCount = 0;
    WimStamp stamp;
  };
  ShownFile FileShown() const;
  void RequestImageFolder(ShownFile file, int image, const std::wstring& shown);
  // The rows of a listing made on the worker that read it (AddImageRows),
  // with the keys of their names.
  struct ReadyRows {
    BrowserRowStore store;
    std::vector<BrowserItem*> items;
    std::unique_ptr<SortKeyMaker> names;
  };
  // The listing of an image folder has come: the file becomes the page's,
  // and the rows are made. `ready`: the listing's rows made already, if any.
  void ShowListing(ShownFile file, int image, const std::wstring& shown, bool fromImage, const std::wstring& inImage,
                   std::unique_ptr<FolderListing> entries, ReadyRows* ready = nullptr);
  // The rows of the image folder shown, from `listing_` and the pending
  // changes; `ready` as for ShowListing.
  void FillImageRows(ReadyRows* ready = nullptr);
  void PublishRows();
  std::vector<const BrowserItem*> SelectedItems() const;
  void SelectItems(const std::vector<const BrowserItem*>& chosen, const BrowserItem* focused);
  void FillDisplayInfo(NMLVDISPINFOW* info) const;
  std::vector<std::wstring> SelectedPaths() const;
  std::wstring CommandFile() const;
  void UpdateButtons();
  void ShowContextMenu();
  void GreyMenu(HMENU menu);
  void Properties();
  void RunDragOut();
  void RegisterShellNotify();
  ExtractJob SelectionJob(const std::wstring& target) const;
  // Editing (browser_editing.cpp).
  void CreateEditBar();
  void LayoutEditBar(int width, int height);
  void UpdateEditBar();
  void Relist();
  void AddShownEntry(ShownEntry entry);
  // Rows of an image folder's own entries, all but their types and icons
  // (SetKind); any thread may make them. `folder` is the rows' folder.
  static void AddImageRows(const FolderListing& listing, const std::wstring* folder, BrowserRowStore& store,
                           std::vector<BrowserItem*>& items);
  static void SetImageFacts(BrowserItem& item, const ShownEntry::Facts& facts);
  void SetKind(BrowserItem& item, std::wstring_view name, bool isFolder);
  std::vector<ShownEntry> ShownNow() const;
  bool RefuseSave();
  bool OnEditCommand(int id);
  bool OnEditNotify(NMHDR* header, LRESULT& result);
  void GreyEditItems(HMENU menu);
  int RowOfName(const std::wstring& name) const;

  CWimListCtrl list_;
  BrowserRowStore store_;            // the rows
  std::vector<BrowserItem*> items_;  // the rows in the order shown
  IconCache icons_;
  Mode mode_ = kComputer;
  std::wstring location_;     // folder or WIM path
  std::wstring wimPath_;      // the WIM file of modes 1 and 2
  std::shared_ptr<BrowsedWim> wim_;  // shared with the worker that reads a folder
  int imageCount_ = 0;
  int image_ = 0;
  std::wstring pathInImage_;  // empty at an image's root
  int sortColumn_ = 0;
  bool ascending_ = true;
  bool dragPending_ = false;
  std::wstring placeholder_;
  ULONG notifyId_ = 0;
  TIME_ZONE_INFORMATION zone_ = {};  // read at the start of each listing
  std::wstring folderType_;

  // Editing.
  BrowserEdits edits_;
  // The image's own entries of the folder shown; the rows point into it.
  std::unique_ptr<FolderListing> listing_ = std::make_unique<FolderListing>();
  ShownFile pending_;  // the file of the image folder being read
  bool listedFromImage_ = false;  // false: the folder shown is one a change makes
  std::wstring listedFolder_;     // where listing_ was read in the image
  WimStamp loaded_;                   // the file when it was opened
  ComPtr<CMyOleTarget> dropTarget_;
  bool saving_ = false;
  bool renaming_ = false;             // a label edit the page started
  int lastWidth_ = 0, lastHeight_ = 0;
  std::function<void()> afterSave_;
  // Declared last, so gone first: it waits for its worker, which may hold
  // the file of `wim_` and the library behind it.
  FolderLister lister_;
};
