#include "controls/buttons.h"

#include <commctrl.h>

#include "win/handles.h"
#include "win/paint.h"

namespace {
using Gdiplus::Color;

// The mouse counts as resting on a tab as soon as it stops on it.
constexpr DWORD kHoverMs = 2;

Color Scaled(COLORREF c, double factor) {
  return Color(255, static_cast<BYTE>(GetRValue(c) * factor), static_cast<BYTE>(GetGValue(c) * factor),
               static_cast<BYTE>(GetBValue(c) * factor));
}

}  // namespace

// --- CTabButton ---------------------------------------------------------------

void CTabButton::SetImage(UINT resourceId) {
  image_.Load(resourceId);
  if (hwnd_) Invalidate();
}

void CTabButton::SetColor(COLORREF colour) {
  colour_ = colour;
  if (hwnd_) Invalidate();
}

void CTabButton::SetSelected(bool selected) {
  selected_ = selected;
  if (hwnd_) Invalidate();
}

void CTabButton::Paint(HDC dc, int width, int height) {
  Color base = GdiplusColor(colour_);
  {
    Gdiplus::Graphics graphics(dc);
    Gdiplus::Rect area(0, 0, width - 1, height);
    if (selected_) {
      Gdiplus::LinearGradientBrush brush(area, Color(255, 255, 255, 255), base, Gdiplus::LinearGradientModeVertical);
      brush.SetWrapMode(Gdiplus::WrapModeTileFlipXY);  // no wrapped-around row at the edges
      graphics.FillRectangle(&brush, area);
    } else {
      Gdiplus::LinearGradientBrush brush(area, base, base, Gdiplus::LinearGradientModeVertical);
      brush.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
      Color colours[3] = {base, base, Scaled(colour_, 0.85)};
      Gdiplus::REAL positions[3] = {0.0f, 0.7f, 1.0f};
      brush.SetInterpolationColors(colours, positions, 3);
      graphics.FillRectangle(&brush, area);
      if (hover_) {
        Gdiplus::SolidBrush veil(Color(0x34, 255, 255, 255));
        graphics.FillRectangle(&veil, 0, 0, width - 1, height - 1);
      }
    }
    Gdiplus::Pen line(Color(255, 0x79, 0x79, 0x79), 1.0f);
    graphics.DrawLine(&line, 0, height - 1, width - 1, height - 1);
    graphics.DrawLine(&line, width - 1, 0, width - 1, height - 1);
    if (image_) {
      graphics.DrawImage(image_.get(), (width - image_.width()) / 2, (height - image_.height()) / 2 - 9,
                         image_.width(), image_.height());
    }
  }

  // The caption in the parent's font, at the bottom.
  std::wstring caption = GetText();
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(GetParent(hwnd_), WM_GETFONT, 0, 0));
  HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  RECT text = {5, 5, width - 5, height - 5};
  DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_CENTER | DT_BOTTOM | DT_NOCLIP);
  if (oldFont) SelectObject(dc, oldFont);

  if (!IsWindowEnabled(hwnd_)) {
    Gdiplus::Graphics graphics(dc);
    Gdiplus::SolidBrush veil(GdiplusColor(colour_, 0x82));
    graphics.FillRectangle(&veil, 0, 0, width - 1, height - 1);
  }
}

bool CTabButton::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      PaintBuffered(hwnd_, [this](HDC dc, const RECT& client) { Paint(dc, client.right, client.bottom); });
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_MOUSEMOVE:
      TrackMouse(hwnd_, hover_ ? TME_LEAVE : TME_HOVER | TME_LEAVE, kHoverMs);
      return false;
    case WM_MOUSEHOVER:
      hover_ = true;
      Invalidate();
      return true;
    case WM_MOUSELEAVE:
      hover_ = false;
      Invalidate();
      return true;
    case WM_SIZE:
    case WM_ENABLE:
    case WM_SETTEXT:
      result = DefaultProc(msg, wParam, lParam);
      Invalidate();
      return true;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}

// --- CIconButton ----------------------------------------------------------------

void CIconButton::OnAttached() {
  LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
  if ((style & BS_TYPEMASK) != BS_OWNERDRAW) SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);
}

void CIconButton::SetImage(UINT resourceId) {
  image_.Load(resourceId);
  if (hwnd_) Invalidate();
}

void CIconButton::SetHot(bool hot) {
  if (hot_ == hot) return;
  hot_ = hot;
  Invalidate();
}

void CIconButton::PaintImage(Gdiplus::Graphics& graphics, int left, int top, bool enabled) {
  Gdiplus::Rect square(left, top, imageSize_, imageSize_);
  const int w = image_.width(), h = image_.height();
  if (enabled) {
    if (hot_) {
      Gdiplus::ImageAttributes brighter;
      brighter.SetGamma(0.6f);
      if (graphics.DrawImage(image_.get(), square, 0, 0, w, h, Gdiplus::UnitPixel, &brighter) == Gdiplus::Ok) return;
    }
    graphics.DrawImage(image_.get(), square, 0, 0, w, h, Gdiplus::UnitPixel);
    return;
  }
  // Disabled: grey and half transparent.
  Gdiplus::ColorMatrix grey = {{{0.299f, 0.299f, 0.299f, 0, 0},
                                {0.587f, 0.587f, 0.587f, 0, 0},
                                {0.114f, 0.114f, 0.114f, 0, 0},
                                {0, 0, 0, 0.5f, 0},
                                {0, 0, 0, 0, 1}}};
  Gdiplus::ImageAttributes attributes;
  attributes.SetColorMatrix(&grey);
  if (graphics.DrawImage(image_.get(), square, 0, 0, w, h, Gdiplus::UnitPixel, &attributes) == Gdiplus::Ok) return;
  graphics.DrawImage(image_.get(), square, 0, 0, w, h, Gdiplus::UnitPixel);
  Gdiplus::SolidBrush veil(GdiplusColor(background_, 0x80));
  graphics.FillRectangle(&veil, square);
}

void CIconButton::Paint(HDC dc, int width, int height, bool enabled) {
  RECT client = {0, 0, width, height};
  FillSolid(dc, client, background_);
  if (textMode_) {
    if (hot_) FillSolid(dc, client, GetSysColor(COLOR_HIGHLIGHT));
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(!enabled ? COLOR_GRAYTEXT : hot_ ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT));
    std::wstring caption = GetText();
    DrawTextW(dc, caption.c_str(), -1, &client, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOCLIP);
    if (oldFont) SelectObject(dc, oldFont);
    return;
  }
  if (!image_) return;
  Gdiplus::Graphics graphics(dc);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  PaintImage(graphics, (width - imageSize_) / 2, (height - imageSize_) / 2, enabled);
}

bool CIconButton::OnReflectDrawItem(DRAWITEMSTRUCT* item) {
  const RECT& r = item->rcItem;
  RECT area = {0, 0, r.right - r.left, r.bottom - r.top};
  BufferedPaint buffer(item->hDC, r);
  Paint(buffer, area.right, area.bottom, !(item->itemState & ODS_DISABLED));
  return true;
}

bool CIconButton::OnReflectNotify(NMHDR* header, LRESULT& result) {
  if (header->code != BCN_HOTITEMCHANGE) return false;
  auto* change = reinterpret_cast<NMBCHOTITEM*>(header);
  SetHot((change->dwFlags & HICF_ENTERING) != 0);
  result = 0;
  return true;
}

bool CIconButton::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    // Hot tracking of our own as well, for button implementations that do
    // not report hot-item changes.
    case WM_MOUSEMOVE:
      TrackMouse(hwnd_, TME_LEAVE);
      SetHot(true);
      return false;
    case WM_MOUSELEAVE:
      SetHot(false);
      return false;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}
