/*
 * bridge_extract.c - libwim-15.dll: extraction, and iteration over the
 * directory tree and the lookup table of an image.
 */
#include "bridge_private.h"

int EXPORT bridge_extract_image(WIMStruct *wim, int image, const WCHAR *target, int extract_flags)
{
    char *utarget;
    int ret;

    if (!path_arg(target, &utarget))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_extract_image(wim, image, utarget, extract_flags);
    free(utarget);
    return ret;
}

int EXPORT bridge_extract_paths(WIMStruct *wim, int image, const WCHAR *target,
                                const WCHAR *const *paths, size_t num_paths, int extract_flags)
{
    char *utarget;
    char **upaths;
    int ret;

    if (num_paths && !paths)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!path_arg(target, &utarget))
        return conv_error(WIMLIB_ERR_OPEN);
    upaths = string_array(paths, num_paths, wc_image_path_to_unix);
    if (!upaths)
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_extract_paths(wim, image, utarget, (const char *const *)upaths, num_paths,
                                   extract_flags);
    free_string_array(upaths, num_paths);
    free(utarget);
    return ret;
}

int EXPORT bridge_extract_pathlist(WIMStruct *wim, int image, const WCHAR *target,
                                   const WCHAR *path_list_file, int extract_flags)
{
    char *utarget, *ulist = NULL;
    int ret;

    if (!path_arg(target, &utarget))
        return conv_error(WIMLIB_ERR_OPEN);
    if (path_list_file && !(ulist = unix_path_list(path_list_file, &ret))) {
        free(utarget);
        return ret;
    }
    ret = wimlib_extract_pathlist(wim, image, utarget, ulist, extract_flags);
    if (ulist)
        unlink(ulist);
    free(ulist);
    free(utarget);
    return ret;
}

/* ------------------------------------------------------------------------- */
/* Directory tree and lookup table                                           */
/* ------------------------------------------------------------------------- */

struct dir_tree_call {
    pe_dir_tree_func func;
    void *ctx;
};

/* Writes the UTF-16 form of `s` at *at (room for strlen(s) + 1 units) and
 * moves *at past it; "/" becomes "\\" in a path inside an image. */
static WCHAR *put_text(WCHAR **at, const char *s, int image_path)
{
    WCHAR *start = *at, *p;
    size_t n;

    if (!s)
        return NULL;
    n = wc_from_utf8_into(start, s, strlen(s));
    if (image_path)
        for (p = start; p < start + n; p++)
            if (*p == '/')
                *p = '\\';
    *at = start + n + 1;
    return start;
}

/* Hands one entry, with UTF-16 names and "\\" paths, to the caller. The
 * copy and its texts are made in one block, on the stack when they fit: a
 * folder of many entries costs no allocation per entry. */
static int dir_tree_bridge(const struct wimlib_dir_entry *e, void *ctx)
{
    struct dir_tree_call *call = ctx;
    size_t nstreams = (size_t)e->num_named_streams + 1, i, units = 0;
    size_t head = offsetof(struct wimlib_dir_entry, streams) + nstreams * sizeof(struct wimlib_stream_entry);
    unsigned long long local[512];
    unsigned char *block;
    struct wimlib_dir_entry *pe;
    WCHAR *text;
    int ret;

    if (e->filename)
        units += strlen(e->filename) + 1;
    if (e->dos_name)
        units += strlen(e->dos_name) + 1;
    if (e->full_path)
        units += strlen(e->full_path) + 1;
    for (i = 0; i < nstreams; i++)
        if (e->streams[i].stream_name)
            units += strlen(e->streams[i].stream_name) + 1;
    if (head + units * sizeof(WCHAR) <= sizeof(local))
        block = (unsigned char *)local;
    else if (!(block = malloc(head + units * sizeof(WCHAR))))
        return WIMLIB_ERR_NOMEM;
    pe = (struct wimlib_dir_entry *)block;
    memcpy(pe, e, head);
    text = (WCHAR *)(block + head);
    pe->filename = PE_STR(put_text(&text, e->filename, 0));
    pe->dos_name = PE_STR(put_text(&text, e->dos_name, 0));
    pe->full_path = PE_STR(put_text(&text, e->full_path, 1));
    for (i = 0; i < nstreams; i++)
        pe->streams[i].stream_name = PE_STR(put_text(&text, e->streams[i].stream_name, 0));
    ret = call->func(pe, call->ctx);
    if (block != (unsigned char *)local)
        free(block);
    return ret;
}

int EXPORT bridge_iterate_dir_tree(WIMStruct *wim, int image, const WCHAR *path, int flags,
                                   pe_dir_tree_func func, void *ctx)
{
    struct dir_tree_call call = {func, ctx};
    char *upath;
    int ret;

    if (!func)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!image_path_arg(path, &upath))
        return conv_error(WIMLIB_ERR_INVALID_PARAM);
    ret = wimlib_iterate_dir_tree(wim, image, upath, flags, dir_tree_bridge, &call);
    free(upath);
    return ret;
}

struct lookup_table_call {
    pe_lookup_table_func func;
    void *ctx;
};

static int lookup_table_bridge(const struct wimlib_resource_entry *entry, void *ctx)
{
    struct lookup_table_call *call = ctx;
    return call->func(entry, call->ctx);
}

int EXPORT bridge_iterate_lookup_table(WIMStruct *wim, int flags, pe_lookup_table_func func, void *ctx)
{
    struct lookup_table_call call = {func, ctx};

    if (!func)
        return WIMLIB_ERR_INVALID_PARAM;
    return wimlib_iterate_lookup_table(wim, flags, lookup_table_bridge, &call);
}

