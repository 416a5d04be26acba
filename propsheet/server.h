/*
 * server.h - registration of the extension with the system.
 *
 * Registration marks the class as an approved shell extension (on the NT
 * family), runs the registry script of resource REGISTRY 101 with %MODULE%
 * set to this module's path, and registers the type library. Removal undoes
 * all three; keys shared with the program's file type are kept.
 */
#pragma once

#include <windows.h>

namespace tessel {

// E_ACCESSDENIED, with nothing else done, when the Approved value cannot be
// written; otherwise the result of the script and the type library.
HRESULT RegisterServer();

// Failures to remove the Approved value are ignored.
HRESULT UnregisterServer();

}  // namespace tessel
