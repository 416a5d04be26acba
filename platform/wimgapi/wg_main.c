/*
 * wg_main.c - library entry point.
 */
#include "wg_internal.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        wg_init();
    }
    return TRUE;
}
