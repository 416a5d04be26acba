/*
 * wg_xml.c - WIMGetImageInformation and WIMSetImageInformation.
 *
 * The XML comes from the file as wimlib read it (UTF-16LE, led by U+FEFF).
 * For an image handle it is that image's <IMAGE INDEX="n"> element.  The
 * buffer is allocated with LocalAlloc, as the caller frees it with
 * LocalFree.
 *
 * Setting compares every element of the given image element that holds
 * text (NAME, DESCRIPTION, the WINDOWS properties and any other) with the
 * image's XML and changes exactly those that differ: a missing one is
 * removed, a new one added; what the caller left as it was is not touched.  The text is read
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

struct leaf_list {
    char **paths, **values;
    size_t count;
};

/* The leaf elements of image index in text[0, units), as UTF-8 (see
 * wg_xmlread.c); an error for text that is not well-formed XML or holds no
 * IMAGE element. */
static DWORD read_leaves(const WCHAR *text, size_t units, int index, struct leaf_list *l)
{
    char *utf8 = wc_to_utf8_n(text, units);
    int ret;

    if (!utf8)
        return ERROR_NOT_ENOUGH_MEMORY;
    ret = wg_xml_read_leaves(utf8, strlen(utf8), index, &l->paths, &l->values, &l->count);
    free(utf8);
    return ret == WG_XML_OK ? 0 : ret == WG_XML_NOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_DATA;
}

/* The values of path in l, in order, into out (pointers into l); their count. */
static size_t values_of(const struct leaf_list *l, const char *path, const char **out)
{
    size_t i, n = 0;

    for (i = 0; i < l->count; i++)
        if (!strcmp(l->paths[i], path))
            out[n++] = l->values[i];
    return n;
}

static int set_one(WIMStruct *wim, int image, const char *path, size_t occurrence, const char *value)
{
    char name[1024];

    if (occurrence > 1)
        snprintf(name, sizeof(name), "%s[%u]", path, (unsigned)occurrence);
    else
        snprintf(name, sizeof(name), "%s", path);
    if (strlen(path) + 24 > sizeof(name))
        return WIMLIB_ERR_INVALID_PARAM;
    return wimlib_set_image_property(wim, image, name, value && *value ? value : NULL);
}

/* Makes the values of one path in the image those of the caller: occurrences
 * that differ are set, new ones added after them and the ones past the
 * caller's last removed from the end, so that no change moves another.  An
 * empty value of a path that changed is an element to remove. */
static int change_path(WIMStruct *wim, int image, const char *path, const struct leaf_list *was,
                       const struct leaf_list *now)
{
    const char **old = calloc(was->count + 1, sizeof(char *));
    const char **new = calloc(now->count + 1, sizeof(char *));
    size_t n_old, n_new, k, kept;
    int ret = 0, same;

    if (!old || !new) {
        free(old);
        free(new);
        return WIMLIB_ERR_NOMEM;
    }
    n_old = values_of(was, path, old);
    n_new = values_of(now, path, new);
    same = n_old == n_new;
    for (k = 0; same && k < n_old; k++)
        same = !strcmp(old[k], new[k]);
    if (!same) {
        for (k = kept = 0; k < n_new; k++)
            if (*new[k])
                new[kept++] = new[k];
        n_new = kept;
        for (k = 0; !ret && k < n_new; k++)
            if (k >= n_old || strcmp(old[k], new[k]))
                ret = set_one(wim, image, path, k + 1, new[k]);
        for (k = n_old; !ret && k > n_new; k--)
            ret = set_one(wim, image, path, k, NULL);
    }
    free(old);
    free(new);
    return ret;
}

/* Every path of either list, each once. */
static int change_all(WIMStruct *wim, int image, const struct leaf_list *was, const struct leaf_list *now)
{
    const struct leaf_list *lists[2] = { now, was };
    size_t i, j, k;
    int ret = 0;

    for (k = 0; k < 2 && !ret; k++) {
        for (i = 0; i < lists[k]->count && !ret; i++) {
            const char *path = lists[k]->paths[i];
            int seen = 0;
            for (j = 0; j < i && !seen; j++)
                seen = !strcmp(lists[k]->paths[j], path);
            for (j = 0; k == 1 && j < now->count && !seen; j++)
                seen = !strcmp(now->paths[j], path);
            if (!seen)
                ret = change_path(wim, image, path, was, now);
        }
    }
    return ret;
}

static DWORD set_information(struct wg_image *img, const WCHAR *info, size_t units)
{
    struct wg_file *f = img->file;
    struct leaf_list now = {0}, was = {0};
    WCHAR *xml = NULL;
    size_t len;
    DWORD err;

    /* The text ends at its first 0, if it has one. */
    for (len = 0; len < units && info[len]; len++)
        ;
    err = read_leaves(info, len, img->index, &now);
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
    /* What the image holds now, to change only what the caller changed. */
    if (!err)
        err = wg_file_load(f);
    if (!err)
        err = file_xml(f, &xml, &len);
    if (!err)
        err = read_leaves(xml, len, img->index, &was);
    free(xml);
    if (!err) {
        int ret = change_all(f->wim, img->index, &was, &now);
        err = wg_error_from_wimlib(ret, errno);
    }
    if (err)
        wg_file_drop(f);   /* forget the half-done changes */
    else
        err = wg_file_write(f, NULL);
    wg_xml_free_leaves(now.paths, now.values, now.count);
    wg_xml_free_leaves(was.paths, was.values, was.count);
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
