/*
 * wg_mount.c - mounting, and the exports that list the mounts (committing,
 * discarding and unmounting: wg_commit.c).
 *
 * A mount is a FUSE file system served from the WIM by a process of its own
 * (wg_fuse.c) where FUSE can be used, else an extracted copy of the image in
 * the mount folder; either way plus a record in the mount list
 * (wg_mountlist.c), shared by every process of the Wine prefix, so a later
 * process finds the mounts of an earlier one.  The record says which kind
 * the mount is.
 *
 * A FUSE mount's commit stores only what was changed and keeps everything
 * else of the image as it was; a read-only one refuses every write.  An
 * extracted copy is stored whole again by a commit.  A read-only copy has
 * the write permission taken away from the folder and the extracted tree;
 * unmounting gives the folder its old mode back and empties it, and the
 * folder itself stays.  Before emptying, the record is marked so: an
 * unmount that stops half-way leaves a record that can only be discarded.
 *
 * The list is locked only for short updates.  A mount first claims the
 * folder and the image with a pending record, extracts without the lock,
 * then marks the record mounted.  A commit or an unmount first marks the
 * record busy (naming its process); another commit or unmount of the same
 * mount, in any process, then fails with ERROR_BUSY until the first one
 * ends.  An unmount empties the folder while the record is still there and
 * busy, so no new mount can claim the folder half-way, and drops the record
 * last.
 *
 * Records that no longer match the disk (WIM file or mount folder gone,
 * folder replaced, mounting process died half-way) are listed with
 * WIM_MOUNT_FLAG_INVALID; unmounting such a record without commit discards
 * what is left of it and drops it.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "wg_internal.h"

/* Longest path a mount record can hold whole. */
#define MAX_MOUNT_PATH (MAX_PATH - 1)

/* ------------------------------------------------------------------------- */
/* Mounting                                                                  */
/* ------------------------------------------------------------------------- */

/* Claims the folder and the image with a pending record, before the long
 * extraction, so that no other thread or process can take either. */
static DWORD claim_mount(const struct wg_file *f, int index, const WCHAR *folder, const char *unix_folder, bool rw,
                         bool fuse, char *staging)
{
    struct wg_mount_rec rec = {0};
    struct wg_mount_list l;
    DWORD err = wg_list_open(&l);

    if (err)
        return err;
    if (wg_list_find_folder(&l, folder) >= 0 || wg_list_find_image(&l, f->win_path, (DWORD)index) >= 0)
        err = ERROR_BUSY;
    if (!err)
        err = wg_folder_check(unix_folder);
    if (!err)
        err = wg_record_folder(&rec, unix_folder);
    /* The file as it is now: a commit goes only into this very file. */
    if (!err)
        err = wg_record_wim(&rec, f->unix_path);
    if (!err) {
        rec.image_id = wg_image_identity(f->wim, index);
        rec.pending = true;
        rec.index = (DWORD)index;
        rec.rw = rw;
        rec.wim_path = f->win_path;
        rec.mount_path = (WCHAR *)folder;
        rec.kind = fuse ? WG_MOUNT_FUSE : WG_MOUNT_COPY;
        rec.staging = staging;
        wg_owner_self(&rec.owner);
        if (!wg_list_add(&l, &rec))
            err = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!err)
        err = wg_list_save(&l);
    /* What mounts that are over left staged and empty goes now. */
    if (!err)
        wg_fuse_sweep_staging(&l);
    wg_list_close(&l);
    free(rec.image_id);
    return err;
}

/* Turns the pending record into a mounted one, or drops it. */
static DWORD settle_mount(const WCHAR *folder, bool mounted, bool fuse)
{
    struct wg_mount_list l;
    DWORD err = wg_list_open(&l);
    long i;

    if (err)
        return err;
    i = wg_list_find_folder(&l, folder);
    if (i >= 0 && mounted) {
        l.recs[i].pending = false;
        l.recs[i].kind = fuse ? WG_MOUNT_FUSE : WG_MOUNT_COPY;
        if (!fuse) {
            free(l.recs[i].staging);
            l.recs[i].staging = NULL;
        }
    }
    else if (i >= 0)
        wg_list_remove(&l, (size_t)i);
    err = wg_list_save(&l);
    wg_list_close(&l);
    return err;
}

/* A dead FUSE endpoint at the folder that no record owns (or only a
 * read-only one, which has nothing to lose) is released before a new mount
 * takes the folder. */
static void clear_dead_endpoint(const WCHAR *folder, const char *unix_folder)
{
    struct wg_mount_list l;
    long i;

    if (wg_fuse_state(unix_folder) != WG_FUSE_DEAD || wg_list_open(&l))
        return;
    i = wg_list_find_folder(&l, folder);
    if (i < 0 || (!l.recs[i].rw && !wg_record_busy(&l.recs[i]))) {
        if (!wg_fuse_release(unix_folder) && i >= 0) {
            wg_list_remove(&l, (size_t)i);
            wg_list_save(&l);
        }
    }
    wg_list_close(&l);
}

/* The messages of a mount that extracts nothing: every item of the image,
 * as an extraction would report them. */
static DWORD report_items(struct wg_image *img, const WCHAR *folder)
{
    if (!wg_callbacks_count(img->file) && !wg_callbacks_count(NULL))
        return 0;
    return wg_apply(img->file, img->index, folder, WIM_FLAG_NO_APPLY);
}

/* True when a FUSE mount failed for want of FUSE (wimlib-imagex missing
 * or FUSE refusing: the library's own error code says so) rather than for
 * the image or the file, which an extraction would not get past either. */
static bool fuse_refused(DWORD err)
{
    return err == ERROR_NOT_SUPPORTED || err == ERROR_FILE_NOT_FOUND || err == ERROR_GEN_FAILURE;
}

/* Why a writable mount of f could never be saved: a file marked read-only
 * or a part of a split set.  0 when it can be written. */
static DWORD never_writable(struct wg_file *f)
{
    struct wimlib_wim_info info;
    DWORD err = wg_file_load(f);

    if (err)
        return err;
    memset(&info, 0, sizeof(info));
    if (wimlib_get_wim_info(f->wim, &info))
        return 0;
    return info.is_marked_readonly || info.total_parts > 1 ? ERROR_FILE_READ_ONLY : 0;
}

/* The parts of a split set the FUSE process needs: every other part,
 * referenced by the caller.  False when some are missing (the extracted
 * copy then reads what it can and fails plainly on what it cannot). */
static bool fuse_has_parts(struct wg_file *f)
{
    struct wimlib_wim_info info;

    memset(&info, 0, sizeof(info));
    if (wg_file_load(f) || wimlib_get_wim_info(f->wim, &info))
        return false;
    return info.total_parts <= 1 || f->ref_count + 1 >= info.total_parts;
}

static DWORD fuse_mount(struct wg_image *img, const WCHAR *folder, const char *unix_folder, bool rw,
                        const char *staging)
{
    struct wg_file *f = img->file;
    DWORD err = report_items(img, folder);

    return err ? err
               : wg_fuse_mount_refs(f->unix_path, img->index, unix_folder, rw, staging, f->ref_paths, f->ref_count);
}

static DWORD copy_mount(struct wg_image *img, const WCHAR *folder, const char *unix_folder, bool rw, DWORD flags)
{
    DWORD err = wg_apply(img->file, img->index, folder, flags & (WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL));

    if (err) {
        /* A failed mount leaves the folder as empty as it found it. */
        wg_folder_empty(unix_folder);
        return err;
    }
    if (!rw)
        wg_folder_protect(unix_folder);
    return 0;
}

/* Mounts image img (of a file opened with mount access) at mount_path. */
static DWORD mount_image(struct wg_image *img, const WCHAR *mount_path, DWORD flags)
{
    struct wg_file *f = img->file;
    bool rw = !(flags & WIM_FLAG_MOUNT_READONLY);
    WCHAR *full = NULL;
    char *unix_path = NULL, *staging = NULL;
    bool fuse = wg_fuse_usable();
    DWORD err;

    if (!img->index)
        return ERROR_INVALID_PARAMETER;
    if (!(f->access & WIM_GENERIC_MOUNT) || (rw && !(f->access & WIM_GENERIC_WRITE)))
        return ERROR_ACCESS_DENIED;
    full = wg_full_path(mount_path);
    if (!full)
        return GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
    /* The list and its readers keep MAX_PATH characters per path. */
    if (wc_len(full) > MAX_MOUNT_PATH || wc_len(f->win_path) > MAX_MOUNT_PATH) {
        err = ERROR_FILENAME_EXCED_RANGE;
        goto out;
    }
    unix_path = wg_folder_unix_path(full);
    if (!unix_path) {
        err = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        goto out;
    }
    err = wg_file_check_image(f, img->index);
    /* A mount whose changes could never be stored is refused now, not at
     * its first commit. */
    if (!err && rw)
        err = never_writable(f);
    if (!err && fuse && !fuse_has_parts(f))
        fuse = false;
    if (!err)
        clear_dead_endpoint(full, unix_path);
    if (!err && rw && fuse) {
        staging = wg_fuse_staging_for(unix_path);
        if (!staging)
            err = errno == ENOENT ? ERROR_PATH_NOT_FOUND : wg_error_from_errno(errno);
    }
    if (!err)
        err = claim_mount(f, img->index, full, unix_path, rw, fuse, staging);
    if (err)
        goto out;

    if (fuse) {
        err = fuse_mount(img, full, unix_path, rw, staging);
        /* FUSE that is there but may not be used (a container without the
         * right to mount, say): the image is extracted instead. */
        fuse = !fuse_refused(err) || wg_fuse_state(unix_path) != WG_FUSE_NONE;
        if (!fuse)
            wg_fuse_drop_staging(staging);
    }
    if (!fuse)
        err = copy_mount(img, full, unix_path, rw, flags);
    if (err) {
        settle_mount(full, false, fuse);
        goto out;
    }
    /* Should the list not take the outcome, the pending record stays, and
     * the image can still be unmounted. */
    err = settle_mount(full, true, fuse);
    if (!err) {
        free(img->mount_path);
        img->mount_path = full;
        full = NULL;
    }
out:
    if (err)
        wg_fuse_drop_staging(staging);
    free(staging);
    free(full);
    wc_free(unix_path);
    return err;
}

/* ------------------------------------------------------------------------- */
/* Exports                                                                   */
/* ------------------------------------------------------------------------- */

BOOL WINAPI wg_MountImageHandle(HANDLE image, PCWSTR mount_path, DWORD flags)
{
    struct wg_image *img;
    DWORD err;

    if (!mount_path)
        return wg_fail(ERROR_INVALID_PARAMETER);
    img = wg_image_get(image);
    if (!img)
        return FALSE;
    EnterCriticalSection(&img->file->lock);
    err = mount_image(img, mount_path, flags);
    LeaveCriticalSection(&img->file->lock);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

BOOL WINAPI wg_MountImage(PCWSTR mount_path, PCWSTR wim_path, DWORD index, PCWSTR temp_path)
{
    DWORD access = WIM_GENERIC_READ | WIM_GENERIC_MOUNT | (temp_path ? WIM_GENERIC_WRITE : 0);
    DWORD created, err;
    struct wg_file *f;
    struct wg_image *img;

    if (!mount_path || !wim_path || !index || index > INT32_MAX)
        return wg_fail(ERROR_INVALID_PARAMETER);
    f = wg_file_create(wim_path, access, WIM_OPEN_EXISTING, 0, 0, &created, &err);
    if (!f)
        return wg_fail(err);
    img = wg_image_alloc(f, (int)index);
    if (!img) {
        wg_file_release(f);
        return wg_fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    EnterCriticalSection(&f->lock);
    err = mount_image(img, mount_path, temp_path ? 0 : WIM_FLAG_MOUNT_READONLY);
    LeaveCriticalSection(&f->lock);
    wg_image_release(img);
    wg_file_release(f);
    return err ? wg_fail(err) : wg_ok();
}

/* Copies at most MAX_PATH - 1 characters (paths of older lists may be
 * longer; new mounts never are). */
static void copy_path(WCHAR *dst, const WCHAR *src)
{
    size_t len = wc_len(src);

    memcpy(dst, src, (len < MAX_PATH ? len : MAX_PATH - 1) * sizeof(WCHAR));
}

BOOL WINAPI wg_GetMountedImages(PWIM_MOUNT_LIST list, PDWORD size)
{
    struct wg_mount_list l;
    DWORD err, needed;
    size_t i;

    if (!size)
        return wg_fail(ERROR_INVALID_PARAMETER);
    err = wg_list_open(&l);
    if (err)
        return wg_fail(err);
    needed = (DWORD)(l.count * sizeof(WIM_MOUNT_LIST));
    if (*size < needed || (needed && !list)) {
        *size = needed;
        wg_list_close(&l);
        return wg_fail(ERROR_INSUFFICIENT_BUFFER);
    }
    for (i = 0; i < l.count; i++) {
        WIM_MOUNT_LIST *e = &list[i];
        memset(e, 0, sizeof(*e));
        copy_path(e->WimPath, l.recs[i].wim_path);
        copy_path(e->MountPath, l.recs[i].mount_path);
        e->ImageIndex = l.recs[i].index;
        e->MountedForRW = l.recs[i].rw;
    }
    *size = needed;
    wg_list_close(&l);
    return wg_ok();
}

/* A copy of the list's records, taken under its lock, which is held only
 * for that: what the records say about the disk is looked at afterwards. */
static DWORD snapshot(struct wg_mount_rec **recs, size_t *count)
{
    struct wg_mount_list l;
    DWORD err = wg_list_open(&l);
    size_t i;

    *recs = NULL;
    *count = 0;
    if (err)
        return err;
    if (l.count && !(*recs = calloc(l.count, sizeof(**recs))))
        err = ERROR_NOT_ENOUGH_MEMORY;
    for (i = 0; !err && i < l.count; i++, (*count)++)
        if (!wg_record_copy(&(*recs)[i], &l.recs[i]))
            err = ERROR_NOT_ENOUGH_MEMORY;
    wg_list_close(&l);
    return err;
}

static void free_snapshot(struct wg_mount_rec *recs, size_t count)
{
    size_t i;

    for (i = 0; i < count; i++)
        wg_record_free(&recs[i]);
    free(recs);
}

BOOL WINAPI wg_GetMountedImageInfo(MOUNTED_IMAGE_INFO_LEVELS level, PDWORD count, PVOID info, DWORD size,
                                   PDWORD returned)
{
    struct wg_mount_rec *recs;
    size_t n, i;
    DWORD err, needed;

    if (!count || !returned || (level != MountedImageInfoLevel0 && level != MountedImageInfoLevel1))
        return wg_fail(ERROR_INVALID_PARAMETER);
    err = snapshot(&recs, &n);
    if (err) {
        free_snapshot(recs, n);
        return wg_fail(err);
    }
    /* Both levels have the same size. */
    needed = (DWORD)(n * sizeof(WIM_MOUNT_INFO_LEVEL1));
    *count = (DWORD)n;
    *returned = needed;
    if (size < needed || (needed && !info)) {
        free_snapshot(recs, n);
        return wg_fail(ERROR_INSUFFICIENT_BUFFER);
    }
    for (i = 0; i < n; i++) {
        WIM_MOUNT_INFO_LEVEL1 *e = (WIM_MOUNT_INFO_LEVEL1 *)info + i;
        memset(e, 0, sizeof(*e));
        copy_path(e->WimPath, recs[i].wim_path);
        copy_path(e->MountPath, recs[i].mount_path);
        e->ImageIndex = recs[i].index;
        e->MountFlags = level == MountedImageInfoLevel1 ? wg_mount_flags(&recs[i]) : (DWORD)recs[i].rw;
    }
    free_snapshot(recs, n);
    return wg_ok();
}

BOOL WINAPI wg_GetMountedImageHandle(PCWSTR mount_path, DWORD flags, PHANDLE wim, PHANDLE image)
{
    struct wg_mount_list l;
    struct wg_file *f;
    struct wg_image *img;
    WCHAR *full;
    DWORD err, access = WIM_GENERIC_READ | WIM_GENERIC_MOUNT;
    HANDLE hf, hi;
    long i;
    int index;

    if (!mount_path || !wim || !image)
        return wg_fail(ERROR_INVALID_PARAMETER);
    *wim = *image = NULL;
    full = wg_full_path(mount_path);
    if (!full)
        return FALSE;
    err = wg_list_open(&l);
    if (err) {
        free(full);
        return wg_fail(err);
    }
    i = wg_list_find_folder(&l, full);
    if (i < 0) {
        wg_list_close(&l);
        free(full);
        return wg_fail(ERROR_NOT_FOUND);
    }
    if (l.recs[i].rw && !(flags & WIM_FLAG_MOUNT_READONLY))
        access |= WIM_GENERIC_WRITE;
    index = (int)l.recs[i].index;
    f = wg_file_attach(l.recs[i].wim_path, access, &err);
    wg_list_close(&l);
    img = f ? wg_image_alloc(f, index) : NULL;
    if (f && !img)
        err = ERROR_NOT_ENOUGH_MEMORY;
    if (img) {
        img->mount_path = full;
        full = NULL;
    }
    free(full);
    if (!img) {
        wg_file_release(f);
        return wg_fail(err);
    }
    hf = wg_handle_new(WG_KIND_FILE, f);
    if (!hf) {
        wg_image_release(img);
        return FALSE;
    }
    hi = wg_handle_new(WG_KIND_IMAGE, img);
    if (!hi) {
        wg_handle_close(hf);
        return FALSE;
    }
    *wim = hf;
    *image = hi;
    return wg_ok();
}

/* ------------------------------------------------------------------------- */
/* Exports of this library only                                              */
/* ------------------------------------------------------------------------- */

/* How the mount at mount_path is made: WG_KIND_* below; for a read-write
 * FUSE mount also the files its staging folder holds (the changes that a
 * dead endpoint can no longer store). */
#define WG_KIND_COPY 0
#define WG_KIND_FUSE 1
#define WG_KIND_FUSE_DEAD 2

BOOL WINAPI wg_GetMountKind(PCWSTR mount_path, PDWORD kind, PULONGLONG staged_files, PULONGLONG staged_bytes)
{
    struct wg_mount_list l;
    struct wg_mount_rec rec = {0};
    uint64_t files = 0, bytes = 0;
    WCHAR *full;
    char *unix_path;
    DWORD err;
    long i;

    if (!mount_path || !kind)
        return wg_fail(ERROR_INVALID_PARAMETER);
    full = wg_full_path(mount_path);
    if (!full)
        return FALSE;
    err = wg_list_open(&l);
    i = err ? -1 : wg_list_find_folder(&l, full);
    if (!err && i < 0)
        err = ERROR_NOT_FOUND;
    if (!err && !wg_record_copy(&rec, &l.recs[i]))
        err = ERROR_NOT_ENOUGH_MEMORY;
    wg_list_close(&l);
    /* The folder and the staging files are looked at without the lock. */
    if (!err) {
        *kind = WG_KIND_COPY;
        if (rec.kind == WG_MOUNT_FUSE) {
            unix_path = wg_folder_unix_path(full);
            *kind = unix_path && wg_fuse_state(unix_path) == WG_FUSE_DEAD ? WG_KIND_FUSE_DEAD : WG_KIND_FUSE;
            wc_free(unix_path);
            wg_fuse_staged(rec.staging, &files, &bytes);
        }
        wg_record_free(&rec);
    }
    free(full);
    if (staged_files)
        *staged_files = files;
    if (staged_bytes)
        *staged_bytes = bytes;
    return err ? wg_fail(err) : wg_ok();
}
