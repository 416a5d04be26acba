// The program's place in Explorer: the file association of .WIM and .ESD
// files with their icons, the verbs on image files and folders, and the
// registration of the property-sheet extension (Tessel64 and Tessel86)
// through the system's registration tool. All keys live under
// HKEY_CLASSES_ROOT.
#pragma once
#include <windows.h>

#include <string>

// The command of an Explorer verb: the program and the file both quoted,
// so paths with spaces work: "EXE" /A "%1" (no switch: "EXE" "%1").
std::wstring VerbCommand(const std::wstring& exe, const std::wstring& switchText);

// On: .WIM -> KLO.QUARRY.WIM and .ESD -> KLO.QUARRY.ESD, their icons and
// open commands; a default of another program is kept in our ProgID. Off:
// while .WIM / .ESD still point at us, gives them back the kept default (or
// removes ours), then removes our two ProgIDs. Nothing else in .WIM / .ESD
// is touched; such a key goes only when it is left empty.
void ApplyFileAssociation(bool on, const std::wstring& exe);

// On: the verbs Apply/Edit/Mount on KLO.QUARRY.WIM and "Capture To ..." /
// "Quick Capture" on folders, then registers both extension builds. Off:
// removes the verbs (and the extension's shellex key) and unregisters both.
// `registerExtensions` false leaves the extension's registration alone (the
// installer registers both builds itself and waits for each).
void ApplyShellIntegration(bool on, const std::wstring& exe, bool registerExtensions = true);

struct CommandLine;
// The installer's /REGISTER and /UNREGISTER: the file association and the
// verbs set (or removed) for the running program, exactly as the
// preferences dialog sets them, and the settings file told the new state so
// the dialog shows it. /UNREGISTER writes the settings only into a file that
// exists. Returns the process exit code (0).
int RunSetupCommand(const CommandLine& command);

// How an extension build is (un)registered: which regsvr32.exe and with
// which arguments. A 64-bit build needs the 64-bit tool and a 32-bit build
// the 32-bit one; on 64-bit Windows they live in different folders.
struct RegistrationCommand {
  std::wstring tool;       // full path of regsvr32.exe
  std::wstring arguments;  // /s "DLL" or /u /s "DLL"
};
// `is64` says which build the DLL is; `programIs64` which build is asking.
RegistrationCommand RegistrationCommandFor(const std::wstring& dllPath, bool is64, bool reg, bool programIs64);

// Starts the tool for Tessel64.dll and Tessel86.dll beside `exe`, hidden,
// without waiting.
void RegisterExtensions(bool reg, const std::wstring& exe);
