#include "controls/tip_wnd.h"

#include "win/gdiplus.h"
#include "win/handles.h"

namespace {
const wchar_t kClassName[] = L"QuarryTipWnd";
constexpr UINT_PTR kTimerId = 1;

using Gdiplus::Color;
using Gdiplus::Point;

// The font of the tip: Tahoma 8 points, or the generic sans-serif family.
std::unique_ptr<Gdiplus::Font> TipFont() {
  Gdiplus::FontFamily tahoma(L"Tahoma");
  if (tahoma.IsAvailable()) return std::make_unique<Gdiplus::Font>(&tahoma, 8.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
  return std::make_unique<Gdiplus::Font>(Gdiplus::FontFamily::GenericSansSerif(), 8.0f, Gdiplus::FontStyleRegular,
                                         Gdiplus::UnitPoint);
}

// Width of the text on one unbounded line, in whole pixels.
int TextWidth(Gdiplus::Graphics& graphics, const Gdiplus::Font& font, const std::wstring& text) {
  Gdiplus::RectF bounds;
  graphics.MeasureString(text.c_str(), -1, &font, Gdiplus::PointF(0, 0), &bounds);
  return static_cast<int>(bounds.Width);
}
}  // namespace

CMyTipWnd* CMyTipWnd::Create(HWND owner, CMyTipWnd** slot) {
  Window::RegisterClassOnce(kClassName, 0);
  auto* tip = new CMyTipWnd();
  if (!tip->CreateEx(WS_EX_LAYERED, kClassName, L"GridWnd", WS_POPUP, 0, 0, 250, 150, owner, nullptr)) {
    delete tip;
    return nullptr;
  }
  tip->slot_ = slot;
  return tip;
}

void CMyTipWnd::Start(const std::wstring& text) {
  SetTimer(hwnd_, kTimerId, kShowMs, nullptr);
  text_ = text;
  Render();
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
}

void CMyTipWnd::Place(int x, int y, int width, int height) {
  SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  Render();
}

int CMyTipWnd::CalloutRight() const {
  HDC screen = GetDC(nullptr);
  int right = 95;
  {
    Gdiplus::Graphics graphics(screen);
    auto font = TipFont();
    right += TextWidth(graphics, *font, text_);
  }
  ReleaseDC(nullptr, screen);
  return right;
}

// Draws the callout into a 32-bit bitmap with per-pixel alpha and hands it
// to the system as the layered window's picture.
void CMyTipWnd::Render() {
  RECT client;
  GetClientRect(hwnd_, &client);
  const int width = client.right > 0 ? client.right : 1, height = client.bottom > 0 ? client.bottom : 1;

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  GdiObject<HBITMAP> bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap.get() || !bits) {
    ReleaseDC(nullptr, screen);
    return;
  }
  {
    // GDI+ draws straight into the bitmap's premultiplied pixels.
    Gdiplus::Bitmap canvas(width, height, width * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits));
    Gdiplus::Graphics graphics(&canvas);
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    graphics.Clear(Color(0, 0, 0, 0));

    auto font = TipFont();
    const int g = height - 30;
    const int e = TextWidth(graphics, *font, text_) + 95;
    Point callout[7] = {{40, g}, {45, g - 5}, {45, g - 20}, {e, g - 20}, {e, g + 20}, {45, g + 20}, {45, g + 5}};
    Point shadow[7] = {{40, g}, {48, g - 2}, {48, g - 17}, {e + 3, g - 17}, {e + 3, g + 23}, {48, g + 23}, {48, g + 8}};
    Gdiplus::SolidBrush shadowBrush(Color(0x37, 0, 0, 0));
    graphics.FillPolygon(&shadowBrush, shadow, 7);
    Gdiplus::SolidBrush paper(Color(0xFF, 0xFF, 0xFF, 0xDE));
    graphics.FillPolygon(&paper, callout, 7);
    Gdiplus::Pen outline(Color(0xFF, 0x7B, 0x7B, 0x7B), 1.0f);
    graphics.DrawPolygon(&outline, callout, 7);

    Gdiplus::StringFormat format;
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    Gdiplus::SolidBrush ink(Color(0xFF, 0, 0, 0));
    Gdiplus::RectF box(45.0f, static_cast<Gdiplus::REAL>(g - 20), static_cast<Gdiplus::REAL>(e - 45), 40.0f);
    graphics.DrawString(text_.c_str(), -1, font.get(), box, &format, &ink);
  }

  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, bitmap.get());
  RECT window;
  GetWindowRect(hwnd_, &window);
  POINT position = {window.left, window.top};
  SIZE size = {width, height};
  POINT origin = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UpdateLayeredWindow(hwnd_, screen, &position, &size, memory, &origin, 0, &blend, ULW_ALPHA);
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

bool CMyTipWnd::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_LBUTTONUP:
      DestroyWindow(hwnd_);
      return true;
    case WM_TIMER:
      if (wParam != kTimerId) return false;
      KillTimer(hwnd_, kTimerId);
      DestroyWindow(hwnd_);
      return true;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        DestroyWindow(hwnd_);
        return true;
      }
      return false;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}

void CMyTipWnd::OnFinalDestroy() {
  if (slot_ && *slot_ == this) *slot_ = nullptr;
  delete this;
}
