// The Apply page (IDD_PAGE_APPLY): lists the images of a WIM or ESD file and
// applies the chosen one to a folder ("应用") or mounts it on a folder
// ("挂载", read-only or writable, always through WIMGAPI), at once with the
// progress page in its place or through the task queue.
#pragma once
#include <string>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "engine/image_xml.h"
#include "engine/engine.h"
#include "pages/form_page.h"

class CPage_Apply : public CFormPage, public OleDropHandler {
 public:
  CPage_Apply();
  ~CPage_Apply() override;

  // Makes a file the page's WIM file and lists its images (the "应用或挂载"
  // jump of other pages).
  void OpenWimFile(const std::wstring& path);
  const std::wstring& wimFile() const { return wimFile_; }

  // The chosen image: the 1-based number of the first marked row, 0 if none.
  int ChosenImage() const;

 protected:
  void OnInitialUpdate() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void Layout(int width, int height) override;
  void OnMainMenuButton() override;

 private:
  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;
  void SetupList();
  void LoadList();
  void AddImageRow(int index, const ImageXml& xml);
  void UpdateButtons();
  void ChooseRow(int row);
  void PickWimFile();
  void PickTarget();
  bool CheckPaths();
  bool RefuseBesideQueue();
  void OnApply();
  void OnMount();
  void QueueTask(bool mount, bool writable);
  void StartWorker(bool mount, bool writable);
  // What the fields ask for, as one apply or mount.
  MountRequest TakeRequest(bool writable) const;
  void ShowContextMenu();
  void OnInitMenuPopup(HMENU menu);

  CWimListCtrl list_;
  CDropTargetEdit wimEdit_;
  CDropTargetEdit targetEdit_;
  std::wstring wimFile_;
  std::wstring target_;
  ImageXml images_;  // the XML of the listed file, prepared once
  ComPtr<IDropTargetHelper> dragImages_;
  ComPtr<CMyOleTarget> dropTarget_;
};
