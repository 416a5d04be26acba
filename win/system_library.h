// Functions of system DLLs that only a few actions need (the file dialogs,
// the update check). The program does not import them: every DLL it imports
// is loaded and initialised before its first window can show, and these
// bring others with them (the file dialogs the printing DLLs, the internet
// functions the network ones). Each is loaded from the system folder the
// first time one of its functions is asked for, and stays loaded.
#pragma once
#include <windows.h>

// The address of `name` in the system DLL `dll`, or null when the DLL or the
// function cannot be had. Safe on any thread.
FARPROC SystemFunction(const wchar_t *dll, const char *name);

// The same, typed as the function it is, `Fn` being a pointer to it.
template <typename Fn>
Fn SystemFunctionAs(const wchar_t *dll, const char *name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void *>(SystemFunction(dll, name)));
}
