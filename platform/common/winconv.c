/*
 * winconv.c - text and path conversions for winelib libraries (see winconv.h).
 */
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "winconv.h"

/* ------------------------------------------------------------------------- */
/* UTF-16 <-> UTF-8                                                          */
/* ------------------------------------------------------------------------- */

size_t wc_len(const WCHAR *s)
{
    size_t n = 0;
    if (!s)
        return 0;
    while (s[n])
        n++;
    return n;
}

WCHAR *wc_dup(const WCHAR *s)
{
    size_t n;
    WCHAR *out;

    if (!s)
        return NULL;
    n = wc_len(s);
    out = malloc((n + 1) * sizeof(WCHAR));
    if (out)
        memcpy(out, s, (n + 1) * sizeof(WCHAR));
    return out;
}

static int is_high_surrogate(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
static int is_low_surrogate(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

/* Reads one code point at s[*i] (i < len), advancing *i; lone surrogates are
 * returned as themselves. */
static unsigned int next_utf16(const WCHAR *s, size_t len, size_t *i)
{
    WCHAR c = s[(*i)++];
    if (is_high_surrogate(c) && *i < len && is_low_surrogate(s[*i])) {
        WCHAR lo = s[(*i)++];
        return 0x10000 + (((unsigned int)c - 0xD800) << 10) + (lo - 0xDC00);
    }
    return c;
}

char *wc_to_utf8_n(const WCHAR *s, size_t len)
{
    size_t i = 0, n = 0;
    char *out, *p;

    if (!s)
        return NULL;
    /* Every UTF-16 unit gives at most 3 bytes (a pair gives 4 for 2 units). */
    out = malloc(len * 3 + 1);
    if (!out)
        return NULL;
    p = out;
    while (i < len) {
        unsigned int cp = next_utf16(s, len, &i);
        if (cp < 0x80) {
            *p++ = (char)cp;
        } else if (cp < 0x800) {
            *p++ = (char)(0xC0 | (cp >> 6));
            *p++ = (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *p++ = (char)(0xE0 | (cp >> 12));
            *p++ = (char)(0x80 | ((cp >> 6) & 0x3F));
            *p++ = (char)(0x80 | (cp & 0x3F));
        } else {
            *p++ = (char)(0xF0 | (cp >> 18));
            *p++ = (char)(0x80 | ((cp >> 12) & 0x3F));
            *p++ = (char)(0x80 | ((cp >> 6) & 0x3F));
            *p++ = (char)(0x80 | (cp & 0x3F));
        }
        n++;
    }
    *p = 0;
    return out;
}

char *wc_to_utf8(const WCHAR *s)
{
    return s ? wc_to_utf8_n(s, wc_len(s)) : NULL;
}

/* Decodes one UTF-8 sequence at s[*i] (i < len).  Overlong forms, values
 * above U+10FFFF and truncated sequences give U+FFFD for their first byte. */
static unsigned int next_utf8(const unsigned char *s, size_t len, size_t *i)
{
    unsigned char c = s[*i];
    unsigned int cp, min;
    size_t need, k;

    if (c < 0x80) {
        (*i)++;
        return c;
    }
    if ((c & 0xE0) == 0xC0) {
        need = 1; cp = c & 0x1F; min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        need = 2; cp = c & 0x0F; min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        need = 3; cp = c & 0x07; min = 0x10000;
    } else {
        (*i)++;
        return 0xFFFD;
    }
    if (*i + need >= len) {
        (*i)++;
        return 0xFFFD;
    }
    for (k = 1; k <= need; k++) {
        if ((s[*i + k] & 0xC0) != 0x80) {
            (*i)++;
            return 0xFFFD;
        }
        cp = (cp << 6) | (s[*i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) {
        (*i)++;
        return 0xFFFD;
    }
    *i += need + 1;
    return cp;
}

size_t wc_from_utf8_into(WCHAR *out, const char *s, size_t len)
{
    const unsigned char *u = (const unsigned char *)s;
    size_t i = 0;
    WCHAR *p = out;

    while (i < len) {
        unsigned int cp = next_utf8(u, len, &i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *p++ = (WCHAR)(0xD800 + (cp >> 10));
            *p++ = (WCHAR)(0xDC00 + (cp & 0x3FF));
        } else {
            *p++ = (WCHAR)cp;
        }
    }
    *p = 0;
    return (size_t)(p - out);
}

WCHAR *wc_from_utf8_n(const char *s, size_t len)
{
    WCHAR *out;

    if (!s)
        return NULL;
    /* Every byte gives at most one unit; a 4-byte sequence gives two. */
    out = malloc((len + 1) * sizeof(WCHAR));
    if (!out)
        return NULL;
    wc_from_utf8_into(out, s, len);
    return out;
}

WCHAR *wc_from_utf8(const char *s)
{
    return s ? wc_from_utf8_n(s, strlen(s)) : NULL;
}

/* ------------------------------------------------------------------------- */
/* Paths                                                                     */
/* ------------------------------------------------------------------------- */

/* GetFullPathNameW into fresh memory. */
static WCHAR *full_path(const WCHAR *path)
{
    DWORD need, got;
    WCHAR *buf;

    need = GetFullPathNameW(path, 0, NULL, NULL);
    if (!need)
        return NULL;
    buf = malloc((need + 1) * sizeof(WCHAR));
    if (!buf) {
        SetLastError(ERROR_OUTOFMEMORY);
        return NULL;
    }
    got = GetFullPathNameW(path, need + 1, buf, NULL);
    if (!got || got > need) {
        free(buf);
        return NULL;
    }
    return buf;
}

/* wine_get_unix_file_name into memory of this module. */
static char *wine_unix_name(const WCHAR *path)
{
    char *wine = wine_get_unix_file_name(path);
    char *out;

    if (!wine)
        return NULL;
    out = strdup(wine);
    HeapFree(GetProcessHeap(), 0, wine);
    if (!out)
        SetLastError(ERROR_OUTOFMEMORY);
    return out;
}

/* Length of the root of an absolute path ("C:\", "\\server\share\",
 * "\\?\C:\"), i.e. the part that is never split off. */
static size_t root_len(const WCHAR *p, size_t len)
{
    size_t i, seps;

    if (len >= 4 && p[0] == '\\' && p[1] == '\\' && (p[2] == '?' || p[2] == '.') && p[3] == '\\') {
        /* \\?\C:\ or \\?\UNC\server\share\ */
        i = 4;
        if (len >= i + 3 && p[i + 1] == ':' && p[i + 2] == '\\')
            return i + 3;
        seps = 0;
        for (; i < len; i++)
            if (p[i] == '\\' && ++seps == 3)
                return i + 1;
        return len;
    }
    if (len >= 2 && p[0] == '\\' && p[1] == '\\') {
        seps = 0;
        for (i = 2; i < len; i++)
            if (p[i] == '\\' && ++seps == 2)
                return i + 1;
        return len;
    }
    if (len >= 3 && p[1] == ':' && p[2] == '\\')
        return 3;
    return len >= 2 && p[1] == ':' ? 2 : 0;
}

/* Maps an absolute Windows path of len units, appending components that
 * Wine cannot map (because they do not exist yet) to the mapped parent. */
static char *map_absolute(WCHAR *p, size_t len)
{
    size_t root = root_len(p, len), cut;
    WCHAR saved;
    char *parent, *leaf, *out;

    /* Drop trailing separators except the root's own. */
    while (len > root && p[len - 1] == '\\')
        len--;

    saved = p[len];
    p[len] = 0;
    out = wine_unix_name(p);
    p[len] = saved;
    if (out || len <= root)
        return out;

    cut = len;
    while (cut > root && p[cut - 1] != '\\')
        cut--;
    if (cut == len)
        return NULL;

    parent = map_absolute(p, cut);
    if (!parent)
        return NULL;
    leaf = wc_to_utf8_n(p + cut, len - cut);
    out = leaf ? malloc(strlen(parent) + 1 + strlen(leaf) + 1) : NULL;
    if (out) {
        size_t plen = strlen(parent);
        memcpy(out, parent, plen);
        if (plen == 0 || parent[plen - 1] != '/')
            out[plen++] = '/';
        strcpy(out + plen, leaf);
    } else {
        SetLastError(ERROR_OUTOFMEMORY);
    }
    free(leaf);
    free(parent);
    return out;
}

char *wc_unix_path(const WCHAR *win_path)
{
    WCHAR *full;
    char *out;

    if (!win_path)
        return NULL;
    if (!win_path[0]) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return NULL;
    }
    full = full_path(win_path);
    if (!full)
        return NULL;
    out = map_absolute(full, wc_len(full));
    if (!out && GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_PATH_NOT_FOUND);
    free(full);
    return out;
}

WCHAR *wc_dos_path(const char *unix_path)
{
    WCHAR *wine, *out;

    if (!unix_path)
        return NULL;
    if (unix_path[0] != '/') {
        WCHAR *p;
        out = wc_from_utf8(unix_path);
        for (p = out; p && *p; p++)
            if (*p == '/')
                *p = '\\';
        return out;
    }
    wine = wine_get_dos_file_name(unix_path);
    if (!wine)
        return NULL;
    out = wc_dup(wine);
    HeapFree(GetProcessHeap(), 0, wine);
    if (!out)
        SetLastError(ERROR_OUTOFMEMORY);
    return out;
}

char *wc_image_path_to_unix(const WCHAR *image_path)
{
    char *out = wc_to_utf8(image_path), *p;
    for (p = out; p && *p; p++)
        if (*p == '\\')
            *p = '/';
    return out;
}

WCHAR *wc_image_path_from_unix(const char *image_path)
{
    WCHAR *out = wc_from_utf8(image_path), *p;
    for (p = out; p && *p; p++)
        if (*p == '/')
            *p = '\\';
    return out;
}

/* ------------------------------------------------------------------------- */
/* Wildcards and globs                                                       */
/* ------------------------------------------------------------------------- */

BOOL wc_has_wildcards(const WCHAR *s)
{
    for (; s && *s; s++)
        if (*s == '*' || *s == '?')
            return TRUE;
    return FALSE;
}

/* Upper-case copy for case-insensitive comparison; the length is kept. */
static WCHAR *upper_copy(const WCHAR *s)
{
    size_t n = wc_len(s);
    WCHAR *out = malloc((n + 1) * sizeof(WCHAR));

    if (!out)
        return NULL;
    memcpy(out, s, (n + 1) * sizeof(WCHAR));
    if (n && LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, s, (int)n, out, (int)n) != (int)n)
        memcpy(out, s, (n + 1) * sizeof(WCHAR));
    out[n] = 0;
    return out;
}

/* Length in units of the character at s (2 for a surrogate pair). */
static size_t char_units(const WCHAR *s)
{
    return is_high_surrogate(s[0]) && is_low_surrogate(s[1]) ? 2 : 1;
}

static BOOL match_upper(const WCHAR *p, const WCHAR *n)
{
    const WCHAR *star_p = NULL, *star_n = NULL;

    while (*n) {
        if (*p == '*') {
            while (*p == '*')
                p++;
            star_p = p;
            star_n = n;
            continue;
        }
        if (*p == '?') {
            p++;
            n += char_units(n);
            continue;
        }
        if (*p && *p == *n) {
            p++;
            n++;
            continue;
        }
        if (!star_p)
            return FALSE;
        /* Let the last "*" swallow one more character and retry. */
        star_n += char_units(star_n);
        n = star_n;
        p = star_p;
    }
    while (*p == '*')
        p++;
    return *p == 0;
}

BOOL wc_wildcard_match(const WCHAR *pattern, const WCHAR *name)
{
    WCHAR *up, *un;
    BOOL ok = FALSE;

    if (!pattern || !name)
        return FALSE;
    up = upper_copy(pattern);
    un = upper_copy(name);
    if (up && un)
        ok = match_upper(up, un);
    free(up);
    free(un);
    return ok;
}

struct name_list {
    WCHAR **names;
    size_t count, cap;
};

static BOOL name_list_add(struct name_list *l, const WCHAR *name)
{
    WCHAR *copy;

    if (l->count == l->cap) {
        size_t cap = l->cap ? l->cap * 2 : 8;
        WCHAR **grown = realloc(l->names, cap * sizeof(*grown));
        if (!grown)
            return FALSE;
        l->names = grown;
        l->cap = cap;
    }
    copy = wc_dup(name);
    if (!copy)
        return FALSE;
    l->names[l->count++] = copy;
    return TRUE;
}

static int compare_names(const void *a, const void *b)
{
    const WCHAR *x = *(const WCHAR *const *)a, *y = *(const WCHAR *const *)b;
    int r = CompareStringOrdinal(x, -1, y, -1, TRUE);
    if (r == CSTR_EQUAL)
        r = CompareStringOrdinal(x, -1, y, -1, FALSE);
    return r - CSTR_EQUAL;
}

/* Collects the names of the files in dir (a full path ending in "\") that
 * match pattern. */
static DWORD list_matches(const WCHAR *dir, const WCHAR *pattern, struct name_list *l)
{
    size_t dlen = wc_len(dir);
    WCHAR *search = malloc((dlen + 2) * sizeof(WCHAR));
    WIN32_FIND_DATAW fd;
    HANDLE h;
    DWORD err = 0;

    if (!search)
        return ERROR_OUTOFMEMORY;
    memcpy(search, dir, dlen * sizeof(WCHAR));
    search[dlen] = '*';
    search[dlen + 1] = 0;
    h = FindFirstFileW(search, &fd);
    free(search);
    if (h == INVALID_HANDLE_VALUE)
        return 0; /* a missing or unreadable folder matches nothing */
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (wc_wildcard_match(pattern, fd.cFileName) && !name_list_add(l, fd.cFileName)) {
            err = ERROR_OUTOFMEMORY;
            break;
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return err;
}

void wc_free(void *p)
{
    free(p);
}

void wc_free_list(char **list, size_t count)
{
    size_t i;
    if (!list)
        return;
    for (i = 0; i < count; i++)
        free(list[i]);
    free(list);
}

DWORD wc_expand_glob(const WCHAR *glob, char ***paths_ret, size_t *count_ret)
{
    struct name_list names = {0};
    WCHAR *full, *pattern = NULL, *path;
    char **paths = NULL;
    size_t cut, i, count = 0;
    DWORD err = 0;

    *paths_ret = NULL;
    *count_ret = 0;
    if (!glob || !glob[0])
        return ERROR_INVALID_PARAMETER;
    full = full_path(glob);
    if (!full)
        return GetLastError() ? GetLastError() : ERROR_INVALID_PARAMETER;

    /* full = folder (ending in "\") + pattern */
    cut = wc_len(full);
    while (cut > 0 && full[cut - 1] != '\\')
        cut--;
    if (cut == 0 || !full[cut]) {
        err = ERROR_INVALID_PARAMETER;
        goto out;
    }
    pattern = wc_dup(full + cut);
    if (!pattern) {
        err = ERROR_OUTOFMEMORY;
        goto out;
    }

    if (!wc_has_wildcards(pattern)) {
        DWORD attr = GetFileAttributesW(full);
        if (attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY) &&
            !name_list_add(&names, pattern))
            err = ERROR_OUTOFMEMORY;
        full[cut] = 0;
    } else {
        full[cut] = 0;
        err = list_matches(full, pattern, &names);
    }
    if (err || !names.count)
        goto out;

    qsort(names.names, names.count, sizeof(*names.names), compare_names);
    paths = calloc(names.count, sizeof(*paths));
    if (!paths) {
        err = ERROR_OUTOFMEMORY;
        goto out;
    }
    for (count = 0; count < names.count; count++) {
        size_t dlen = wc_len(full), nlen = wc_len(names.names[count]);
        path = malloc((dlen + nlen + 1) * sizeof(WCHAR));
        if (!path) {
            err = ERROR_OUTOFMEMORY;
            break;
        }
        memcpy(path, full, dlen * sizeof(WCHAR));
        memcpy(path + dlen, names.names[count], (nlen + 1) * sizeof(WCHAR));
        paths[count] = wc_unix_path(path);
        free(path);
        if (!paths[count]) {
            err = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
            break;
        }
    }
    if (err) {
        wc_free_list(paths, count);
        paths = NULL;
        count = 0;
    }
out:
    for (i = 0; i < names.count; i++)
        free(names.names[i]);
    free(names.names);
    free(pattern);
    free(full);
    *paths_ret = paths;
    *count_ret = count;
    return err;
}
