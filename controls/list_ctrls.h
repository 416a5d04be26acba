// The three list views that draw their own rows through custom draw
// (reflected to the control): the report list of the program, the two-line
// tile list of the image chooser and the indented information list. The
// lists are report views; their column headers stay the system's.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "win/paint.h"
#include "win/window.h"

// The text of a cell of any list view, whole whatever its length.
std::wstring ListItemText(HWND list, int row, int column);

// Both report lists below use fixed owner-drawn rows of their own height:
// they switch the list to LVS_OWNERDRAWFIXED when attached and answer the
// row-height question; the rows themselves are drawn through custom draw.

// The multi-column report list: a centred state icon in column 0 and the
// text columns after it, or, in file-list mode, a shell icon and the name
// in column 0. The row under the mouse is highlighted.
class CWimListCtrl : public Window {
 public:
  CWimListCtrl();

  // File-list mode (the browser): icons from the browser's image list, text
  // from column 0 on, and a prompt when the folder is empty.
  void SetFileListMode(bool on);
  bool fileListMode() const { return fileListMode_; }

  int hotRow() const { return hotRow_; }
  int rowHeight() const { return rowHeight_; }

  // True when the list has no rows or the point (client coordinates) lies
  // right of the rows; the pages use it for their context menus.
  bool IsEmptyArea(POINT clientPoint) const;
  // The same for the mouse cursor.
  bool IsCursorInEmptyArea() const;

  // The row under a client point by the hot-tracking rule, -1 for none.
  int RowAtPoint(POINT clientPoint) const;

 protected:
  void OnAttached() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool OnReflectNotify(NMHDR* header, LRESULT& result) override;
  bool OnReflectMeasureItem(MEASUREITEMSTRUCT* item) override;
  bool OnReflectDrawItem(DRAWITEMSTRUCT* item) override;

 private:
  LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
  void PaintEmptyFolder(HDC dc);
  void PaintRow(HDC dc, int row);
  void SetHotRow(int row);

  COLORREF textColour_ = GetSysColor(COLOR_WINDOWTEXT);
  ThemeHandle theme_;
  bool themed_ = false;
  int hotRow_ = -1;
  int rowHeight_ = 24;
  bool fileListMode_ = false;
  COLORREF normalText_ = GetSysColor(COLOR_WINDOWTEXT);
  COLORREF selectedText_ = GetSysColor(COLOR_HIGHLIGHTTEXT);
};

// The tile list of the image chooser: one large icon and two lines of text
// (columns 0 and 1) per row.
class CTilesListCtrl : public Window {
 public:
  CTilesListCtrl();
  ~CTilesListCtrl() override;

  // Takes ownership of the icon drawn on every row (48 x 48).
  void SetIcon(HICON icon);
  void SetTextColor(COLORREF colour) { textColour_ = colour; }
  // Row height, by default 60 pixels; set before the control is attached.
  void SetRowHeight(int height) { rowHeight_ = height; }

 protected:
  void OnAttached() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool OnReflectNotify(NMHDR* header, LRESULT& result) override;
  bool OnReflectMeasureItem(MEASUREITEMSTRUCT* item) override;
  bool OnReflectDrawItem(DRAWITEMSTRUCT* item) override;

 private:
  void PaintRow(HDC dc, int row);
  int rowHeight_ = 60;

  COLORREF textColour_ = GetSysColor(COLOR_WINDOWTEXT);
  bool themed_ = false;
  ThemeHandle theme_;
  HICON icon_ = nullptr;
};

// The information list: rows indented by level (the row's image index),
// with a small icon per level, "---" rows drawn as thin separators, and a
// dotted drop box while the list is empty.
class CInfoList : public Window {
 public:
  static constexpr int kLeftMargin = 10;
  static constexpr int kIndent = 22;

  CInfoList();
  ~CInfoList() override;

  // The owner clears the flag once the list holds information.
  void SetEmpty(bool empty);
  bool empty() const { return empty_; }

 protected:
  void OnAttached() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool OnReflectNotify(NMHDR* header, LRESULT& result) override;

 private:
  void PaintDropBox(HDC dc);
  void PaintRow(HDC dc, int row);
  HICON IconForLevel(int level) const;

  HICON icons_[3] = {};  // file, image, error
  COLORREF background_ = GetSysColor(COLOR_WINDOW);
  bool empty_ = true;
};
