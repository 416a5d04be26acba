#include "controls/progress_ctrl.h"

#include <commctrl.h>
#include <vsstyle.h>

#include <cmath>

#include "controls/control_context.h"
#include "win/messages.h"

namespace {
// Parts of the system's progress-bar theme.
constexpr int kPartFill = 5;      // PP_FILL
constexpr int kPartOverlay = 8;   // PP_MOVEOVERLAY
constexpr int kPartBar = 11;      // PP_TRANSPARENTBAR
constexpr UINT_PTR kTimerId = 1;

int OverlayWidth(HTHEME theme) {
  SIZE size = {};
  if (theme && SUCCEEDED(GetThemePartSize(theme, nullptr, kPartOverlay, 0, nullptr, TS_TRUE, &size)) && size.cx > 0)
    return size.cx;
  return 100;
}

}  // namespace

void CKLOProgressCtrl::OnAttached() {
  normalTheme_.Open(hwnd_, L"PROGRESS");
  marqueeTheme_.Open(hwnd_, L"Indeterminate::PROGRESS");
  themed_ = Controls().themed && normalTheme_;
  // Without the indeterminate class the normal class's overlay is only a
  // faint glint: the marquee then moves a block of the fill instead.
  marqueePartDefined_ = themed_ && marqueeTheme_ && IsThemePartDefined(marqueeTheme_.get(), kPartOverlay, 0);
  normalOverlayWidth_ = themed_ ? OverlayWidth(normalTheme_.get()) : 100;
  marqueeOverlayWidth_ = themed_ ? OverlayWidth(marqueeTheme_.get()) : 100;
  overlayOffset_ = -marqueeOverlayWidth_;
}

void CKLOProgressCtrl::SetPos(float position) {
  position_ = position;
  if (hwnd_) {
    InvalidateRect(hwnd_, nullptr, FALSE);
    if (static_cast<int>(position) == 100) PostMessageW(GetParent(hwnd_), UM_PROGRESS_DONE, 0, 0);
  }
}

void CKLOProgressCtrl::SetRange(float lower, float upper) {
  lower_ = lower;
  upper_ = upper > lower ? upper : lower + 1.0f;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CKLOProgressCtrl::SetMarquee(bool on) {
  indeterminate_ = on;
  overlayOffset_ = on ? -marqueeOverlayWidth_ : -normalOverlayWidth_;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void CKLOProgressCtrl::StartAnimation(UINT intervalMs) {
  if (!hwnd_) return;
  animationMs_ = intervalMs;
  animationResting_ = false;
  SetTimer(hwnd_, kTimerId, intervalMs, nullptr);
}

// A bar on a hidden page would otherwise wake its thread thirty times a
// second for nothing; it rests until it is painted again.
void CKLOProgressCtrl::OnTimer() {
  if (IsWindowVisible(hwnd_)) {
    Tick();
    return;
  }
  KillTimer(hwnd_, kTimerId);
  animationResting_ = true;
}

// Whether the moving overlay, at this offset, is part of the picture. In
// the determinate mode it is drawn only inside the fill, and only themed.
bool CKLOProgressCtrl::OverlayShows(LONG offset, const RECT& client) const {
  if (indeterminate_) return true;
  if (!themed_ || position_ == upper_) return false;
  const int fillRight = client.left + FillWidth(client.right - client.left);
  return offset < fillRight && offset + normalOverlayWidth_ > client.left;
}

void CKLOProgressCtrl::Tick() {
  const LONG before = overlayOffset_;
  LONG offset = before + 8;
  RECT client = {};
  GetClientRect(hwnd_, &client);
  if (client.right - client.left < offset) offset = indeterminate_ ? -marqueeOverlayWidth_ : -normalOverlayWidth_;
  overlayOffset_ = offset;
  if (OverlayShows(before, client) || OverlayShows(offset, client)) InvalidateRect(hwnd_, nullptr, FALSE);
}

int CKLOProgressCtrl::FillWidth(int width) const {
  float span = upper_ - lower_;
  float fill = (position_ - lower_) * static_cast<float>(width) / span;
  int pixels = static_cast<int>(std::lround(fill));
  return pixels < 0 ? 0 : (pixels > width ? width : pixels);
}

void CKLOProgressCtrl::PaintPlain(HDC dc, const RECT& client) {
  // A one-pixel sunken frame; the bar fills what is inside it.
  RECT area = client;
  RECT edge = {area.left, area.top, area.right, area.top + 1};
  FillSolid(dc, edge, GetSysColor(COLOR_BTNSHADOW));
  edge = {area.left, area.top, area.left + 1, area.bottom};
  FillSolid(dc, edge, GetSysColor(COLOR_BTNSHADOW));
  edge = {area.left, area.bottom - 1, area.right, area.bottom};
  FillSolid(dc, edge, GetSysColor(COLOR_BTNHIGHLIGHT));
  edge = {area.right - 1, area.top, area.right, area.bottom};
  FillSolid(dc, edge, GetSysColor(COLOR_BTNHIGHLIGHT));
  InflateRect(&area, -1, -1);
  if (area.right <= area.left || area.bottom <= area.top) return;

  if (indeterminate_) {
    RECT overlay = {client.left + overlayOffset_, client.top, client.left + overlayOffset_ + marqueeOverlayWidth_,
                    client.bottom};
    InflateRect(&overlay, -1, -1);
    if (overlay.left < 1) overlay.left = 1;
    if (overlay.right > area.right) overlay.right = area.right;
    if (overlay.right > overlay.left) FillSolid(dc, overlay, fill_);
    return;
  }
  RECT fill = area;
  fill.right = area.left + FillWidth(area.right - area.left);
  if (fill.right > fill.left) FillSolid(dc, fill, fill_);
}

void CKLOProgressCtrl::PaintThemed(HDC dc, const RECT& client) {
  DrawThemeBackground(normalTheme_.get(), dc, kPartBar, 0, &client, nullptr);
  if (indeterminate_) {
    RECT overlay = {client.left + overlayOffset_, client.top, client.left + overlayOffset_ + marqueeOverlayWidth_,
                    client.bottom};
    RECT clip = {client.left + 1, client.top, client.right - 1, client.bottom};
    if (marqueePartDefined_) DrawThemeBackground(marqueeTheme_.get(), dc, kPartOverlay, 4, &overlay, &clip);
    else DrawThemeBackground(normalTheme_.get(), dc, kPartFill, 0, &overlay, &clip);
    return;
  }
  RECT fill = client;
  fill.right = client.left + FillWidth(client.right - client.left);
  if (fill.right <= fill.left) return;
  DrawThemeBackground(normalTheme_.get(), dc, kPartFill, 0, &fill, nullptr);
  if (position_ != upper_) {
    RECT overlay = {client.left + overlayOffset_, client.top, client.left + overlayOffset_ + normalOverlayWidth_,
                    client.bottom};
    DrawThemeBackground(normalTheme_.get(), dc, kPartOverlay, 0, &overlay, &fill);
  }
}

void CKLOProgressCtrl::Paint(HDC dc, const RECT& client) {
  FillSolid(dc, client, background_);
  if (themed_) PaintThemed(dc, client);
  else PaintPlain(dc, client);
}

bool CKLOProgressCtrl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      PaintBuffered(hwnd_, [this](HDC dc, const RECT& client) { Paint(dc, client); });
      if (animationResting_) StartAnimation(animationMs_);
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_TIMER:
      if (wParam != kTimerId) return false;
      OnTimer();
      return true;
    case PBM_SETMARQUEE:
      // The owner may also drive the marquee the way it drives the system's bar.
      SetMarquee(wParam != 0);
      if (wParam && lParam > 0) StartAnimation(static_cast<UINT>(lParam));
      result = TRUE;
      return true;
    case WM_THEMECHANGED:
      OnAttached();
      return false;
    case WM_DESTROY:
      KillTimer(hwnd_, kTimerId);
      normalTheme_.Close();
      marqueeTheme_.Close();
      return false;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}

void CKLOPngImgBox::SetImage(UINT resourceId) {
  image_.Load(resourceId);
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

bool CKLOPngImgBox::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      PaintBuffered(hwnd_, [this](HDC dc, const RECT& client) {
        FillSolid(dc, client, GetSysColor(COLOR_BTNFACE));
        if (!image_) return;
        Gdiplus::Graphics graphics(dc);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        graphics.DrawImage(image_.get(), 0, 0, client.right - client.left, client.bottom - client.top);
      });
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}
