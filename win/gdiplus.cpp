#include "win/gdiplus.h"

#include <cstdint>
#include <cstring>

bool GdiplusSession::Start() {
  if (token_) return true;
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
  return token_ != 0;
}

void GdiplusSession::Shutdown() {
  if (token_) Gdiplus::GdiplusShutdown(token_);
  token_ = 0;
}

void PngImage::Reset() {
  bitmap_.reset();
  pixels_.clear();
  width_ = height_ = 0;
  id_ = 0;
}

bool PngImage::Load(UINT id, HMODULE module) {
  Reset();
  if (!module) module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), L"ARGB");
  if (!info) return false;
  HGLOBAL resource = LoadResource(module, info);
  const BYTE* data = resource ? static_cast<const BYTE*>(LockResource(resource)) : nullptr;
  const DWORD size = SizeofResource(module, info);
  const size_t head = 12;
  if (!data || size < head || memcmp(data, "ARGB", 4) != 0) return false;
  uint32_t width = 0, height = 0;
  memcpy(&width, data + 4, 4);
  memcpy(&height, data + 8, 4);
  if (width == 0 || height == 0 || width > 4096 || height > 4096 || size - head != size_t{width} * height * 4)
    return false;
  // A copy of its own: GDI+ keeps drawing from the memory it is given.
  pixels_.assign(data + head, data + size);
  auto bitmap = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(width), static_cast<INT>(height),
                                                  static_cast<INT>(width * 4), PixelFormat32bppARGB, pixels_.data());
  if (bitmap->GetLastStatus() != Gdiplus::Ok) {
    Reset();
    return false;
  }
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  bitmap_ = std::move(bitmap);
  id_ = id;
  return true;
}
