/*
 * wg_xml.c - WIMGetImageInformation and WIMSetImageInformation.
 *
 * The XML comes from the file as wimlib read it (UTF-16LE, led by U+FEFF).
 * For an image handle it is that image's <IMAGE INDEX="n"> element.  The
 * buffer is allocated with LocalAlloc, as the caller frees it with
 * LocalFree.
 *
 * Setting takes the user-editable elements of the given image element -
 * NAME, DESCRIPTION, DISPLAYNAME, DISPLAYDESCRIPTION and FLAGS - and makes
 * the image's XML hold exactly those (a missing one is removed); counts,
 * times and everything else stay as wimlib keeps them.  The text is parsed
 * leniently: an element's value is everything between its opening and
 * closing tag, with the five predefined entities and character references
 * decoded and any other "&" kept as it is.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "wg_internal.h"

#define BOM 0xFEFF
#define MAX_XML_BYTES (64u << 20)

/* Position of needle in hay[from, to), or -1. */
static long find(const WCHAR *hay, size_t from, size_t to, const char *needle)
{
    size_t n = strlen(needle), i, k;

    for (i = from; i + n <= to; i++) {
        for (k = 0; k < n && hay[i + k] == (WCHAR)(unsigned char)needle[k]; k++)
            ;
        if (k == n)
            return (long)i;
    }
    return -1;
}

/* True when t[at, to) begins with s. */
static bool starts_with(const WCHAR *t, size_t at, size_t to, const char *s)
{
    size_t n = strlen(s), k;

    if (at + n > to)
        return false;
    for (k = 0; k < n; k++)
        if (t[at + k] != (WCHAR)(unsigned char)s[k])
            return false;
    return true;
}

/* ------------------------------------------------------------------------- */
/* Get                                                                       */
/* ------------------------------------------------------------------------- */

/* The XML of the file as UTF-16 units, without a byte-order mark. */
static DWORD file_xml(struct wg_file *f, WCHAR **xml_ret, size_t *len_ret)
{
    static const char empty[] = "<WIM><TOTALBYTES>0</TOTALBYTES></WIM>";
    void *buf = NULL;
    size_t bytes = 0, len, i;
    WCHAR *xml;
    int ret;

    if (f->is_new) {
        /* Nothing on disk yet: an empty file's XML. */
        len = sizeof(empty) - 1;
        xml = malloc(len * sizeof(WCHAR));
        if (!xml)
            return ERROR_NOT_ENOUGH_MEMORY;
        for (i = 0; i < len; i++)
            xml[i] = (WCHAR)empty[i];
        *xml_ret = xml;
        *len_ret = len;
        return 0;
    }
    ret = wimlib_get_xml_data(f->wim, &buf, &bytes);
    if (ret)
        return wg_error_from_wimlib(ret, errno);
    xml = buf;
    len = bytes / sizeof(WCHAR);
    if (len && xml[0] == BOM) {
        memmove(xml, xml + 1, (len - 1) * sizeof(WCHAR));
        len--;
    }
    /* The document ends with "</WIM>" (wimlib adds a line feed). */
    while (len && (xml[len - 1] == 0 || xml[len - 1] == '\n' || xml[len - 1] == '\r' || xml[len - 1] == ' '))
        len--;
    *xml_ret = xml;
    *len_ret = len;
    return 0;
}

/* Copies BOM + text[from, to) into a LocalAlloc buffer. */
static DWORD hand_out(const WCHAR *text, size_t from, size_t to, PVOID *info, PDWORD size)
{
    size_t units = to - from + 1;
    WCHAR *out;

    if (units * sizeof(WCHAR) > MAX_XML_BYTES)
        return ERROR_NOT_ENOUGH_MEMORY;
    out = LocalAlloc(LMEM_FIXED, (units + 1) * sizeof(WCHAR));
    if (!out)
        return ERROR_NOT_ENOUGH_MEMORY;
    out[0] = BOM;
    memcpy(out + 1, text + from, (to - from) * sizeof(WCHAR));
    out[units] = 0;
    *info = out;
    *size = (DWORD)(units * sizeof(WCHAR));
    return 0;
}

static DWORD get_information(struct wg_file *f, int index, PVOID *info, PDWORD size)
{
    WCHAR *xml = NULL;
    size_t len = 0;
    char start[40];
    long s, e;
    DWORD err;

    err = wg_file_load(f);
    if (!err)
        err = file_xml(f, &xml, &len);
    if (err)
        return err;
    if (!index) {
        err = hand_out(xml, 0, len, info, size);
    } else {
        snprintf(start, sizeof(start), "<IMAGE INDEX=\"%d\"", index);
        s = find(xml, 0, len, start);
        e = s < 0 ? -1 : find(xml, (size_t)s, len, "</IMAGE>");
        err = e < 0 ? ERROR_INVALID_PARAMETER : hand_out(xml, (size_t)s, (size_t)e + 8, info, size);
    }
    free(xml);
    return err;
}

BOOL WINAPI wg_GetImageInformation(HANDLE object, PVOID *info, PDWORD size)
{
    struct wg_image *img = NULL;
    struct wg_file *f;
    DWORD err;

    if (!info || !size)
        return wg_fail(ERROR_INVALID_PARAMETER);
    *info = NULL;
    *size = 0;
    f = wg_file_get(object);
    if (!f) {
        img = wg_image_get(object);
        if (!img)
            return FALSE;
        f = img->file;
    }
    EnterCriticalSection(&f->lock);
    if (img && !img->index)
        err = ERROR_INVALID_PARAMETER;   /* the image was deleted */
    else
        err = get_information(f, img ? img->index : 0, info, size);
    LeaveCriticalSection(&f->lock);
    if (img)
        wg_image_release(img);
    else
        wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}

/* ------------------------------------------------------------------------- */
/* Set                                                                       */
/* ------------------------------------------------------------------------- */

static const char *const editable[] = { "NAME", "DESCRIPTION", "DISPLAYNAME", "DISPLAYDESCRIPTION", "FLAGS" };

/* Decodes the entities of t[from, to) in place; returns the new length. */
static size_t decode_entities(WCHAR *t, size_t from, size_t to)
{
    static const struct { const char *name; WCHAR c; } named[] = {
        { "lt;", '<' }, { "gt;", '>' }, { "amp;", '&' }, { "quot;", '"' }, { "apos;", '\'' },
    };
    size_t in = from, out = from, k;

    while (in < to) {
        WCHAR c = t[in];
        bool done = false;

        if (c == '&') {
            for (k = 0; k < sizeof(named) / sizeof(named[0]) && !done; k++) {
                if (starts_with(t, in + 1, to, named[k].name)) {
                    t[out++] = named[k].c;
                    in += 1 + strlen(named[k].name);
                    done = true;
                }
            }
            if (!done && in + 2 < to && t[in + 1] == '#') {
                bool hex = t[in + 2] == 'x' || t[in + 2] == 'X';
                size_t i = in + (hex ? 3 : 2);
                unsigned long v = 0;
                size_t digits = 0;
                for (; i < to && digits < 8; i++, digits++) {
                    WCHAR d = t[i];
                    int val = d >= '0' && d <= '9' ? d - '0'
                              : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                              : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10 : -1;
                    if (val < 0)
                        break;
                    v = v * (hex ? 16 : 10) + (unsigned long)val;
                }
                if (digits && i < to && t[i] == ';' && v > 0 && v <= 0x10FFFF) {
                    if (v >= 0x10000) {
                        v -= 0x10000;
                        t[out++] = (WCHAR)(0xD800 + (v >> 10));
                        t[out++] = (WCHAR)(0xDC00 + (v & 0x3FF));
                    } else {
                        t[out++] = (WCHAR)v;
                    }
                    in = i + 1;
                    done = true;
                }
            }
        }
        if (!done)
            t[out++] = t[in++];
    }
    return out;
}

/* Value of element tag in t[from, to): NULL when absent or empty (also for
 * "<TAG/>"), else a UTF-8 string from malloc.  *oom is set on failure. */
static char *element_value(WCHAR *t, size_t from, size_t to, const char *tag, bool *oom)
{
    char open[32], close[32];
    long o, c;
    size_t len;

    snprintf(open, sizeof(open), "<%s>", tag);
    snprintf(close, sizeof(close), "</%s>", tag);
    o = find(t, from, to, open);
    if (o < 0)
        return NULL;
    c = find(t, (size_t)o + strlen(open), to, close);
    if (c < 0)
        return NULL;
    len = decode_entities(t, (size_t)o + strlen(open), (size_t)c) - ((size_t)o + strlen(open));
    if (!len)
        return NULL;
    {
        char *value = wc_to_utf8_n(t + o + strlen(open), len);
        if (!value)
            *oom = true;
        return value;
    }
}

static DWORD set_information(struct wg_image *img, const WCHAR *info, size_t units)
{
    struct wg_file *f = img->file;
    char *values[sizeof(editable) / sizeof(editable[0])] = {0};
    WCHAR *t = malloc((units + 1) * sizeof(WCHAR));
    char start[40];
    bool oom = false;
    long s, e;
    size_t i, n = sizeof(editable) / sizeof(editable[0]);
    DWORD err;

    if (!t)
        return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(t, info, units * sizeof(WCHAR));
    t[units] = 0;
    units = wc_len(t);

    /* The image element, from "<IMAGE" to its "</IMAGE>": the one of this
     * index if the text holds several, else the first. */
    snprintf(start, sizeof(start), "<IMAGE INDEX=\"%d\"", img->index);
    s = find(t, 0, units, start);
    if (s < 0)
        s = find(t, 0, units, "<IMAGE");
    while (s >= 0 && t[s + 6] != ' ' && t[s + 6] != '>')
        s = find(t, (size_t)s + 6, units, "<IMAGE");
    e = s < 0 ? -1 : find(t, (size_t)s, units, "</IMAGE>");
    if (e < 0) {
        free(t);
        return ERROR_INVALID_DATA;
    }
    for (i = 0; i < n; i++) {
        /* Each search works on a fresh copy: decoding shortens the text. */
        WCHAR *copy = malloc((units + 1) * sizeof(WCHAR));
        if (!copy) {
            oom = true;
            break;
        }
        memcpy(copy, t, (units + 1) * sizeof(WCHAR));
        values[i] = element_value(copy, (size_t)s, (size_t)e, editable[i], &oom);
        free(copy);
    }
    free(t);
    if (oom) {
        err = ERROR_NOT_ENOUGH_MEMORY;
        goto out;
    }

    err = wg_file_check_writable(f);
    if (!err) {
        int count = wg_file_image_count(f, &err);
        if (!err && (img->index < 1 || img->index > count))
            err = ERROR_INVALID_PARAMETER;   /* deleted meanwhile */
    }
    for (i = 0; i < n && !err; i++) {
        int ret = wimlib_set_image_property(f->wim, img->index, editable[i], values[i]);
        err = wg_error_from_wimlib(ret, errno);
    }
    if (err)
        wg_file_drop(f);   /* forget the half-done changes */
    else
        err = wg_file_write(f, NULL);
out:
    for (i = 0; i < n; i++)
        wc_free(values[i]);
    return err;
}

BOOL WINAPI wg_SetImageInformation(HANDLE image, PVOID info, DWORD size)
{
    struct wg_image *img;
    const WCHAR *text = info;
    size_t units;
    DWORD err;

    if (!info || size < sizeof(WCHAR) || size > MAX_XML_BYTES)
        return wg_fail(ERROR_INVALID_PARAMETER);
    img = wg_image_get(image);
    if (!img)
        return FALSE;
    units = size / sizeof(WCHAR);
    if (text[0] == BOM) {
        text++;
        units--;
    }
    EnterCriticalSection(&img->file->lock);
    err = set_information(img, text, units);
    LeaveCriticalSection(&img->file->lock);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}
