/*
 * wg_filelock.c - one writer per WIM file, across threads and processes.
 *
 * A file handle with write access holds an open-file-description lock
 * (fcntl F_OFD_SETLK) for as long as it lives.  Such locks belong to the
 * open file description, not to the process, so two handles of one process
 * exclude each other just as two processes do, and the kernel drops the
 * lock of a process that dies.
 *
 * The lock is not taken on the WIM file itself: writing replaces the file
 * by renaming a new one over it, and a lock on the old inode would no
 * longer guard the path.  Instead every path has one byte of the shared,
 * empty lock file %ProgramData%\WimgapiWine\writers.lock, at an offset
 * hashed from its canonical Unix path (the real path of its folder plus its
 * name).  Two different paths share a byte only if their 62-bit hashes
 * collide.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "wg_internal.h"

/* The path with its folder resolved (links, "..") so that every way of
 * naming one file gives the same text; the file itself may not exist. */
static char *canonical_path(const char *unix_path)
{
    const char *slash = strrchr(unix_path, '/');
    char *dir, *real, *out;
    size_t len;

    if (!slash)
        return strdup(unix_path);
    dir = strndup(unix_path, (size_t)(slash - unix_path));
    if (!dir)
        return NULL;
    real = realpath(*dir ? dir : "/", NULL);
    free(dir);
    if (!real)
        return strdup(unix_path);
    len = strlen(real) + strlen(slash) + 1;
    out = malloc(len);
    if (out)
        snprintf(out, len, "%s%s", strcmp(real, "/") ? real : "", slash);
    free(real);
    return out;
}

/* 64-bit FNV-1a, cut to 62 bits so the offset plus one stays an off_t. */
static off_t lock_offset(const char *path)
{
    uint64_t h = 0xcbf29ce484222325ULL;

    for (; *path; path++) {
        h ^= (unsigned char)*path;
        h *= 0x100000001b3ULL;
    }
    return (off_t)(h & 0x3FFFFFFFFFFFFFFFULL);
}

DWORD wg_file_lock_writer(struct wg_file *f)
{
    char *lock_file, *canon;
    struct flock fl;
    DWORD err = 0;
    int fd;

    if (f->lock_fd >= 0)
        return 0;
    lock_file = wg_store_file("writers.lock");
    canon = canonical_path(f->unix_path);
    if (!lock_file || !canon) {
        free(lock_file);
        free(canon);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    fd = open(lock_file, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        err = wg_error_from_errno(errno);
    } else {
        memset(&fl, 0, sizeof(fl));
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = lock_offset(canon);
        fl.l_len = 1;
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0) {
            f->lock_fd = fd;
            fd = -1;
        } else {
            err = errno == EAGAIN || errno == EACCES ? ERROR_SHARING_VIOLATION : wg_error_from_errno(errno);
        }
    }
    if (fd >= 0)
        close(fd);
    free(lock_file);
    free(canon);
    return err;
}

void wg_file_unlock_writer(struct wg_file *f)
{
    if (f->lock_fd >= 0) {
        close(f->lock_fd);
        f->lock_fd = -1;
    }
}
