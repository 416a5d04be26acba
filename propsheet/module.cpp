// Module-wide state: instance handle, lock count, selected-file count.
#include "module.h"

namespace tessel {

namespace {

HINSTANCE g_instance = nullptr;
// LONG for the interlocked functions; property pages see it as UINT.
static_assert(sizeof(LONG) == sizeof(UINT), "lock counter is shared as UINT");
volatile LONG g_lockCount = 0;
int g_selectedFiles = 0;

}  // namespace

HINSTANCE ModuleInstance() { return g_instance ? g_instance : GetModuleHandleW(nullptr); }

void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(ModuleInstance(), &path[0], (DWORD)path.size());
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void LockModule() { InterlockedIncrement(&g_lockCount); }

void UnlockModule() { InterlockedDecrement(&g_lockCount); }

LONG ModuleLockCount() { return g_lockCount; }

UINT* ModuleLockCounter() { return reinterpret_cast<UINT*>(const_cast<LONG*>(&g_lockCount)); }

int SelectedFileCount() { return g_selectedFiles; }

void SetSelectedFileCount(int count) { g_selectedFiles = count; }

}  // namespace tessel
