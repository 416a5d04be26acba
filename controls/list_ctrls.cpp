#include "controls/list_ctrls.h"

#include <vssym32.h>

#include <vector>

#include "controls/control_context.h"
#include "resources/resource.h"
#include "win/handles.h"
#include "win/strings.h"

namespace {
// Theme part and states of a list item.
constexpr int kPartItem = 1;  // LVP_LISTITEM
constexpr int kStateNormal = 1, kStateHot = 2, kStateSelected = 3, kStateHotSelected = 6;



int ItemImage(HWND list, int row) {
  LVITEMW item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  ListView_GetItem(list, &item);
  return item.iImage;
}

bool IsSelected(HWND list, int row) { return (ListView_GetItemState(list, row, LVIS_SELECTED) & LVIS_SELECTED) != 0; }

COLORREF ThemeTextColour(HTHEME theme, int state, COLORREF fallback) {
  COLORREF colour = fallback;
  if (theme && FAILED(GetThemeColor(theme, kPartItem, state, TMT_TEXTCOLOR, &colour))) colour = fallback;
  return colour;
}

// Makes a list's rows owner-drawn and of fixed height. The list asks its
// parent for the row height whenever its size changes, so a size change
// there and back makes it ask now (the control is attached by then).
void UseFixedOwnerDrawnRows(HWND list) {
  LONG_PTR style = GetWindowLongPtrW(list, GWL_STYLE);
  if (!(style & LVS_OWNERDRAWFIXED)) SetWindowLongPtrW(list, GWL_STYLE, style | LVS_OWNERDRAWFIXED);
  RECT r;
  GetWindowRect(list, &r);
  const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  SetWindowPos(list, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + 1, flags);
  SetWindowPos(list, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, flags);
}

HICON LoadSmallIcon(UINT id, int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}
}  // namespace

std::wstring ListItemText(HWND list, int row, int column) {
  // Grows the buffer until the whole text fits: paths are never cut.
  for (size_t size = 512;; size *= 4) {
    std::wstring buffer(size, L'\0');
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = &buffer[0];
    item.cchTextMax = static_cast<int>(size);
    LRESULT length = SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    if (static_cast<size_t>(length) + 1 < size || size > 65536) {
      buffer.resize(wcslen(buffer.c_str()));
      return buffer;
    }
  }
}

// --- CWimListCtrl --------------------------------------------------------------

CWimListCtrl::CWimListCtrl() : themed_(Controls().themed) {}

void CWimListCtrl::OnAttached() {
  theme_.Open(hwnd_, L"Explorer::ListView");
  bool themed = themed_ && theme_;
  normalText_ = themed ? ThemeTextColour(theme_.get(), kStateNormal, GetSysColor(COLOR_WINDOWTEXT))
                       : GetSysColor(COLOR_WINDOWTEXT);
  selectedText_ = themed ? ThemeTextColour(theme_.get(), kStateHotSelected, GetSysColor(COLOR_HIGHLIGHTTEXT))
                         : GetSysColor(COLOR_HIGHLIGHTTEXT);
  UseFixedOwnerDrawnRows(hwnd_);
}

bool CWimListCtrl::OnReflectMeasureItem(MEASUREITEMSTRUCT* item) {
  item->itemHeight = rowHeight_;
  return true;
}

bool CWimListCtrl::OnReflectDrawItem(DRAWITEMSTRUCT* item) {
  PaintRow(item->hDC, static_cast<int>(item->itemID));
  return true;
}

void CWimListCtrl::SetFileListMode(bool on) {
  fileListMode_ = on;
  if (hwnd_) Invalidate();
}

int CWimListCtrl::RowAtPoint(POINT pt) const {
  if (ListView_GetItemCount(hwnd_) == 0) return -1;
  RECT first = {};
  ListView_GetItemRect(hwnd_, 0, &first, LVIR_BOUNDS);
  if (pt.x > first.right || pt.y < first.top) return -1;
  return (pt.y - first.top) / rowHeight_;
}

bool CWimListCtrl::IsEmptyArea(POINT pt) const {
  if (ListView_GetItemCount(hwnd_) == 0) return true;
  RECT first = {};
  ListView_GetItemRect(hwnd_, 0, &first, LVIR_BOUNDS);
  return pt.x > first.right;
}

bool CWimListCtrl::IsCursorInEmptyArea() const {
  POINT pt;
  GetCursorPos(&pt);
  ScreenToClient(hwnd_, &pt);
  return IsEmptyArea(pt);
}

void CWimListCtrl::SetHotRow(int row) {
  if (row == hotRow_) return;
  hotRow_ = row;
  Invalidate();
}

void CWimListCtrl::PaintEmptyFolder(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  FillSolid(dc, client, GetSysColor(COLOR_WINDOW));
  client.top += 50;
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  std::wstring text = LoadStr(IDS_EMPTY_FOLDER);
  DrawTextW(dc, text.c_str(), -1, &client, DT_SINGLELINE | DT_CENTER | DT_END_ELLIPSIS);
}

void CWimListCtrl::PaintRow(HDC dc, int row) {
  RECT bounds = {};
  ListView_GetItemRect(hwnd_, row, &bounds, LVIR_BOUNDS);
  bool selected = IsSelected(hwnd_, row);
  bool themed = themed_ && theme_;
  if (selected) {
    if (themed) DrawThemeBackground(theme_.get(), dc, kPartItem, kStateSelected, &bounds, nullptr);
    else FillSolid(dc, bounds, GetSysColor(COLOR_HIGHLIGHT));
  } else if (row == hotRow_ && theme_) {
    DrawThemeBackground(theme_.get(), dc, kPartItem, kStateHot, &bounds, nullptr);
  }

  int image = ItemImage(hwnd_, row);
  if (fileListMode_) {
    if (Controls().fileIcons && image >= 0)
      ImageList_Draw(Controls().fileIcons, image, dc, bounds.left + 4, bounds.top + 4, ILD_TRANSPARENT);
  } else if (image >= 0 && image < kListIconCount && Controls().listIcons[image]) {
    int column0 = ListView_GetColumnWidth(hwnd_, 0);
    DrawIconEx(dc, bounds.left + (column0 - rowHeight_) / 2, bounds.top, Controls().listIcons[image], rowHeight_,
               rowHeight_, 0, nullptr, DI_NORMAL);
  }

  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, selected ? selectedText_ : normalText_);
  int columns = Header_GetItemCount(ListView_GetHeader(hwnd_));
  for (int column = fileListMode_ ? 0 : 1; column < columns; column++) {
    RECT cell = {};
    ListView_GetSubItemRect(hwnd_, row, column, LVIR_LABEL, &cell);
    cell.left += (fileListMode_ && column == 0) ? 22 : 6;
    cell.right -= 6;
    LVCOLUMNW format = {LVCF_FMT};
    ListView_GetColumn(hwnd_, column, &format);
    UINT align = DT_LEFT;
    if ((format.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT) align = DT_RIGHT;
    else if ((format.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER) align = DT_CENTER;
    std::wstring text = ListItemText(hwnd_, row, column);
    DrawTextW(dc, text.c_str(), -1, &cell, align | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  ::SetTextColor(dc, textColour_);
}

LRESULT CWimListCtrl::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      SetTextColor(draw->nmcd.hdc, textColour_);
      if (fileListMode_ && ListView_GetItemCount(hwnd_) == 0) PaintEmptyFolder(draw->nmcd.hdc);
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      PaintRow(draw->nmcd.hdc, static_cast<int>(draw->nmcd.dwItemSpec));
      return CDRF_SKIPDEFAULT;
    default:
      return CDRF_DODEFAULT;
  }
}

bool CWimListCtrl::OnReflectNotify(NMHDR* header, LRESULT& result) {
  switch (header->code) {
    case NM_CUSTOMDRAW:
      result = OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header));
      return true;
    case LVN_HOTTRACK: {
      POINT pt;
      GetCursorPos(&pt);
      ScreenToClient(hwnd_, &pt);
      SetHotRow(RowAtPoint(pt));
      result = 0;  // hot tracking itself stays allowed
      return true;
    }
    case LVN_ITEMCHANGED:
      Invalidate();
      return false;  // the owner sees it too
    default:
      return false;
  }
}

bool CWimListCtrl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_MOUSEMOVE: {
      // Hot tracking also without the track-select style.
      TrackMouse(hwnd_, TME_LEAVE);
      POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      SetHotRow(RowAtPoint(pt));
      return false;
    }
    case WM_MOUSELEAVE:
      SetHotRow(-1);
      return false;
    case WM_HSCROLL:
      result = DefaultProc(msg, wParam, lParam);
      Invalidate();
      return true;
    case WM_DESTROY:
      theme_.Close();
      return false;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}

// --- CTilesListCtrl ---------------------------------------------------------------

CTilesListCtrl::CTilesListCtrl() : themed_(Controls().themed) {}

CTilesListCtrl::~CTilesListCtrl() {
  if (icon_) DestroyIcon(icon_);
}

void CTilesListCtrl::SetIcon(HICON icon) {
  if (icon_) DestroyIcon(icon_);
  icon_ = icon;
  if (hwnd_) Invalidate();
}

void CTilesListCtrl::OnAttached() {
  theme_.Open(hwnd_, L"Explorer::ListView");
  UseFixedOwnerDrawnRows(hwnd_);
}

bool CTilesListCtrl::OnReflectMeasureItem(MEASUREITEMSTRUCT* item) {
  item->itemHeight = rowHeight_;
  return true;
}

bool CTilesListCtrl::OnReflectDrawItem(DRAWITEMSTRUCT* item) {
  PaintRow(item->hDC, static_cast<int>(item->itemID));
  return true;
}

void CTilesListCtrl::PaintRow(HDC dc, int row) {
  RECT bounds = {};
  ListView_GetItemRect(hwnd_, row, &bounds, LVIR_BOUNDS);
  bool selected = IsSelected(hwnd_, row);
  bool themed = themed_ && theme_;
  if (!selected) FillSolid(dc, bounds, GetSysColor(COLOR_WINDOW));
  else if (themed) DrawThemeBackground(theme_.get(), dc, kPartItem, kStateSelected, &bounds, nullptr);
  else FillSolid(dc, bounds, GetSysColor(COLOR_HIGHLIGHT));
  if (icon_) DrawIconEx(dc, bounds.left + 5, bounds.top + 5, icon_, 48, 48, 0, nullptr, DI_NORMAL);

  RECT text = bounds;
  InflateRect(&text, -5, -5);
  text.bottom = text.top + (text.bottom - text.top) / 2;
  text.left += 60;
  COLORREF colour;
  if (themed) colour = ThemeTextColour(theme_.get(), selected ? kStateHotSelected : kStateNormal, textColour_);
  else colour = selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : textColour_;
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, colour);
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX;
  std::wstring first = ListItemText(hwnd_, row, 0);
  DrawTextW(dc, first.c_str(), -1, &text, format);
  OffsetRect(&text, 0, text.bottom - text.top);
  std::wstring second = ListItemText(hwnd_, row, 1);
  DrawTextW(dc, second.c_str(), -1, &text, format);
  ::SetTextColor(dc, textColour_);
}

bool CTilesListCtrl::OnReflectNotify(NMHDR* header, LRESULT& result) {
  if (header->code != NM_CUSTOMDRAW) return false;
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: {
      RECT client;
      GetClientRect(hwnd_, &client);
      client.right = client.left + 5;
      FillSolid(draw->nmcd.hdc, client, GetSysColor(COLOR_WINDOW));
      result = CDRF_NOTIFYITEMDRAW;
      return true;
    }
    case CDDS_ITEMPREPAINT:
      PaintRow(draw->nmcd.hdc, static_cast<int>(draw->nmcd.dwItemSpec));
      result = CDRF_SKIPDEFAULT;
      return true;
    default:
      result = CDRF_DODEFAULT;
      return true;
  }
}

bool CTilesListCtrl::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (msg == WM_DESTROY) theme_.Close();
  return Window::HandleMessage(msg, wParam, lParam, result);
}

// --- CInfoList ---------------------------------------------------------------------

CInfoList::CInfoList() = default;

CInfoList::~CInfoList() {
  for (HICON icon : icons_)
    if (icon) DestroyIcon(icon);
}

void CInfoList::OnAttached() {
  const UINT ids[3] = {IDI_INFO_FILE, IDI_INFO_IMAGE, IDI_INFO_ERROR};
  for (int i = 0; i < 3; i++)
    if (!icons_[i]) icons_[i] = LoadSmallIcon(ids[i], 16);
}

void CInfoList::SetEmpty(bool empty) {
  empty_ = empty;
  if (hwnd_) Invalidate(true);
}

HICON CInfoList::IconForLevel(int level) const {
  switch (level) {
    case 0: return icons_[0];
    case 1: return icons_[1];
    case -1: return icons_[2];
    default: return nullptr;
  }
}

void CInfoList::PaintDropBox(HDC dc) {
  RECT client;
  GetClientRect(hwnd_, &client);
  FillSolid(dc, client, RGB(255, 255, 255));
  int cx = (client.right - client.left) / 2, cy = (client.bottom - client.top) / 2;
  RECT box = {cx - 200, cy - 60, cx + 200, cy + 60};
  FillSolid(dc, box, RGB(0xF5, 0xF5, 0xF5));
  RECT frame = box;
  InflateRect(&frame, -9, -9);
  GdiObject<HPEN> pen(CreatePen(PS_DOT, 1, RGB(0xC3, 0xC3, 0xC3)));
  {
    SelectGuard usePen(dc, pen);
    SelectGuard noFill(dc, GetStockObject(NULL_BRUSH));
    SetBkMode(dc, TRANSPARENT);
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
  }
  ::SetTextColor(dc, RGB(0x9B, 0x9B, 0x9B));
  std::wstring text = LoadStr(IDS_DROP_HERE);
  DrawTextW(dc, text.c_str(), -1, &frame, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
}

void CInfoList::PaintRow(HDC dc, int row) {
  RECT bounds = {};
  ListView_GetItemRect(hwnd_, row, &bounds, LVIR_BOUNDS);
  FillSolid(dc, bounds, background_);
  std::wstring text = ListItemText(hwnd_, row, 0);
  if (text == L"---") {
    RECT client;
    GetClientRect(hwnd_, &client);
    RECT line = {bounds.left, bounds.top, client.right, bounds.top + 1};
    FillSolid(dc, line, RGB(0xDE, 0xDE, 0xDE));
    return;
  }
  int level = ItemImage(hwnd_, row);
  int x = bounds.left + kLeftMargin + (level < 0 ? -level : level) * kIndent;
  if (HICON icon = IconForLevel(level)) DrawIconEx(dc, x + 5, bounds.top + 4, icon, 16, 16, 0, nullptr, DI_NORMAL);
  RECT area = {x + 30, bounds.top, bounds.right, bounds.bottom};
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  DrawTextW(dc, text.c_str(), -1, &area, DT_SINGLELINE | DT_VCENTER | DT_WORD_ELLIPSIS | DT_NOPREFIX);
}

bool CInfoList::OnReflectNotify(NMHDR* header, LRESULT& result) {
  if (header->code != NM_CUSTOMDRAW) return false;
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
  HDC dc = draw->nmcd.hdc;
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: {
      if (empty_) {
        PaintDropBox(dc);
      } else {
        RECT client;
        GetClientRect(hwnd_, &client);
        int count = ListView_GetItemCount(hwnd_);
        RECT last = {};
        if (count > 0) ListView_GetItemRect(hwnd_, count - 1, &last, LVIR_BOUNDS);
        RECT below = {client.left, count > 0 ? last.top : client.top, client.right, client.bottom};
        FillSolid(dc, below, background_);
        if (count > 0) {
          RECT right = {last.right, client.top, client.right, client.bottom};
          if (right.right > right.left) FillSolid(dc, right, background_);
        }
      }
      result = CDRF_NOTIFYITEMDRAW;
      return true;
    }
    case CDDS_ITEMPREPAINT:
      PaintRow(dc, static_cast<int>(draw->nmcd.dwItemSpec));
      result = CDRF_SKIPDEFAULT;
      return true;
    default:
      result = CDRF_DODEFAULT;
      return true;
  }
}

bool CInfoList::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_ERASEBKGND:
      if (empty_) return false;
      result = 1;
      return true;
    case WM_MOUSEWHEEL:
      result = DefaultProc(msg, wParam, lParam);
      Invalidate();
      return true;
    case WM_SIZE:
      result = DefaultProc(msg, wParam, lParam);
      if (empty_) Invalidate(true);
      return true;
    default:
      return Window::HandleMessage(msg, wParam, lParam, result);
  }
}
