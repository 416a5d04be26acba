/*
 * wg_transfer.c - WIMApplyImage, WIMExportImage and WIMSplitFile.
 *
 * Apply extracts an image into a folder (created when only its last
 * component is missing).  Export copies an image into another file and
 * writes that file before returning.  Split writes every part under a
 * temporary name beside its final one and renames the parts only when all
 * of them are complete, so an aborted or failed split leaves no part behind
 * and replaces no existing file.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wg_internal.h"

/* ------------------------------------------------------------------------- */
/* Apply                                                                     */
/* ------------------------------------------------------------------------- */

/* Extracts image index of f into the folder at path; used by mounting too. */
DWORD wg_apply(struct wg_file *f, int index, const WCHAR *path, DWORD flags)
{
    WCHAR *full = NULL, *prefix = NULL;
    char *target = NULL;
    struct wg_op op;
    int extract_flags = 0, ret;
    DWORD err;

    err = wg_op_init(&op, WG_OP_APPLY, f, NULL);
    if (err)
        goto out;
    full = wg_full_path(path);
    target = full ? wc_unix_path(full) : NULL;
    if (!target) {
        err = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        goto out;
    }
    prefix = wg_message_root(path, full);
    err = prefix ? wg_file_check_image(f, index) : ERROR_NOT_ENOUGH_MEMORY;
    if (!err)
        err = wg_pacer_build(&op, f->wim, index, prefix);
    if (err)
        goto out;

    if (flags & WIM_FLAG_NO_APPLY) {
        /* Only tell the callbacks what would be applied. */
        wg_pacer_finish(&op);
        err = op.aborted ? ERROR_REQUEST_ABORTED : 0;
        goto out;
    }
    if (flags & (WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL))
        extract_flags |= WIMLIB_EXTRACT_FLAG_NO_ACLS;
    wg_op_attach(&op, f->wim);
    ret = wimlib_extract_image(f->wim, index, target, extract_flags);
    wg_op_detach(&op, f->wim);
    if (ret) {
        int e = errno;
        err = op.aborted ? ERROR_REQUEST_ABORTED : wg_error_from_wimlib(ret, e);
    } else {
        wg_pacer_finish(&op);
        wg_op_progress(&op, 1, 1);
    }
out:
    wg_op_free(&op);
    free(full);
    wc_free(prefix);
    wc_free(target);
    return err;
}

BOOL WINAPI wg_ApplyImage(HANDLE image, PCWSTR path, DWORD flags)
{
    struct wg_image *img;
    DWORD err;

    if (!path)
        return wg_fail(ERROR_INVALID_PARAMETER);
    img = wg_image_get(image);
    if (!img)
        return FALSE;
    EnterCriticalSection(&img->file->lock);
    err = img->index ? wg_apply(img->file, img->index, path, flags) : ERROR_INVALID_PARAMETER;
    LeaveCriticalSection(&img->file->lock);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

/* ------------------------------------------------------------------------- */
/* Export                                                                    */
/* ------------------------------------------------------------------------- */

/* A name for the copy that no image of dest uses: "<name> (2)", ... */
static char *free_name(WIMStruct *dest, const char *name)
{
    size_t len = strlen(name) + 16;
    char *candidate = malloc(len);
    unsigned n;

    for (n = 2; candidate && n < 100000; n++) {
        snprintf(candidate, len, "%s (%u)", name, n);
        if (!wimlib_image_name_in_use(dest, candidate))
            return candidate;
    }
    free(candidate);
    return NULL;
}

static DWORD export_image(struct wg_file *src, int index, struct wg_file *dest, DWORD flags)
{
    const char *name;
    char *new_name = NULL;
    struct wg_op op;
    DWORD err;
    int ret;

    err = wg_op_init(&op, WG_OP_EXPORT, src, dest);
    if (!err)
        err = wg_file_check_writable(dest);
    if (!err)
        err = index ? wg_file_check_image(src, index) : ERROR_INVALID_PARAMETER;
    if (!err) {
        /* Another program may have changed the file since it was read. */
        wg_file_refresh(dest);
        err = wg_file_load(dest);
    }
    if (err)
        goto out;

    /* wimlib keeps image names unique within a file. */
    name = wimlib_get_image_name(src->wim, index);
    if (name && *name && wimlib_image_name_in_use(dest->wim, name)) {
        if (!(flags & WIM_EXPORT_ALLOW_DUPLICATES)) {
            err = ERROR_ALREADY_EXISTS;
            goto out;
        }
        new_name = free_name(dest->wim, name);
        if (!new_name) {
            err = ERROR_NOT_ENOUGH_MEMORY;
            goto out;
        }
    }
    err = wg_pacer_build(&op, src->wim, index, L"");
    if (err)
        goto out;

    ret = wimlib_export_image(src->wim, index, dest->wim, new_name, NULL, 0);
    if (ret) {
        err = wg_error_from_wimlib(ret, errno);
        dest->failed = true;
        wg_file_drop(dest);
        goto out;
    }
    err = wg_file_write(dest, &op);
    if (!err) {
        wg_pacer_finish(&op);
        wg_op_progress(&op, 1, 1);
    }
out:
    wg_op_free(&op);
    free(new_name);
    return err;
}

BOOL WINAPI wg_ExportImage(HANDLE image, HANDLE dest_wim, DWORD flags)
{
    struct wg_image *img;
    struct wg_file *dest, *first, *second;
    DWORD err;

    if (flags & (WIM_EXPORT_ONLY_RESOURCES | WIM_EXPORT_ONLY_METADATA))
        return wg_fail(ERROR_NOT_SUPPORTED);
    img = wg_image_get(image);
    if (!img)
        return FALSE;
    dest = wg_file_get(dest_wim);
    if (!dest) {
        wg_image_release(img);
        return FALSE;
    }
    if (dest == img->file) {
        err = ERROR_NOT_SUPPORTED;
    } else {
        /* Lock in a fixed order so two opposite exports cannot deadlock. */
        first = img->file < dest ? img->file : dest;
        second = img->file < dest ? dest : img->file;
        EnterCriticalSection(&first->lock);
        EnterCriticalSection(&second->lock);
        err = export_image(img->file, img->index, dest, flags);
        LeaveCriticalSection(&second->lock);
        LeaveCriticalSection(&first->lock);
    }
    wg_file_release(dest);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

/* ------------------------------------------------------------------------- */
/* Split                                                                     */
/* ------------------------------------------------------------------------- */

struct split_state {
    const WCHAR *win_first;    /* full Windows path of the first part */
    const char *unix_first;
    const char *source;        /* the file being split */
    bool overwrites_source;
    LARGE_INTEGER size;
    char **finals, **temps;    /* per part, 0-based */
    size_t count;
};

/* Name of part n: the first part's name with n put before its extension
 * ("a.swm" -> "a2.swm", "a" -> "a2"); the extension is looked for in the
 * last component only. */
static size_t unix_extension(const char *path)
{
    size_t len = strlen(path), i;

    for (i = len; i > 0 && path[i - 1] != '/'; i--)
        if (path[i - 1] == '.')
            return i - 1;
    return len;
}

static size_t win_extension(const WCHAR *path)
{
    size_t len = wc_len(path), i;

    for (i = len; i > 0 && path[i - 1] != '\\' && path[i - 1] != '/'; i--)
        if (path[i - 1] == '.')
            return i - 1;
    return len;
}

static char *unix_part_name(const char *first, unsigned n)
{
    size_t dot = unix_extension(first), len = strlen(first) + 16;
    char *name = malloc(len);

    if (name)
        snprintf(name, len, "%.*s%u%s", (int)dot, first, n, first + dot);
    return name;
}

static WCHAR *win_part_name(const WCHAR *first, unsigned n)
{
    size_t dot = win_extension(first), len = wc_len(first), nd, i;
    char digits[16];
    WCHAR *name;

    nd = (size_t)snprintf(digits, sizeof(digits), "%u", n);
    name = malloc((len + nd + 1) * sizeof(WCHAR));
    if (!name)
        return NULL;
    memcpy(name, first, dot * sizeof(WCHAR));
    for (i = 0; i < nd; i++)
        name[dot + i] = (WCHAR)digits[i];
    memcpy(name + dot + nd, first + dot, (len - dot + 1) * sizeof(WCHAR));
    return name;
}

/* A temporary name beside the final one. */
static char *temp_part_name(const char *final, unsigned n)
{
    size_t len = strlen(final) + 64;
    char *name = malloc(len + 64);
    const char *slash = strrchr(final, '/');
    int dir_len = slash ? (int)(slash - final + 1) : 0;

    static LONG counter;

    if (name)
        snprintf(name, len + 64, "%.*s%s%ld-%u.part", dir_len, final, wg_leftover_prefix(),
                 (long)InterlockedIncrement(&counter), n);
    return name;
}

static int split_begin(struct wg_op *op, union wimlib_progress_info *info)
{
    struct split_state *s = op->split_ctx;
    unsigned n = info->split.cur_part_number;
    char **grown;
    WCHAR *win_name;
    LARGE_INTEGER size = s->size;

    if (n == 0 || n != s->count + 1)
        return 1;
    grown = realloc(s->finals, n * sizeof(*grown));
    if (grown)
        s->finals = grown;
    grown = grown ? realloc(s->temps, n * sizeof(*grown)) : NULL;
    if (!grown)
        return 1;
    s->temps = grown;
    s->finals[n - 1] = n == 1 ? strdup(s->unix_first) : unix_part_name(s->unix_first, n);
    s->temps[n - 1] = s->finals[n - 1] ? temp_part_name(s->finals[n - 1], n) : NULL;
    s->count = n;
    if (!s->temps[n - 1])
        return 1;
    if (!strcmp(s->finals[n - 1], s->source)) {
        /* A part would replace the file it comes from. */
        s->overwrites_source = true;
        return 1;
    }

    win_name = n == 1 ? wc_dup(s->win_first) : win_part_name(s->win_first, n);
    if (win_name) {
        wg_op_send(op, WIM_MSG_SPLIT, (WPARAM)win_name, (LPARAM)&size);
        free(win_name);
    }
    if (op->aborted)
        return 1;
    info->split.part_name = s->temps[n - 1];
    return 0;
}

/* Moves the files that part i replaces out of the way, or puts them back. */
static char *backup_name(const struct split_state *s, size_t i)
{
    size_t len = strlen(s->temps[i]) + 8;
    char *name = malloc(len);

    if (name)
        snprintf(name, len, "%s.old", s->temps[i]);
    return name;
}

/* Undoes the first n renames of put_parts_in_place. */
static void roll_back_parts(struct split_state *s, size_t n, bool *had_old)
{
    size_t i;

    for (i = n; i-- > 0;) {
        char *backup = backup_name(s, i);
        /* The new part goes back to its temporary name (deleted later). */
        rename(s->finals[i], s->temps[i]);
        if (had_old[i] && backup)
            rename(backup, s->finals[i]);
        free(backup);
    }
}

/* Renames every finished part to its final name.  A file a part replaces
 * is first renamed aside and deleted only once every part is in place; if
 * a rename fails, everything done so far is undone, so the folder holds
 * either the whole new set or what it held before.  A folder in a part's
 * place is never moved. */
static DWORD put_parts_in_place(struct split_state *s)
{
    bool *had_old = calloc(s->count ? s->count : 1, sizeof(*had_old));
    struct stat st;
    DWORD err = had_old ? 0 : ERROR_NOT_ENOUGH_MEMORY;
    size_t i, done = 0;

    for (i = 0; i < s->count && !err; i++) {
        char *backup = backup_name(s, i);
        if (!backup) {
            err = ERROR_NOT_ENOUGH_MEMORY;
        } else if (lstat(s->finals[i], &st) == 0) {
            if (S_ISDIR(st.st_mode))
                err = ERROR_ACCESS_DENIED;
            else if (rename(s->finals[i], backup))
                err = wg_error_from_errno(errno);
            else
                had_old[i] = true;
        }
        if (!err && rename(s->temps[i], s->finals[i])) {
            err = wg_error_from_errno(errno);
            if (had_old[i])
                rename(backup, s->finals[i]);
            had_old[i] = false;
        }
        if (!err)
            done = i + 1;
        free(backup);
    }
    if (err) {
        roll_back_parts(s, done, had_old);
    } else {
        for (i = 0; i < s->count; i++) {
            char *backup = had_old[i] ? backup_name(s, i) : NULL;
            if (backup)
                unlink(backup);
            free(backup);
        }
    }
    free(had_old);
    return err;
}

/* Largest resource (file data or metadata) as stored in the file. */
static int largest_resource(const struct wimlib_resource_entry *r, void *ctx)
{
    uint64_t *max = ctx;
    uint64_t size = r->packed ? r->raw_resource_compressed_size : r->compressed_size;

    if (size > *max)
        *max = size;
    return 0;
}

static DWORD split(struct wg_file *f, const WCHAR *part_path, LARGE_INTEGER size)
{
    struct split_state s = {0};
    struct wimlib_wim_info info;
    WCHAR *full = NULL;
    char *unix_first = NULL;
    uint64_t max = 0;
    struct wg_op op;
    size_t i;
    DWORD err;
    int ret;

    err = wg_op_init(&op, WG_OP_SPLIT, f, NULL);
    if (!err)
        err = wg_file_load(f);
    if (err)
        goto out;
    wimlib_get_wim_info(f->wim, &info);
    if (info.total_parts != 1) {
        err = ERROR_NOT_SUPPORTED;
        goto out;
    }
    wimlib_iterate_lookup_table(f->wim, 0, largest_resource, &max);
    if (size.QuadPart <= 0 || max > (uint64_t)size.QuadPart) {
        err = ERROR_MORE_DATA;
        goto out;
    }
    full = wg_full_path(part_path);
    unix_first = full ? wc_unix_path(full) : NULL;
    if (!unix_first) {
        err = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        goto out;
    }

    wg_clear_leftovers(unix_first);
    s.win_first = full;
    s.unix_first = unix_first;
    s.source = f->unix_path;
    s.size = size;
    op.split_ctx = &s;
    op.split_begin = split_begin;
    wg_op_attach(&op, f->wim);
    ret = wimlib_split(f->wim, unix_first, (uint64_t)size.QuadPart,
                       info.has_integrity_table ? WIMLIB_WRITE_FLAG_CHECK_INTEGRITY : 0);
    wg_op_detach(&op, f->wim);
    if (ret) {
        int e = errno;
        err = op.aborted ? ERROR_REQUEST_ABORTED
              : s.overwrites_source ? ERROR_INVALID_PARAMETER : wg_error_from_wimlib(ret, e);
    }
    /* All parts are complete: give them their names, all or none. */
    if (!err)
        err = put_parts_in_place(&s);
    if (!err)
        wg_op_progress(&op, 1, 1);
out:
    for (i = 0; i < s.count; i++) {
        if (s.temps[i])
            unlink(s.temps[i]);   /* only left over after a failure */
        free(s.temps[i]);
        free(s.finals[i]);
    }
    free(s.temps);
    free(s.finals);
    wg_op_free(&op);
    free(full);
    wc_free(unix_first);
    return err;
}

BOOL WINAPI wg_SplitFile(HANDLE wim, PCWSTR part_path, PLARGE_INTEGER part_size, DWORD flags)
{
    struct wg_file *f;
    DWORD err;

    if (!part_path || !part_size)
        return wg_fail(ERROR_INVALID_PARAMETER);
    f = wg_file_get(wim);
    if (!f)
        return FALSE;
    EnterCriticalSection(&f->lock);
    err = split(f, part_path, *part_size);
    LeaveCriticalSection(&f->lock);
    wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}
