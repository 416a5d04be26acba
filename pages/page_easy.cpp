#include "pages/page_easy.h"

#include "app/quarry_app.h"
#include "resources/resource.h"
#include "win/paint.h"
#include "win/strings.h"

CPage_Easy::CPage_Easy() : CFormPage(IDD_PAGE_EASY) {}

void CPage_Easy::OnInitialUpdate() {
  CFormPage::OnInitialUpdate();
  emptyPicture_.Load(IDP_DROP_AREA);
  EnableWindow(Item(IDC_EASY_CLEAR), FALSE);
  for (int id : {IDC_EASY_CAPTURE, IDC_EASY_APPLY, IDC_EASY_MOUNT}) ShowWindow(Item(id), SW_HIDE);
}

void CPage_Easy::Clear() {
  if (!IsVisible()) return;
  filled_ = false;
  for (int id : {IDC_EASY_CAPTURE, IDC_EASY_APPLY, IDC_EASY_MOUNT}) ShowWindow(Item(id), SW_HIDE);
  EnableWindow(Item(IDC_EASY_CLEAR), FALSE);
  Invalidate();
}

void CPage_Easy::OnMainMenuButton() {
  if (CQuarryApp* app = CQuarryApp::Instance()) app->ShowPopupMenu(1, hwnd_);
}

bool CPage_Easy::OnCommand(int id, int code, HWND control) {
  if (id == IDC_EASY_CLEAR || id == ID_EASY_CLEAR_ALL) {
    Clear();
    return true;
  }
  if (CFormPage::OnCommand(id, code, control)) return true;
  // Commands of the menus this page opens are carried out by the main window.
  if (!control) {
    CQuarryApp* app = CQuarryApp::Instance();
    if (app && app->mainWindow) PostMessageW(app->mainWindow, WM_COMMAND, MAKEWPARAM(id, code), 0);
    return true;
  }
  return false;
}

RECT CPage_Easy::DropArea() const {
  RECT client;
  GetClientRect(hwnd_, &client);
  return {client.left + 60, client.top + 60, client.right - 60, client.bottom - 120};
}

void CPage_Easy::Paint(HDC dc, const RECT& client) {
  FillSolid(dc, client, GetSysColor(COLOR_BTNFACE));
  RECT area = DropArea();
  if (area.right > area.left && area.bottom > area.top) {
    FillSolid(dc, area, RGB(195, 195, 195));
    RECT inner = area;
    InflateRect(&inner, -2, -2);
    FillSolid(dc, inner, RGB(255, 255, 255));
    int cx = (client.left + client.right) / 2, cy = (client.top + client.bottom) / 2;
    if (emptyPicture_) {
      Gdiplus::Graphics graphics(dc);
      graphics.DrawImage(emptyPicture_.get(), cx - emptyPicture_.width() / 2, cy - emptyPicture_.height() / 2 - 40,
                         emptyPicture_.width(), emptyPicture_.height());
    }
    int middle = (area.top + area.bottom) / 2;
    RECT text = {area.left, middle + 40, area.right, area.bottom};
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(130, 130, 130));
    std::wstring prompt = LoadStr(IDS_DROP_HERE);
    DrawTextW(dc, prompt.c_str(), -1, &text, DT_SINGLELINE | DT_CENTER | DT_TOP | DT_NOPREFIX);
    if (old) SelectObject(dc, old);
  }
  RECT line = {client.left, client.bottom - 60, client.right, client.bottom - 58};
  DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
}

void CPage_Easy::Layout(int width, int height) {
  MoveItem(Item(IDC_EASY_CLEAR), width - 110, height - 40, 95, 25);
  MoveItem(Item(IDC_EASY_APPLY), width - 220, height - 40, 95, 25);
  MoveItem(Item(IDC_EASY_CAPTURE), width - 220, height - 40, 95, 25);
  MoveItem(Item(IDC_EASY_MOUNT), width - 330, height - 40, 95, 25);
  MoveItem(Item(IDC_MAIN_MENU), 15, height - 40, 25, 25);
  Invalidate();
}

bool CPage_Easy::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      PaintBuffered(hwnd_, [this](HDC dc, const RECT& client) { Paint(dc, client); });
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_CONTEXTMENU:
      if (CQuarryApp* app = CQuarryApp::Instance()) app->ShowPopupMenu(7, hwnd_);
      return true;
    case WM_INITMENUPOPUP: {
      HMENU menu = reinterpret_cast<HMENU>(wParam);
      EnableMenuItem(menu, ID_EASY_CLEAR_ALL, MF_BYCOMMAND | (filled_ ? MF_ENABLED : MF_GRAYED));
      if (CQuarryApp* app = CQuarryApp::Instance()) app->UpdateBackendMenu(menu);
      return true;
    }
    default:
      return CFormPage::HandleMessage(msg, wParam, lParam, result);
  }
}
