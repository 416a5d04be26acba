#include "app/about_dlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/quarry_app.h"
#include "config/settings.h"
#include "app/update_check.h"
#include "quarry_version.h"
#include "resources/resource.h"
#include "win/message_box.h"
#include "win/handles.h"
#include "win/paint.h"
#include "win/paths.h"
#include "win/strings.h"
#include "win/window_thread.h"

// The link between the about box and a running update check. The check
// reports through it only while the box is open; the box cuts it and sets
// `stop` when it closes, so the download ends and a late answer goes nowhere.
struct UpdateCheckLink {
  CRITICAL_SECTION lock;
  CAboutDlg* dialog = nullptr;  // the box to tell, on its own thread
  UniqueHandle stop;
  std::wstring host;
  UpdateCheckLink() : stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { InitializeCriticalSection(&lock); }
  ~UpdateCheckLink() { DeleteCriticalSection(&lock); }
  // The box is closing: nothing more is reported, the check stops.
  void Cut() {
    EnterCriticalSection(&lock);
    dialog = nullptr;
    LeaveCriticalSection(&lock);
    if (stop) SetEvent(stop.get());
  }
};

namespace {
constexpr wchar_t kVersionLine[] = QUARRY_VERSION_WTEXT;
constexpr wchar_t kWimlibProject[] = L"https://wimlib.net";

DWORD WINAPI UpdateThread(void* arg) {
  // The thread holds its own reference: the link outlives the box if need be.
  std::unique_ptr<std::shared_ptr<UpdateCheckLink>> holder(static_cast<std::shared_ptr<UpdateCheckLink>*>(arg));
  std::shared_ptr<UpdateCheckLink> link = *holder;
  UpdateResult result = CheckForUpdate(link->host, link->stop.get());
  EnterCriticalSection(&link->lock);
  if (CAboutDlg* box = link->dialog) {
    // The answer runs on the box's thread, and only while it is open and
    // still waits for this check.
    PostToWindowThread(box->hwnd(), [box, link, result] {
      if (link->dialog == box) box->OnUpdateResult(result);
    });
  }
  LeaveCriticalSection(&link->lock);
  return 0;
}

}  // namespace

CAboutDlg::CAboutDlg(CQuarryApp& app) : Dialog(IDD_ABOUT), app_(app) { picture_.Load(IDP_ABOUT); }

CAboutDlg::~CAboutDlg() {
  if (check_) check_->Cut();
}

std::wstring CAboutDlg::FileVersionText(const std::wstring& path, const wchar_t* key) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return L"";
  WORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
      length < 2 * sizeof(WORD))
    return L"";
  std::wstring query = FormatStr(L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]) + key;
  wchar_t* value = nullptr;
  if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"";
  return value;
}

void CAboutDlg::ReadComponents() {
  const OSVERSIONINFOEXW& v = app_.windowsVersion;
  const bool vistaOrOlder = v.dwMajorVersion + v.dwMinorVersion / 10.0 <= 6.0;
  const wchar_t* names[4] = {L"wimgapi.dll", vistaOrOlder ? L"fltlib.dll" : L"wimserv.exe",
                             vistaOrOlder ? L"wimfltr.sys" : L"wimmount.sys", L""};
  rows_.clear();
  for (const wchar_t* name : names) {
    Row row{name, L""};
    if (*name) {
      std::wstring path = HasExtension(name, L".sys") ? SystemFolder() + L"\\drivers\\" + name : name;
      row.version = FileVersionText(path);
    }
    rows_.push_back(row);
  }
  wimlibBound_ = app_.backends.WimlibAvailable();
}

std::wstring CAboutDlg::WimlibLine() const { return std::wstring(L"Wimlib:   ") + (wimlibBound_ ? L"OK!" : L"Failed!"); }

bool CAboutDlg::OnInitDialog() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadIconW(instance, MAKEINTRESOURCEW(IDI_QUARRY))));
  ReadComponents();
  RECT client;
  GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  return true;
}

void CAboutDlg::Layout(int w, int h) {
  MoveItem(Item(IDC_ABOUT_CHECK), (w - 185) / 2, (h - 125) / 2 + 105, 185, 26);
  MoveItem(Item(IDC_ABOUT_HOME), w / 2 - 140, h - 50, 100, 18);
  MoveItem(Item(IDC_ABOUT_FEEDBACK), w / 2 - 60, h - 50, 150, 18);
  MoveItem(Item(IDC_ABOUT_DONATE), w / 2 + 80, h - 50, 150, 18);
  MoveItem(Item(IDOK), w - 90, h - 28, 80, 22);
}

void CAboutDlg::Paint(HDC dc, const RECT& client) {
  const int w = client.right;
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &client, nullptr, 0, nullptr);
  RECT white = {0, 0, w, client.bottom - 60};
  SetBkColor(dc, RGB(255, 255, 255));
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &white, nullptr, 0, nullptr);
  int g = 0;
  if (picture_) {
    Gdiplus::Graphics graphics(dc);
    graphics.DrawImage(picture_.get(), 40, 40, picture_.width(), picture_.height());
    g = picture_.height();
  }
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SetTextColor(dc, RGB(99, 99, 99));
  SetBkMode(dc, TRANSPARENT);
  std::wstring version = FormatStr(L"Ver %s    ( %s %s )", kVersionLine, TEXT(__DATE__), TEXT(__TIME__));
  RECT line = {40, g + 55, w - 15, g + 75};
  DrawTextW(dc, version.c_str(), -1, &line, DT_SINGLELINE | DT_NOPREFIX);
  RECT rule = {40, g + 90, 40 + (w - 80), g + 91};
  SetBkColor(dc, RGB(200, 200, 200));
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rule, nullptr, 0, nullptr);
  int y = g + 55 + 50;
  for (const Row& row : rows_) {
    TextOutW(dc, 40, y, row.name.c_str(), static_cast<int>(row.name.size()));
    TextOutW(dc, 130, y, row.version.c_str(), static_cast<int>(row.version.size()));
    y += 20;
  }
  y += 10;
  std::wstring wimlib = WimlibLine();
  TextOutW(dc, 40, y, wimlib.c_str(), static_cast<int>(wimlib.size()));
  TextOutW(dc, 40, y + 20, kWimlibProject, static_cast<int>(wcslen(kWimlibProject)));
  if (old) SelectObject(dc, old);
}

void CAboutDlg::OpenPage(const std::wstring& url) {
  ShellExecuteW(hwnd_, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNOACTIVATE);
}

void CAboutDlg::StartUpdateCheck() {
  if (check_) return;  // one check at a time
  check_ = std::make_shared<UpdateCheckLink>();
  check_->dialog = this;
  check_->host = app_.settings.updateHost.empty() ? kDefaultUpdateHost : app_.settings.updateHost;
  auto* holder = new std::shared_ptr<UpdateCheckLink>(check_);
  UniqueHandle thread(CreateThread(nullptr, 0, UpdateThread, holder, 0, &checkThread_));
  if (!thread) {
    delete holder;
    check_.reset();
    return;
  }
  // The check ends on its own; the box does not wait for it.
  EnableWindow(Item(IDC_ABOUT_CHECK), FALSE);
  Invalidate();
}

void CAboutDlg::OnUpdateResult(const UpdateResult& result) {
  if (check_) {
    EnterCriticalSection(&check_->lock);
    check_->dialog = nullptr;
    LeaveCriticalSection(&check_->lock);
  }
  check_.reset();
  EnableWindow(Item(IDC_ABOUT_CHECK), TRUE);
  const std::wstring host = app_.settings.updateHost.empty() ? kDefaultUpdateHost : app_.settings.updateHost;
  switch (result.outcome) {
    case UpdateResult::kUpToDate:
      AppMessageBox(hwnd_, LoadStr(IDS_UP_TO_DATE), L"Quarry", MB_ICONINFORMATION);
      return;
    case UpdateResult::kNewer: {
      std::wstring question = FormatStr(LoadStr(IDS_NEW_VERSION).c_str(), result.info.c_str());
      if (AppMessageBox(hwnd_, question, L"Quarry", MB_YESNO | MB_ICONQUESTION) == IDYES)
        OpenPage(MakerUrl(host, L"/software/quarry/main.html"));
      return;
    }
    default:
      AppMessageBox(hwnd_, LoadStr(IDS_UPDATE_FAILED), L"Quarry", MB_ICONERROR);
      return;
  }
}

bool CAboutDlg::OnCommand(int id, int code, HWND control) {
  if (id == IDC_ABOUT_CHECK) {
    StartUpdateCheck();
    return true;
  }
  return false;
}

bool CAboutDlg::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->code != NM_CLICK && header->code != NM_RETURN) return false;
  const std::wstring host = app_.settings.updateHost.empty() ? kDefaultUpdateHost : app_.settings.updateHost;
  switch (header->idFrom) {
    case IDC_ABOUT_HOME:
      OpenPage(MakerUrl(host, L"/software/quarry/main.html"));
      return true;
    case IDC_ABOUT_FEEDBACK:
      OpenPage(MakerUrl(host, L"/blog/quarry-feedback.html"));
      return true;
    case IDC_ABOUT_DONATE:
      OpenPage(MakerUrl(host, L"/donate.html"));
      return true;
    default:
      return false;
  }
}

bool CAboutDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_PAINT:
      PaintBuffered(hwnd_, [this](HDC dc, const RECT& client) { Paint(dc, client); });
      return true;
    case WM_ERASEBKGND:
      result = 1;
      return true;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      return true;
    case WM_DESTROY:
      if (check_) {
        check_->Cut();
        check_.reset();
      }
      return false;
    default:
      return Dialog::HandleMessage(msg, wParam, lParam, result);
  }
}
