// The window layer: one C++ object per window. A single shared window
// procedure binds the object at creation and routes every message to it;
// WM_COMMAND and WM_NOTIFY go first to the control object that sent them
// (if the control is one of ours) and then to the parent's OnCommand /
// OnNotify, so each class handles its own ids.
#pragma once
#include <windows.h>

#include <string>

// Moves and sizes a child window without changing its place in the
// sibling order; a null window is left alone. `repaint` redraws the whole
// window afterwards (for controls that paint only what was uncovered).
void MoveItem(HWND item, int x, int y, int w, int h, bool repaint = false);

// Answers WM_GETMINMAXINFO (its lParam) with the smallest size the user
// may drag a window to.
void SetMinTrackSize(LPARAM minMaxInfo, int width, int height);

// Asks the system for the mouse events in `flags` (TME_HOVER, TME_LEAVE)
// of a window, unless it already tracks them for that window. Called at
// every WM_MOUSEMOVE: a request made while the cursor has already moved on
// is dropped without any answer, so asking only once can lose the events
// for good.
void TrackMouse(HWND hwnd, DWORD flags, DWORD hoverMs = HOVER_DEFAULT);

// Sends a message straight to the procedure of the window's class, past the
// procedures that subclass it (this layer's and any other), when called on
// the window's own thread; from another thread it is an ordinary send. For
// messages the subclasses take no part in that are sent many at a time, such
// as the rows of a long list: a subclass chain looks up its data on every
// message, and on some systems that look-up is a call into another process.
LRESULT SendPastSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }
  operator HWND() const { return hwnd_; }

  // The object bound to a window, or null when the window is not ours.
  static Window* FromHandle(HWND hwnd);

  // Binds this object to an existing window (a control from a dialog
  // template) by subclassing it. Messages it does not handle go to the
  // control's own procedure.
  bool Attach(HWND hwnd);
  bool AttachDlgItem(HWND dialog, int id) { return Attach(GetDlgItem(dialog, id)); }

  // Creates a window of a class registered by RegisterClassOnce.
  bool CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* title, DWORD style, int x, int y, int w,
                int h, HWND parent, HMENU menuOrId);

  // Registers a window class served by the shared window procedure.
  static bool RegisterClassOnce(const wchar_t* className, UINT style = CS_DBLCLKS, HBRUSH background = nullptr,
                                HCURSOR cursor = nullptr);

  // Small conveniences.
  std::wstring GetText() const;
  void SetText(const std::wstring& text) { SetWindowTextW(hwnd_, text.c_str()); }
  void Show(bool show) { ShowWindow(hwnd_, show ? SW_SHOW : SW_HIDE); }
  // Shows the window above its siblings, so no sibling covers it.
  void ShowOnTop();
  bool IsVisible() const { return hwnd_ && IsWindowVisible(hwnd_); }
  void Enable(bool enable) { EnableWindow(hwnd_, enable ? TRUE : FALSE); }
  void Invalidate(bool erase = false) { InvalidateRect(hwnd_, nullptr, erase); }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  std::wstring ItemText(int id) const;
  void SetItemText(int id, const std::wstring& text) { SetDlgItemTextW(hwnd_, id, text.c_str()); }

 protected:
  // Handles one message; returns false to leave it to the default handling.
  virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // A command from a child control or a menu: id, notification code, control.
  virtual bool OnCommand(int id, int code, HWND control) { return false; }
  // A notification from a child control.
  virtual bool OnNotify(NMHDR* header, LRESULT& result) { return false; }
  // A command or notification this control sent to its parent (reflection).
  virtual bool OnReflectCommand(int code) { return false; }
  virtual bool OnReflectNotify(NMHDR* header, LRESULT& result) { return false; }
  // Owner drawing this control asked its parent for (reflection).
  virtual bool OnReflectDrawItem(DRAWITEMSTRUCT* item) { return false; }
  virtual bool OnReflectMeasureItem(MEASUREITEMSTRUCT* item) { return false; }

  // Called after the window is gone; the object is no longer bound.
  virtual void OnFinalDestroy() {}
  // Called once Attach has bound this object to an existing control.
  virtual void OnAttached() {}

  // The default processing of the window (control procedure or DefWindowProc).
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);

  void Bind(HWND hwnd);
  void Unbind();

  HWND hwnd_ = nullptr;

 private:
  friend LRESULT CALLBACK SharedWindowProc(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  friend class Dialog;
  bool Route(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

  bool subclassed_ = false;
};
