/*
 * wg_wimfile.c - WIMCreateFile and the calls on a file handle.
 *
 * A file object holds at most one wimlib WIMStruct.  It is opened (or, for a
 * new file, created in memory) when first needed and dropped after every
 * write, so the next call sees the file exactly as it is on disk.  Every
 * call that changes the file writes it before returning (see wimgapi.h,
 * "Writing").
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "wg_internal.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE 1
#endif

static int open_flags(const struct wg_file *f)
{
    int flags = 0;

    if (f->flags & WIM_FLAG_VERIFY)
        flags |= WIMLIB_OPEN_FLAG_CHECK_INTEGRITY;
    if (f->access & WIM_GENERIC_WRITE)
        flags |= WIMLIB_OPEN_FLAG_WRITE_ACCESS;
    return flags;
}

/* Win32 error for a missing file: ERROR_PATH_NOT_FOUND when even its folder
 * is missing. */
static DWORD missing_file_error(const char *unix_path)
{
    char *dir = strdup(unix_path), *slash;
    struct stat st;
    DWORD err = ERROR_FILE_NOT_FOUND;

    if (!dir)
        return ERROR_NOT_ENOUGH_MEMORY;
    slash = strrchr(dir, '/');
    if (slash && slash != dir) {
        *slash = 0;
        if (stat(dir, &st) || !S_ISDIR(st.st_mode))
            err = ERROR_PATH_NOT_FOUND;
    }
    free(dir);
    return err;
}

static DWORD open_existing(struct wg_file *f)
{
    WIMStruct *wim = NULL;
    int ret;

    ret = wimlib_open_wim(f->unix_path, open_flags(f), &wim);
    if (ret) {
        int e = errno;
        if (ret == WIMLIB_ERR_OPEN && e == ENOENT)
            return missing_file_error(f->unix_path);
        return wg_error_from_wimlib(ret, e);
    }
    if (f->ref_count) {
        ret = wimlib_reference_resource_files(wim, (const char **)f->ref_paths, (unsigned)f->ref_count, 0, 0);
        if (ret) {
            int e = errno;
            wimlib_free(wim);
            return wg_error_from_wimlib(ret, e);
        }
    }
    f->wim = wim;
    return 0;
}

DWORD wg_file_load(struct wg_file *f)
{
    int ret;

    if (f->wim)
        return 0;
    if (!f->is_new)
        return open_existing(f);
    ret = wimlib_create_new_wim((enum wimlib_compression_type)f->ctype, &f->wim);
    return ret ? wg_error_from_wimlib(ret, errno) : 0;
}

void wg_file_drop(struct wg_file *f)
{
    if (f->wim) {
        wimlib_free(f->wim);
        f->wim = NULL;
    }
}

void wg_file_refresh(struct wg_file *f)
{
    /* A new file exists only in memory until it is written. */
    if (!f->is_new)
        wg_file_drop(f);
}

DWORD wg_file_check_writable(const struct wg_file *f)
{
    return (f->access & WIM_GENERIC_WRITE) ? 0 : ERROR_ACCESS_DENIED;
}

/* Renames the finished temporary file over the target. */
static DWORD put_in_place(const struct wg_file *f, const char *tmp)
{
    if (f->no_replace) {
        if (syscall(SYS_renameat2, AT_FDCWD, tmp, AT_FDCWD, f->unix_path, RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return wg_error_from_errno(errno);
        /* The file system cannot refuse to replace: check, then rename. */
        if (access(f->unix_path, F_OK) == 0)
            return ERROR_FILE_EXISTS;
    }
    return rename(tmp, f->unix_path) ? wg_error_from_errno(errno) : 0;
}

/* Writes a new file: to a temporary file beside the target, then renamed
 * over it, so the target is never seen half-written. */
static DWORD write_new(struct wg_file *f, int write_flags)
{
    size_t len = strlen(f->unix_path) + 80;
    char *tmp = malloc(len);
    char *slash;
    int fd, ret;
    DWORD err;

    if (!tmp)
        return ERROR_NOT_ENOUGH_MEMORY;
    wg_clear_leftovers(f->unix_path);
    memcpy(tmp, f->unix_path, strlen(f->unix_path) + 1);
    slash = strrchr(tmp, '/');
    snprintf(slash ? slash + 1 : tmp, len - (size_t)((slash ? slash + 1 : tmp) - tmp), "%sXXXXXX",
             wg_leftover_prefix());
    fd = mkstemp(tmp);
    if (fd < 0) {
        err = wg_error_from_errno(errno);
        free(tmp);
        return err;
    }
    fchmod(fd, 0644);
    close(fd);

    ret = wimlib_write(f->wim, tmp, WIMLIB_ALL_IMAGES, write_flags | WIMLIB_WRITE_FLAG_RETAIN_GUID, 0);
    err = ret ? wg_error_from_wimlib(ret, errno) : put_in_place(f, tmp);
    if (err)
        unlink(tmp);
    else
        f->is_new = false;
    free(tmp);
    return err;
}

/* A new file of compression type LZMS is written solid (an ESD file), and so
 * is whatever is added to a file that is solid already. */
static int solid_flag(const struct wg_file *f)
{
    struct wimlib_wim_info info;

    if (f->is_new)
        return f->ctype == WIM_COMPRESS_LZMS ? WIMLIB_WRITE_FLAG_SOLID : 0;
    if (wimlib_get_wim_info(f->wim, &info) == 0 && info.wim_version == WG_SOLID_WIM_VERSION)
        return WIMLIB_WRITE_FLAG_SOLID;
    return 0;
}

DWORD wg_file_write(struct wg_file *f, struct wg_op *op)
{
    int write_flags = (f->flags & WIM_FLAG_VERIFY) ? WIMLIB_WRITE_FLAG_CHECK_INTEGRITY : 0;
    DWORD err;
    int ret;

    if (!f->wim)
        return ERROR_INTERNAL_ERROR;
    write_flags |= solid_flag(f);
    if (op)
        wg_op_attach(op, f->wim);
    if (f->is_new) {
        err = write_new(f, write_flags);
    } else {
        /* In place: new data are appended and the header rewritten last;
         * on failure wimlib cuts the file back to its old end. */
        ret = wimlib_overwrite(f->wim, write_flags, 0);
        err = ret ? wg_error_from_wimlib(ret, errno) : 0;
    }
    if (op && op->aborted)
        err = ERROR_REQUEST_ABORTED;
    if (err)
        f->failed = true;
    wg_file_drop(f);
    return err;
}

DWORD wg_file_finish(struct wg_file *f)
{
    DWORD err;

    /* A created file that never got anything written becomes an empty WIM
     * file, unless a call on it failed: then the disk stays as it was. */
    if (!f->is_new || f->failed || !(f->access & WIM_GENERIC_WRITE))
        return 0;
    err = wg_file_load(f);
    if (!err)
        err = wg_file_write(f, NULL);
    return err;
}

int wg_file_image_count(struct wg_file *f, DWORD *err)
{
    struct wimlib_wim_info info;

    *err = wg_file_load(f);
    if (*err)
        return -1;
    wimlib_get_wim_info(f->wim, &info);
    return (int)info.image_count;
}

static int ignore_entry(const struct wimlib_dir_entry *entry, void *ctx)
{
    return 0;
}

DWORD wg_file_check_image(struct wg_file *f, int index)
{
    DWORD err;
    int count = wg_file_image_count(f, &err), ret;

    if (count < 0)
        return err;
    if (index < 1 || index > count)
        return ERROR_INVALID_PARAMETER;
    /* Reads the image's metadata resource, so a damaged one shows now. */
    ret = wimlib_iterate_dir_tree(f->wim, index, "/", 0, ignore_entry, NULL);
    return ret ? wg_error_from_wimlib(ret, errno) : 0;
}

struct wg_file *wg_file_create(const WCHAR *path, DWORD acc, DWORD disposition, DWORD flags,
                               DWORD ctype, DWORD *created, DWORD *err)
{
    const DWORD known = WIM_GENERIC_READ | WIM_GENERIC_WRITE | WIM_GENERIC_MOUNT;
    bool exists, creating;
    struct wg_file *f;
    struct stat st;

    *created = WIM_OPENED_EXISTING;
    if (!path || !(acc & (WIM_GENERIC_READ | WIM_GENERIC_WRITE)) || (acc & ~known) ||
        disposition < WIM_CREATE_NEW || disposition > WIM_OPEN_ALWAYS) {
        *err = ERROR_INVALID_PARAMETER;
        return NULL;
    }
    f = wg_file_alloc();
    if (!f) {
        *err = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    f->access = acc;
    f->flags = flags;
    f->ctype = ctype;
    f->win_path = wg_full_path(path);
    f->unix_path = f->win_path ? wc_unix_path(f->win_path) : NULL;
    if (!f->unix_path) {
        *err = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        goto fail;
    }

    if (stat(f->unix_path, &st) == 0) {
        exists = true;
        if (S_ISDIR(st.st_mode)) {
            *err = ERROR_ACCESS_DENIED;
            goto fail;
        }
    } else if (errno == ENOENT || errno == ENOTDIR) {
        exists = false;
    } else {
        *err = wg_error_from_errno(errno);
        goto fail;
    }

    if (exists && disposition == WIM_CREATE_NEW) {
        *err = ERROR_FILE_EXISTS;
        goto fail;
    }
    if (!exists && disposition == WIM_OPEN_EXISTING) {
        *err = missing_file_error(f->unix_path);
        goto fail;
    }
    creating = disposition == WIM_CREATE_NEW || disposition == WIM_CREATE_ALWAYS || !exists;
    if (creating) {
        /* A new file must be writable, have a known compression type and
         * a folder to live in. */
        if (!(acc & WIM_GENERIC_WRITE) || ctype > WIM_COMPRESS_LZMS) {
            *err = ERROR_INVALID_PARAMETER;
            goto fail;
        }
        if (!exists && missing_file_error(f->unix_path) == ERROR_PATH_NOT_FOUND) {
            *err = ERROR_PATH_NOT_FOUND;
            goto fail;
        }
        f->is_new = true;
        f->no_replace = disposition == WIM_CREATE_NEW;
        *created = WIM_CREATED_NEW;
    } else if ((acc & WIM_GENERIC_WRITE) && access(f->unix_path, W_OK) != 0) {
        *err = ERROR_ACCESS_DENIED;
        goto fail;
    }
    /* A mounted image's file is never replaced; one that a FUSE mount
     * writes to is not opened by another writer. */
    if (exists && (acc & WIM_GENERIC_WRITE)) {
        *err = wg_mount_check_writer(f->win_path, f->unix_path, creating, (acc & WIM_GENERIC_MOUNT) != 0);
        if (*err)
            goto fail;
    }
    /* One writer at a time, here or in any other process; taken before
     * the file is read, so what is read stays true while f lives. */
    if (acc & WIM_GENERIC_WRITE) {
        *err = wg_file_lock_writer(f);
        if (*err)
            goto fail;
    }
    *err = wg_file_load(f);
    if (*err)
        goto fail;
    return f;

fail:
    /* Nothing was created: make sure the release does not write. */
    f->failed = true;
    wg_file_release(f);
    return NULL;
}

struct wg_file *wg_file_attach(const WCHAR *win_path, DWORD acc, DWORD *err)
{
    struct wg_file *f = wg_file_alloc();

    if (!f) {
        *err = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    f->access = acc;
    f->win_path = wg_full_path(win_path);
    f->unix_path = f->win_path ? wc_unix_path(f->win_path) : NULL;
    *err = f->unix_path ? 0 : GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
    /* A commit writes the file: the same one-writer rule as for
     * WIMCreateFile.  The file itself is read only when needed. */
    if (!*err && (acc & WIM_GENERIC_WRITE))
        *err = wg_file_lock_writer(f);
    if (*err) {
        f->failed = true;
        wg_file_release(f);
        return NULL;
    }
    return f;
}

/* ------------------------------------------------------------------------- */
/* Exports                                                                   */
/* ------------------------------------------------------------------------- */

HANDLE WINAPI wg_CreateFile(PCWSTR path, DWORD access, DWORD disposition, DWORD flags, DWORD compression,
                            PDWORD creation_result)
{
    DWORD created, err;
    struct wg_file *f = wg_file_create(path, access, disposition, flags, compression, &created, &err);
    HANDLE h;

    if (!f)
        return wg_fail_handle(err);
    h = wg_handle_new(WG_KIND_FILE, f);
    if (!h)
        return NULL;
    if (creation_result)
        *creation_result = created;
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL WINAPI wg_CloseHandle(HANDLE object)
{
    return wg_handle_close(object);
}

BOOL WINAPI wg_SetTemporaryPath(HANDLE wim, PCWSTR path)
{
    struct wg_file *f = wg_file_get(wim);
    WCHAR *full;
    DWORD attr;

    if (!f)
        return FALSE;
    full = wg_full_path(path);
    attr = full ? GetFileAttributesW(full) : INVALID_FILE_ATTRIBUTES;
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY)) {
        free(full);
        /* The caller goes on without the folder or gives up; either way a
         * file created on this handle must not be made by the close, or an
         * empty WIM would take the place of the file it was to replace. */
        EnterCriticalSection(&f->lock);
        f->failed = true;
        LeaveCriticalSection(&f->lock);
        wg_file_release(f);
        return wg_fail(path ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    }
    EnterCriticalSection(&f->lock);
    free(f->temp_path);
    f->temp_path = full;
    LeaveCriticalSection(&f->lock);
    wg_file_release(f);
    return wg_ok();
}

static void fill_info(const struct wg_file *f, const struct wimlib_wim_info *wi, WIM_INFO *info)
{
    size_t len = wc_len(f->win_path);

    memset(info, 0, sizeof(*info));
    if (len >= MAX_PATH)
        len = MAX_PATH - 1;
    memcpy(info->WimPath, f->win_path, len * sizeof(WCHAR));
    memcpy(&info->Guid, wi->guid, sizeof(info->Guid));
    info->ImageCount = wi->image_count;
    info->CompressionType = (DWORD)wi->compression_type;
    info->PartNumber = wi->part_number;
    info->TotalParts = wi->total_parts;
    info->BootIndex = wi->boot_index;
    if (wi->part_number > 1)
        info->WimAttributes |= WIM_ATTRIBUTE_RESOURCE_ONLY;
    if (wi->has_integrity_table)
        info->WimAttributes |= WIM_ATTRIBUTE_VERIFY_DATA;
    if (wi->has_rpfix)
        info->WimAttributes |= WIM_ATTRIBUTE_RP_FIX;
    if (wi->total_parts > 1 || wi->spanned)
        info->WimAttributes |= WIM_ATTRIBUTE_SPANNED;
    if (wi->is_marked_readonly || (wi->is_readonly && !f->is_new))
        info->WimAttributes |= WIM_ATTRIBUTE_READONLY;
    info->WimFlagsAndAttr = f->flags;
}

BOOL WINAPI wg_GetAttributes(HANDLE wim, PWIM_INFO info, DWORD size)
{
    struct wimlib_wim_info wi;
    struct wg_file *f;
    DWORD err;

    if (!info)
        return wg_fail(ERROR_INVALID_PARAMETER);
    if (size < sizeof(WIM_INFO))
        return wg_fail(ERROR_INSUFFICIENT_BUFFER);
    f = wg_file_get(wim);
    if (!f)
        return FALSE;
    EnterCriticalSection(&f->lock);
    err = wg_file_load(f);
    if (!err) {
        wimlib_get_wim_info(f->wim, &wi);
        fill_info(f, &wi, info);
    }
    LeaveCriticalSection(&f->lock);
    wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}

DWORD WINAPI wg_GetImageCount(HANDLE wim)
{
    struct wg_file *f = wg_file_get(wim);
    DWORD err;
    int count;

    if (!f)
        return 0;
    EnterCriticalSection(&f->lock);
    count = wg_file_image_count(f, &err);
    LeaveCriticalSection(&f->lock);
    wg_file_release(f);
    if (count < 0) {
        SetLastError(err);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    return (DWORD)count;
}

HANDLE WINAPI wg_LoadImage(HANDLE wim, DWORD index)
{
    struct wg_file *f = wg_file_get(wim);
    struct wg_image *img = NULL;
    DWORD err;

    if (!f)
        return NULL;
    EnterCriticalSection(&f->lock);
    err = index > INT32_MAX ? ERROR_INVALID_PARAMETER : wg_file_check_image(f, (int)index);
    LeaveCriticalSection(&f->lock);
    if (!err) {
        img = wg_image_alloc(f, (int)index);
        if (!img)
            err = ERROR_NOT_ENOUGH_MEMORY;
    }
    wg_file_release(f);
    if (err)
        return wg_fail_handle(err);
    return wg_ok_handle(wg_handle_new(WG_KIND_IMAGE, img));
}

/* Replaces or extends the list of referenced parts and references them. */
static DWORD set_references(struct wg_file *f, char **paths, size_t count, bool replace)
{
    size_t i, n = replace ? count : f->ref_count + count;
    char **list = malloc((n ? n : 1) * sizeof(*list));
    DWORD err;
    int ret;

    if (!list)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!replace)
        memcpy(list, f->ref_paths, f->ref_count * sizeof(*list));
    memcpy(list + (replace ? 0 : f->ref_count), paths, count * sizeof(*list));

    if (replace || !f->wim) {
        /* Open afresh with the new list. */
        char **old = f->ref_paths;
        size_t old_count = f->ref_count;
        wg_file_drop(f);
        f->ref_paths = list;
        f->ref_count = n;
        err = wg_file_load(f);
        if (err) {
            f->ref_paths = old;
            f->ref_count = old_count;
            free(list);
            return err;
        }
        if (replace) {
            for (i = 0; i < old_count; i++)
                wc_free(old[i]);
        }
        free(old);
        return 0;
    }
    ret = wimlib_reference_resource_files(f->wim, (const char **)paths, (unsigned)count, 0, 0);
    if (ret) {
        int e = errno;
        free(list);
        /* wimlib may have kept part of the list: start again from disk. */
        wg_file_drop(f);
        err = wg_error_from_wimlib(ret, e);
        return err == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : err;
    }
    free(f->ref_paths);
    f->ref_paths = list;
    f->ref_count = n;
    return 0;
}

BOOL WINAPI wg_SetReferenceFile(HANDLE wim, PCWSTR path, DWORD flags)
{
    struct wg_file *f;
    char **paths = NULL;
    size_t count = 0, i;
    DWORD err;

    if (!path || (flags & WIM_REFERENCE_APPEND && flags & WIM_REFERENCE_REPLACE))
        return wg_fail(ERROR_INVALID_PARAMETER);
    f = wg_file_get(wim);
    if (!f)
        return FALSE;
    err = wc_expand_glob(path, &paths, &count);
    if (!err && !count)
        err = ERROR_FILE_NOT_FOUND;
    if (!err) {
        EnterCriticalSection(&f->lock);
        err = set_references(f, paths, count, (flags & WIM_REFERENCE_REPLACE) != 0);
        LeaveCriticalSection(&f->lock);
    }
    if (err) {
        for (i = 0; i < count; i++)
            wc_free(paths[i]);
    }
    free(paths);   /* the strings now belong to f->ref_paths */
    wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}

BOOL WINAPI wg_SetBootImage(HANDLE wim, DWORD index)
{
    struct wimlib_wim_info info;
    struct wg_file *f = wg_file_get(wim);
    DWORD err;
    int count;

    if (!f)
        return FALSE;
    EnterCriticalSection(&f->lock);
    err = wg_file_check_writable(f);
    if (!err)
        wg_file_refresh(f);
    count = err ? 0 : wg_file_image_count(f, &err);
    if (!err && index > (DWORD)count)
        err = ERROR_INVALID_PARAMETER;
    if (!err) {
        wimlib_get_wim_info(f->wim, &info);
        if (info.boot_index != index) {
            info.boot_index = index;
            err = wg_error_from_wimlib(wimlib_set_wim_info(f->wim, &info, WIMLIB_CHANGE_BOOT_INDEX), errno);
            if (!err)
                err = wg_file_write(f, NULL);
        }
    }
    LeaveCriticalSection(&f->lock);
    wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}

BOOL WINAPI wg_DeleteImage(HANDLE wim, DWORD index)
{
    struct wg_file *f = wg_file_get(wim);
    struct wg_image *img;
    DWORD err;
    int count;

    if (!f)
        return FALSE;
    EnterCriticalSection(&f->lock);
    err = wg_file_check_writable(f);
    if (!err)
        wg_file_refresh(f);
    count = err ? 0 : wg_file_image_count(f, &err);
    if (!err && (index < 1 || index > (DWORD)count))
        err = ERROR_INVALID_PARAMETER;
    /* Keep the numbers of open and mounted images meaningful. */
    for (img = f->images; img && !err; img = img->next)
        if (img->index == (int)index)
            err = ERROR_SHARING_VIOLATION;
    if (!err && wg_mount_uses_file(f->win_path))
        err = ERROR_SHARING_VIOLATION;
    if (!err) {
        err = wg_error_from_wimlib(wimlib_delete_image(f->wim, (int)index), errno);
        if (!err)
            err = wg_file_write(f, NULL);
        else
            wg_file_drop(f);
    }
    if (!err) {
        for (img = f->images; img; img = img->next)
            if (img->index > (int)index)
                img->index--;
    }
    LeaveCriticalSection(&f->lock);
    wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}
