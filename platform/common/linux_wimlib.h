/* The Linux wimlib header, as the winelib libraries see it.
 *
 * winegcc defines _WIN32/_WIN64, which would make wimlib.h declare the
 * Windows ABI (UTF-16 wimlib_tchar strings); the libraries link the Linux
 * libwim.so, whose ABI is the UNIX one with UTF-8 strings. */
#ifndef QUARRY_LINUX_WIMLIB_H
#define QUARRY_LINUX_WIMLIB_H

#pragma push_macro("_WIN32")
#pragma push_macro("_WIN64")
#undef _WIN32
#undef _WIN64
#include <wimlib.h>
#pragma pop_macro("_WIN64")
#pragma pop_macro("_WIN32")

_Static_assert(sizeof(wimlib_tchar) == 1, "the Linux wimlib speaks UTF-8");

#endif
