// The merge and export page (IDD_PAGE_MERGE), second page of the advanced
// host: collects the images of several WIM files in a list, and exports
// the ticked ones, one after another, into a new or an existing file on a
// worker thread with the progress page in the host's place.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "pages/form_page.h"
#include "win/handles.h"

struct MergeLoader;

class CPage2_Merge : public CFormPage, public OleDropHandler {
 public:
  // Icons of the shared image list that mark a row as ticked or not.
  static constexpr int kTicked = 1;
  static constexpr int kUnticked = 2;

  CPage2_Merge();
  ~CPage2_Merge() override;

  // Adds one ticked row per image of a WIM file. The header is read at
  // once; the rows are filled in the background and appear in the order
  // the files were added. Returns the header's image count, or -1 when the
  // file is not a WIM file (a later part of a split set adds no rows).
  int AddWimFile(const std::wstring& path);
  // True while files wait to be read into the list.
  bool IsLoading() const;
  // Forgets the files still waiting; the one being read adds no rows.
  void StopLoading();

  // One row read from a file, ready to be added to the list.
  struct Row {
    std::vector<std::wstring> cells;  // columns 0-8
  };
  void AppendRows(const std::vector<Row>& rows);

  // OleDropHandler
  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;

 private:
  void CreateColumns();
  void AddByDialog();
  void RemoveAll();
  void OnListClick(const NMITEMACTIVATE* click);
  void OnDeleteKey();
  void OnContextMenu();
  void OnInitMenuPopup(HMENU menu);
  void OnJump(UINT command);
  void UpdateExportButton();
  int TickedCount() const;
  void OnExport();
  bool ChooseDestination(std::wstring& destination, int& compression, int& wimBoot);

  CWimListCtrl list_;
  std::shared_ptr<MergeLoader> loader_;
  ComPtr<IDropTargetHelper> dragHelper_;
  ComPtr<CMyOleTarget> dropTarget_;
  HMENU openPopup_ = nullptr;
};

// For tests: called on the loading thread with each file before it is
// read, so a test can hold the loading at a known point. Empty: none.
void SetMergeLoadHook(std::function<void(const std::wstring& path)> hook);
