/*
 * bridge_convert.c - libwim-15.dll: string, path and path-list arguments
 * converted from the Windows form that the caller passes to the form libwim
 * reads.
 */
#include "bridge_private.h"

/* Converts a string argument with fn; *out stays NULL for a NULL input.
 * Returns FALSE when a non-NULL input could not be converted. */
#define CONVERT(fn, in, out) ((*(out) = fn(in)) != NULL || (in) == NULL)

int conv_error(int otherwise)
{
    return GetLastError() == ERROR_OUTOFMEMORY ? WIMLIB_ERR_NOMEM : otherwise;
}

BOOL text_arg(const WCHAR *in, char **out)
{
    return CONVERT(wc_to_utf8, in, out);
}

BOOL path_arg(const WCHAR *in, char **out)
{
    return CONVERT(wc_unix_path, in, out);
}

BOOL image_path_arg(const WCHAR *in, char **out)
{
    return CONVERT(wc_image_path_to_unix, in, out);
}

char **string_array(const WCHAR *const *in, size_t count, char *(*fn)(const WCHAR *))
{
    char **out = calloc(count ? count : 1, sizeof(*out));
    size_t i;

    if (!out)
        return NULL;
    for (i = 0; i < count; i++) {
        if (!CONVERT(fn, in[i], &out[i])) {
            wc_free_list(out, i);
            return NULL;
        }
    }
    return out;
}

void free_string_array(char **a, size_t count)
{
    wc_free_list(a, count);
}

/* The text of a path-list file as UTF-8; the file may be UTF-16LE with a
 * byte-order mark, UTF-8 with or without one. */
static char *read_list_text(const WCHAR *list_file, int *err)
{
    HANDLE h;
    LARGE_INTEGER size;
    char *data = NULL, *text = NULL;
    DWORD got = 0;
    size_t len;

    *err = WIMLIB_ERR_OPEN;
    h = CreateFileW(list_file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return NULL;
    *err = WIMLIB_ERR_READ;
    if (!GetFileSizeEx(h, &size) || size.QuadPart > 0x7FFFFFFF)
        goto out;
    data = malloc((size_t)size.QuadPart + 2);
    if (!data) {
        *err = WIMLIB_ERR_NOMEM;
        goto out;
    }
    if (!ReadFile(h, data, (DWORD)size.QuadPart, &got, NULL) || got != (DWORD)size.QuadPart)
        goto out;
    len = got;
    if (len >= 2 && (unsigned char)data[0] == 0xFF && (unsigned char)data[1] == 0xFE)
        text = wc_to_utf8_n((const WCHAR *)(data + 2), (len - 2) / 2);
    else if (len >= 3 && !memcmp(data, "\xEF\xBB\xBF", 3))
        text = strndup(data + 3, len - 3);
    else
        text = strndup(data, len);
    if (!text)
        *err = WIMLIB_ERR_NOMEM;
out:
    free(data);
    CloseHandle(h);
    return text;
}

/* Writes text to a new temporary file; returns its path, or NULL. */
static char *write_temp_copy(const char *text, int *err)
{
    char *tmp = strdup("/tmp/quarry-pathlist-XXXXXX");
    size_t len = strlen(text);
    int fd;

    if (!tmp || (fd = mkstemp(tmp)) < 0) {
        *err = WIMLIB_ERR_OPEN;
        free(tmp);
        return NULL;
    }
    if (write(fd, text, len) != (ssize_t)len) {
        *err = WIMLIB_ERR_WRITE;
        unlink(tmp);
        free(tmp);
        tmp = NULL;
    }
    close(fd);
    return tmp;
}

/*
 * Writes a copy of a path-list file for libwim: UTF-8 with "/" as the
 * separator of paths inside the image.  Returns the Unix path of the copy
 * (the caller deletes it), or NULL with *err set.
 */
char *unix_path_list(const WCHAR *list_file, int *err)
{
    char *text = read_list_text(list_file, err), *p, *tmp;

    if (!text)
        return NULL;
    for (p = text; *p; p++)
        if (*p == '\\')
            *p = '/';
    tmp = write_temp_copy(text, err);
    free(text);
    return tmp;
}
