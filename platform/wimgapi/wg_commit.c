/*
 * wg_commit.c - committing, discarding and unmounting a mount (the mounts
 * themselves and their records: wg_mount.c).
 *
 * A commit or an unmount first marks the record busy (naming its process);
 * another commit or unmount of the same mount, in any process, then fails
 * with ERROR_BUSY until the first one ends.  An unmount empties the folder
 * while the record is still there and busy, so no new mount can claim the
 * folder half-way, and drops the record last.
 *
 * A commit goes only into the file that was mounted: should the file at
 * the WIM's path be another one now (renamed over, rebuilt by another
 * program), or should its index name another image, the commit is refused
 * with ERROR_FILE_INVALID and nothing is written; the mount can still be
 * discarded.  A FUSE file system holds the offsets of the file it was
 * started on, so for it any change of the file refuses.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "wg_internal.h"

/* ------------------------------------------------------------------------- */
/* Claiming a mount for a commit or an unmount                               */
/* ------------------------------------------------------------------------- */

/* Marks the mount at folder busy for this process and copies its record;
 * ERROR_BUSY when another call works on it. */
static DWORD begin_work(const WCHAR *folder, struct wg_mount_rec *copy)
{
    struct wg_mount_list l;
    DWORD err = wg_list_open(&l);
    long i;

    if (err)
        return err;
    i = wg_list_find_folder(&l, folder);
    if (i < 0)
        err = ERROR_NOT_FOUND;
    else if (wg_record_busy(&l.recs[i]))
        err = ERROR_BUSY;
    if (!err) {
        wg_owner_self(&l.recs[i].busy);
        if (!wg_record_copy(copy, &l.recs[i]))
            err = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!err) {
        err = wg_list_save(&l);
        if (err)
            wg_record_free(copy);
    }
    wg_list_close(&l);
    return err;
}

/* Ends the work begun on the mount at folder: drops the record, or just
 * its busy mark. */
static void end_work(const WCHAR *folder, bool drop)
{
    struct wg_mount_list l;
    long i;

    if (wg_list_open(&l))
        return;
    i = wg_list_find_folder(&l, folder);
    if (i >= 0 && drop)
        wg_list_remove(&l, (size_t)i);
    else if (i >= 0)
        memset(&l.recs[i].busy, 0, sizeof(l.recs[i].busy));
    wg_list_save(&l);
    wg_list_close(&l);
}

/* The mount folder of img: where it was mounted through this handle, or
 * found in the list by file and index. */
static WCHAR *mount_folder_of(struct wg_image *img)
{
    struct wg_mount_list l;
    WCHAR *folder = NULL;
    long i;

    if (img->mount_path)
        return wc_dup(img->mount_path);
    if (wg_list_open(&l))
        return NULL;
    i = wg_list_find_image(&l, img->file->win_path, (DWORD)img->index);
    if (i >= 0)
        folder = wc_dup(l.recs[i].mount_path);
    wg_list_close(&l);
    return folder;
}

/* Why a record that is no longer valid cannot be committed. */
static DWORD stale_error(DWORD flags)
{
    if (flags & WIM_MOUNT_FLAG_NO_WIM)
        return ERROR_FILE_NOT_FOUND;
    if (flags & (WIM_MOUNT_FLAG_NO_MOUNTDIR | WIM_MOUNT_FLAG_MOUNTDIR_REPLACED))
        return ERROR_PATH_NOT_FOUND;
    return (flags & WIM_MOUNT_FLAG_INVALID) ? ERROR_INVALID_DATA : 0;
}

/* ------------------------------------------------------------------------- */
/* The file a commit goes into                                               */
/* ------------------------------------------------------------------------- */

/* 0 when the file at f's path is still the one the mount rec was made of;
 * ERROR_FILE_INVALID when it is not. */
static DWORD check_same_wim(const struct wg_mount_rec *rec, struct wg_file *f)
{
    struct wg_mount_rec now = {0};
    char *id;
    bool same;
    DWORD err;

    if (!rec->wim_dev && !rec->wim_ino)
        return 0;   /* not known (older list) */
    err = wg_record_wim(&now, f->unix_path);
    if (err)
        return err == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : err;
    if (now.wim_dev != rec->wim_dev || now.wim_ino != rec->wim_ino)
        return ERROR_FILE_INVALID;
    if (now.wim_size == rec->wim_size && now.wim_mtime == rec->wim_mtime)
        return 0;
    /* Written to since: a FUSE file system would write at offsets that
     * no longer hold what it read. */
    if (rec->kind == WG_MOUNT_FUSE || !rec->image_id)
        return ERROR_FILE_INVALID;
    /* An extracted copy replaces its image by number: that number must
     * still name the image that was mounted. */
    wg_file_refresh(f);
    err = wg_file_check_image(f, (int)rec->index);
    if (err)
        return err == ERROR_INVALID_PARAMETER ? ERROR_FILE_INVALID : err;
    id = wg_image_identity(f->wim, (int)rec->index);
    same = id && !strcmp(id, rec->image_id);
    free(id);
    return same ? 0 : ERROR_FILE_INVALID;
}

/* After a commit: the file as it is now is the mount's file. */
static void note_committed_wim(const WCHAR *folder, const char *unix_path)
{
    struct wg_mount_list l;
    long i;

    if (wg_list_open(&l))
        return;
    i = wg_list_find_folder(&l, folder);
    if (i >= 0 && !wg_record_wim(&l.recs[i], unix_path))
        wg_list_save(&l);
    wg_list_close(&l);
}

/* ------------------------------------------------------------------------- */
/* Commit and discard                                                        */
/* ------------------------------------------------------------------------- */

/* True when a failed write into the file at unix_path was for want of
 * space: its volume has less room than the staged changes take (the write
 * gave back what it had taken when it failed). */
static bool volume_too_small(const char *unix_path, const char *staging)
{
    char *dir = strdup(unix_path), *slash = dir ? strrchr(dir, '/') : NULL;
    uint64_t files = 0, bytes = 0;
    struct statvfs vfs;
    bool lacking = false;

    if (slash) {
        *slash = 0;
        wg_fuse_staged(staging, &files, &bytes);
        lacking = statvfs(dir[0] ? dir : "/", &vfs) == 0 && (uint64_t)vfs.f_bavail * vfs.f_frsize < bytes;
    }
    free(dir);
    return lacking;
}

/* Stores the changes of the FUSE mount rec: its file system writes only
 * what was changed, and ends.  keep_mounted mounts the image again. */
static DWORD fuse_commit(struct wg_image *img, const struct wg_mount_rec *rec, DWORD flags, int *new_index,
                         bool keep_mounted)
{
    struct wg_file *f = img->file;
    char *unix_path = wg_folder_unix_path(rec->mount_path);
    struct wg_op op;
    DWORD err = unix_path ? wg_op_init(&op, WG_OP_COMMIT, f, NULL) : ERROR_PATH_NOT_FOUND;

    if (unix_path) {
        /* The callbacks hear of the commit before the file system goes. */
        if (!err)
            wg_op_progress(&op, 0, 1);
        if (!err)
            err = wg_fuse_unmount(unix_path, true, (flags & WIM_COMMIT_FLAG_APPEND) != 0, &op);
        /* The file system says only that it could not write. */
        if (err == ERROR_WRITE_FAULT && volume_too_small(f->unix_path, rec->staging))
            err = ERROR_DISK_FULL;
        if (!err)
            wg_op_progress(&op, 1, 1);
        wg_op_free(&op);
    }
    if (!err) {
        wg_file_refresh(f);
        if (flags & WIM_COMMIT_FLAG_APPEND)
            *new_index = wg_file_image_count(f, &err);
        /* The changes are stored; should the image not mount again, the
         * record is listed as invalid and can be cleared.  The old file
         * system is gone by now (wg_fuse_unmount waits for it). */
        if (keep_mounted) {
            wg_fuse_mount(f->unix_path, (int)rec->index, unix_path, true, rec->staging);
            note_committed_wim(rec->mount_path, f->unix_path);
        }
    }
    wc_free(unix_path);
    return err;
}

/* Stores the folder of the mount rec into image img (or, with
 * WIM_COMMIT_FLAG_APPEND, as a new image whose number goes to *new_index). */
static DWORD commit_image(struct wg_image *img, const struct wg_mount_rec *rec, DWORD flags, int *new_index,
                          bool keep_mounted)
{
    struct wg_file *f = img->file;
    struct wimlib_update_command cmds[2];
    char *unix_path = NULL;
    struct wg_op op;
    DWORD err;
    int ret;

    *new_index = 0;
    err = rec->rw ? wg_file_check_writable(f) : ERROR_ACCESS_DENIED;
    if (!err)
        err = stale_error(wg_mount_flags(rec));
    if (!err)
        err = check_same_wim(rec, f);
    if (!err && rec->kind == WG_MOUNT_FUSE)
        return fuse_commit(img, rec, flags, new_index, keep_mounted);
    if (!err) {
        unix_path = wc_unix_path(rec->mount_path);
        err = unix_path ? wg_folder_check(unix_path) : ERROR_PATH_NOT_FOUND;
        if (err == ERROR_DIR_NOT_EMPTY)
            err = 0;
    }
    if (!err) {
        /* Another program may have changed the file since it was read. */
        wg_file_refresh(f);
        err = (flags & WIM_COMMIT_FLAG_APPEND) ? wg_file_load(f) : wg_file_check_image(f, img->index);
    }
    if (!err)
        err = wg_op_init(&op, WG_OP_COMMIT, f, NULL);
    if (err)
        goto out;

    wg_op_attach(&op, f->wim);
    if (flags & WIM_COMMIT_FLAG_APPEND) {
        ret = wimlib_add_image(f->wim, unix_path, NULL, NULL, 0);
        if (!ret)
            *new_index = wg_file_image_count(f, &err);
    } else {
        /* The image's tree is replaced by the folder's; its XML stays. */
        memset(cmds, 0, sizeof(cmds));
        cmds[0].op = WIMLIB_UPDATE_OP_DELETE;
        cmds[0].delete_.wim_path = "/";
        cmds[0].delete_.delete_flags = WIMLIB_DELETE_FLAG_RECURSIVE;
        cmds[1].op = WIMLIB_UPDATE_OP_ADD;
        cmds[1].add.fs_source_path = unix_path;
        cmds[1].add.wim_target_path = "/";
        ret = wimlib_update_image(f->wim, img->index, cmds, 2, 0);
    }
    if (ret) {
        int e = errno;
        err = op.aborted ? ERROR_REQUEST_ABORTED : wg_error_from_wimlib(ret, e);
        wg_file_drop(f);
    } else if (!err) {
        err = wg_file_write(f, &op);
        if (!err)
            wg_op_progress(&op, 1, 1);
        if (!err && keep_mounted)
            note_committed_wim(rec->mount_path, f->unix_path);
    }
    wg_op_free(&op);
out:
    wc_free(unix_path);
    return err;
}

/* From here on the folder is no longer whole: should the emptying stop
 * half-way (this process ends, a file cannot be deleted), the record is
 * listed as invalid and can never be committed. */
static DWORD mark_emptying(const WCHAR *folder)
{
    struct wg_mount_list l;
    DWORD err = wg_list_open(&l);
    long i;

    if (err)
        return err;
    i = wg_list_find_folder(&l, folder);
    if (i >= 0 && !l.recs[i].emptying) {
        l.recs[i].emptying = true;
        err = wg_list_save(&l);
    }
    wg_list_close(&l);
    return err;
}

/* Ends the FUSE mount rec without storing anything: its file system
 * unmounts (a dead endpoint is released) and the staging folder goes.
 * The folder below is never touched. */
static DWORD fuse_discard(const struct wg_mount_rec *rec)
{
    char *unix_path = wg_folder_unix_path(rec->mount_path);
    enum wg_fuse_state state = unix_path ? wg_fuse_state(unix_path) : WG_FUSE_NONE;
    DWORD err = 0;

    if (state == WG_FUSE_LIVE)
        err = wg_fuse_unmount(unix_path, false, false, NULL);
    else if (state == WG_FUSE_DEAD)
        err = wg_fuse_release(unix_path);
    if (!err)
        wg_fuse_drop_staging(rec->staging);
    wc_free(unix_path);
    return err;
}

/* Throws away what the mount rec left in its folder and gives the folder
 * its mode back.  A folder that is gone or was replaced by another one is
 * not touched: what is there now is not the mount's. */
static DWORD discard_mount(const struct wg_mount_rec *rec)
{
    DWORD flags = wg_mount_flags(rec);
    char *unix_path;
    DWORD err;

    if (rec->kind == WG_MOUNT_FUSE)
        return fuse_discard(rec);
    if (flags & (WIM_MOUNT_FLAG_NO_MOUNTDIR | WIM_MOUNT_FLAG_MOUNTDIR_REPLACED))
        return 0;
    unix_path = wc_unix_path(rec->mount_path);
    if (!unix_path)
        return 0;
    err = mark_emptying(rec->mount_path);
    if (!err)
        err = wg_folder_empty(unix_path);
    if (!err && rec->dir_mode != WG_MODE_UNKNOWN)
        chmod(unix_path, rec->dir_mode);
    wc_free(unix_path);
    return err;
}

/* Unmounts the mount at folder: commits it first when asked (and it is
 * writable), then discards it.  check_wim and check_index, when given,
 * must match the record. */
static DWORD unmount(const WCHAR *folder, const WCHAR *check_wim, DWORD check_index, bool commit)
{
    struct wg_mount_rec rec;
    DWORD err = begin_work(folder, &rec);

    if (err)
        return err;
    if ((check_wim && !wg_path_equal(check_wim, rec.wim_path)) || (check_index && check_index != rec.index))
        err = ERROR_INVALID_PARAMETER;
    /* Save the changes first; a failed commit keeps the image mounted. */
    if (!err && commit && rec.rw) {
        DWORD access = WIM_GENERIC_READ | WIM_GENERIC_WRITE | WIM_GENERIC_MOUNT;
        struct wg_file *f = wg_file_attach(rec.wim_path, access, &err);
        struct wg_image *img = f ? wg_image_alloc(f, (int)rec.index) : NULL;
        int new_index;
        if (f && !img)
            err = ERROR_NOT_ENOUGH_MEMORY;
        if (img) {
            EnterCriticalSection(&f->lock);
            err = commit_image(img, &rec, 0, &new_index, false);
            LeaveCriticalSection(&f->lock);
            wg_image_release(img);
        }
        wg_file_release(f);
    }
    if (!err)
        err = discard_mount(&rec);
    end_work(folder, !err);
    wg_record_free(&rec);
    return err;
}

/* ------------------------------------------------------------------------- */
/* Exports                                                                   */
/* ------------------------------------------------------------------------- */

BOOL WINAPI wg_CommitImageHandle(HANDLE image, DWORD flags, PHANDLE new_image)
{
    struct wg_image *img, *added = NULL;
    struct wg_mount_rec rec;
    WCHAR *folder = NULL;
    int new_index = 0;
    DWORD err;

    if (new_image)
        *new_image = NULL;
    img = wg_image_get(image);
    if (!img)
        return FALSE;
    EnterCriticalSection(&img->file->lock);
    folder = img->index ? mount_folder_of(img) : NULL;
    err = !img->index ? ERROR_INVALID_PARAMETER : folder ? begin_work(folder, &rec) : ERROR_NOT_FOUND;
    if (!err) {
        err = commit_image(img, &rec, flags, &new_index, true);
        end_work(folder, false);
        wg_record_free(&rec);
    }
    LeaveCriticalSection(&img->file->lock);
    if (!err && new_index && new_image) {
        added = wg_image_alloc(img->file, new_index);
        *new_image = added ? wg_handle_new(WG_KIND_IMAGE, added) : NULL;
    }
    wc_free(folder);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

BOOL WINAPI wg_UnmountImageHandle(HANDLE image, DWORD flags)
{
    struct wg_image *img = wg_image_get(image);
    WCHAR *folder;
    DWORD err;

    if (!img)
        return FALSE;
    EnterCriticalSection(&img->file->lock);
    folder = mount_folder_of(img);
    err = folder ? unmount(folder, NULL, 0, false) : ERROR_NOT_FOUND;
    if (!err) {
        free(img->mount_path);
        img->mount_path = NULL;
    }
    LeaveCriticalSection(&img->file->lock);
    wc_free(folder);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

BOOL WINAPI wg_UnmountImage(PCWSTR mount_path, PCWSTR wim_path, DWORD index, BOOL commit)
{
    WCHAR *full, *wim_full = NULL;
    DWORD err;

    if (!mount_path)
        return wg_fail(ERROR_INVALID_PARAMETER);
    full = wg_full_path(mount_path);
    if (!full)
        return FALSE;
    if (wim_path && !(wim_full = wg_full_path(wim_path))) {
        free(full);
        return FALSE;
    }
    err = unmount(full, wim_full, index, commit != FALSE);
    free(full);
    free(wim_full);
    return err ? wg_fail(err) : wg_ok();
}

/* Clears the record of an invalid mount and keeps everything else: the
 * folder's files as they are, the staging folder of a FUSE mount (a dead
 * endpoint is released: nothing can be read through it). */
BOOL WINAPI wg_ForgetMount(PCWSTR mount_path)
{
    struct wg_mount_rec rec;
    WCHAR *full = mount_path ? wg_full_path(mount_path) : NULL;
    char *unix_path = NULL;
    DWORD err;

    if (!full)
        return mount_path ? FALSE : wg_fail(ERROR_INVALID_PARAMETER);
    err = begin_work(full, &rec);
    if (err) {
        free(full);
        return wg_fail(err);
    }
    if (!(wg_mount_flags(&rec) & WIM_MOUNT_FLAG_INVALID))
        err = ERROR_INVALID_PARAMETER;
    if (!err && rec.kind == WG_MOUNT_FUSE && (unix_path = wg_folder_unix_path(full)) &&
        wg_fuse_state(unix_path) == WG_FUSE_DEAD)
        err = wg_fuse_release(unix_path);
    end_work(full, !err);
    wc_free(unix_path);
    wg_record_free(&rec);
    free(full);
    return err ? wg_fail(err) : wg_ok();
}
