// Flicker-free painting: everything is drawn into a memory bitmap the size
// of the area and copied to the screen in one block copy. Also a holder
// for the visual-style theme handles that the custom-drawn controls open.
#pragma once
#include <windows.h>
#include <uxtheme.h>

// Fills a rectangle with one colour (the background colour of the DC
// changes to it).
inline void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
  SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

// Draws into a memory DC whose (0, 0) is the area's top-left corner; the
// destructor copies the result to the area of the target.
class BufferedPaint {
 public:
  BufferedPaint(HDC target, const RECT& area)
      : target_(target), area_(area), dc_(CreateCompatibleDC(target)) {
    bitmap_ = CreateCompatibleBitmap(target, Width(), Height());
    old_ = SelectObject(dc_, bitmap_);
  }
  ~BufferedPaint() {
    BitBlt(target_, area_.left, area_.top, Width(), Height(), dc_, 0, 0, SRCCOPY);
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;

  HDC dc() const { return dc_; }
  operator HDC() const { return dc_; }

 private:
  int Width() const { return area_.right > area_.left ? area_.right - area_.left : 1; }
  int Height() const { return area_.bottom > area_.top ? area_.bottom - area_.top : 1; }

  HDC target_;
  RECT area_;
  HDC dc_;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// Answers WM_PAINT through an off-screen buffer: paint(dc, clientRect) draws
// the whole client area, which reaches the screen in one copy.
template <typename F>
void PaintBuffered(HWND hwnd, F paint) {
  PAINTSTRUCT ps;
  HDC target = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  {
    BufferedPaint buffer(target, client);
    paint(buffer.dc(), client);
  }
  EndPaint(hwnd, &ps);
}

// A visual-style theme handle, closed when replaced or destroyed. Empty
// (null) when visual styles are off or the class has no theme.
class ThemeHandle {
 public:
  ThemeHandle() = default;
  ~ThemeHandle() { Close(); }
  ThemeHandle(const ThemeHandle&) = delete;
  ThemeHandle& operator=(const ThemeHandle&) = delete;

  void Open(HWND hwnd, const wchar_t* classes) {
    Close();
    theme_ = OpenThemeData(hwnd, classes);
  }
  void Close() {
    if (theme_) CloseThemeData(theme_);
    theme_ = nullptr;
  }
  HTHEME get() const { return theme_; }
  explicit operator bool() const { return theme_ != nullptr; }

 private:
  HTHEME theme_ = nullptr;
};
