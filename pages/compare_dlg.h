// The window "比较映像": two images (of one file or of two, a split set or an
// ESD as well) are read as whole trees by the runner, as one operation with
// its progress and "中止" in the window, and what differs is listed in a
// virtual list that filters by kind and by path. From a row: copy the path,
// extract both versions and open them, open the folder in the browser page.
// The differences save as a UTF-8 CSV or text report.
//
// One window at most exists; it is modeless, owned by the main window, and
// deletes itself when destroyed. While a read runs, closing only hides it
// (and stops the read); it goes once the read has ended.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/drag_drop.h"
#include "engine/image_diff.h"
#include "engine/image_tree.h"
#include "tasks/operation_runner.h"
#include "tasks/workbench.h"
#include "win/dialog.h"

// Shows a folder of an image in the browser page (the main window's).
using BrowseImageFolder = std::function<void(const std::wstring& wimPath, int image, const std::wstring& folder)>;

class CCompareDlg : public Dialog, public OperationDisplay, public OleDropHandler {
 public:
  // Creates the window if there is none and shows it; a non-empty `file`
  // becomes the file of the first image when the window is new, of the
  // second when the first is chosen already.
  static CCompareDlg* Show(HWND owner, Workbench& bench, OperationRunner& runner, const std::wstring& file,
                           BrowseImageFolder browse);
  static CCompareDlg* Instance();

  // Names the file of image `side` (1 or 2) and lists its images; false,
  // with a message, when the file has no images.
  bool SetFile(int side, const std::wstring& path);
  // Chooses image `image` of side `side` in its list.
  void SetImage(int side, int image);
  // "比较": starts reading both trees; false when nothing was started.
  bool StartCompare();
  // "中止".
  void Abort();

  // The commands of a row (the selected rows for the copy).
  void CopySelectedPaths();
  void OpenBothVersions();
  void BrowseSelected(int side);
  // Writes the rows shown as CSV (a name ending in ".csv") or as a text
  // report; false with the reason in GetLastError.
  bool SaveReport(const std::wstring& path) const;
  void SaveReportAs();

  bool reading() const { return reading_; }
  const std::vector<DiffRow>& rows() const { return rows_; }
  const std::vector<uint32_t>& shownRows() const { return shown_; }
  // How long the last comparison of the two trees took, after both were read.
  double compareMilliseconds() const { return compareMs_; }

  // OperationDisplay
  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float percent) override;
  void OperationBegun(const std::wstring& title) override;
  void OperationEnded(const OperationOutcome& outcome) override;

  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;

  // The texts of the report formats, for one row.
  static std::wstring KindsText(unsigned kinds);

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnFinalDestroy() override;

 private:
  CCompareDlg(Workbench& bench, OperationRunner& runner, BrowseImageFolder browse);
  struct Reading;

  void Layout(int width, int height);
  void CreateColumns();
  void PickFile(int side);
  int ChosenImage(int side) const;
  std::wstring FileOf(int side) const;
  // The rows again from the trees read (after "忽略时间" changed).
  void Recompare();
  void ApplyFilter();
  void ShowSummary();
  void UpdateButtons();
  void FillDisplayInfo(NMLVDISPINFOW* info);
  std::vector<uint32_t> SelectedRows() const;
  void ShowContextMenu();

  Workbench& bench_;
  OperationRunner& runner_;
  BrowseImageFolder browse_;
  ComPtr<CMyOleTarget> dropTarget_;
  HICON icon_ = nullptr;

  bool reading_ = false;
  bool closePending_ = false;
  std::shared_ptr<Reading> pending_;  // shared with the read's body
  ImageTree before_;
  ImageTree after_;
  bool haveTrees_ = false;
  std::vector<DiffRow> rows_;
  std::vector<uint32_t> shown_;  // positions in rows_ of the rows listed
  double compareMs_ = 0;
  std::wstring cell_;  // the text the list was last given
};
