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
 * times and everything else stay as wimlib keeps them.  The text is read
 * by libxml2 (which wimlib loads anyway): entities, character references,
 * CDATA sections and attributes mean what XML says they mean, and text
 * that is not well-formed is refused with ERROR_INVALID_DATA before
 * anything changes.
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

/* Reads the editable values of the caller's XML into values[] (see
 * wg_xmlread.c); an error for text that is not well-formed XML or holds no
 * IMAGE element. */
static DWORD read_values(const WCHAR *info, size_t units, int index, char **values, size_t n)
{
    char *utf8 = wc_to_utf8_n(info, units);
    int ret;

    if (!utf8)
        return ERROR_NOT_ENOUGH_MEMORY;
    ret = wg_xml_read_image(utf8, strlen(utf8), index, editable, values, n);
    free(utf8);
    return ret == WG_XML_OK ? 0 : ret == WG_XML_NOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_DATA;
}

static DWORD set_information(struct wg_image *img, const WCHAR *info, size_t units)
{
    struct wg_file *f = img->file;
    char *values[sizeof(editable) / sizeof(editable[0])] = {0};
    size_t i, n = sizeof(editable) / sizeof(editable[0]), len;
    DWORD err;

    /* The text ends at its first 0, if it has one. */
    for (len = 0; len < units && info[len]; len++)
        ;
    err = read_values(info, len, img->index, values, n);
    if (!err)
        err = wg_file_check_writable(f);
    if (!err) {
        int count;
        /* Another program may have changed the file since it was read. */
        wg_file_refresh(f);
        count = wg_file_image_count(f, &err);
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
    for (i = 0; i < n; i++)
        free(values[i]);
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
