#include "app/shell_integration.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/command_line.h"
#include "config/settings.h"
#include "engine/backend.h"
#include "resources/ids_browser_edit.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {
const wchar_t kWimProgId[] = L"KLO.QUARRY.WIM";
const wchar_t kEsdProgId[] = L"KLO.QUARRY.ESD";

void SetString(HKEY root, const std::wstring& subKey, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

std::wstring DefaultValue(HKEY root, const wchar_t* subKey) {
  wchar_t buffer[512] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  if (SHGetValueW(root, subKey, nullptr, &type, buffer, &size) != ERROR_SUCCESS || type != REG_SZ) return L"";
  return buffer;
}

bool KeyExists(HKEY root, const wchar_t* subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The value in our ProgID key that keeps the extension's default from
// before the association, so that "off" can give it back.
const wchar_t kPreviousValue[] = L"PreviousDefault";

bool HasSubkeysOrValues(HKEY root, const wchar_t* subKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return status != ERROR_SUCCESS || subkeys > 0 || values > 0;
}

void DeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, name);
  RegCloseKey(key);
}

std::wstring StringValue(HKEY root, const std::wstring& subKey, const wchar_t* name) {
  wchar_t buffer[512] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  if (SHGetValueW(root, subKey.c_str(), name, &type, buffer, &size) != ERROR_SUCCESS || type != REG_SZ) return L"";
  return buffer;
}

// Another program's default for the extension is kept in our ProgID key
// before it is replaced (only the first time: a second "on" finds ours).
void Associate(HKEY root, const wchar_t* extension, const wchar_t* progId, int iconId, const std::wstring& exe) {
  std::wstring id = progId;
  std::wstring previous = DefaultValue(root, extension);
  if (!previous.empty() && !EqualNoCase(previous, progId)) SetString(root, id, kPreviousValue, previous);
  SetString(root, extension, nullptr, progId);
  SetString(root, id + L"\\DefaultIcon", nullptr, exe + FormatStr(L",-%d", iconId));
  SetString(root, id + L"\\shell\\Open\\command", nullptr, VerbCommand(exe, L""));
  SetString(root, id + L"\\shell\\Open", L"Icon", exe + L",0");
}

// While the extension still names our ProgID, its default goes back to the
// one kept at "on", or is removed; the key itself goes only when nothing
// else is left in it (another program's OpenWithProgids and the like stay).
void DisownExtension(HKEY root, const wchar_t* extension, const wchar_t* progId) {
  if (!EqualNoCase(DefaultValue(root, extension), progId)) return;
  std::wstring previous = StringValue(root, progId, kPreviousValue);
  if (!previous.empty()) SetString(root, extension, nullptr, previous);
  else DeleteValue(root, extension, nullptr);
  if (!HasSubkeysOrValues(root, extension)) SHDeleteKeyW(root, extension);
}

struct Verb {
  const wchar_t* progId;
  const wchar_t* key;
  const wchar_t* text;
  const wchar_t* switchText;
  UINT textId = 0;  // a text of the string table instead of `text`
};
const Verb kVerbs[] = {
    {kWimProgId, L"shell\\Apply", L"Apply", L"/A"},
    {kWimProgId, L"shell\\Edit", L"Edit", L"/E"},
    {kWimProgId, L"shell\\Mount", L"Mount", L"/M"},
    // The file opened in the browser page, ready to be edited.
    {kWimProgId, L"shell\\Quarry_Browse", nullptr, L"", IDS_EDIT_OPEN_VERB},
    {L"Folder", L"shell\\Quarry_Capture", L"Capture To ...", L"/C"},
    {L"Folder", L"shell\\Quarry_QuickCapture", L"Quick Capture", L"/Q"},
};

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

std::wstring SystemFolderOrDefault() {
  std::wstring folder = SystemFolder();
  return folder.empty() ? L"C:\\Windows\\System32" : folder;
}

std::wstring Wow64Folder() {
  wchar_t buffer[MAX_PATH] = {};
  UINT n = GetSystemWow64DirectoryW(buffer, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? buffer : L"";
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH] = {};
  UINT n = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? buffer : L"C:\\Windows";
}

bool IsWow64Process32() {
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}
}  // namespace

std::wstring VerbCommand(const std::wstring& exe, const std::wstring& switchText) {
  std::wstring command = L"\"" + exe + L"\"";
  if (!switchText.empty()) command += L" " + switchText;
  return command + L" \"%1\"";
}

void ApplyFileAssociation(bool on, const std::wstring& exe) {
  HKEY root = HKEY_CLASSES_ROOT;
  if (on) {
    Associate(root, L".WIM", kWimProgId, 135, exe);
    Associate(root, L".ESD", kEsdProgId, 187, exe);
    return;
  }
  DisownExtension(root, L".WIM", kWimProgId);
  SHDeleteKeyW(root, kWimProgId);
  DisownExtension(root, L".ESD", kEsdProgId);
  SHDeleteKeyW(root, kEsdProgId);
}

void ApplyShellIntegration(bool on, const std::wstring& exe, bool registerExtensions) {
  HKEY root = HKEY_CLASSES_ROOT;
  if (on) {
    for (const Verb& verb : kVerbs) {
      if (!KeyExists(root, verb.progId)) continue;
      std::wstring key = std::wstring(verb.progId) + L"\\" + verb.key;
      SetString(root, key, nullptr, verb.text ? std::wstring(verb.text) : LoadStr(verb.textId));
      SetString(root, key + L"\\command", nullptr, VerbCommand(exe, verb.switchText));
      SetString(root, key, L"Icon", exe + L",0");
    }
    if (registerExtensions) RegisterExtensions(true, exe);
    return;
  }
  if (KeyExists(root, kWimProgId)) {
    for (const wchar_t* sub : {L"shell\\Apply", L"shell\\Edit", L"shell\\Mount", L"shell\\Quarry_Browse", L"shellex"})
      SHDeleteKeyW(root, (std::wstring(kWimProgId) + L"\\" + sub).c_str());
  }
  if (KeyExists(root, L"Folder")) {
    SHDeleteKeyW(root, L"Folder\\shell\\Quarry_QuickCapture");
    SHDeleteKeyW(root, L"Folder\\shell\\Quarry_Capture");
  }
  if (registerExtensions) RegisterExtensions(false, exe);
}

int RunSetupCommand(const CommandLine& command) {
  const std::wstring exe = ModuleFilePath(nullptr);
  const std::wstring settingsPath = SettingsFilePath();
  const bool associate = command.kind == CommandKind::kRegister && command.association;
  const bool integrate = associate && command.shellIntegration;
  ApplyFileAssociation(associate, exe);
  ApplyShellIntegration(integrate, exe, false);
  if (associate || GetFileAttributesW(settingsPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Settings settings;
    LoadSettings(settings, settingsPath);
    settings.fileAssociation = associate ? 1 : 0;
    settings.shellIntegration = integrate ? 1 : 0;
    SaveSettings(settings, settingsPath);
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return 0;
}

RegistrationCommand RegistrationCommandFor(const std::wstring& dllPath, bool is64, bool reg, bool programIs64) {
  RegistrationCommand command;
  if (is64) {
    // A 32-bit program on 64-bit Windows reaches the 64-bit tool only
    // through "Sysnative"; System32 would be redirected to the 32-bit one.
    const std::wstring tools =
        programIs64 || !IsWow64Process32() ? SystemFolderOrDefault() : WindowsFolder() + L"\\Sysnative";
    command.tool = tools + L"\\regsvr32.exe";
  } else {
    // A 32-bit DLL needs the 32-bit tool: SysWOW64 on 64-bit Windows.
    std::wstring wow = programIs64 ? Wow64Folder() : L"";
    command.tool = (wow.empty() ? SystemFolderOrDefault() : wow) + L"\\regsvr32.exe";
  }
  command.arguments = std::wstring(reg ? L"/s" : L"/u /s") + L" \"" + dllPath + L"\"";
  return command;
}

void RegisterExtensions(bool reg, const std::wstring& exe) {
  const bool programIs64 = sizeof(void*) == 8;
  const struct {
    const wchar_t* name;
    bool is64;
  } builds[] = {{L"Tessel64.dll", true}, {L"Tessel86.dll", false}};
  for (const auto& build : builds) {
    RegistrationCommand command = RegistrationCommandFor(FolderOf(exe) + build.name, build.is64, reg, programIs64);
    SHELLEXECUTEINFOW info = {sizeof info};
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = command.tool.c_str();
    info.lpParameters = command.arguments.c_str();
    info.nShow = SW_HIDE;
    ShellExecuteExW(&info);
  }
}
