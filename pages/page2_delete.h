// The delete and edit page (IDD_PAGE_DELETE), third page of the advanced
// host: lists the images of one WIM file, lets the user remove images and
// edit their metadata and boot mark in the list, and writes all of it
// into the file ("保存") or into a copy ("另存为...") on a worker thread,
// with an animated busy text on the page.
#pragma once
#include <map>
#include <memory>
#include <string>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "engine/image_xml.h"
#include "pages/form_page.h"
#include "pages/page2_delete_save.h"
#include "win/handles.h"

class CPage2_Delete : public CFormPage, public OleDropHandler, public OperationDisplay {
 public:
  CPage2_Delete();
  ~CPage2_Delete() override;

  // Opens a WIM file: the path label shows it and the list is loaded.
  // Ignored while a save runs.
  void OpenWimFile(const std::wstring& path);
  const std::wstring& wimPath() const { return wimPath_; }
  bool IsSaving() const { return saving_; }

  // The rows as they stand: what a save would write.
  std::vector<ImageRow> SnapshotRows() const;

  // OleDropHandler
  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;

  // OperationDisplay: a save shows itself on this page (the busy text).
  HWND Hwnd() const override { return hwnd_; }
  void SetPercent(float) override {}
  void OperationBegun(const std::wstring&) override {}
  void OperationEnded(const OperationOutcome& outcome) override;

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;

 private:
  void CreateColumns();
  void LoadList();
  void OpenByDialog();
  void RemoveSelected();
  void EditRow(int row);
  void OnSave();
  void OnSaveAs();
  bool RefuseSave();
  // Tells the user and returns true when an image of `path` is mounted.
  bool RefuseMounted(const std::wstring& path);
  void ShowChangedMessage();
  void StartSave(const std::wstring& destination);
  void EnterBusyState(bool abortable);
  void UndoBusyState(bool save, bool saveAs);
  void OnAbort();
  // `told`: the user has already heard why nothing was written.
  void LeaveBusyState(const SaveJob& job, EngineResult result, bool refused, bool told);
  void OnBusyTimer();
  void OnContextMenu();
  void OnInitMenuPopup(HMENU menu);
  void OnJump(UINT command);
  void EnableSaveButtons(bool save, bool saveAs);

  // What the save running now learnt beside its result.
  struct SaveEnd {
    bool changed = false;  // the file was no longer the one listed
    bool copied = false;   // the copy a save goes into could be made
  };
  // The save's work on its worker.
  static EngineResult Save(const SaveJob& job, const OperationContext& context, SaveEnd& end);

  CWimListCtrl list_;
  std::wstring wimPath_;
  WimStamp loaded_;  // the file as the list was loaded from it
  uint32_t listedCount_ = 0;  // the images the list could hold of loaded_.imageCount
  // The XML text as the list was loaded from it, where each image's further
  // properties are read when they are needed; and those properties as
  // edited (only the images the user edited), by index.
  ImageXml xml_;
  std::map<int, std::vector<ImageProperty>> editedProperties_;
  bool saving_ = false;
  SaveJob saveJob_;                  // the save running now
  std::shared_ptr<SaveEnd> saveEnd_;  // and what it learns
  ComPtr<IDropTargetHelper> dragHelper_;
  ComPtr<CMyOleTarget> dropTarget_;
};
