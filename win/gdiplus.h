// GDI+ for the program: the session that starts and stops it, and the
// program's pictures. They are drawn as PNG files and kept in resources of
// type "ARGB", stored decoded: "ARGB", the width and the height (32-bit
// little-endian), then the pixels from the top row down, four bytes each
// (blue, green, red, alpha; not premultiplied), so that showing one costs
// no decoding.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <vector>

#include "win/handles.h"

// Starts GDI+ when constructed (or by Start) and shuts it down once.
class GdiplusSession {
 public:
  GdiplusSession() = default;
  ~GdiplusSession() { Shutdown(); }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  bool Start();
  void Shutdown();
  bool started() const { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

// A picture of the program. Empty until Load succeeds.
class PngImage {
 public:
  PngImage() = default;
  PngImage(const PngImage&) = delete;
  PngImage& operator=(const PngImage&) = delete;

  // Takes the "ARGB" resource `id` of `module` (null: the program). A
  // missing or malformed resource leaves the picture empty; returns whether
  // a picture was loaded.
  bool Load(UINT id, HMODULE module = nullptr);
  void Reset();

  Gdiplus::Bitmap* get() const { return bitmap_.get(); }
  explicit operator bool() const { return bitmap_ != nullptr; }
  int width() const { return width_; }
  int height() const { return height_; }
  UINT resourceId() const { return id_; }  // 0 when empty

 private:
  std::vector<BYTE> pixels_;  // the bitmap's own memory, for as long as it lives
  std::unique_ptr<Gdiplus::Bitmap> bitmap_;
  int width_ = 0;
  int height_ = 0;
  UINT id_ = 0;
};

// The GDI+ colour of a COLORREF, with an alpha value.
inline Gdiplus::Color GdiplusColor(COLORREF c, BYTE alpha = 255) {
  return Gdiplus::Color(alpha, GetRValue(c), GetGValue(c), GetBValue(c));
}
