// Reading the program's command line: a switch (/I, /E, /A, /M, /C, /Q, in
// either case) followed by a path, or a bare path to open.
#pragma once
#include <string>

enum class CommandKind {
  kNone,         // show the main window with nothing loaded
  kOpen,         // bare path: open the file (browser, or information)
  kInformation,  // /I
  kEdit,         // /E
  kApply,        // /A: shell task, no main window
  kMount,        // /M
  kCapture,      // /C
  kQuickCapture,  // /Q
  // The installer's switches: no window, only the registry and the settings.
  kRegister,   // /REGISTER [ASSOC] [SHELL]: set the association and the verbs
  kUnregister  // /UNREGISTER: take both away
};

struct CommandLine {
  CommandKind kind = CommandKind::kNone;
  std::wstring path;  // the argument, unquoted; long form for a bare path
  // kRegister: what is to be on ("ASSOC" the file association, "SHELL" the
  // Explorer verbs, which need the association and so imply it); what is
  // not named is turned off.
  bool association = false;
  bool shellIntegration = false;
};

// The arguments as the system hands them to the program (without the
// program's own name). A text without "/" is a bare path; otherwise its
// first two characters are the switch and the argument starts at the
// fourth. The argument loses its line feeds and one pair of surrounding
// double quotes (a file dropped on the program arrives quoted). Unknown
// switches, such as "C:" of "C:/images/a.wim", give kNone. The whole words
// /REGISTER and /UNREGISTER (any case) are the installer's switches.
CommandLine ParseCommandLine(const std::wstring& arguments);

// True for /REGISTER and /UNREGISTER.
bool IsSetupCommand(CommandKind kind);

// True for the switches that run a shell task without the main window.
bool IsShellTask(CommandKind kind);

// The long form of a path (a path that cannot be converted is kept).
std::wstring LongPathOf(const std::wstring& path);
