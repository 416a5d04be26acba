/*
 * wg_mountdir.c - the mount folder: checking it, protecting a read-only
 * mount's tree and emptying it again on unmount.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
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

void wg_folder_protect(const char *unix_path)
{
    int fd = open(unix_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;

    if (fd < 0)
        return;
    protect_folder(fd);
    /* The folder itself too: nothing may be added at the top either. */
    if (fstat(fd, &st) == 0)
        fchmod(fd, st.st_mode & 07555);
    close(fd);
}

