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
 * (kept in the library's shared folder, "staging/quarry-<pid>.<start>-<time>",
 * named after the process that made it and when, never reused); the commit
 * ("unmount --commit") writes only the changed files into the WIM, and the
 * daemon ends with it.  A commit that keeps the image mounted mounts it
 * again once the old file system is gone.  A staging folder that holds
 * nothing, of a process that has ended and of no record, is removed by the
 * next mount, and by the next program that loads this library; one that
 * holds files is kept whatever happens.
 *
 * Whether a folder is served is judged from the kernel's mount table and
 * the daemon's process, never by looking at the folder itself: a file
 * system that is busy committing answers nothing until it is done.
 *
 * What went wrong is told by wimlib-imagex's exit status (its library's
 * error code), never by the words of its output, which echo the paths.
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
#include <time.h>
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

/* The library's error code of a failed run of wimlib-imagex: its exit
 * status, or (when the status was lost) the last "Exiting with error code N"
 * it printed; -1 when it never ran or said nothing of the kind. */
static int run_code(const struct run_result *r)
{
    static const char said[] = "Exiting with error code ";
    const char *p = NULL, *q = r->text;

    if (r->status > 0)
        return r->status;
    while ((q = strstr(q, said)))
        p = q++;
    return p ? atoi(p + sizeof(said) - 1) : -1;
}

/* True when a write error of the run was for want of space: the system's
 * own words end the line that reports it. */
static bool out_of_space(const struct run_result *r)
{
    const char *words = strerror(ENOSPC), *p = r->text;
    size_t n = strlen(words);

    while ((p = strstr(p, words))) {
        if (p[n] == '\n' || p[n] == '\r' || !p[n])
            return true;
        p += n;
    }
    return false;
}

/* The Win32 error for a failed run. */
static DWORD run_error(const struct run_result *r)
{
    int code = run_code(r);

    if (r->status == -1 && !r->text[0])
        return ERROR_FILE_NOT_FOUND;
    switch (code) {
    case -1:
    case 0:
        return ERROR_GEN_FAILURE;
    case WIMLIB_ERR_FUSE:
    case WIMLIB_ERR_MQUEUE:
        /* FUSE itself refused. */
        return ERROR_NOT_SUPPORTED;
    case WIMLIB_ERR_MOUNTED_IMAGE_IS_BUSY:
        return ERROR_BUSY;
    case WIMLIB_ERR_NOT_A_MOUNTPOINT:
        return ERROR_NOT_FOUND;
    case WIMLIB_ERR_NOT_PERMITTED_TO_UNMOUNT:
        return ERROR_ACCESS_DENIED;
    case WIMLIB_ERR_IS_SPLIT_WIM:
    case WIMLIB_ERR_WIM_IS_READONLY:
        return ERROR_FILE_READ_ONLY;
    case WIMLIB_ERR_WRITE:
        return out_of_space(r) ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    default:
        return wg_error_from_wimlib(code, 0);
    }
}

/* ------------------------------------------------------------------------- */
/* Mounting and unmounting                                                   */
/* ------------------------------------------------------------------------- */

#define STAGING_PREFIX "quarry-"

char *wg_fuse_staging_for(const char *unix_folder)
{
    struct wg_owner self;
    struct timespec now;
    char name[128], *path = NULL, *slash;
    int attempt;

    (void)unix_folder;
    wg_owner_self(&self);
    clock_gettime(CLOCK_REALTIME, &now);
    for (attempt = 0; attempt < 100; attempt++) {
        /* A name of its own: a folder that exists already is never used. */
        snprintf(name, sizeof(name), "staging/" STAGING_PREFIX "%ld.%llu-%lld.%09ld.%d", self.pid, self.start,
                 (long long)now.tv_sec, now.tv_nsec, attempt);
        path = wg_store_file(name);
        if (!path)
            return NULL;
        slash = strrchr(path, '/');
        *slash = 0;
        mkdir(path, 0700);
        *slash = '/';
        if (mkdir(path, 0700) == 0)
            return path;
        free(path);
        path = NULL;
        if (errno != EEXIST)
            return NULL;
    }
    errno = EEXIST;
    return NULL;
}

/* The process that made a staging folder, from its name; false for a name
 * this library did not give. */
static bool staging_owner(const char *name, struct wg_owner *o)
{
    char *end;

    if (strncmp(name, STAGING_PREFIX, sizeof(STAGING_PREFIX) - 1))
        return false;
    o->pid = strtol(name + sizeof(STAGING_PREFIX) - 1, &end, 10);
    if (o->pid <= 0 || *end != '.')
        return false;
    o->start = strtoull(end + 1, &end, 10);
    return *end == '-';
}

void wg_fuse_sweep_staging(const struct wg_mount_list *l)
{
    char *dir = wg_store_file("staging");
    struct dirent *e;
    struct wg_owner owner;
    DIR *d = dir ? opendir(dir) : NULL;
    size_t i;

    while (d && (e = readdir(d))) {
        char *path;
        bool named = false;
        uint64_t files = 0, bytes = 0;

        if (!staging_owner(e->d_name, &owner) || wg_owner_alive(&owner))
            continue;
        if (asprintf(&path, "%s/%s", dir, e->d_name) < 0)
            continue;
        for (i = 0; i < l->count && !named; i++)
            named = l->recs[i].staging && !strcmp(l->recs[i].staging, path);
        if (!named) {
            /* Changes nobody was asked about are never thrown away. */
            wg_fuse_staged(path, &files, &bytes);
            if (!files)
                wg_fuse_drop_staging(path);
        }
        free(path);
    }
    if (d)
        closedir(d);
    free(dir);
}

void wg_fuse_sweep_at_start(void)
{
    struct wg_mount_list l;
    char *dir = wg_store_file("staging");
    bool any = dir && access(dir, F_OK) == 0;

    free(dir);
    /* Nothing was ever staged here: the list is not even looked at. */
    if (!any || wg_list_try_open(&l))
        return;
    wg_fuse_sweep_staging(&l);
    wg_list_close(&l);
}

/* A path as a glob that matches only itself. */
static char *glob_quoted(const char *path)
{
    char *out = malloc(strlen(path) * 2 + 1), *d = out;

    if (!out)
        return NULL;
    for (; *path; path++) {
        if (strchr("*?[]\\", *path))
            *d++ = '\\';
        *d++ = *path;
    }
    *d = 0;
    return out;
}

DWORD wg_fuse_mount_refs(const char *wim, int index, const char *folder, bool rw, const char *staging,
                         char *const *refs, size_t nrefs)
{
    char number[16], *staging_arg = NULL;
    char **argv = calloc(nrefs + 8, sizeof(char *));
    char **ref_args = calloc(nrefs + 1, sizeof(char *));
    struct run_result r;
    DWORD err = 0;
    size_t i;
    int n = 0;

    if (!argv || !ref_args) {
        free(argv);
        free(ref_args);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    snprintf(number, sizeof(number), "%d", index);
    argv[n++] = (char *)imagex_path();
    argv[n++] = rw ? "mountrw" : "mount";
    argv[n++] = (char *)wim;
    argv[n++] = number;
    argv[n++] = (char *)folder;
    if (rw && staging) {
        if (asprintf(&staging_arg, "--staging-dir=%s", staging) < 0)
            err = ERROR_NOT_ENOUGH_MEMORY;
        else
            argv[n++] = staging_arg;
    }
    /* Every other part of a split set, each named exactly. */
    for (i = 0; !err && i < nrefs; i++) {
        char *quoted = glob_quoted(refs[i]);
        if (!quoted || asprintf(&ref_args[i], "--ref=%s", quoted) < 0) {
            ref_args[i] = NULL;
            err = ERROR_NOT_ENOUGH_MEMORY;
        } else {
            argv[n++] = ref_args[i];
        }
        free(quoted);
    }
    argv[n] = NULL;
    if (!err && !argv[0])
        err = ERROR_NOT_SUPPORTED;
    if (!err) {
        run_program(argv, NULL, &r);
        if ((r.status == 0 || r.status == RUN_UNKNOWN) && wg_fuse_state(folder) == WG_FUSE_LIVE)
            err = 0;
        else
            err = r.status == 0 || r.status == RUN_UNKNOWN ? ERROR_GEN_FAILURE : run_error(&r);
    }
    for (i = 0; i < nrefs; i++)
        free(ref_args[i]);
    free(ref_args);
    free(staging_arg);
    free(argv);
    return err;
}

DWORD wg_fuse_mount(const char *wim, int index, const char *folder, bool rw, const char *staging)
{
    return wg_fuse_mount_refs(wim, index, folder, rw, staging, NULL, 0);
}

/* Waits until the kernel no longer lists the folder as a wimlib file
 * system: the daemon unmounts it on its way out, after the command that
 * asked it to has already ended. */
static void wait_until_gone(const char *folder)
{
    uint64_t start = wg_now_ms();

    while (wg_fuse_state(folder) != WG_FUSE_NONE && wg_now_ms() - start < 60000)
        Sleep(20);
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
    if (r.status == 0 || (r.status == RUN_UNKNOWN && run_code(&r) < 0)) {
        wait_until_gone(folder);
        if (r.status == 0 || wg_fuse_state(folder) == WG_FUSE_NONE)
            return 0;
    }
    /* An endpoint whose daemon ended cannot be committed. */
    return wg_fuse_state(folder) == WG_FUSE_DEAD ? ERROR_INVALID_DATA : run_error(&r);
}

/* The folder's path as the kernel's mount table writes it: its parent
 * resolved, the folder itself never looked at.  From malloc. */
static char *table_path(const char *folder, const char *cwd)
{
    char *copy = NULL, *slash, *parent, *out = NULL;
    size_t len;

    if (folder[0] != '/' && cwd) {
        if (asprintf(&copy, "%s/%s", cwd, folder) < 0)
            return NULL;
    } else {
        copy = strdup(folder);
    }
    if (!copy)
        return NULL;
    len = strlen(copy);
    while (len > 1 && copy[len - 1] == '/')
        copy[--len] = 0;
    slash = strrchr(copy, '/');
    if (!slash || !slash[1] || !strcmp(slash + 1, ".") || !strcmp(slash + 1, "..")) {
        out = realpath(copy, NULL);
        free(copy);
        return out;
    }
    *slash = 0;
    parent = realpath(copy[0] ? copy : "/", NULL);
    if (parent && asprintf(&out, "%s/%s", strcmp(parent, "/") ? parent : "", slash + 1) < 0)
        out = NULL;
    free(parent);
    free(copy);
    return out;
}

/* /proc/mounts writes space, tab, newline and "\\" as octal escapes. */
static void unescape_mount_path(char *point)
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

/* True when the kernel lists the path (table form) as a wimlib file system. */
static bool listed_as_wimfs(const char *path)
{
    FILE *fp = fopen("/proc/self/mounts", "r");
    char *line = NULL;
    size_t cap = 0;
    bool found = false;

    if (!fp)
        return false;
    while (!found && getline(&line, &cap, fp) > 0) {
        char dev[64], point[4096], type[64];
        if (sscanf(line, "%63s %4095s %63s", dev, point, type) != 3 || strncmp(type, "fuse.wimfs", 10))
            continue;
        unescape_mount_path(point);
        found = !strcmp(point, path);
    }
    free(line);
    fclose(fp);
    return found;
}

/* True when a live wimlib-imagex process serves (or is mounting) the path
 * (table form): its command line names the folder. */
static bool daemon_serves(const char *path)
{
    DIR *proc = opendir("/proc");
    struct dirent *e;
    bool found = false;

    while (proc && !found && (e = readdir(proc))) {
        char file[64], cwd_link[64], cwd[4096], *buf, *args[6] = {0}, *p, *name;
        ssize_t n, cwd_len;
        int fd, argc = 0, first;

        char *end;
        long pid = strtol(e->d_name, &end, 10);

        if (pid <= 0 || *end)
            continue;
        snprintf(file, sizeof(file), "/proc/%ld/cmdline", pid);
        fd = open(file, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        buf = malloc(8192);
        n = buf ? read(fd, buf, 8191) : -1;
        close(fd);
        if (n <= 0) {
            free(buf);
            continue;
        }
        buf[n] = 0;
        for (p = buf; p < buf + n && argc < 6; p += strlen(p) + 1)
            args[argc++] = p;
        name = args[0] ? strrchr(args[0], '/') : NULL;
        name = name ? name + 1 : args[0];
        /* "wimlib-imagex mount[rw] WIM INDEX DIR" or "wimmount[rw] WIM INDEX DIR". */
        first = name && !strcmp(name, "wimlib-imagex") ? 2 : 1;
        if (!name || (first == 2 && (!args[1] || strncmp(args[1], "mount", 5))) ||
            (first == 1 && strncmp(name, "wimmount", 8)) || !args[first + 2]) {
            free(buf);
            continue;
        }
        snprintf(cwd_link, sizeof(cwd_link), "/proc/%ld/cwd", pid);
        cwd_len = readlink(cwd_link, cwd, sizeof(cwd) - 1);
        if (cwd_len >= 0)
            cwd[cwd_len] = 0;
        {
            char *served = table_path(args[first + 2], cwd_len >= 0 ? cwd : NULL);
            found = served && !strcmp(served, path);
            free(served);
        }
        /* A zombie serves nothing. */
        if (found) {
            char st[512], *close_paren;
            ssize_t m;
            snprintf(file, sizeof(file), "/proc/%ld/stat", pid);
            fd = open(file, O_RDONLY | O_CLOEXEC);
            m = fd >= 0 ? read(fd, st, sizeof(st) - 1) : -1;
            if (fd >= 0)
                close(fd);
            st[m > 0 ? m : 0] = 0;
            close_paren = strrchr(st, ')');
            found = close_paren && close_paren[1] == ' ' && !strchr("ZXx", close_paren[2]);
        }
        free(buf);
    }
    if (proc)
        closedir(proc);
    return found;
}

enum wg_fuse_state wg_fuse_state(const char *folder)
{
    char *path = table_path(folder, NULL);
    enum wg_fuse_state state = WG_FUSE_NONE;

    if (path && listed_as_wimfs(path))
        state = daemon_serves(path) ? WG_FUSE_LIVE : WG_FUSE_DEAD;
    free(path);
    return state;
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
