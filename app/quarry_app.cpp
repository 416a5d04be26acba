#include "app/quarry_app.h"

#include <gdiplus.h>
#include <uxtheme.h>

#include "app/quarry_dlg.h"

namespace {
CQuarryApp* g_app = nullptr;

// The version the system reports; the manifest makes it report the truth.
OSVERSIONINFOEXW ReadWindowsVersion() {
  OSVERSIONINFOEXW version = {sizeof version};
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtlGetVersion =
      reinterpret_cast<RtlGetVersionFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  if (rtlGetVersion) rtlGetVersion(&version);
  return version;
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? buffer : L"";
}
}  // namespace

CQuarryApp::CQuarryApp() : previous_(g_app) {
  g_app = this;
  SetEngineHost(this);
}

CQuarryApp::~CQuarryApp() {
  if (stateImages) ImageList_Destroy(stateImages);
  g_app = previous_;
  SetEngineHost(previous_);
}

CQuarryApp* CQuarryApp::Instance() { return g_app; }

void CQuarryApp::InitInstance() {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
  InitCommonControlsEx(&icc);
  windowsVersion = ReadWindowsVersion();

  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  programPath = path;
  programFolder = programPath.substr(0, programPath.find_last_of(L'\\') + 1);

  Gdiplus::GdiplusStartupInput gdiplusInput;
  Gdiplus::GdiplusStartup(&gdiplusToken_, &gdiplusInput, nullptr);

  settings.tempFolder = EnvironmentText(L"TEMP");
  settings.lastFolder.clear();
  tempFolder = settings.tempFolder;

  BindBackends(backends);

  LoadSettings(settings);
  tempFolder = settings.tempFolder;
  backendKind = static_cast<BackendKind>(settings.backend);

  wchar_t systemFolder[MAX_PATH] = {};
  GetSystemDirectoryW(systemFolder, MAX_PATH);
  runningFromDriveX = towupper(systemFolder[0]) == L'X';
  visualStylesActive = IsAppThemed() && IsThemeActive();
}

void CQuarryApp::ExitInstance() {
  if (keyboardHook_) UnhookWindowsHookEx(keyboardHook_);
  keyboardHook_ = nullptr;
  if (gdiplusToken_) Gdiplus::GdiplusShutdown(gdiplusToken_);
  gdiplusToken_ = 0;
  settings.backend = static_cast<BYTE>(backendKind);
  SaveSettings(settings);
}

int CQuarryApp::Run(const std::wstring& commandLine) {
  InitInstance();
  {
    CQuarryDlg dialog(*this);
    mainDialog = &dialog;
    dialog.DoModal(nullptr);
    mainDialog = nullptr;
  }
  ExitInstance();
  return 0;
}
