// The information page (IDD_PAGE_INFO): header facts and image metadata of
// one or more WIM files as an indented list, read straight from the files.
#pragma once
#include <string>
#include <vector>

#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "pages/form_page.h"
#include "pages/info_rows.h"

class CPage_Info : public CFormPage, public OleDropHandler {
 public:
  CPage_Info();
  ~CPage_Info() override;

  // Shows one file (the "文件信息" jump and the command line): the
  // remembered files are forgotten, the file's rows go below the rows
  // shown, and the file is remembered.
  void AddFile(const std::wstring& path);
  // Appends a file's rows and remembers it (drops and the open dialog).
  void AppendFile(const std::wstring& path);
  const std::vector<std::wstring>& files() const { return files_; }
  const std::vector<InfoRow>& rows() const { return rows_; }

  // The commands of the page's menu.
  void CopyAll();
  void ClearAll();
  void Refresh();
  void OpenFiles();
  // The file of the selected row, empty when there is none.
  std::wstring SelectedFile() const;

  // Passes a mouse-wheel turn on to the page's list.
  void ForwardMouseWheel(WPARAM wParam, LPARAM lParam);

  DWORD OnOleDrop(IDataObject* data, DWORD effect, POINTL point) override;

 protected:
  void OnInitialUpdate() override;
  void Layout(int width, int height) override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void InsertRows(size_t from);
  void DeleteRows();
  void SetEmpty(bool empty);
  void ShowContextMenu();
  void GreyMenu(HMENU menu);
  void OpenInfoDialog(int mode);
  void DropFiles(const std::vector<std::wstring>& paths);

  CInfoList list_;
  std::vector<InfoRow> rows_;
  std::vector<std::wstring> files_;
  ComPtr<CMyOleTarget> dropTarget_;
};
