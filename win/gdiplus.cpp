#include "win/gdiplus.h"

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
  stream_ = ComPtr<IStream>();
  width_ = height_ = 0;
  id_ = 0;
}

bool PngImage::Load(UINT id, HMODULE module) {
  Reset();
  if (!module) module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  if (!info) return false;
  HGLOBAL resource = LoadResource(module, info);
  const void* data = resource ? LockResource(resource) : nullptr;
  DWORD size = SizeofResource(module, info);
  if (!data || size == 0) return false;

  // The stream owns a movable copy of the bytes and frees it when released.
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return false;
  void* target = GlobalLock(copy);
  if (!target) {
    GlobalFree(copy);
    return false;
  }
  memcpy(target, data, size);
  GlobalUnlock(copy);
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, stream_.put()))) {
    GlobalFree(copy);
    return false;
  }

  std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream_.get()));
  if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) {
    Reset();
    return false;
  }
  width_ = static_cast<int>(bitmap->GetWidth());
  height_ = static_cast<int>(bitmap->GetHeight());
  bitmap_ = std::move(bitmap);
  id_ = id;
  return true;
}
