#include "win/window.h"

#include <commctrl.h>

#include <unordered_map>

#include "win/window_thread.h"

namespace {
const UINT_PTR kSubclassId = 0x5157;  // "QW"

// The windows bound to objects, looked up on every message a window of ours
// gets and for every control that sends a command or notification. A window
// property would do as well, but on some systems reading one is a call into
// another process, and a list filled with thousands of rows makes hundreds
// of thousands of such look-ups. Bound on the window's own thread, read on
// any thread.
class BoundWindows {
 public:
  void Add(HWND hwnd, Window* window) {
    AcquireSRWLockExclusive(&lock_);
    windows_[hwnd] = window;
    ReleaseSRWLockExclusive(&lock_);
  }
  void Remove(HWND hwnd, Window* window) {
    AcquireSRWLockExclusive(&lock_);
    auto it = windows_.find(hwnd);
    if (it != windows_.end() && it->second == window) windows_.erase(it);
    ReleaseSRWLockExclusive(&lock_);
  }
  Window* Find(HWND hwnd) {
    AcquireSRWLockShared(&lock_);
    auto it = windows_.find(hwnd);
    Window* window = it == windows_.end() ? nullptr : it->second;
    ReleaseSRWLockShared(&lock_);
    return window;
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::unordered_map<HWND, Window*> windows_;
};

BoundWindows& Bound() {
  static BoundWindows* bound = new BoundWindows;  // lives as long as any window may
  return *bound;
}
}  // namespace

LRESULT CALLBACK SharedWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data);

void MoveItem(HWND item, int x, int y, int w, int h, bool repaint) {
  if (!item) return;
  SetWindowPos(item, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  if (repaint) InvalidateRect(item, nullptr, TRUE);
}

void SetMinTrackSize(LPARAM minMaxInfo, int width, int height) {
  auto* info = reinterpret_cast<MINMAXINFO*>(minMaxInfo);
  info->ptMinTrackSize.x = width;
  info->ptMinTrackSize.y = height;
}

void TrackMouse(HWND hwnd, DWORD flags, DWORD hoverMs) {
  TRACKMOUSEEVENT query = {sizeof query, TME_QUERY};
  if (TrackMouseEvent(&query) && query.hwndTrack == hwnd && (query.dwFlags & flags) == flags) return;
  TRACKMOUSEEVENT track = {sizeof track, flags, hwnd, hoverMs};
  TrackMouseEvent(&track);
}

LRESULT SendPastSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto proc = reinterpret_cast<WNDPROC>(GetClassLongPtrW(hwnd, GCLP_WNDPROC));
  if (!proc || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId())
    return SendMessageW(hwnd, msg, wParam, lParam);
  return CallWindowProcW(proc, hwnd, msg, wParam, lParam);
}

void Window::ShowOnTop() {
  if (hwnd_) SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

Window::~Window() {
  if (hwnd_ && IsWindow(hwnd_)) {
    HWND hwnd = hwnd_;
    Unbind();
    DestroyWindow(hwnd);
  }
}

Window* Window::FromHandle(HWND hwnd) {
  return hwnd ? Bound().Find(hwnd) : nullptr;
}

void Window::Bind(HWND hwnd) {
  hwnd_ = hwnd;
  Bound().Add(hwnd, this);
}

void Window::Unbind() {
  if (!hwnd_) return;
  if (subclassed_) RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
  subclassed_ = false;
  Bound().Remove(hwnd_, this);
  DropPostedWork(hwnd_);
  hwnd_ = nullptr;
}

bool Window::Attach(HWND hwnd) {
  if (!hwnd || FromHandle(hwnd)) return false;
  if (!SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
  subclassed_ = true;
  Bind(hwnd);
  OnAttached();
  return true;
}

bool Window::RegisterClassOnce(const wchar_t* className, UINT style, HBRUSH background, HCURSOR cursor) {
  WNDCLASSEXW wc = {sizeof wc};
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, className, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = SharedWindowProc;
  wc.hInstance = instance;
  wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = className;
  return RegisterClassExW(&wc) != 0;
}

bool Window::CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y,
                      int w, int h, HWND parent, HMENU menuOrId) {
  HWND hwnd = CreateWindowExW(exStyle, className, title, style, x, y, w, h, parent, menuOrId,
                              GetModuleHandleW(nullptr), this);
  return hwnd != nullptr;
}

std::wstring Window::GetText() const {
  int n = GetWindowTextLengthW(hwnd_);
  std::wstring text(n + 1, L'\0');
  n = GetWindowTextW(hwnd_, &text[0], n + 1);
  text.resize(n > 0 ? n : 0);
  return text;
}

std::wstring Window::ItemText(int id) const {
  HWND item = GetDlgItem(hwnd_, id);
  int n = GetWindowTextLengthW(item);
  std::wstring text(n + 1, L'\0');
  n = GetWindowTextW(item, &text[0], n + 1);
  text.resize(n > 0 ? n : 0);
  return text;
}

LRESULT Window::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (subclassed_) return DefSubclassProc(hwnd_, msg, wParam, lParam);
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

// Offers commands and notifications to the sending control first.
bool Window::Route(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      Window* child = control ? FromHandle(control) : nullptr;
      if (child && child != this && child->OnReflectCommand(HIWORD(wParam))) return true;
      return OnCommand(LOWORD(wParam), HIWORD(wParam), control);
    }
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      Window* child = FromHandle(header->hwndFrom);
      if (child && child != this && child->OnReflectNotify(header, result)) return true;
      return OnNotify(header, result);
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      Window* child = item->CtlType == ODT_MENU ? nullptr : FromHandle(item->hwndItem);
      if (child && child->OnReflectDrawItem(item)) {
        result = TRUE;
        return true;
      }
      return false;
    }
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      Window* child = item->CtlType == ODT_MENU ? nullptr : FromHandle(GetDlgItem(hwnd_, item->CtlID));
      if (child && child->OnReflectMeasureItem(item)) {
        result = TRUE;
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

bool Window::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  return Route(msg, wParam, lParam, result);
}

LRESULT CALLBACK SharedWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* self = Window::FromHandle(hwnd);
  if (!self && msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    self = static_cast<Window*>(create->lpCreateParams);
    if (self) self->Bind(hwnd);
  }
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  if (RunHandedWork(hwnd, msg, lParam, result)) return result;
  bool handled = self->HandleMessage(msg, wParam, lParam, result);
  if (!handled) result = DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    self->Unbind();
    self->OnFinalDestroy();
  }
  return result;
}

LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<Window*>(data);
  LRESULT result = 0;
  if (RunHandedWork(hwnd, msg, lParam, result)) return result;
  if (!self->HandleMessage(msg, wParam, lParam, result)) result = DefSubclassProc(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    self->Unbind();
    self->OnFinalDestroy();
  }
  return result;
}
