// The two owner-painted buttons: the large gradient tab of the main window
// and the small picture button of the pages. Both paint double-buffered
// with GDI+.
#pragma once
#include <windows.h>

#include "win/gdiplus.h"
#include "win/window.h"

// A static control (SS_NOTIFY, so a click reaches the parent as
// STN_CLICKED) drawn as a tab: a gradient, a picture above the caption,
// a white veil while the mouse rests on it, and a veil of its own colour
// while it is disabled.
class CTabButton : public Window {
 public:
  // Takes the picture resource; a missing resource leaves the tab without a picture.
  void SetImage(UINT resourceId);
  UINT imageId() const { return image_.resourceId(); }

  // The owner sets the colour and the selected state; both repaint.
  void SetColor(COLORREF colour);
  COLORREF color() const { return colour_; }
  void SetSelected(bool selected);
  bool IsSelected() const { return selected_; }
  bool IsHover() const { return hover_; }

 protected:
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Paint(HDC dc, int width, int height);

  COLORREF colour_ = GetSysColor(COLOR_BTNFACE);
  bool selected_ = false;
  PngImage image_;
  bool hover_ = false;
};

// A push button that shows a square picture (or its caption in text mode)
// and brightens while the mouse is over it. The button is made owner-drawn
// when it is attached.
class CIconButton : public Window {
 public:
  void SetImage(UINT resourceId);
  UINT imageId() const { return image_.resourceId(); }
  void SetImageSize(int size) { imageSize_ = size; }
  void SetBackground(COLORREF colour) { background_ = colour; }
  void SetTextMode(bool textMode) { textMode_ = textMode; }
  bool IsHot() const { return hot_; }

 protected:
  void OnAttached() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool OnReflectNotify(NMHDR* header, LRESULT& result) override;
  bool OnReflectDrawItem(DRAWITEMSTRUCT* item) override;

 private:
  void SetHot(bool hot);
  void Paint(HDC dc, int width, int height, bool enabled);
  void PaintImage(Gdiplus::Graphics& graphics, int left, int top, bool enabled);

  int imageSize_ = 16;
  bool hot_ = false;
  COLORREF background_ = GetSysColor(COLOR_BTNFACE);
  bool textMode_ = false;
  PngImage image_;
};
