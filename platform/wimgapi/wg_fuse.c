/*
 * wg_fuse.c - mounts served by wimlib's FUSE file system.
 *
 * wimlib-imagex runs the file system as a Linux process of its own: it
 * mounts, forks a daemon that serves the folder and ends.  It is started
 * here with an argument vector (posix_spawn), never through a shell, so a
 * path may hold any character.  Nothing of wimlib's mount code runs in
 * this (Wine) process: the daemon forks, which a Wine process must not do.
 *
 * A read-write mount writes its changes into a staging folder of its own
 * (kept in the library's shared folder, named after the mount); the commit
 * ("unmount --commit") writes only the changed files into the WIM, and the
 * daemon ends with it.  A commit that keeps the image mounted mounts it
 * again at once.
 *
 * FUSE is used when /dev/fuse can be opened, wimlib-imagex is installed
 * and either this process is root (libfuse mounts by itself then) or
 * fusermount (libfuse 2's, package "fuse") is installed.  WIMGAPI_WINE_NO_FUSE=1 in the environment
 * hides it, and every mount is an extracted copy (wg_mount.c).
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "wg_internal.h"

extern char **environ;

static const char *const imagex_dirs[] = {"/usr/bin", "/usr/local/bin", "/bin"};
static const char *const fusermount_names[] = {"fusermount", "fusermount3"};

/* The full path of a program in the usual folders, or NULL. */
static const char *find_program(const char *name, char *buf, size_t size)
{
    size_t i;

    for (i = 0; i < sizeof(imagex_dirs) / sizeof(imagex_dirs[0]); i++) {
        snprintf(buf, size, "%s/%s", imagex_dirs[i], name);
        if (access(buf, X_OK) == 0)
            return buf;
    }
    return NULL;
}

static const char *imagex_path(void)
{
    static char path[64];
    static int found = -1;

    if (found < 0)
        found = find_program("wimlib-imagex", path, sizeof(path)) != NULL;
    return found ? path : NULL;
}

static const char *fusermount_path(void)
{
    static char path[64];
    static int found = -1;
    size_t i;

    for (i = 0; found < 0 && i < 2; i++)
        if (find_program(fusermount_names[i], path, sizeof(path)))
            found = 1;
    if (found < 0)
        found = 0;
    return found ? path : NULL;
}

static bool hidden_by_environment(void)
{
    char v[8];
    DWORD n = GetEnvironmentVariableA("WIMGAPI_WINE_NO_FUSE", v, sizeof(v));

    return n && n < sizeof(v) && strcmp(v, "0");
}

bool wg_fuse_usable(void)
{
    int fd;

    if (hidden_by_environment() || !imagex_path())
        return false;
    fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    /* libfuse 2 mounts by itself as root, else through its own fusermount. */
    if (geteuid() == 0)
        return true;
    char path[64];
    return find_program("fusermount", path, sizeof(path)) != NULL;
}

/* ------------------------------------------------------------------------- */
/* Running wimlib-imagex                                                     */
/* ------------------------------------------------------------------------- */

/* What a run of a program printed (its last part) and how it ended. */
#define RUN_UNKNOWN (-2)

struct run_result {
    int status;                /* exit code; -1 when it could not run,
                                * RUN_UNKNOWN when it ran but its status
                                * was taken by someone else */
    char text[2048];
};

/* Keeps the last part of the output and reports "(NN%)" as progress. */
static void take_output(struct run_result *r, size_t *len, const char *buf, size_t n, struct wg_op *op)
{
    size_t i;

    for (i = 0; i < n; i++) {
        if (*len + 1 >= sizeof(r->text)) {
            memmove(r->text, r->text + sizeof(r->text) / 2, *len - sizeof(r->text) / 2);
            *len -= sizeof(r->text) / 2;
        }
        r->text[(*len)++] = buf[i];
        r->text[*len] = 0;
        if (op && buf[i] == ')' && *len >= 3 && r->text[*len - 2] == '%') {
            const char *open = memrchr(r->text, '(', *len);
            if (open)
                wg_op_progress(op, strtoul(open + 1, NULL, 10), 100);
        }
    }
}

/* Runs argv[0] with the arguments as given, its output collected; the
 * child gets no descriptor of this process but its standard ones. */
static void run_program(char *const argv[], struct wg_op *op, struct run_result *r)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    sigset_t none, all;
    int pipe_fds[2], status;
    size_t len = 0;
    char buf[512];
    ssize_t n;
    pid_t pid;

    r->status = -1;
    r->text[0] = 0;
    if (pipe2(pipe_fds, O_CLOEXEC))
        return;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_init(&attr);
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    /* A session of its own: the daemon it leaves is nobody's child. */
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    if (posix_spawn(&pid, argv[0], &actions, &attr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipe_fds[1]);
    /* The daemon gives its output away, so the pipe ends with the program. */
    while (pid > 0 && ((n = read(pipe_fds[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            take_output(r, &len, buf, (size_t)n, op);
    close(pipe_fds[0]);
    if (pid <= 0)
        return;
    /* A process that ignores SIGCHLD (some Windows programs' hosts do)
     * never sees the status: the outcome is then judged by its effects. */
    for (;;) {
        if (waitpid(pid, &status, 0) >= 0) {
            r->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return;
        }
        if (errno != EINTR) {
            r->status = RUN_UNKNOWN;
            return;
        }
    }
}

/* The Win32 error for a failed run, from what wimlib-imagex said. */
static DWORD run_error(const struct run_result *r)
{
    if (r->status == -1 && !r->text[0])
        return ERROR_FILE_NOT_FOUND;
    if (strcasestr(r->text, "lock"))
        return ERROR_SHARING_VIOLATION;
    if (strcasestr(r->text, "busy") || strcasestr(r->text, "open file"))
        return ERROR_BUSY;
    if (strcasestr(r->text, "not enough space") || strcasestr(r->text, "No space"))
        return ERROR_DISK_FULL;
    if (strcasestr(r->text, "permission") || strcasestr(r->text, "denied"))
        return ERROR_ACCESS_DENIED;
    return ERROR_GEN_FAILURE;
}

/* ------------------------------------------------------------------------- */
/* Mounting and unmounting                                                   */
/* ------------------------------------------------------------------------- */

char *wg_fuse_staging_for(const char *unix_folder)
{
    char name[96], *path;
    struct stat st;

    if (stat(unix_folder, &st))
        return NULL;
    snprintf(name, sizeof(name), "staging/%llu.%llu.%ld", (unsigned long long)st.st_dev,
             (unsigned long long)st.st_ino, (long)getpid());
    path = wg_store_file(name);
    if (path) {
        char *slash = strrchr(path, '/');
        *slash = 0;
        mkdir(path, 0700);
        *slash = '/';
        if (mkdir(path, 0700) && errno != EEXIST) {
            free(path);
            path = NULL;
        }
    }
    return path;
}

DWORD wg_fuse_mount(const char *wim, int index, const char *folder, bool rw, const char *staging)
{
    char number[16], *staging_arg = NULL;
    char *argv[8];
    struct run_result r;
    int n = 0;

    snprintf(number, sizeof(number), "%d", index);
    argv[n++] = (char *)imagex_path();
    argv[n++] = rw ? "mountrw" : "mount";
    argv[n++] = (char *)wim;
    argv[n++] = number;
    argv[n++] = (char *)folder;
    if (rw && staging) {
        if (asprintf(&staging_arg, "--staging-dir=%s", staging) < 0)
            return ERROR_NOT_ENOUGH_MEMORY;
        argv[n++] = staging_arg;
    }
    argv[n] = NULL;
    if (!argv[0])
        return ERROR_NOT_SUPPORTED;
    run_program(argv, NULL, &r);
    free(staging_arg);
    if ((r.status == 0 || r.status == RUN_UNKNOWN) && wg_fuse_state(folder) == WG_FUSE_LIVE)
        return 0;
    return r.status == 0 || r.status == RUN_UNKNOWN ? ERROR_GEN_FAILURE : run_error(&r);
}

DWORD wg_fuse_unmount(const char *folder, bool commit, bool append, struct wg_op *op)
{
    char *argv[8];
    struct run_result r;
    int n = 0;

    argv[n++] = (char *)imagex_path();
    argv[n++] = "unmount";
    argv[n++] = (char *)folder;
    if (commit)
        argv[n++] = "--commit";
    if (commit && append)
        argv[n++] = "--new-image";
    /* Throwing the changes away does not wait for programs that still
     * have files open; a commit does, so that it stores whole files. */
    if (!commit)
        argv[n++] = "--force";
    argv[n] = NULL;
    if (!argv[0])
        return ERROR_NOT_SUPPORTED;
    run_program(argv, op, &r);
    if (r.status == RUN_UNKNOWN && !strstr(r.text, "ERROR") && wg_fuse_state(folder) == WG_FUSE_NONE)
        return 0;
    if (r.status == 0)
        return 0;
    /* An endpoint whose daemon ended cannot be committed. */
    return wg_fuse_state(folder) == WG_FUSE_DEAD ? ERROR_INVALID_DATA : run_error(&r);
}

/* True when the folder is the mount point of a wimlib file system. */
static bool listed_as_wimfs(const char *folder)
{
    FILE *fp = fopen("/proc/self/mounts", "r");
    char *line = NULL, *real = realpath(folder, NULL);
    size_t cap = 0;
    bool found = false;

    if (!fp) {
        free(real);
        return false;
    }
    while (!found && getline(&line, &cap, fp) > 0) {
        char dev[64], point[4096], type[64];
        if (sscanf(line, "%63s %4095s %63s", dev, point, type) != 3 || strncmp(type, "fuse.wimfs", 10))
            continue;
        /* /proc/mounts writes space, tab, newline and "\" as octal escapes. */
        {
            char *s = point, *d = point;
            while (*s) {
                if (s[0] == '\\' && s[1] >= '0' && s[1] <= '7' && s[2] && s[3]) {
                    *d++ = (char)strtol((char[]){s[1], s[2], s[3], 0}, NULL, 8);
                    s += 4;
                } else {
                    *d++ = *s++;
                }
            }
            *d = 0;
        }
        found = !strcmp(point, folder) || (real && !strcmp(point, real));
    }
    free(line);
    free(real);
    fclose(fp);
    return found;
}

enum wg_fuse_state wg_fuse_state(const char *folder)
{
    struct stat st;

    if (stat(folder, &st))
        return errno == ENOTCONN ? WG_FUSE_DEAD : WG_FUSE_NONE;
    return listed_as_wimfs(folder) ? WG_FUSE_LIVE : WG_FUSE_NONE;
}

DWORD wg_fuse_release(const char *folder)
{
    char *argv[4];
    struct run_result r;

    if (umount2(folder, MNT_DETACH) == 0)
        return 0;
    argv[0] = (char *)fusermount_path();
    argv[1] = "-uz";
    argv[2] = (char *)folder;
    argv[3] = NULL;
    if (!argv[0])
        return wg_error_from_errno(errno);
    run_program(argv, NULL, &r);
    return r.status == 0 || wg_fuse_state(folder) != WG_FUSE_DEAD ? 0 : run_error(&r);
}

/* The files in a staging folder and their bytes. */
struct staged_count {
    uint64_t files;
    uint64_t bytes;
};

static void count_file(int dirfd, const char *name, int fd, const struct stat *st, void *ctx)
{
    struct staged_count *c = ctx;

    (void)dirfd, (void)name;
    if (fd >= 0)
        return;
    c->files++;
    c->bytes += (uint64_t)st->st_size;
}

void wg_fuse_staged(const char *staging, uint64_t *files, uint64_t *bytes)
{
    int fd = staging ? open(staging, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    struct staged_count c = {0, 0};

    if (fd >= 0) {
        /* The count looks at most eight folders deep. */
        wg_walk_tree(fd, 8, count_file, &c);
        close(fd);
    }
    *files = c.files;
    *bytes = c.bytes;
}

void wg_fuse_drop_staging(const char *staging)
{
    if (staging && wg_folder_empty(staging) == 0)
        rmdir(staging);
}
