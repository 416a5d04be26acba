// The progress bar and the picture box that show the state of an operation.
// Both are static controls from a dialog template, subclassed and painted
// double-buffered.
#pragma once
#include <windows.h>

#include "win/gdiplus.h"
#include "win/paint.h"
#include "win/window.h"

// A bar that looks like the system's themed progress bar, with its moving
// highlight, and that can run in an indeterminate (marquee) mode. It starts
// indeterminate. Position and mode may be set from a worker thread.
class CKLOProgressCtrl : public Window {
 public:
  static constexpr UINT kAnimationMs = 30;

  CKLOProgressCtrl() = default;

  // Stores the value and repaints; at 100 (integer part) posts
  // UM_PROGRESS_DONE to the parent.
  void SetPos(float position);
  float pos() const { return position_; }
  void SetRange(float lower, float upper);

  // Enters the indeterminate mode (overlay restarts off the left edge) or
  // leaves it (the normal highlight restarts off the left edge).
  void SetMarquee(bool on);
  bool IsMarquee() const { return indeterminate_; }

  // Starts (or restarts) the animation timer on the bar's own window. While
  // the bar cannot be seen the timer rests; the next paint wakes it.
  void StartAnimation(UINT intervalMs = kAnimationMs);

  int overlayOffset() const { return overlayOffset_; }
  int normalOverlayWidth() const { return normalOverlayWidth_; }
  int marqueeOverlayWidth() const { return marqueeOverlayWidth_; }
  bool themed() const { return themed_; }

  // One animation step: the overlay moves 8 pixels to the right and starts
  // again off the left edge once it has passed the right edge. The bar is
  // repainted only when the step changes what it shows.
  void Tick();

 protected:
  void OnAttached() override;
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Paint(HDC dc, const RECT& client);
  void PaintPlain(HDC dc, const RECT& client);
  void PaintThemed(HDC dc, const RECT& client);
  int FillWidth(int width) const;
  bool OverlayShows(LONG offset, const RECT& client) const;
  void OnTimer();

  volatile float position_ = 0.0f;
  float lower_ = 0.0f;
  float upper_ = 100.0f;
  ThemeHandle normalTheme_;
  ThemeHandle marqueeTheme_;
  bool themed_ = false;
  bool marqueePartDefined_ = false;  // the theme draws the moving overlay
  COLORREF background_ = GetSysColor(COLOR_BTNFACE);
  COLORREF fill_ = GetSysColor(COLOR_HIGHLIGHT);
  int normalOverlayWidth_ = 100;
  int marqueeOverlayWidth_ = 100;
  volatile LONG overlayOffset_ = -100;
  volatile bool indeterminate_ = true;
  UINT animationMs_ = 0;       // 0: no animation asked for
  bool animationResting_ = false;
};

// A picture box that shows a picture resource of the program, stretched over
// its client area.
class CKLOPngImgBox : public Window {
 public:
  // Replaces the picture; a missing resource leaves the box empty.
  void SetImage(UINT resourceId);
  UINT imageId() const { return image_.resourceId(); }
  int imageWidth() const { return image_.width(); }
  int imageHeight() const { return image_.height(); }

 protected:
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  PngImage image_;
};
