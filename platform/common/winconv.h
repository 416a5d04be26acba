/*
 * winconv.h - text and path conversions for winelib libraries that sit
 * between a Windows program and a Linux library.
 *
 * The Windows side speaks UTF-16 (WCHAR), uses drive-letter paths that are
 * relative to the Windows current directory and case-insensitive, and writes
 * paths inside a WIM image with "\".  The Linux side speaks UTF-8, uses Unix
 * paths and writes paths inside an image with "/".  These helpers translate
 * between the two.
 *
 * Conventions for every function below:
 *   - A NULL input gives a NULL result.
 *   - Strings are returned in fresh memory from this module's malloc();
 *     release them with wc_free() (lists with wc_free_list()).
 *   - NULL is also returned on failure (out of memory, a path that cannot be
 *     mapped); the wc_*path functions leave a Win32 error in GetLastError().
 *   - UTF-16 text may hold surrogate pairs (characters outside the BMP); they
 *     become one 4-byte UTF-8 sequence and come back unchanged.  A lone
 *     surrogate is kept as a 3-byte sequence (as WTF-8 does), so even
 *     ill-formed Windows names survive a round trip.  Invalid UTF-8 bytes
 *     decode to U+FFFD.
 *
 * Never call the C library's wide-character functions (wcslen, wcscpy, ...)
 * on WCHAR strings in a winelib module: wchar_t of the Linux C library is
 * 4 bytes wide.  Use wc_len() and wc_dup().
 *
 * The module is thread-safe and keeps no state.  It needs kernel32 only.
 */
#ifndef QUARRY_WINCONV_H
#define QUARRY_WINCONV_H

#include <stddef.h>
#include <windef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Number of UTF-16 units before the terminating 0. */
size_t wc_len(const WCHAR *s);

/* Copy of a UTF-16 string. */
WCHAR *wc_dup(const WCHAR *s);

/* UTF-16 -> UTF-8.  The _n form converts exactly len units (which may
 * include 0 units); the result is always 0-terminated. */
char *wc_to_utf8(const WCHAR *s);
char *wc_to_utf8_n(const WCHAR *s, size_t len);

/* UTF-8 -> UTF-16.  The _n form converts exactly len bytes. */
WCHAR *wc_from_utf8(const char *s);
WCHAR *wc_from_utf8_n(const char *s, size_t len);
/* UTF-8 -> UTF-16 into `out`, which has room for len + 1 units (a byte never
 * gives more than one unit); 0-terminated.  Returns the units written. */
size_t wc_from_utf8_into(WCHAR *out, const char *s, size_t len);

/*
 * Windows path -> Unix path.  The path is first made absolute against the
 * Windows current directory (GetFullPathNameW; "/" is accepted as a
 * separator), then mapped through Wine's drive mapping.  Components that do
 * not exist yet are appended as written, so the path of a file that is about
 * to be created (even in folders that are about to be created) converts too.
 * Existing components are found regardless of case.
 */
char *wc_unix_path(const WCHAR *win_path);

/* Unix path -> Windows path (through Wine's drive mapping, e.g. "Z:\tmp\x").
 * A relative Unix path is returned with its "/" turned into "\". */
WCHAR *wc_dos_path(const char *unix_path);

/* A path inside a WIM image: UTF-16 with "\" <-> UTF-8 with "/". */
char *wc_image_path_to_unix(const WCHAR *image_path);
WCHAR *wc_image_path_from_unix(const char *image_path);

/* TRUE when s contains "*" or "?". */
BOOL wc_has_wildcards(const WCHAR *s);

/*
 * Matches name against a Windows wildcard pattern ("*" = any run of
 * characters, "?" = exactly one character; a surrogate pair counts as one),
 * ignoring case the way Windows file names do.
 */
BOOL wc_wildcard_match(const WCHAR *pattern, const WCHAR *name);

/*
 * Expands a Windows glob such as "C:\dir\base*.WIM" into the Unix paths of
 * the existing files (not folders) that it names, sorted by name.  Only the
 * last component may hold wildcards; it is matched with wc_wildcard_match(),
 * so case does not matter.  A glob without wildcards names one file, which
 * must exist.
 *
 * Returns 0 and stores a list of *count_ret paths (release with
 * wc_free_list) in *paths_ret; *count_ret may be 0 when nothing matches (the
 * list is then NULL).  Returns a Win32 error code on failure (bad path, out
 * of memory); a missing folder counts as "nothing matches".
 */
DWORD wc_expand_glob(const WCHAR *glob, char ***paths_ret, size_t *count_ret);

void wc_free(void *p);
void wc_free_list(char **list, size_t count);

#ifdef __cplusplus
}
#endif

#endif /* QUARRY_WINCONV_H */
