/*
 * wg_mount.c - mounting without a file-system driver.
 *
 * A mount is an extraction of the image into the mount folder plus a record
 * in the mount list, %ProgramData%\WimgapiWine\mounts.txt: one UTF-8 line
 * per mounted image,
 *
 *     <state> TAB <index> TAB <rw> TAB <WIM path> TAB <mount path>
 *
 * with state "M" (mounted) or "P" (being mounted; left behind only if the
 * mounting process died, and listed so that it can be unmounted).  Every
 * process of the Wine prefix reads and writes this list under an exclusive
 * lock (flock on mounts.lock), so a later process finds the mounts of an
 * earlier one.  A read-only mount takes the write permission away from the
 * extracted tree; unmounting gives it back and empties the folder, which
 * itself stays.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wg_internal.h"

struct mount_rec {
    bool pending;
    DWORD index;
    bool rw;
    WCHAR *wim_path;
    WCHAR *mount_path;
};

struct mount_list {
    int lock_fd;
    char *file;                /* Unix path of mounts.txt */
    struct mount_rec *recs;
    size_t count, cap;
};

/* ------------------------------------------------------------------------- */
/* The list                                                                  */
/* ------------------------------------------------------------------------- */

/* Unix path of the folder that holds the list (created on demand). */
static char *store_dir(void)
{
    WCHAR base[MAX_PATH], *dir;
    DWORD n = GetEnvironmentVariableW(L"ProgramData", base, MAX_PATH);
    size_t len;
    char *unix_dir, *p;

    if (!n || n >= MAX_PATH)
        lstrcpyW(base, L"C:\\ProgramData");
    len = wc_len(base);
    dir = malloc((len + 16) * sizeof(WCHAR));
    if (!dir)
        return NULL;
    memcpy(dir, base, len * sizeof(WCHAR));
    memcpy(dir + len, L"\\WimgapiWine", 13 * sizeof(WCHAR));
    unix_dir = wc_unix_path(dir);
    free(dir);
    if (!unix_dir)
        return NULL;
    for (p = unix_dir + 1; *p; p++) {
        if (*p == '/') {
            *p = 0;
            mkdir(unix_dir, 0755);
            *p = '/';
        }
    }
    mkdir(unix_dir, 0755);
    return unix_dir;
}

static void free_records(struct mount_list *l)
{
    size_t i;

    for (i = 0; i < l->count; i++) {
        wc_free(l->recs[i].wim_path);
        wc_free(l->recs[i].mount_path);
    }
    free(l->recs);
    l->recs = NULL;
    l->count = l->cap = 0;
}

static bool add_record(struct mount_list *l, const struct mount_rec *r)
{
    struct mount_rec *copy;

    if (l->count == l->cap) {
        size_t cap = l->cap ? l->cap * 2 : 8;
        struct mount_rec *grown = realloc(l->recs, cap * sizeof(*grown));
        if (!grown)
            return false;
        l->recs = grown;
        l->cap = cap;
    }
    copy = &l->recs[l->count];
    *copy = *r;
    copy->wim_path = wc_dup(r->wim_path);
    copy->mount_path = wc_dup(r->mount_path);
    if (!copy->wim_path || !copy->mount_path) {
        wc_free(copy->wim_path);
        wc_free(copy->mount_path);
        return false;
    }
    l->count++;
    return true;
}

static void remove_record(struct mount_list *l, size_t i)
{
    wc_free(l->recs[i].wim_path);
    wc_free(l->recs[i].mount_path);
    memmove(&l->recs[i], &l->recs[i + 1], (l->count - i - 1) * sizeof(*l->recs));
    l->count--;
}

/* Parses one line; false for a malformed one (which is skipped). */
static bool parse_line(char *line, struct mount_rec *r)
{
    char *fields[5], *save = NULL;
    int i;

    for (i = 0; i < 5; i++) {
        fields[i] = strtok_r(i ? NULL : line, "\t", &save);
        if (!fields[i])
            return false;
    }
    if (strcmp(fields[0], "M") && strcmp(fields[0], "P"))
        return false;
    r->pending = fields[0][0] == 'P';
    r->index = (DWORD)strtoul(fields[1], NULL, 10);
    r->rw = fields[2][0] == '1';
    r->wim_path = wc_from_utf8(fields[3]);
    r->mount_path = wc_from_utf8(fields[4]);
    return r->index && r->wim_path && r->mount_path;
}

static void read_records(struct mount_list *l)
{
    FILE *fp = fopen(l->file, "r");
    char *line = NULL;
    size_t cap = 0;
    ssize_t n;

    if (!fp)
        return;
    while ((n = getline(&line, &cap, fp)) > 0) {
        struct mount_rec r = {0};
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            line[--n] = 0;
        if (parse_line(line, &r))
            add_record(l, &r);
        wc_free(r.wim_path);
        wc_free(r.mount_path);
    }
    free(line);
    fclose(fp);
}

/* Opens and locks the list and reads it. */
static DWORD open_list(struct mount_list *l)
{
    char *dir = store_dir(), *lock;
    size_t len;

    memset(l, 0, sizeof(*l));
    l->lock_fd = -1;
    if (!dir)
        return GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
    len = strlen(dir);
    lock = malloc(len + 16);
    l->file = malloc(len + 16);
    if (!lock || !l->file) {
        free(lock);
        free(l->file);
        wc_free(dir);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    snprintf(lock, len + 16, "%s/mounts.lock", dir);
    snprintf(l->file, len + 16, "%s/mounts.txt", dir);
    wc_free(dir);
    l->lock_fd = open(lock, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    free(lock);
    if (l->lock_fd < 0 || flock(l->lock_fd, LOCK_EX)) {
        DWORD err = wg_error_from_errno(errno);
        if (l->lock_fd >= 0)
            close(l->lock_fd);
        free(l->file);
        return err;
    }
    read_records(l);
    return 0;
}

/* Writes the list back (to a temporary file renamed over it). */
static DWORD save_list(struct mount_list *l)
{
    size_t len = strlen(l->file), i;
    char *tmp = malloc(len + 8);
    FILE *fp;
    DWORD err = 0;

    if (!tmp)
        return ERROR_NOT_ENOUGH_MEMORY;
    snprintf(tmp, len + 8, "%s.new", l->file);
    fp = fopen(tmp, "w");
    if (!fp) {
        err = wg_error_from_errno(errno);
        free(tmp);
        return err;
    }
    for (i = 0; i < l->count; i++) {
        char *wim = wc_to_utf8(l->recs[i].wim_path), *mnt = wc_to_utf8(l->recs[i].mount_path);
        if (!wim || !mnt || fprintf(fp, "%c\t%lu\t%d\t%s\t%s\n", l->recs[i].pending ? 'P' : 'M',
                                    (unsigned long)l->recs[i].index, l->recs[i].rw ? 1 : 0, wim, mnt) < 0)
            err = ERROR_WRITE_FAULT;
        wc_free(wim);
        wc_free(mnt);
    }
    if (fclose(fp) && !err)
        err = wg_error_from_errno(errno);
    if (!err && rename(tmp, l->file))
        err = wg_error_from_errno(errno);
    if (err)
        unlink(tmp);
    free(tmp);
    return err;
}

static void close_list(struct mount_list *l)
{
    free_records(l);
    if (l->lock_fd >= 0)
        close(l->lock_fd);
    free(l->file);
    l->lock_fd = -1;
    l->file = NULL;
}

static long find_by_folder(const struct mount_list *l, const WCHAR *mount_path)
{
    size_t i;

    for (i = 0; i < l->count; i++)
        if (wg_path_equal(l->recs[i].mount_path, mount_path))
            return (long)i;
    return -1;
}

static long find_by_image(const struct mount_list *l, const WCHAR *wim_path, DWORD index)
{
    size_t i;

    for (i = 0; i < l->count; i++)
        if (l->recs[i].index == index && wg_path_equal(l->recs[i].wim_path, wim_path))
            return (long)i;
    return -1;
}

bool wg_mount_uses_file(const WCHAR *win_path)
{
    struct mount_list l;
    bool used = false;
    size_t i;

    if (open_list(&l))
        return false;
    for (i = 0; i < l.count && !used; i++)
        used = wg_path_equal(l.recs[i].wim_path, win_path);
    close_list(&l);
    return used;
}

/* ------------------------------------------------------------------------- */
/* The mount folder                                                          */
/* ------------------------------------------------------------------------- */

/* ERROR_SUCCESS for an existing empty folder, else why it cannot be used. */
static DWORD check_folder(const char *unix_path)
{
    struct stat st;
    struct dirent *e;
    DIR *d;
    DWORD err = 0;

    if (stat(unix_path, &st))
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : wg_error_from_errno(errno);
    if (!S_ISDIR(st.st_mode))
        return ERROR_DIRECTORY;
    d = opendir(unix_path);
    if (!d)
        return wg_error_from_errno(errno);
    while (!err && (e = readdir(d)))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
            err = ERROR_DIR_NOT_EMPTY;
    closedir(d);
    return err;
}

/* Deletes everything inside the open folder dirfd, giving folders their
 * write permission back first.  Symbolic links are removed, never followed,
 * and other file systems mounted below are left alone. */
static int clear_folder(int dirfd, dev_t dev)
{
    struct stat st;
    struct dirent *e;
    int fd = dup(dirfd), first_errno = 0;
    DIR *d;

    if (fd < 0)
        return errno;
    if (fstat(dirfd, &st) == 0)
        fchmod(dirfd, (st.st_mode & 07777) | S_IRWXU);
    d = fdopendir(fd);
    if (!d) {
        close(fd);
        return errno;
    }
    while ((e = readdir(d))) {
        int r = 0;
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, ".."))
            continue;
        if (fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW)) {
            r = errno;
        } else if (S_ISDIR(st.st_mode)) {
            int sub;
            if (st.st_dev != dev) {
                r = EXDEV;
            } else {
                fchmodat(dirfd, e->d_name, (st.st_mode & 07777) | S_IRWXU, 0);
                sub = openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0) {
                    r = errno;
                } else {
                    r = clear_folder(sub, dev);
                    close(sub);
                    if (!r && unlinkat(dirfd, e->d_name, AT_REMOVEDIR))
                        r = errno;
                }
            }
        } else if (unlinkat(dirfd, e->d_name, 0)) {
            r = errno;
        }
        if (r && !first_errno)
            first_errno = r;
    }
    closedir(d);
    return first_errno;
}

static DWORD empty_folder(const char *unix_path)
{
    struct stat st;
    int fd, r;

    fd = open(unix_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? 0 : wg_error_from_errno(errno);
    r = fstat(fd, &st) ? errno : clear_folder(fd, st.st_dev);
    close(fd);
    return r ? wg_error_from_errno(r) : 0;
}

/* Takes the write permission away from everything inside dirfd. */
static void protect_folder(int dirfd)
{
    struct stat st;
    struct dirent *e;
    int fd = dup(dirfd);
    DIR *d = fd >= 0 ? fdopendir(fd) : NULL;

    if (!d) {
        if (fd >= 0)
            close(fd);
        return;
    }
    while ((e = readdir(d))) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..") ||
            fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW))
            continue;
        if (S_ISDIR(st.st_mode)) {
            int sub = openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                protect_folder(sub);
                fchmod(sub, st.st_mode & 07555);
                close(sub);
            }
        } else if (S_ISREG(st.st_mode)) {
            fchmodat(dirfd, e->d_name, st.st_mode & 07555, 0);
        }
    }
    closedir(d);
}

static void make_read_only(const char *unix_path)
{
    int fd = open(unix_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);

    if (fd >= 0) {
        protect_folder(fd);
        close(fd);
    }
}

/* ------------------------------------------------------------------------- */
/* Mount, commit, unmount                                                    */
/* ------------------------------------------------------------------------- */

/* Claims the folder and the image with a pending record, before the long
 * extraction, so that no other thread or process can take either. */
static DWORD claim_mount(const struct wg_file *f, int index, const WCHAR *folder, const char *unix_folder, bool rw)
{
    struct mount_rec rec = {0};
    struct mount_list l;
    DWORD err = open_list(&l);

    if (err)
        return err;
    if (find_by_folder(&l, folder) >= 0 || find_by_image(&l, f->win_path, (DWORD)index) >= 0)
        err = ERROR_BUSY;
    if (!err)
        err = check_folder(unix_folder);
    rec.pending = true;
    rec.index = (DWORD)index;
    rec.rw = rw;
    rec.wim_path = f->win_path;
    rec.mount_path = (WCHAR *)folder;
    if (!err && !add_record(&l, &rec))
        err = ERROR_NOT_ENOUGH_MEMORY;
    if (!err)
        err = save_list(&l);
    close_list(&l);
    return err;
}

/* Turns the pending record into a mounted one, or drops it. */
static DWORD settle_mount(const WCHAR *folder, bool mounted)
{
    struct mount_list l;
    DWORD err = open_list(&l);
    long i;

    if (err)
        return err;
    i = find_by_folder(&l, folder);
    if (i >= 0 && mounted)
        l.recs[i].pending = false;
    else if (i >= 0)
        remove_record(&l, (size_t)i);
    err = save_list(&l);
    close_list(&l);
    return err;
}

/* Mounts image img (of a file opened with mount access) at mount_path. */
static DWORD mount_image(struct wg_image *img, const WCHAR *mount_path, DWORD flags)
{
    struct wg_file *f = img->file;
    bool rw = !(flags & WIM_FLAG_MOUNT_READONLY);
    WCHAR *full = NULL;
    char *unix_path = NULL;
    DWORD err;

    if (!img->index)
        return ERROR_INVALID_PARAMETER;
    if (!(f->access & WIM_GENERIC_MOUNT) || (rw && !(f->access & WIM_GENERIC_WRITE)))
        return ERROR_ACCESS_DENIED;
    full = wg_full_path(mount_path);
    unix_path = full ? wc_unix_path(full) : NULL;
    if (!unix_path) {
        err = GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
        goto out;
    }
    err = wg_file_check_image(f, img->index);
    if (!err)
        err = claim_mount(f, img->index, full, unix_path, rw);
    if (err)
        goto out;

    err = wg_apply(f, img->index, full, flags & (WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL));
    if (err) {
        /* A failed mount leaves the folder as empty as it found it. */
        empty_folder(unix_path);
        settle_mount(full, false);
        goto out;
    }
    if (!rw)
        make_read_only(unix_path);
    /* Should the list not take the outcome, the pending record stays, and
     * the image can still be unmounted. */
    err = settle_mount(full, true);
    if (!err) {
        free(img->mount_path);
        img->mount_path = full;
        full = NULL;
    }
out:
    free(full);
    wc_free(unix_path);
    return err;
}

/* The mount folder of img: where it was mounted through this handle, or
 * found in the list by file and index. */
static WCHAR *mount_folder_of(struct wg_image *img, bool *rw)
{
    struct mount_list l;
    WCHAR *folder = NULL;
    long i;

    if (open_list(&l))
        return NULL;
    i = img->mount_path ? find_by_folder(&l, img->mount_path)
                        : find_by_image(&l, img->file->win_path, (DWORD)img->index);
    if (i >= 0) {
        folder = wc_dup(l.recs[i].mount_path);
        *rw = l.recs[i].rw;
    }
    close_list(&l);
    return folder;
}

static DWORD commit_image(struct wg_image *img, DWORD flags, int *new_index)
{
    struct wg_file *f = img->file;
    struct wimlib_update_command cmds[2];
    WCHAR *folder;
    char *unix_path = NULL;
    struct wg_op op;
    bool rw = false;
    DWORD err;
    int ret;

    *new_index = 0;
    folder = mount_folder_of(img, &rw);
    if (!folder)
        return ERROR_NOT_FOUND;
    err = rw ? wg_file_check_writable(f) : ERROR_ACCESS_DENIED;
    if (!err) {
        unix_path = wc_unix_path(folder);
        err = unix_path ? check_folder(unix_path) : ERROR_PATH_NOT_FOUND;
        if (err == ERROR_DIR_NOT_EMPTY)
            err = 0;
    }
    if (!err)
        err = (flags & WIM_COMMIT_FLAG_APPEND) ? wg_file_load(f) : wg_file_check_image(f, img->index);
    if (err)
        goto out;

    wg_op_init(&op, WG_OP_COMMIT, f, NULL);
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
    }
    wg_op_free(&op);
out:
    wc_free(folder);
    wc_free(unix_path);
    return err;
}

/* Empties the folder and drops the record of the mount at folder. */
static DWORD unmount_folder(const WCHAR *folder)
{
    struct mount_list l;
    char *unix_path;
    DWORD err;
    long i;

    err = open_list(&l);
    if (err)
        return err;
    i = find_by_folder(&l, folder);
    if (i < 0) {
        close_list(&l);
        return ERROR_NOT_FOUND;
    }
    unix_path = wc_unix_path(folder);
    /* A folder that is gone has nothing left to discard. */
    err = unix_path ? empty_folder(unix_path) : 0;
    if (!err) {
        remove_record(&l, (size_t)i);
        err = save_list(&l);
    }
    close_list(&l);
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

BOOL WINAPI wg_GetMountedImages(PWIM_MOUNT_LIST list, PDWORD size)
{
    struct mount_list l;
    DWORD err, needed;
    size_t i, len;

    if (!size)
        return wg_fail(ERROR_INVALID_PARAMETER);
    err = open_list(&l);
    if (err)
        return wg_fail(err);
    needed = (DWORD)(l.count * sizeof(WIM_MOUNT_LIST));
    if (*size < needed || (needed && !list)) {
        *size = needed;
        close_list(&l);
        return wg_fail(ERROR_INSUFFICIENT_BUFFER);
    }
    for (i = 0; i < l.count; i++) {
        WIM_MOUNT_LIST *e = &list[i];
        memset(e, 0, sizeof(*e));
        len = wc_len(l.recs[i].wim_path);
        memcpy(e->WimPath, l.recs[i].wim_path, (len < MAX_PATH ? len : MAX_PATH - 1) * sizeof(WCHAR));
        len = wc_len(l.recs[i].mount_path);
        memcpy(e->MountPath, l.recs[i].mount_path, (len < MAX_PATH ? len : MAX_PATH - 1) * sizeof(WCHAR));
        e->ImageIndex = l.recs[i].index;
        e->MountedForRW = l.recs[i].rw;
    }
    *size = needed;
    close_list(&l);
    return wg_ok();
}

BOOL WINAPI wg_GetMountedImageHandle(PCWSTR mount_path, DWORD flags, PHANDLE wim, PHANDLE image)
{
    struct mount_list l;
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
    err = open_list(&l);
    if (err) {
        free(full);
        return wg_fail(err);
    }
    i = find_by_folder(&l, full);
    if (i < 0) {
        close_list(&l);
        free(full);
        return wg_fail(ERROR_NOT_FOUND);
    }
    if (l.recs[i].rw && !(flags & WIM_FLAG_MOUNT_READONLY))
        access |= WIM_GENERIC_WRITE;
    index = (int)l.recs[i].index;
    f = wg_file_attach(l.recs[i].wim_path, access, &err);
    close_list(&l);
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

BOOL WINAPI wg_CommitImageHandle(HANDLE image, DWORD flags, PHANDLE new_image)
{
    struct wg_image *img, *added = NULL;
    int new_index = 0;
    DWORD err;

    if (new_image)
        *new_image = NULL;
    img = wg_image_get(image);
    if (!img)
        return FALSE;
    EnterCriticalSection(&img->file->lock);
    err = img->index ? commit_image(img, flags, &new_index) : ERROR_INVALID_PARAMETER;
    LeaveCriticalSection(&img->file->lock);
    if (!err && new_index && new_image) {
        added = wg_image_alloc(img->file, new_index);
        *new_image = added ? wg_handle_new(WG_KIND_IMAGE, added) : NULL;
    }
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

BOOL WINAPI wg_UnmountImageHandle(HANDLE image, DWORD flags)
{
    struct wg_image *img = wg_image_get(image);
    WCHAR *folder;
    bool rw;
    DWORD err;

    if (!img)
        return FALSE;
    EnterCriticalSection(&img->file->lock);
    folder = mount_folder_of(img, &rw);
    err = folder ? unmount_folder(folder) : ERROR_NOT_FOUND;
    if (!err) {
        free(img->mount_path);
        img->mount_path = NULL;
    }
    LeaveCriticalSection(&img->file->lock);
    wc_free(folder);
    wg_image_release(img);
    return err ? wg_fail(err) : wg_ok();
}

/* Commits the folder of a mount into image index of the file at wim_path. */
static DWORD commit_folder(const WCHAR *wim_path, DWORD index, const WCHAR *folder)
{
    DWORD err, access = WIM_GENERIC_READ | WIM_GENERIC_WRITE | WIM_GENERIC_MOUNT;
    struct wg_file *f = wg_file_attach(wim_path, access, &err);
    struct wg_image *img = f ? wg_image_alloc(f, (int)index) : NULL;
    int new_index;

    if (f && !img)
        err = ERROR_NOT_ENOUGH_MEMORY;
    if (img) {
        img->mount_path = wc_dup(folder);
        EnterCriticalSection(&f->lock);
        err = img->mount_path ? commit_image(img, 0, &new_index) : ERROR_NOT_ENOUGH_MEMORY;
        LeaveCriticalSection(&f->lock);
        wg_image_release(img);
    }
    wg_file_release(f);
    return err;
}

BOOL WINAPI wg_UnmountImage(PCWSTR mount_path, PCWSTR wim_path, DWORD index, BOOL commit)
{
    struct mount_list l;
    WCHAR *full, *wim_full = NULL, *mounted_wim = NULL;
    DWORD err, mounted_index = 0;
    bool rw = false;
    long i;

    if (!mount_path)
        return wg_fail(ERROR_INVALID_PARAMETER);
    full = wg_full_path(mount_path);
    if (!full)
        return FALSE;
    if (wim_path && !(wim_full = wg_full_path(wim_path))) {
        free(full);
        return FALSE;
    }
    /* The mount at that folder; the file and index, when given, must match. */
    err = open_list(&l);
    if (!err) {
        i = find_by_folder(&l, full);
        if (i < 0)
            err = ERROR_NOT_FOUND;
        else if ((wim_full && !wg_path_equal(wim_full, l.recs[i].wim_path)) || (index && index != l.recs[i].index))
            err = ERROR_INVALID_PARAMETER;
        else if (!(mounted_wim = wc_dup(l.recs[i].wim_path)))
            err = ERROR_NOT_ENOUGH_MEMORY;
        else {
            mounted_index = l.recs[i].index;
            rw = l.recs[i].rw;
        }
        close_list(&l);
    }
    /* Save the changes first; a failed commit keeps the image mounted. */
    if (!err && commit && rw)
        err = commit_folder(mounted_wim, mounted_index, full);
    if (!err)
        err = unmount_folder(full);
    wc_free(mounted_wim);
    free(full);
    free(wim_full);
    return err ? wg_fail(err) : wg_ok();
}
