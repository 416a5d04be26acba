#include "app/quarry_app.h"

#include <ole2.h>
#include <uxtheme.h>

#include "app/quarry_dlg.h"
#include "app/shell_integration.h"
#include "app/shell_task.h"
#include "config/capture_lists.h"
#include "engine/leftovers.h"
#include "controls/tip_wnd.h"
#include "pages/browser_extract.h"
#include "resources/resource.h"
#include "tasks/progress_page.h"
#include "tasks/task_queue_page.h"

namespace {
CQuarryApp* g_app = nullptr;

// The state pictures of the shared image list, by index: 0 image file,
// 1 finished / chosen, 2 waiting / not chosen, 3 running, 4 failed, 5 volume.
const UINT kStateIconIds[kListIconCount] = {IDI_STATE_IMAGE,   IDI_STATE_DONE,   IDI_STATE_WAITING,
                                            IDI_STATE_RUNNING, IDI_STATE_FAILED, IDI_STATE_VOLUME};

// The version the system reports; the manifest makes it report the truth.
OSVERSIONINFOEXW ReadWindowsVersion() {
  OSVERSIONINFOEXW version = {sizeof version};
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtlGetVersion =
      reinterpret_cast<RtlGetVersionFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  if (rtlGetVersion) rtlGetVersion(&version);
  return version;
}

// The Ctrl keys held (bit 1 left, bit 2 right) as the key events seen by
// the keyboard hook tell it, in their order. The system's asynchronous key
// state would be read too late when the hook runs late on a busy machine:
// by then it may already include the release of Ctrl, and a quick Ctrl+Q
// would count as a plain Q.
unsigned g_ctrlHeld = 0;

// Notes a key event; returns whether Ctrl is held with it.
bool NoteCtrlKey(DWORD vk, WPARAM message) {
  const unsigned bit = vk == VK_RCONTROL ? 2u : (vk == VK_LCONTROL || vk == VK_CONTROL) ? 1u : 0u;
  if (bit) {
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) g_ctrlHeld |= bit;
    else g_ctrlHeld &= ~bit;
  }
  return g_ctrlHeld != 0;
}

// While a menu of the window is open the window stays in front, but the
// keys typed are the menu's (Enter picks an item, it closes no result).
bool InMenu(HWND window) {
  GUITHREADINFO info = {sizeof info};
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) &&
         (info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE | GUI_SYSTEMMENUMODE)) != 0;
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? buffer : L"";
}
}  // namespace

CQuarryApp::CQuarryApp() : previous_(g_app) {
  settingsPath = SettingsFilePath();
  g_app = this;
}

CQuarryApp::~CQuarryApp() {
  keyboardHook_.reset();
  if (stateImages_) ImageList_Destroy(stateImages_);
  for (HICON& icon : stateIcons) {
    if (icon) DestroyIcon(icon);
    icon = nullptr;
  }
  for (HICON& icon : Controls().listIcons) icon = nullptr;
  ole_.End();
  g_app = previous_;
}

CQuarryApp* CQuarryApp::Instance() { return g_app; }

void CQuarryApp::JumpTo(UINT command, const std::wstring& path) {
  if (mainDialog) mainDialog->JumpTo(command, path);
}

void CQuarryApp::MakeProgressViews() const {
  if (mainDialog) mainDialog->MakeProgressPages();
}

void CQuarryApp::MakeStateImages() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  stateImages_ = ImageList_Create(24, 24, ILC_COLOR32 | ILC_MASK, kListIconCount, 0);
  for (int i = 0; i < kListIconCount; i++) {
    if (!stateIcons[i])
      stateIcons[i] =
          static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kStateIconIds[i]), IMAGE_ICON, 24, 24, 0));
    if (stateImages_) ImageList_AddIcon(stateImages_, stateIcons[i]);
    Controls().listIcons[i] = stateIcons[i];
  }
}

void CQuarryApp::InitInstance() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
  InitCommonControlsEx(&icc);
  // Drag and drop with the shell needs OLE on this thread.
  ole_.Begin();
  windowsVersion = ReadWindowsVersion();

  programPath = ModuleFilePath(nullptr);
  programFolder = programPath.substr(0, programPath.find_last_of(L'\\') + 1);

  gdiplus_.Start();

  settings.tempFolder = EnvironmentText(L"TEMP");
  settings.lastFolder.clear();
  tempFolder = settings.tempFolder;

  BindBackends(backends);

  LoadSettings(settings, settingsPath);
  LoadCaptureLists(captureLists, settingsPath);
  tempFolder = settings.tempFolder;
  // Files a crashed or killed Quarry opened for viewing are no longer in use.
  RemoveLeftoverOpenFolders(tempFolder);
  // What a killed write left beside its target.
  ClearLeftoversOfEndedRuns();
  backendKind = settings.backend == kBackendWimlib ? kBackendWimlib : kBackendWimgapi;

  g_ctrlHeld = (GetAsyncKeyState(VK_CONTROL) & 0x8000) ? 1u : 0u;
  keyboardHook_.reset(SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHook, GetModuleHandleW(nullptr), 0));

  wchar_t systemFolder[MAX_PATH] = {};
  GetSystemDirectoryW(systemFolder, MAX_PATH);
  runningFromDriveX = towupper(systemFolder[0]) == L'X';
  visualStylesActive = IsAppThemed() && IsThemeActive();
  Controls().themed = visualStylesActive;
  PrivateClipboardFormat();
}

void CQuarryApp::ExitInstance() {
  keyboardHook_.reset();
  gdiplus_.Shutdown();
  settings.backend = static_cast<BYTE>(backendKind);
  SaveSettings(settings, settingsPath);
  SaveCaptureLists(captureLists, settingsPath);
  ReleaseBackends(backends);
  // The files opened for viewing from an image go with the program.
  RemoveOwnOpenFolders();
}

bool CQuarryApp::HandleCommandLine(const std::wstring& commandLine) {
  CommandLine parsed = ParseCommandLine(commandLine);
  shellTaskKind = CommandKind::kNone;
  shellTaskPath.clear();
  switch (parsed.kind) {
    case CommandKind::kApply:
    case CommandKind::kMount:
      RunShellApplyOrMount(parsed.path, parsed.kind == CommandKind::kMount);
      return false;
    case CommandKind::kCapture:
    case CommandKind::kQuickCapture:
      RunShellCapture(parsed.path, parsed.kind == CommandKind::kQuickCapture);
      return false;
    case CommandKind::kOpen:
    case CommandKind::kInformation:
    case CommandKind::kEdit:
      if (!parsed.path.empty()) {
        shellTaskKind = parsed.kind;
        shellTaskPath = parsed.path;
      }
      return true;
    default:
      return true;
  }
}

void CQuarryApp::OpenStartupFile() {
  if (shellTaskKind == CommandKind::kNone || !mainDialog) return;
  if (IsEasyMode()) mainDialog->SwitchToAdvancedMode();
  UINT command = ID_JUMP_INFO;
  if (shellTaskKind == CommandKind::kEdit) command = ID_JUMP_DELETE;
  else if (shellTaskKind == CommandKind::kOpen && backends.WimlibAvailable()) command = ID_JUMP_BROWSER;
  mainDialog->JumpTo(command, shellTaskPath);
  shellTaskKind = CommandKind::kNone;
}

int CQuarryApp::Run(const std::wstring& commandLine) {
  // The installer's switches touch the registry and the settings file only.
  CommandLine setup = ParseCommandLine(commandLine);
  if (IsSetupCommand(setup.kind)) return RunSetupCommand(setup);
  InitInstance();
  if (HandleCommandLine(commandLine)) {
    CQuarryDlg dialog(*this);
    dialog.DoModal(nullptr);
  }
  ExitInstance();
  return 0;
}

// Every key-down goes to the main window's shortcuts while that window is
// the active one; the key always travels on to its normal target as well.
LRESULT CALLBACK CQuarryApp::KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
  CQuarryApp* app = g_app;
  if (code == HC_ACTION) {
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
    const bool ctrl = NoteCtrlKey(key->vkCode, wParam);
    if (wParam == WM_KEYDOWN && app && app->mainDialog && app->mainWindow &&
        GetForegroundWindow() == app->mainWindow && !InMenu(app->mainWindow))
      app->mainDialog->QueueShortcut(key->vkCode, ctrl);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CQuarryApp::ShowTip(const std::wstring& text) {
  if (!mainWindow) return;
  if (tipWindow) DestroyWindow(tipWindow->hwnd());
  tipWindow = CMyTipWnd::Create(mainWindow, &tipWindow);
  if (!tipWindow) return;
  if (mainDialog) mainDialog->PlaceTip();
  tipWindow->Start(text);
}

void CQuarryApp::ShowPopupMenu(PopupMenu which, HWND owner) {
  HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MENU_MAIN));
  if (!menu) return;
  POINT pt;
  GetCursorPos(&pt);
  if (HMENU popup = FindPopupMenu(menu, which))
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, owner, nullptr);
  DestroyMenu(menu);
}

void CQuarryApp::UpdateBackendMenu(HMENU menu) const {
  bool wimgapi = backends.WimgapiAvailable();
  bool wimlib = backends.WimlibAvailable();
  CheckMenuItem(menu, ID_BACKEND_WIMGAPI, MF_BYCOMMAND | MF_UNCHECKED);
  CheckMenuItem(menu, ID_BACKEND_WIMLIB, MF_BYCOMMAND | MF_UNCHECKED);
  if (backendKind == kBackendWimgapi && wimgapi)
    CheckMenuRadioItem(menu, ID_BACKEND_WIMGAPI, ID_BACKEND_WIMLIB, ID_BACKEND_WIMGAPI, MF_BYCOMMAND);
  if (backendKind == kBackendWimlib && wimlib)
    CheckMenuRadioItem(menu, ID_BACKEND_WIMGAPI, ID_BACKEND_WIMLIB, ID_BACKEND_WIMLIB, MF_BYCOMMAND);
  EnableMenuItem(menu, ID_BACKEND_WIMGAPI, MF_BYCOMMAND | (wimgapi ? MF_ENABLED : MF_GRAYED));
  EnableMenuItem(menu, ID_BACKEND_WIMLIB, MF_BYCOMMAND | (wimlib ? MF_ENABLED : MF_GRAYED));
}
