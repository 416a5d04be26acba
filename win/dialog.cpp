#include "win/dialog.h"

#include "win/window_thread.h"

INT_PTR CALLBACK SharedDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

INT_PTR Dialog::DoModal(HWND parent) {
  modal_ = true;
  INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent,
                                   SharedDialogProc, reinterpret_cast<LPARAM>(this));
  modal_ = false;
  return result;
}

bool Dialog::Create(HWND parent) {
  modal_ = false;
  HWND hwnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent,
                                 SharedDialogProc, reinterpret_cast<LPARAM>(this));
  return hwnd != nullptr;
}

bool Dialog::CreateForm(HWND parent) {
  if (!Create(parent)) return false;
  OnInitialUpdate();
  return true;
}

bool Dialog::CreateView(HWND parent, bool shown) {
  if (!Create(parent)) return false;
  LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
  style = (style & ~(WS_POPUP | WS_CAPTION | WS_THICKFRAME)) | WS_CHILD | WS_BORDER;
  SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
  LONG_PTR exStyle = GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, exStyle & ~(WS_EX_CLIENTEDGE | WS_EX_WINDOWEDGE));
  SetWindowLongPtrW(hwnd_, GWLP_ID, static_cast<LONG_PTR>(templateId_));
  SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | (shown ? SWP_SHOWWINDOW : 0));
  OnInitialUpdate();
  return true;
}

void Dialog::EndDialog(INT_PTR result) {
  if (modal_) ::EndDialog(hwnd_, result);
  else DestroyWindow(hwnd_);
}

void Dialog::Close(INT_PTR result) {
  if (modal_) ::EndDialog(hwnd_, result);
  else ShowWindow(hwnd_, SW_HIDE);
}

bool Dialog::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_COMMAND && lParam == 0 && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    // Enter and Escape arrive as IDOK/IDCANCEL without a control.
    if (LOWORD(wParam) == IDOK) OnOK();
    else OnCancel();
    return true;
  }
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) && HIWORD(wParam) == BN_CLICKED) {
    // A button with the id IDOK/IDCANCEL may be handled by OnCommand first.
    if (Window::HandleMessage(msg, wParam, lParam, result)) return true;
    if (LOWORD(wParam) == IDOK) OnOK();
    else OnCancel();
    return true;
  }
  return Window::HandleMessage(msg, wParam, lParam, result);
}

// Messages whose result a dialog procedure returns directly rather than
// through DWLP_MSGRESULT.
static bool ReturnsDirectly(UINT msg) {
  switch (msg) {
    case WM_CTLCOLORBTN: case WM_CTLCOLORDLG: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC: case WM_COMPAREITEM: case WM_VKEYTOITEM:
    case WM_CHARTOITEM: case WM_QUERYDRAGICON: case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

INT_PTR CALLBACK SharedDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<Dialog*>(Window::FromHandle(hwnd));
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    self->Bind(hwnd);
    return self->OnInitDialog() ? TRUE : FALSE;
  }
  if (!self) return FALSE;
  LRESULT result = 0;
  if (RunHandedWork(hwnd, msg, lParam, result)) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
  }
  bool handled = self->HandleMessage(msg, wParam, lParam, result);
  if (msg == WM_NCDESTROY) {
    self->Unbind();
    self->OnFinalDestroy();
    return handled;
  }
  if (!handled) return FALSE;
  if (ReturnsDirectly(msg)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
