// The capture configuration editor (IDD_CONFIG_EDITOR, "编辑配置列表"): the
// four capture lists as one tree of four fixed roots, each pattern a child
// with a check box for its enabled flag. Nothing is stored before OK.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "config/capture_lists.h"
#include "win/dialog.h"

class CEditCfgDLG : public Dialog {
 public:
  // Reads and writes the lists of the settings file `settingsPath`; OK also
  // puts the enabled patterns into `lists`, the ones captures use.
  CEditCfgDLG(const std::wstring& settingsPath, CaptureLists& lists);

  // What the tree holds now, root by root.
  StoredCaptureLists TreeContents() const;

  // A pattern the stored form can keep: no "|" and no ":".
  static bool IsStorablePattern(const std::wstring& pattern);

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  void OnOK() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  HWND Tree() const { return Item(IDC_TREE); }
  void Fill(const StoredCaptureLists& lists, bool expandAll);
  void CreateRoots();
  HTREEITEM AddChild(HTREEITEM root, const std::wstring& text, bool checked);
  std::wstring ItemTextOf(HTREEITEM item) const;
  bool IsChecked(HTREEITEM item) const;
  void SetChecked(HTREEITEM item, bool on);
  void RestoreDefaults();
  void Import();
  void AddEntry();
  void DeleteEntry();
  void EditEntry();
  void ShowContextMenu();
  void OnCheckClick();
  void OnRootChecked(HTREEITEM root, bool before);
  bool OnEndLabelEdit(NMTVDISPINFOW* info);
  void Layout(int width, int height);

  static constexpr int IDC_TREE = 1073;
  std::wstring settingsPath_;
  CaptureLists& lists_;
  HTREEITEM roots_[kCaptureListCount] = {};
  HTREEITEM editing_ = nullptr;  // the item whose label is being edited
};
