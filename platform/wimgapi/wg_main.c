/*
 * wg_main.c - library entry point.
 */
#include "wg_internal.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        wg_init();
        /* What mounts of programs that were killed left staged and empty. */
        wg_fuse_sweep_at_start();
    }
    return TRUE;
}
