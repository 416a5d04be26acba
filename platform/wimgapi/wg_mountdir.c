/*
 * wg_mountdir.c - the mount folder: checking it, protecting a read-only
 * mount's tree and emptying it again on unmount; and the walk over a tree
 * of folders that these and the staging folder's count share.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wg_internal.h"

/* ERROR_SUCCESS for an existing empty folder, else why it cannot be used. */
DWORD wg_folder_check(const char *unix_path)
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

char *wg_folder_unix_path(const WCHAR *win_path)
{
    size_t len = win_path ? wc_len(win_path) : 0, cut;
    WCHAR *parent;
    char *unix_parent, *name, *out = NULL;
    struct dirent *e;
    DIR *d;

    if (!len)
        return wc_unix_path(win_path);
    for (cut = len; cut > 0 && win_path[cut - 1] != '\\' && win_path[cut - 1] != '/'; cut--)
        ;
    /* A root ("C:\") or a bare name: nothing above to look at instead. */
    if (cut < 3 || cut == len)
        return wc_unix_path(win_path);
    parent = malloc((cut + 1) * sizeof(WCHAR));
    if (!parent) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    memcpy(parent, win_path, cut * sizeof(WCHAR));
    parent[cut] = 0;
    unix_parent = wc_unix_path(parent);
    free(parent);
    name = wc_to_utf8(win_path + cut);
    if (unix_parent && name) {
        /* Windows names are case-blind: take the name as the parent
         * lists it (reading the parent does not enter the folder). */
        d = opendir(unix_parent);
        while (d && (e = readdir(d))) {
            if (!strcmp(e->d_name, name))
                break;
            if (!strcasecmp(e->d_name, name)) {
                char *listed = strdup(e->d_name);
                if (listed) {
                    free(name);
                    name = listed;
                }
            }
        }
        if (d)
            closedir(d);
        len = strlen(unix_parent);
        out = malloc(len + strlen(name) + 2);
        if (out)
            snprintf(out, len + strlen(name) + 2, "%s%s%s", unix_parent,
                     len && unix_parent[len - 1] == '/' ? "" : "/", name);
        else
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    wc_free(unix_parent);
    wc_free(name);
    return out;
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

DWORD wg_folder_empty(const char *unix_path)
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

static void walk(int dirfd, int depth, int max_depth, wg_walk_fn fn, void *ctx)
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
        if (S_ISDIR(st.st_mode) && depth < max_depth) {
            int sub = openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                walk(sub, depth + 1, max_depth, fn, ctx);
                fn(dirfd, e->d_name, sub, &st, ctx);
                close(sub);
            }
        } else if (S_ISREG(st.st_mode)) {
            fn(dirfd, e->d_name, -1, &st, ctx);
        }
    }
    closedir(d);
}

void wg_walk_tree(int dirfd, int max_depth, wg_walk_fn fn, void *ctx)
{
    walk(dirfd, 0, max_depth, fn, ctx);
}

/* Takes the write permission away from one file or folder. */
static void protect_entry(int dirfd, const char *name, int fd, const struct stat *st, void *ctx)
{
    (void)ctx;
    if (fd >= 0)
        fchmod(fd, st->st_mode & 07555);
    else
        fchmodat(dirfd, name, st->st_mode & 07555, 0);
}

void wg_folder_protect(const char *unix_path)
{
    int fd = open(unix_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;

    if (fd < 0)
        return;
    wg_walk_tree(fd, INT_MAX, protect_entry, NULL);
    /* The folder itself too: nothing may be added at the top either. */
    if (fstat(fd, &st) == 0)
        fchmod(fd, st.st_mode & 07555);
    close(fd);
}

