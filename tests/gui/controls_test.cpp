// The shared controls in a window of the test program: what they paint
// (read back from the window), how they answer the mouse, and drag and
// drop with a real shell data object and a real file-drop block.
#include <gtest/gtest.h>

#include <ole2.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "controls/buttons.h"
#include "controls/control_context.h"
#include "controls/drag_drop.h"
#include "controls/list_ctrls.h"
#include "win/messages.h"
#include "controls/progress_ctrl.h"
#include "gui.h"
#include "harness.h"
#include "resources/resource.h"
#include "win/gdiplus.h"
#include "win/handles.h"

namespace {
using namespace qtest;

// A top-level window that hosts the controls under test and records the
// private messages they send or post to it.
class HostWindow : public Window {
 public:
  HostWindow() {
    RegisterClassOnce(L"QuarryControlsTestHost", CS_DBLCLKS, GetSysColorBrush(COLOR_BTNFACE));
    CreateEx(0, L"QuarryControlsTestHost", L"controls", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 40, 40,
             560, 420, nullptr, nullptr);
  }
  HWND AddChild(const wchar_t* className, DWORD style, int id, int x, int y, int w, int h, const wchar_t* text = L"") {
    HWND child = CreateWindowExW(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return child;
  }
  int Count(UINT msg) const {
    int n = 0;
    for (const auto& m : messages)
      if (m.first == msg) n++;
    return n;
  }
  std::vector<std::pair<UINT, WPARAM>> messages;

 protected:
  bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (msg == UM_EDIT_DROPPED || msg == UM_PROGRESS_DONE) {
      messages.emplace_back(msg, wParam);
      return true;
    }
    return Window::HandleMessage(msg, wParam, lParam, result);
  }
};

COLORREF PixelOf(HWND hwnd, int x, int y) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC dc = GetDC(hwnd);
  COLORREF colour = GetPixel(dc, x, y);
  ReleaseDC(hwnd, dc);
  return colour;
}

int Brightness(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); }

// Puts the mouse on a point of a window, as a person moving it there.
void MoveMouse(HWND hwnd, int x, int y) {
  POINT pt = {x, y};
  ClientToScreen(hwnd, &pt);
  SetCursorPos(pt.x, pt.y);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = pt.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = pt.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
  Flush();
}

// Moves the mouse onto a window and lets it rest there until `condition`
// holds, nudging it by a pixel now and then as a hand would; gives up
// after a generous time only (a loaded machine delivers mouse events late).
template <typename F>
bool RestMouseOn(HWND hwnd, int x, int y, F condition, DWORD timeoutMs = 30000) {
  const DWORD start = GetTickCount();
  for (int attempt = 0; GetTickCount() - start < timeoutMs; attempt++) {
    MoveMouse(hwnd, x + attempt % 2, y);
    if (WaitUntil(condition, 300)) return true;
  }
  return condition();
}

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ole_.Begin());
    ASSERT_TRUE(gdiplus_.Start());
    Controls().themed = false;
    host_ = std::make_unique<HostWindow>();
    ASSERT_NE(host_->hwnd(), nullptr);
    Flush();
  }
  void TearDown() override {
    host_.reset();
    gdiplus_.Shutdown();
    ole_.End();
  }
  OleSession ole_;
  GdiplusSession gdiplus_;
  std::unique_ptr<HostWindow> host_;
};

TEST_F(ControlsTest, ProgressBarReportsDoneAtHundredOnly) {
  CKLOProgressCtrl bar;
  ASSERT_TRUE(bar.Attach(host_->AddChild(L"STATIC", 0, 100, 10, 10, 200, 25)));
  EXPECT_TRUE(bar.IsMarquee());
  EXPECT_EQ(bar.normalOverlayWidth(), 100);  // no visual styles
  EXPECT_EQ(bar.marqueeOverlayWidth(), 100);
  bar.SetPos(99.9f);
  Flush();
  EXPECT_EQ(host_->Count(UM_PROGRESS_DONE), 0);
  bar.SetPos(100.0f);
  Flush();
  EXPECT_EQ(host_->Count(UM_PROGRESS_DONE), 1);
  bar.SetPos(100.0f);
  Flush();
  EXPECT_EQ(host_->Count(UM_PROGRESS_DONE), 2);
}

TEST_F(ControlsTest, ProgressBarOverlaySweepsAndFillFollowsThePosition) {
  CKLOProgressCtrl bar;
  ASSERT_TRUE(bar.Attach(host_->AddChild(L"STATIC", 0, 100, 10, 10, 200, 25)));
  const COLORREF face = GetSysColor(COLOR_BTNFACE), fill = GetSysColor(COLOR_HIGHLIGHT);
  EXPECT_EQ(bar.overlayOffset(), -100);
  for (int i = 0; i < 25; i++) bar.Tick();
  EXPECT_EQ(bar.overlayOffset(), 100);  // 8 pixels per tick
  EXPECT_EQ(PixelOf(bar.hwnd(), 150, 12), fill);
  EXPECT_EQ(PixelOf(bar.hwnd(), 50, 12), face);
  for (int i = 0; i < 12; i++) bar.Tick();
  EXPECT_EQ(bar.overlayOffset(), 196);
  bar.Tick();  // past the right edge: starts again off the left edge
  EXPECT_EQ(bar.overlayOffset(), -100);

  bar.SetMarquee(false);
  bar.SetPos(50);
  EXPECT_EQ(PixelOf(bar.hwnd(), 60, 12), fill);
  EXPECT_EQ(PixelOf(bar.hwnd(), 150, 12), face);
  EXPECT_EQ(PixelOf(bar.hwnd(), 0, 0), GetSysColor(COLOR_BTNSHADOW));  // the sunken frame

  // Without visual styles a determinate bar has no moving overlay, so a
  // step of the animation leaves nothing to repaint.
  UpdateWindow(bar.hwnd());
  bar.Tick();
  EXPECT_FALSE(GetUpdateRect(bar.hwnd(), nullptr, FALSE));
  bar.SetMarquee(true);
  UpdateWindow(bar.hwnd());
  bar.Tick();
  EXPECT_TRUE(GetUpdateRect(bar.hwnd(), nullptr, FALSE));

  // The animation runs on the bar's own timer, and rests while the bar
  // cannot be seen: a hidden page costs no CPU.
  bar.StartAnimation();
  int before = bar.overlayOffset();
  EXPECT_TRUE(WaitUntil([&] { return bar.overlayOffset() != before; }));
  ShowWindow(bar.hwnd(), SW_HIDE);
  Flush();
  before = bar.overlayOffset();
  Pause(300);  // several steps of the animation timer: time itself is what is checked
  EXPECT_EQ(bar.overlayOffset(), before);
  ShowWindow(bar.hwnd(), SW_SHOW);
  EXPECT_TRUE(WaitUntil([&] { return bar.overlayOffset() != before; }));
}

TEST_F(ControlsTest, ThemedMarqueeShowsAMovingBlock) {
  Controls().themed = IsAppThemed() && IsThemeActive();
  CKLOProgressCtrl bar;
  ASSERT_TRUE(bar.Attach(host_->AddChild(L"STATIC", 0, 100, 10, 10, 200, 25)));
  if (!bar.themed()) GTEST_SKIP() << "no visual styles";
  COLORREF empty = PixelOf(bar.hwnd(), 150, 12);
  for (int i = 0; i < 25; i++) bar.Tick();  // overlay from 100 to 200
  EXPECT_NE(PixelOf(bar.hwnd(), 150, 12), empty);
  EXPECT_EQ(PixelOf(bar.hwnd(), 50, 12), empty);
}

TEST_F(ControlsTest, PictureBoxStretchesItsPngAndEmptiesForAMissingOne) {
  CKLOPngImgBox box;
  ASSERT_TRUE(box.Attach(host_->AddChild(L"STATIC", 0, 101, 10, 10, 128, 128)));
  box.SetImage(IDP_RESULT_FAILED);
  EXPECT_EQ(box.imageWidth(), 64);
  COLORREF red = PixelOf(box.hwnd(), 64, 24);  // drawn at twice its size
  EXPECT_GT(GetRValue(red), GetGValue(red) + 80);
  EXPECT_EQ(PixelOf(box.hwnd(), 1, 1), GetSysColor(COLOR_BTNFACE));  // transparent corner
  box.SetImage(9999);
  EXPECT_EQ(box.imageId(), 0u);
  EXPECT_EQ(PixelOf(box.hwnd(), 64, 24), GetSysColor(COLOR_BTNFACE));
}

// Every picture the program carries is the one drawn: its size and every
// pixel as ImageMagick decodes the PNG file it was made from.
TEST_F(ControlsTest, EveryPictureIsItsDrawnPngPixelForPixel) {
  const struct {
    UINT id;
    const char* name;
  } pictures[] = {{IDP_TAB_CAPTURE, "tab_capture"}, {IDP_TAB_APPLY, "tab_apply"},
                  {IDP_TAB_INFO, "tab_info"},       {IDP_TAB_ADVANCED, "tab_advanced"},
                  {IDP_TAB_BROWSE, "tab_browse"},   {IDP_DROP_AREA, "drop_area"},
                  {IDP_FOLDER, "folder"},           {IDP_WIM_FILE, "wim_file"},
                  {IDP_ABOUT, "about"},             {IDP_RESULT_CANCELLED, "result_cancelled"},
                  {IDP_RESULT_FAILED, "result_failed"}, {IDP_RESULT_OK, "result_ok"},
                  {IDP_MENU_BUTTON, "menu"}};
  const std::wstring dir = TempDir();
  for (const auto& picture : pictures) {
    PngImage image;
    ASSERT_TRUE(image.Load(picture.id)) << picture.name;
    const std::wstring raw = dir + L"\\" + Wide(picture.name) + L".rgba";
    UnixResult decoded = RunUnix("convert " + ShQuote(std::string(QUARRY_IMAGES_DIR) + "/" + picture.name + ".png") +
                                 " -depth 8 rgba:" + ShQuote(UnixPath(raw)) + " 2>&1");
    ASSERT_EQ(decoded.exitCode, 0) << decoded.output;
    const std::string rgba = ReadFileBytes(raw);
    ASSERT_EQ(rgba.size(), static_cast<size_t>(image.width()) * image.height() * 4) << picture.name;
    int differ = 0;
    for (int y = 0; y < image.height(); y++) {
      for (int x = 0; x < image.width(); x++) {
        Gdiplus::Color c;
        ASSERT_EQ(image.get()->GetPixel(x, y, &c), Gdiplus::Ok);
        const unsigned char* p = reinterpret_cast<const unsigned char*>(rgba.data()) + (y * image.width() + x) * 4;
        if (c.GetR() != p[0] || c.GetG() != p[1] || c.GetB() != p[2] || c.GetA() != p[3]) differ++;
      }
    }
    EXPECT_EQ(differ, 0) << picture.name;
  }
}

TEST_F(ControlsTest, TabButtonGradientHoverAndDisabledVeil) {
  CTabButton selected, plain;
  ASSERT_TRUE(selected.Attach(host_->AddChild(L"STATIC", SS_NOTIFY, 1007, 0, 0, 120, 90, L"捕获")));
  ASSERT_TRUE(plain.Attach(host_->AddChild(L"STATIC", SS_NOTIFY, 1004, 120, 0, 120, 90, L"应用")));
  selected.SetImage(IDP_TAB_CAPTURE);
  EXPECT_EQ(selected.imageId(), static_cast<UINT>(IDP_TAB_CAPTURE));
  selected.SetSelected(true);
  const COLORREF face = plain.color();
  EXPECT_EQ(PixelOf(selected.hwnd(), 3, 0), RGB(255, 255, 255));
  EXPECT_EQ(PixelOf(plain.hwnd(), 3, 5), face);
  EXPECT_LT(Brightness(PixelOf(plain.hwnd(), 3, 87)), Brightness(face));  // darker towards the bottom
  EXPECT_EQ(PixelOf(plain.hwnd(), 119, 40), RGB(0x79, 0x79, 0x79));       // right edge line

  // Resting the mouse on a tab lays a white veil over it; leaving removes
  // it, and a second pass works the same.
  ASSERT_TRUE(MakeForeground(host_->hwnd()));
  for (int pass = 0; pass < 2; pass++) {
    ASSERT_TRUE(RestMouseOn(plain.hwnd(), 60, 45, [&] { return plain.IsHover(); })) << pass;
    EXPECT_GT(Brightness(PixelOf(plain.hwnd(), 3, 5)), Brightness(face));
    ASSERT_TRUE(RestMouseOn(host_->hwnd(), 400, 300, [&] { return !plain.IsHover(); })) << pass;
    EXPECT_EQ(PixelOf(plain.hwnd(), 3, 5), face);
  }
  // A mouse move that is handled only after the cursor has gone elsewhere
  // (as on a busy machine) does not cost the tab its hover later on.
  MoveMouse(host_->hwnd(), 400, 300);
  SendMessageW(plain.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(60, 45));
  EXPECT_TRUE(RestMouseOn(plain.hwnd(), 60, 45, [&] { return plain.IsHover(); }));
  ASSERT_TRUE(RestMouseOn(host_->hwnd(), 400, 300, [&] { return !plain.IsHover(); }));

  // A selected tab ignores hover.
  EXPECT_TRUE(RestMouseOn(selected.hwnd(), 60, 45, [&] { return selected.IsHover(); }));
  EXPECT_EQ(PixelOf(selected.hwnd(), 3, 0), RGB(255, 255, 255));

  EnableWindow(selected.hwnd(), FALSE);
  EXPECT_LT(Brightness(PixelOf(selected.hwnd(), 3, 0)), 3 * 255);
}

TEST_F(ControlsTest, DisabledIconButtonIsPaleAndGrey) {
  CIconButton button;
  ASSERT_TRUE(button.Attach(host_->AddChild(L"BUTTON", BS_PUSHBUTTON, 1077, 10, 10, 25, 25, L"M")));
  EXPECT_EQ(GetWindowLongW(button.hwnd(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  button.SetImage(IDP_MENU_BUTTON);
  // The middle bar of the picture runs through (12, 12).
  COLORREF enabled = PixelOf(button.hwnd(), 12, 12);
  EnableWindow(button.hwnd(), FALSE);
  COLORREF disabled = PixelOf(button.hwnd(), 12, 12);
  EXPECT_LT(Brightness(enabled), 300);
  EXPECT_GT(Brightness(disabled), Brightness(enabled) + 150);
  EXPECT_EQ(GetRValue(disabled), GetGValue(disabled));  // grey
}

TEST_F(ControlsTest, WimListHotRowFollowsTheMouse) {
  HWND hwnd = host_->AddChild(WC_LISTVIEWW, LVS_REPORT | WS_BORDER, 1059, 10, 10, 500, 200);
  CWimListCtrl list;
  ASSERT_TRUE(list.Attach(hwnd));
  HIMAGELIST images = ImageList_Create(24, 24, ILC_COLOR32, 1, 0);
  ListView_SetImageList(hwnd, images, LVSIL_SMALL);
  for (int c = 0; c < 2; c++) {
    LVCOLUMNW column = {LVCF_WIDTH | LVCF_TEXT};
    column.cx = 100;
    column.pszText = const_cast<wchar_t*>(L"列");
    ListView_InsertColumn(hwnd, c, &column);
  }
  POINT outside = {300, 30};
  EXPECT_TRUE(list.IsEmptyArea(outside));
  for (int r = 0; r < 3; r++) {
    LVITEMW item = {LVIF_TEXT | LVIF_IMAGE};
    item.iItem = r;
    item.iImage = 1;
    item.pszText = const_cast<wchar_t*>(L"行");
    ListView_InsertItem(hwnd, &item);
  }
  RECT first;
  ListView_GetItemRect(hwnd, 0, &first, LVIR_BOUNDS);
  EXPECT_EQ(first.bottom - first.top, 24);

  ASSERT_TRUE(MakeForeground(host_->hwnd()));
  for (int row : {0, 2, 1}) {
    EXPECT_TRUE(RestMouseOn(hwnd, 50, first.top + row * 24 + 10, [&] { return list.hotRow() == row; })) << row;
  }
  // Right of the rows.
  EXPECT_TRUE(RestMouseOn(hwnd, 300, first.top + 10, [&] { return list.hotRow() == -1; }));
  POINT onRow = {50, first.top + 5};
  EXPECT_FALSE(list.IsEmptyArea(onRow));
  EXPECT_TRUE(list.IsEmptyArea(outside));
  DestroyWindow(hwnd);
  ImageList_Destroy(images);
}

// A report list with one wide column, its rows 25 pixels high.
HWND MakeReportList(HostWindow& host, int id, int width, int height, HIMAGELIST rowHeight) {
  HWND hwnd = host.AddChild(WC_LISTVIEWW, LVS_REPORT | LVS_NOCOLUMNHEADER, id, 10, 10, width, height);
  ListView_SetImageList(hwnd, rowHeight, LVSIL_SMALL);
  LVCOLUMNW column = {LVCF_WIDTH};
  column.cx = width - 20;
  ListView_InsertColumn(hwnd, 0, &column);
  return hwnd;
}

void AddRow(HWND list, const wchar_t* text, int image) {
  LVITEMW item = {LVIF_TEXT | LVIF_IMAGE};
  item.iItem = ListView_GetItemCount(list);
  item.iImage = image;
  item.pszText = const_cast<wchar_t*>(text);
  ListView_InsertItem(list, &item);
}

// Whether a band of the window holds anything darker than the background.
bool HasInk(HWND hwnd, int top, int bottom, COLORREF background) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  RECT client;
  GetClientRect(hwnd, &client);
  HDC dc = GetDC(hwnd);
  bool ink = false;
  for (int y = top; y < bottom && !ink; y++)
    for (int x = 0; x < client.right && !ink; x += 2) ink = GetPixel(dc, x, y) != background;
  ReleaseDC(hwnd, dc);
  return ink;
}

TEST_F(ControlsTest, InfoListDropBoxSeparatorsAndLevelIcons) {
  HIMAGELIST rows = ImageList_Create(24, 24, ILC_COLOR32, 1, 0);
  HWND hwnd = MakeReportList(*host_, 1074, 500, 300, rows);
  CInfoList list;
  ASSERT_TRUE(list.Attach(hwnd));
  // Empty: the grey drop box, centred, also after a resize.
  for (SIZE size : {SIZE{500, 300}, SIZE{440, 220}}) {
    SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(hwnd, &client);
    int cx = client.right / 2, cy = client.bottom / 2;
    EXPECT_EQ(PixelOf(hwnd, cx - 195, cy - 55), RGB(0xF5, 0xF5, 0xF5)) << size.cx;
    EXPECT_EQ(PixelOf(hwnd, cx - 205, cy), RGB(255, 255, 255)) << size.cx;
    EXPECT_TRUE(HasInk(hwnd, cy - 10, cy + 10, RGB(0xF5, 0xF5, 0xF5)));  // the prompt
  }

  AddRow(hwnd, L"C:\\images\\a.wim", 0);
  AddRow(hwnd, L"GUID: {0}", 1);
  AddRow(hwnd, L"---", 0);
  AddRow(hwnd, L"无法打开WIM文件!", -1);
  list.SetEmpty(false);
  RECT row[4];
  for (int i = 0; i < 4; i++) ListView_GetItemRect(hwnd, i, &row[i], LVIR_BOUNDS);
  const COLORREF window = GetSysColor(COLOR_WINDOW);
  EXPECT_EQ(PixelOf(hwnd, row[2].left + 60, row[2].top), RGB(0xDE, 0xDE, 0xDE));
  EXPECT_EQ(PixelOf(hwnd, row[2].left + 60, row[2].top + 8), window);
  // Levels 1 and -1 are indented alike (22 pixels) with different icons.
  COLORREF image = PixelOf(hwnd, row[1].left + 10 + 22 + 5 + 8, row[1].top + 4 + 10);
  COLORREF error = PixelOf(hwnd, row[3].left + 10 + 22 + 5 + 8, row[3].top + 4 + 10);
  EXPECT_GT(GetBValue(image), GetRValue(image) + 40) << std::hex << image;
  EXPECT_GT(GetRValue(error), GetBValue(error) + 40) << std::hex << error;
  EXPECT_EQ(PixelOf(hwnd, row[0].left + 10 + 5 + 8, row[0].top + 2), window);  // level 0: icon 10 px in
  DestroyWindow(hwnd);
  ImageList_Destroy(rows);
}

TEST_F(ControlsTest, WimListShowsTheEmptyFolderPromptOnlyInFileListMode) {
  HIMAGELIST rows = ImageList_Create(24, 24, ILC_COLOR32, 1, 0);
  HWND hwnd = MakeReportList(*host_, 1074, 500, 300, rows);
  CWimListCtrl list;
  ASSERT_TRUE(list.Attach(hwnd));
  const COLORREF window = GetSysColor(COLOR_WINDOW);
  EXPECT_FALSE(HasInk(hwnd, 45, 80, window));
  list.SetFileListMode(true);
  EXPECT_TRUE(HasInk(hwnd, 50, 75, window));
  EXPECT_FALSE(HasInk(hwnd, 0, 45, window));
  DestroyWindow(hwnd);
  ImageList_Destroy(rows);
}

TEST_F(ControlsTest, DropTargetEditTakesTheFirstOfThreeDroppedFiles) {
  CDropTargetEdit edit;
  ASSERT_TRUE(edit.Attach(host_->AddChild(L"EDIT", WS_BORDER | ES_AUTOHSCROLL, 1016, 10, 10, 300, 22)));
  UpdateWindow(edit.hwnd());
  Flush();
  EXPECT_TRUE(GetWindowLongW(edit.hwnd(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

  std::wstring folder = TempDir();
  std::vector<std::wstring> files = {folder + L"\\第一.wim", folder + L"\\b.wim", folder + L"\\c.txt"};
  HGLOBAL drop = MakeFileDropData(files);
  ASSERT_NE(drop, nullptr);
  SendMessageW(edit.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);  // the edit frees it
  EXPECT_EQ(WindowText(edit.hwnd()), files[0]);
  ASSERT_EQ(host_->Count(UM_EDIT_DROPPED), 1);
  EXPECT_EQ(host_->messages[0].second, 1016u);

  // A path longer than 260 characters arrives whole: a cut one would name
  // another file.
  std::wstring deep = folder;
  while (deep.size() < 400) deep += L"\\一个很长的文件夹名称 with words";
  deep += L"\\install.wim";
  SendMessageW(edit.hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeFileDropData({deep, files[1]})), 0);
  EXPECT_EQ(WindowText(edit.hwnd()), deep);
  EXPECT_EQ(host_->Count(UM_EDIT_DROPPED), 2);
}

// A data object with text only, as a drag from an editor carries.
class TextData : public IDataObject {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDataObject) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetData(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* f) override { return f->cfFormat == CF_UNICODETEXT ? S_OK : DV_E_FORMATETC; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

// The data object Explorer offers for files: from the shell's own folder.
ComPtr<IDataObject> ShellFileData(const std::wstring& folder, const std::vector<std::wstring>& names) {
  ComPtr<IDataObject> data;
  ComPtr<IShellFolder> desktop;
  if (FAILED(SHGetDesktopFolder(desktop.put()))) return data;
  PIDLIST_RELATIVE folderId = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(folder.c_str()), nullptr, &folderId,
                                       nullptr)))
    return data;
  ComPtr<IShellFolder> parent;
  desktop->BindToObject(folderId, nullptr, IID_IShellFolder, reinterpret_cast<void**>(parent.put()));
  CoTaskMemFree(folderId);
  if (!parent) return data;
  std::vector<PCUITEMID_CHILD> children;
  for (const std::wstring& name : names) {
    PIDLIST_RELATIVE child = nullptr;
    if (SUCCEEDED(parent->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.c_str()), nullptr, &child,
                                           nullptr)))
      children.push_back(child);
  }
  if (children.size() == names.size())
    parent->GetUIObjectOf(nullptr, static_cast<UINT>(children.size()), children.data(), IID_IDataObject, nullptr,
                          reinterpret_cast<void**>(data.put()));
  for (PCUITEMID_CHILD child : children) CoTaskMemFree(const_cast<ITEMID_CHILD*>(child));
  return data;
}

struct RecordingHandler : OleDropHandler {
  DWORD OnOleDrop(IDataObject* data, DWORD, POINTL) override {
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (SUCCEEDED(data->GetData(&format, &medium))) {
      wchar_t path[MAX_PATH] = {};
      DragQueryFileW(static_cast<HDROP>(medium.hGlobal), 0, path, MAX_PATH);
      firstPath = path;
      ReleaseStgMedium(&medium);
    }
    drops++;
    return DROPEFFECT_LINK;
  }
  int drops = 0;
  std::wstring firstPath;
};

TEST_F(ControlsTest, OleTargetLinksShellFilesAndRefusesOwnDataAndText) {
  std::wstring folder = TempDir();
  ASSERT_TRUE(WriteFileBytes(folder + L"\\install.wim", "x"));
  ASSERT_TRUE(WriteFileBytes(folder + L"\\notes.txt", "y"));
  ComPtr<IDataObject> files = ShellFileData(folder, {L"install.wim", L"notes.txt"});
  ASSERT_TRUE(files);

  RecordingHandler handler;
  ComPtr<CMyOleTarget> target = CMyOleTarget::Create(host_->hwnd(), &handler, CreateDragImageHelper().get());
  ASSERT_TRUE(target->Register());
  POINTL point = {100, 100};
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  EXPECT_EQ(target->DragEnter(files.get(), MK_LBUTTON, point, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(target->DragOver(MK_LBUTTON, point, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_LINK));
  EXPECT_EQ(target->Drop(files.get(), 0, point, &effect), S_OK);
  EXPECT_EQ(handler.drops, 1);
  EXPECT_EQ(handler.firstPath, folder + L"\\install.wim");

  // The program's own drag data, even with a file list, is refused.
  ComPtr<CMyOleSource> own = CMyOleSource::Create();
  own->CacheGlobalData(CF_HDROP, MakeFileDropData({folder + L"\\install.wim"}));
  effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  target->DragEnter(own.get(), MK_LBUTTON, point, &effect);
  target->DragOver(MK_LBUTTON, point, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = DROPEFFECT_COPY;
  target->Drop(own.get(), 0, point, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(handler.drops, 1);

  TextData text;
  effect = DROPEFFECT_COPY;
  target->DragEnter(&text, MK_LBUTTON, point, &effect);
  target->DragOver(MK_LBUTTON, point, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(target->DragLeave(), S_OK);
  target->Revoke();
}

// A drag-image helper that records what it is told.
class RecordingHelper : public IDropTargetHelper {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDropTargetHelper) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP DragEnter(HWND, IDataObject*, POINT*, DWORD) override {
    calls += L"enter ";
    return S_OK;
  }
  STDMETHODIMP DragLeave() override {
    calls += L"leave ";
    return S_OK;
  }
  STDMETHODIMP DragOver(POINT*, DWORD) override {
    calls += L"over ";
    return S_OK;
  }
  STDMETHODIMP Drop(IDataObject* data, POINT*, DWORD) override {
    calls += data ? L"drop " : L"drop-nothing ";
    return S_OK;
  }
  STDMETHODIMP Show(BOOL) override { return S_OK; }
  std::wstring calls;
};

TEST_F(ControlsTest, OleTargetTellsTheDragImageHelperWhatHappens) {
  std::wstring folder = TempDir();
  ASSERT_TRUE(WriteFileBytes(folder + L"\\install.wim", "x"));
  ComPtr<IDataObject> files = ShellFileData(folder, {L"install.wim"});
  ASSERT_TRUE(files);
  RecordingHandler handler;
  RecordingHelper helper;
  ComPtr<CMyOleTarget> target = CMyOleTarget::Create(host_->hwnd(), &handler, &helper);
  POINTL point = {100, 100};
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_LINK;

  // A drag that passes over and leaves: the drag image goes with the
  // helper's own leave, and nothing is dropped.
  target->DragEnter(files.get(), MK_LBUTTON, point, &effect);
  target->DragOver(MK_LBUTTON, point, &effect);
  EXPECT_EQ(target->DragLeave(), S_OK);
  EXPECT_EQ(helper.calls, L"enter over leave ");
  EXPECT_EQ(handler.drops, 0);

  helper.calls.clear();
  effect = DROPEFFECT_COPY | DROPEFFECT_LINK;
  target->DragEnter(files.get(), MK_LBUTTON, point, &effect);
  target->Drop(files.get(), 0, point, &effect);
  EXPECT_EQ(helper.calls, L"enter drop ");
  EXPECT_EQ(handler.drops, 1);
}

TEST_F(ControlsTest, OleSourceRendersFileContentsAsZeroBytes) {
  ComPtr<CMyOleSource> source = CMyOleSource::Create();
  source->OfferFileContents();
  CLIPFORMAT contents = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_FILECONTENTS));

  FORMATETC asMemory = {contents, nullptr, DVASPECT_CONTENT, 0, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  ASSERT_EQ(source->GetData(&asMemory, &medium), S_OK);
  ASSERT_EQ(GlobalSize(medium.hGlobal), 128u);
  const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(medium.hGlobal));
  EXPECT_EQ(std::count(bytes, bytes + 128, 0), 128);
  GlobalUnlock(medium.hGlobal);
  ReleaseStgMedium(&medium);

  FORMATETC asStream = {contents, nullptr, DVASPECT_CONTENT, 0, TYMED_ISTREAM};
  ASSERT_EQ(source->GetData(&asStream, &medium), S_OK);
  STATSTG stat = {};
  medium.pstm->Stat(&stat, STATFLAG_NONAME);
  EXPECT_EQ(stat.cbSize.QuadPart, 128u);
  ReleaseStgMedium(&medium);

  FORMATETC other = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(source->GetData(&other, &medium), DV_E_FORMATETC);
  FORMATETC own = {PrivateClipboardFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  EXPECT_EQ(source->QueryGetData(&own), S_OK);
  ComPtr<IEnumFORMATETC> formats;
  ASSERT_EQ(source->EnumFormatEtc(DATADIR_GET, formats.put()), S_OK);
}

}  // namespace
