// Thin owners for Win32 handles, searches, hooks, GDI objects, device
// contexts, COM pointers and the OLE session. Each closes what it holds
// exactly once.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <unknwn.h>

#include <utility>

// A kernel handle closed with CloseHandle; INVALID_HANDLE_VALUE and null are empty.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    reset(o.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return h_; }
  bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }
  HANDLE release() { return std::exchange(h_, nullptr); }
  void reset(HANDLE h = nullptr) {
    if (valid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// A search of FindFirstFile, ended with FindClose; INVALID_HANDLE_VALUE and
// null are empty.
class UniqueFind {
 public:
  UniqueFind() = default;
  explicit UniqueFind(HANDLE h) : h_(h) {}
  UniqueFind(UniqueFind&& o) noexcept : h_(o.release()) {}
  UniqueFind& operator=(UniqueFind&& o) noexcept {
    reset(o.release());
    return *this;
  }
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  ~UniqueFind() { reset(); }

  HANDLE get() const { return h_; }
  bool valid() const { return h_ && h_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return valid(); }
  HANDLE release() { return std::exchange(h_, nullptr); }
  void reset(HANDLE h = nullptr) {
    if (valid()) ::FindClose(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// A hook of SetWindowsHookEx, removed with UnhookWindowsHookEx.
class UniqueHook {
 public:
  UniqueHook() = default;
  explicit UniqueHook(HHOOK h) : h_(h) {}
  UniqueHook(UniqueHook&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueHook& operator=(UniqueHook&& o) noexcept {
    reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  UniqueHook(const UniqueHook&) = delete;
  UniqueHook& operator=(const UniqueHook&) = delete;
  ~UniqueHook() { reset(); }

  HHOOK get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset(HHOOK h = nullptr) {
    if (h_) ::UnhookWindowsHookEx(h_);
    h_ = h;
  }

 private:
  HHOOK h_ = nullptr;
};

// The OLE session of one thread (drag and drop, the clipboard): begun by
// Begin, ended once when the owner ends it or goes, and only when it was
// begun. It belongs to the thread that began it and ends there.
class OleSession {
 public:
  OleSession() = default;
  OleSession(OleSession&& o) noexcept : begun_(std::exchange(o.begun_, false)) {}
  OleSession& operator=(OleSession&& o) noexcept {
    End();
    begun_ = std::exchange(o.begun_, false);
    return *this;
  }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
  ~OleSession() { End(); }

  // True when the session is (now) open on this thread.
  bool Begin() {
    if (!begun_) begun_ = SUCCEEDED(::OleInitialize(nullptr));
    return begun_;
  }
  void End() {
    if (std::exchange(begun_, false)) ::OleUninitialize();
  }
  bool begun() const { return begun_; }

 private:
  bool begun_ = false;
};

// A GDI object (pen, brush, font, bitmap, region) deleted with DeleteObject.
template <typename T>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(T h) : h_(h) {}
  GdiObject(GdiObject&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  GdiObject& operator=(GdiObject&& o) noexcept {
    reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  ~GdiObject() { reset(); }

  T get() const { return h_; }
  operator T() const { return h_; }
  void reset(T h = nullptr) {
    if (h_) ::DeleteObject(h_);
    h_ = h;
  }

 private:
  T h_ = nullptr;
};

// Selects a GDI object into a DC for the lifetime of this object.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(::SelectObject(dc, obj)) {}
  ~SelectGuard() { ::SelectObject(dc_, old_); }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A COM interface pointer that releases what it holds.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: releases the current pointer first.
  T** put() {
    *this = ComPtr();
    return &p_;
  }
  // Takes over a pointer that already carries a reference.
  void attach(T* p) {
    *this = ComPtr();
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};
