/*
 * module.h - state of the extension module as a whole.
 *
 * The module may be unloaded (DllCanUnloadNow) when its lock count is zero.
 * The count holds one reference per live COM object, per live property page
 * (taken when the page is made, dropped by its release callback; the page's
 * reference parent points at the counter as well) and per server lock.
 *
 * The number of files (folders excluded) that the most recent Initialize of
 * any object found is kept here as well: AddPages shows a page only when it
 * is exactly one. Explorer calls the objects of this apartment-threaded
 * server on one thread, so the value needs no lock.
 */
#pragma once

#include <windows.h>

#include <string>

namespace tessel {

// Instance handle of the module holding the resources; set by DllMain.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Full path of the module file (empty on failure).
std::wstring ModulePath();

void LockModule();
void UnlockModule();
LONG ModuleLockCount();

// The counter itself, in the form a property page takes as reference
// parent: the page adds one while it lives.
UINT* ModuleLockCounter();

int SelectedFileCount();
void SetSelectedFileCount(int count);

}  // namespace tessel
