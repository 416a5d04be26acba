/*
 * wg_mountlist.c - the persistent mount list and the state of its records.
 *
 * The list is %ProgramData%\WimgapiWine\mounts.txt, one UTF-8 line per
 * mounted image:
 *
 *   <state> TAB <index> TAB <rw> TAB <WIM path> TAB <mount path>
 *           TAB <owner> TAB <busy> TAB <folder id> TAB <folder mode>
 *           TAB <kind> TAB <staging folder> TAB <WIM id> TAB <image id>
 *
 * state "M" (mounted), "P" (being mounted) or "U" (an unmount began to
 * empty the folder: whatever is left must never be committed).  kind "C"
 * for an extracted copy, "F" for a FUSE file system; the staging folder
 * of a read-write FUSE mount is a Unix path ("-" for none).  owner is the process that
 * mounted the image and busy the process that is committing or unmounting
 * it ("-" for none), each as "<Linux pid>.<start time>" so that a process
 * that died (or a later process that got its pid) is told apart from a
 * live one.  folder id identifies the mount folder when the image was
 * mounted, folder mode its permission bits before the mount (in
 * octal).  The folder id is "<device>.<inode>.<birth time in ns>": a file
 * system may give a new folder the inode number of one just deleted, but
 * not its birth time.  WIM id is "<device>.<inode>.<size>.<mtime in ns>"
 * of the WIM file when it was mounted or last committed, image id the
 * mounted image's creation time from its XML ("-" for unknown): a commit
 * into a file that is no longer that one, or whose index now names another
 * image, is refused.  Lines with only the first five fields (older lists)
 * are read with the last four unknown, lines without a kind as copies.  Every process of the Wine prefix reads and
 * writes the list under an exclusive lock (flock on mounts.lock), held only
 * for short updates, never during an extraction, commit or deletion.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wg_internal.h"

/* ------------------------------------------------------------------------- */
/* Processes                                                                 */
/* ------------------------------------------------------------------------- */

/* Start time of a Linux process (field 22 of /proc/<pid>/stat), 0 if it
 * does not exist or has ended (a zombie that nobody reaped). */
unsigned long long wg_process_start(long pid)
{
    char path[64], buf[1024], *p;
    unsigned long long start = 0;
    size_t n;
    FILE *fp;
    int field;

    snprintf(path, sizeof(path), "/proc/%ld/stat", pid);
    fp = fopen(path, "r");
    if (!fp)
        return 0;
    n = fread(buf, 1, sizeof(buf) - 1, fp);
    fclose(fp);
    buf[n] = 0;
    /* The command name may hold spaces: count fields after its ")". */
    p = strrchr(buf, ')');
    if (p && (p[1] != ' ' || p[2] == 'Z' || p[2] == 'X' || p[2] == 'x'))
        return 0;
    for (field = 2; p && field < 22; field++) {
        p = strchr(p + 1, ' ');
    }
    if (p)
        start = strtoull(p + 1, NULL, 10);
    return start ? start : 1;
}

void wg_owner_self(struct wg_owner *o)
{
    static struct wg_owner self;

    if (!self.pid) {
        self.start = wg_process_start((long)getpid());
        self.pid = (long)getpid();
    }
    *o = self;
}

bool wg_owner_alive(const struct wg_owner *o)
{
    return o->pid > 0 && wg_process_start(o->pid) == o->start;
}

/* ------------------------------------------------------------------------- */
/* Files                                                                     */
/* ------------------------------------------------------------------------- */

char *wg_store_file(const char *name)
{
    WCHAR base[MAX_PATH], *dir;
    DWORD n = GetEnvironmentVariableW(L"ProgramData", base, MAX_PATH);
    size_t len;
    char *unix_dir, *p, *file;

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
    len = strlen(unix_dir) + strlen(name) + 2;
    file = malloc(len);
    if (file)
        snprintf(file, len, "%s/%s", unix_dir, name);
    wc_free(unix_dir);
    return file;
}

/* ------------------------------------------------------------------------- */
/* Records                                                                   */
/* ------------------------------------------------------------------------- */

static void free_record(struct wg_mount_rec *r)
{
    wc_free(r->wim_path);
    wc_free(r->mount_path);
    free(r->staging);
    free(r->image_id);
    r->wim_path = r->mount_path = NULL;
    r->staging = NULL;
    r->image_id = NULL;
}

bool wg_list_add(struct wg_mount_list *l, const struct wg_mount_rec *r)
{
    struct wg_mount_rec *copy;

    if (l->count == l->cap) {
        size_t cap = l->cap ? l->cap * 2 : 8;
        struct wg_mount_rec *grown = realloc(l->recs, cap * sizeof(*grown));
        if (!grown)
            return false;
        l->recs = grown;
        l->cap = cap;
    }
    copy = &l->recs[l->count];
    if (!wg_record_copy(copy, r))
        return false;
    l->count++;
    return true;
}

bool wg_record_copy(struct wg_mount_rec *dst, const struct wg_mount_rec *src)
{
    *dst = *src;
    dst->wim_path = wc_dup(src->wim_path);
    dst->mount_path = wc_dup(src->mount_path);
    dst->staging = src->staging ? strdup(src->staging) : NULL;
    dst->image_id = src->image_id ? strdup(src->image_id) : NULL;
    if (dst->wim_path && dst->mount_path && (dst->staging || !src->staging) && (dst->image_id || !src->image_id))
        return true;
    free_record(dst);
    return false;
}

void wg_record_free(struct wg_mount_rec *r)
{
    free_record(r);
}

void wg_list_remove(struct wg_mount_list *l, size_t i)
{
    free_record(&l->recs[i]);
    memmove(&l->recs[i], &l->recs[i + 1], (l->count - i - 1) * sizeof(*l->recs));
    l->count--;
}

static void parse_owner(const char *s, struct wg_owner *o)
{
    char *end;

    o->pid = 0;
    o->start = 0;
    if (!s || !strcmp(s, "-"))
        return;
    o->pid = strtol(s, &end, 10);
    o->start = *end == '.' ? strtoull(end + 1, NULL, 10) : 0;
}

static void format_owner(char *buf, size_t size, const struct wg_owner *o)
{
    if (o->pid > 0)
        snprintf(buf, size, "%ld.%llu", o->pid, o->start);
    else
        snprintf(buf, size, "-");
}

/* Parses one line; false for a malformed one (which is skipped). */
static bool parse_line(char *line, struct wg_mount_rec *r)
{
    char *fields[13] = {0}, *save = NULL, *end;
    int i;

    for (i = 0; i < 13; i++) {
        fields[i] = strtok_r(i ? NULL : line, "\t", &save);
        if (!fields[i] && i < 5)
            return false;
        if (!fields[i])
            break;
    }
    if (strcmp(fields[0], "M") && strcmp(fields[0], "P") && strcmp(fields[0], "U"))
        return false;
    r->pending = fields[0][0] == 'P';
    r->emptying = fields[0][0] == 'U';
    r->index = (DWORD)strtoul(fields[1], NULL, 10);
    r->rw = fields[2][0] == '1';
    r->wim_path = wc_from_utf8(fields[3]);
    r->mount_path = wc_from_utf8(fields[4]);
    parse_owner(fields[5], &r->owner);
    parse_owner(fields[6], &r->busy);
    if (fields[7] && strcmp(fields[7], "-")) {
        r->dir_dev = strtoull(fields[7], &end, 10);
        r->dir_ino = *end == '.' ? strtoull(end + 1, &end, 10) : 0;
        r->dir_born = *end == '.' ? strtoull(end + 1, NULL, 10) : 0;
    }
    r->dir_mode = fields[8] && strcmp(fields[8], "-") ? (unsigned)strtoul(fields[8], NULL, 8) : WG_MODE_UNKNOWN;
    r->kind = fields[9] && !strcmp(fields[9], "F") ? WG_MOUNT_FUSE : WG_MOUNT_COPY;
    if (fields[10] && strcmp(fields[10], "-"))
        r->staging = strdup(fields[10]);
    if (fields[11] && strcmp(fields[11], "-")) {
        r->wim_dev = strtoull(fields[11], &end, 10);
        r->wim_ino = *end == '.' ? strtoull(end + 1, &end, 10) : 0;
        r->wim_size = *end == '.' ? strtoull(end + 1, &end, 10) : 0;
        r->wim_mtime = *end == '.' ? strtoull(end + 1, NULL, 10) : 0;
    }
    if (fields[12] && strcmp(fields[12], "-"))
        r->image_id = strdup(fields[12]);
    return r->index && r->wim_path && r->mount_path;
}

static void read_records(struct wg_mount_list *l)
{
    FILE *fp = fopen(l->file, "r");
    char *line = NULL;
    size_t cap = 0;
    ssize_t n;

    if (!fp)
        return;
    while ((n = getline(&line, &cap, fp)) > 0) {
        struct wg_mount_rec r = {0};
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            line[--n] = 0;
        if (parse_line(line, &r))
            wg_list_add(l, &r);
        free_record(&r);
    }
    free(line);
    fclose(fp);
}

static DWORD list_open(struct wg_mount_list *l, bool wait)
{
    char *lock = wg_store_file("mounts.lock");

    memset(l, 0, sizeof(*l));
    l->lock_fd = -1;
    l->file = wg_store_file("mounts.txt");
    if (!lock || !l->file) {
        free(lock);
        free(l->file);
        l->file = NULL;
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    l->lock_fd = open(lock, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    free(lock);
    if (l->lock_fd < 0 || flock(l->lock_fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) {
        DWORD err = wg_error_from_errno(errno);
        if (l->lock_fd >= 0)
            close(l->lock_fd);
        l->lock_fd = -1;
        free(l->file);
        l->file = NULL;
        return err;
    }
    read_records(l);
    return 0;
}

DWORD wg_list_open(struct wg_mount_list *l)
{
    return list_open(l, true);
}

DWORD wg_list_try_open(struct wg_mount_list *l)
{
    return list_open(l, false);
}

static int write_record(FILE *fp, const struct wg_mount_rec *r)
{
    char *wim = wc_to_utf8(r->wim_path), *mnt = wc_to_utf8(r->mount_path);
    char owner[64], busy[64], id[64], mode[16], wim_id[96];
    int ret = -1;

    format_owner(owner, sizeof(owner), &r->owner);
    format_owner(busy, sizeof(busy), &r->busy);
    if (r->dir_dev || r->dir_ino)
        snprintf(id, sizeof(id), "%llu.%llu.%llu", r->dir_dev, r->dir_ino, r->dir_born);
    else
        snprintf(id, sizeof(id), "-");
    if (r->dir_mode != WG_MODE_UNKNOWN)
        snprintf(mode, sizeof(mode), "%o", r->dir_mode);
    else
        snprintf(mode, sizeof(mode), "-");
    if (r->wim_dev || r->wim_ino)
        snprintf(wim_id, sizeof(wim_id), "%llu.%llu.%llu.%llu", r->wim_dev, r->wim_ino, r->wim_size, r->wim_mtime);
    else
        snprintf(wim_id, sizeof(wim_id), "-");
    if (wim && mnt)
        ret = fprintf(fp, "%c\t%lu\t%d\t%s\t%s\t%s\t%s\t%s\t%s\t%c\t%s\t%s\t%s\n",
                      r->emptying ? 'U' : r->pending ? 'P' : 'M', (unsigned long)r->index, r->rw ? 1 : 0, wim, mnt,
                      owner, busy, id, mode, r->kind == WG_MOUNT_FUSE ? 'F' : 'C', r->staging ? r->staging : "-",
                      wim_id, r->image_id ? r->image_id : "-");
    wc_free(wim);
    wc_free(mnt);
    return ret;
}

DWORD wg_list_save(struct wg_mount_list *l)
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
    for (i = 0; i < l->count; i++)
        if (write_record(fp, &l->recs[i]) < 0)
            err = ERROR_WRITE_FAULT;
    if (fclose(fp) && !err)
        err = wg_error_from_errno(errno);
    if (!err && rename(tmp, l->file))
        err = wg_error_from_errno(errno);
    if (err)
        unlink(tmp);
    free(tmp);
    return err;
}

void wg_list_close(struct wg_mount_list *l)
{
    size_t i;

    for (i = 0; i < l->count; i++)
        free_record(&l->recs[i]);
    free(l->recs);
    if (l->lock_fd >= 0)
        close(l->lock_fd);
    free(l->file);
    memset(l, 0, sizeof(*l));
    l->lock_fd = -1;
}

long wg_list_find_folder(const struct wg_mount_list *l, const WCHAR *mount_path)
{
    size_t i, len = wc_len(mount_path);
    long cut = -1;

    for (i = 0; i < l->count; i++) {
        if (wg_path_equal(l->recs[i].mount_path, mount_path))
            return (long)i;
        /* Older lists may hold longer paths, which are listed cut to
         * MAX_PATH - 1 characters: that cut form names them too. */
        if (len == MAX_PATH - 1 && cut < 0 && wc_len(l->recs[i].mount_path) > len &&
            CompareStringOrdinal(l->recs[i].mount_path, (int)len, mount_path, (int)len, TRUE) == CSTR_EQUAL)
            cut = (long)i;
    }
    return cut;
}

long wg_list_find_image(const struct wg_mount_list *l, const WCHAR *wim_path, DWORD index)
{
    size_t i;

    for (i = 0; i < l->count; i++)
        if (l->recs[i].index == index && wg_path_equal(l->recs[i].wim_path, wim_path))
            return (long)i;
    return -1;
}

/* True when the record's WIM is the file st (or has the same path):
 * C:\x.wim and Z:\...\x.wim name one file. */
static bool same_file(const struct wg_mount_rec *r, const WCHAR *win_path, const struct stat *st)
{
    char *unix_path;
    struct stat rst;
    bool same;

    if (wg_path_equal(r->wim_path, win_path))
        return true;
    if (!st)
        return false;
    unix_path = wc_unix_path(r->wim_path);
    same = unix_path && stat(unix_path, &rst) == 0 && rst.st_dev == st->st_dev && rst.st_ino == st->st_ino;
    wc_free(unix_path);
    return same;
}

/* Ors 1 for every record of the file, 2 for a read-write FUSE one. */
static int file_use(const WCHAR *win_path, const char *unix_path)
{
    struct wg_mount_list l;
    struct stat st;
    bool known = unix_path && stat(unix_path, &st) == 0;
    int use = 0;
    size_t i;

    if (wg_list_open(&l))
        return 0;
    for (i = 0; i < l.count; i++)
        if (same_file(&l.recs[i], win_path, known ? &st : NULL))
            use |= 1 | (l.recs[i].rw && l.recs[i].kind == WG_MOUNT_FUSE ? 2 : 0);
    wg_list_close(&l);
    return use;
}

bool wg_mount_uses_file(const WCHAR *win_path)
{
    char *unix_path = wc_unix_path(win_path);
    bool used = file_use(win_path, unix_path) != 0;

    wc_free(unix_path);
    return used;
}

DWORD wg_mount_check_writer(const WCHAR *win_path, const char *unix_path, bool replacing, bool mounting)
{
    int use = file_use(win_path, unix_path);

    if ((replacing && use) || ((use & 2) && !mounting))
        return ERROR_SHARING_VIOLATION;
    return 0;
}

/* ------------------------------------------------------------------------- */
/* State of a record                                                         */
/* ------------------------------------------------------------------------- */

/* statx() of a Unix path: type, mode, inode and birth time. */
static bool stat_unix(const char *unix_path, struct statx *st)
{
    return unix_path && statx(AT_FDCWD, unix_path, 0, STATX_TYPE | STATX_MODE | STATX_INO | STATX_BTIME, st) == 0;
}

/* The same for a Windows path; false when it cannot be mapped or is
 * missing. */
static bool stat_win(const WCHAR *path, struct statx *st)
{
    char *unix_path = wc_unix_path(path);
    bool found = stat_unix(unix_path, st);

    wc_free(unix_path);
    return found;
}

static unsigned long long born_ns(const struct statx *st)
{
    if (!(st->stx_mask & STATX_BTIME))
        return 0;
    return (unsigned long long)st->stx_btime.tv_sec * 1000000000ULL + st->stx_btime.tv_nsec;
}

DWORD wg_record_folder(struct wg_mount_rec *r, const char *unix_path)
{
    struct statx st;

    if (!stat_unix(unix_path, &st))
        return wg_error_from_errno(errno);
    r->dir_dev = ((unsigned long long)st.stx_dev_major << 32) | st.stx_dev_minor;
    r->dir_ino = st.stx_ino;
    r->dir_born = born_ns(&st);
    r->dir_mode = st.stx_mode & 07777;
    return 0;
}

DWORD wg_record_wim(struct wg_mount_rec *r, const char *unix_path)
{
    struct stat st;

    if (!unix_path || stat(unix_path, &st))
        return wg_error_from_errno(unix_path ? errno : ENOENT);
    r->wim_dev = (unsigned long long)st.st_dev;
    r->wim_ino = (unsigned long long)st.st_ino;
    r->wim_size = (unsigned long long)st.st_size;
    r->wim_mtime = (unsigned long long)st.st_mtim.tv_sec * 1000000000ULL + (unsigned long long)st.st_mtim.tv_nsec;
    return 0;
}

char *wg_image_identity(WIMStruct *wim, int index)
{
    const char *high = wim ? wimlib_get_image_property(wim, index, "CREATIONTIME/HIGHPART") : NULL;
    const char *low = wim ? wimlib_get_image_property(wim, index, "CREATIONTIME/LOWPART") : NULL;
    char *id = NULL;

    if (!high || !low)
        return NULL;
    /* Tabs would break the list's line; the XML's values never hold any. */
    if (strpbrk(high, "\t\n") || strpbrk(low, "\t\n") || asprintf(&id, "%s:%s", high, low) < 0)
        return NULL;
    return id;
}

/* True when the folder st is not the one the record was made for. */
static bool folder_replaced(const struct wg_mount_rec *r, const struct statx *st)
{
    unsigned long long dev = ((unsigned long long)st->stx_dev_major << 32) | st->stx_dev_minor;
    unsigned long long born = born_ns(st);

    if (!r->dir_dev && !r->dir_ino)
        return false;   /* not known (older list) */
    return dev != r->dir_dev || st->stx_ino != r->dir_ino || (r->dir_born && born && born != r->dir_born);
}

/* The state of a FUSE record's folder: 1 served, 0 not (folder flags
 * added), -1 a dead endpoint. */
static int fuse_folder(const struct wg_mount_rec *r, DWORD *flags)
{
    char *unix_path = wg_folder_unix_path(r->mount_path);
    enum wg_fuse_state state = unix_path ? wg_fuse_state(unix_path) : WG_FUSE_NONE;
    struct statx st;

    wc_free(unix_path);
    if (state == WG_FUSE_LIVE)
        return 1;
    if (state == WG_FUSE_DEAD)
        return -1;
    if (!stat_win(r->mount_path, &st) || !S_ISDIR(st.stx_mode))
        *flags |= WIM_MOUNT_FLAG_NO_MOUNTDIR;
    else if (folder_replaced(r, &st))
        *flags |= WIM_MOUNT_FLAG_MOUNTDIR_REPLACED;
    return 0;
}

DWORD wg_mount_flags(const struct wg_mount_rec *r)
{
    DWORD flags = r->rw ? WIM_MOUNT_FLAG_READWRITE : 0;
    bool invalid = r->emptying;
    struct statx st;

    if (!stat_win(r->wim_path, &st) || S_ISDIR(st.stx_mode)) {
        flags |= WIM_MOUNT_FLAG_NO_WIM;
        invalid = true;
    }
    if (r->kind == WG_MOUNT_FUSE) {
        /* Not served (any more) and not being mounted: nothing to use. */
        if (fuse_folder(r, &flags) <= 0 && !(r->pending && wg_owner_alive(&r->owner)))
            invalid = true;
    } else if (!stat_win(r->mount_path, &st) || !S_ISDIR(st.stx_mode)) {
        flags |= WIM_MOUNT_FLAG_NO_MOUNTDIR;
        invalid = true;
    } else if (folder_replaced(r, &st)) {
        /* The folder was deleted and another one made under its name. */
        flags |= WIM_MOUNT_FLAG_MOUNTDIR_REPLACED;
        invalid = true;
    }
    /* A mount whose process died before it finished is half extracted. */
    if (r->pending && !wg_owner_alive(&r->owner))
        invalid = true;
    if (invalid)
        flags |= WIM_MOUNT_FLAG_INVALID;
    else
        flags |= r->pending ? WIM_MOUNT_FLAG_MOUNTING : WIM_MOUNT_FLAG_MOUNTED;
    return flags;
}

bool wg_record_busy(const struct wg_mount_rec *r)
{
    if (r->busy.pid > 0 && wg_owner_alive(&r->busy))
        return true;
    /* Still being mounted by a live process. */
    return r->pending && wg_owner_alive(&r->owner);
}
