/*
 * wg_leftovers.c - the names of the temporary files a write leaves beside
 * its target while it runs, and clearing those of processes that ended.
 *
 * A name says whose file it is: ".wimgapi-<pid>-<start>-", the Linux
 * process id and that process's start time.  A process that was killed in
 * the middle of a write leaves its files behind; the next write into the
 * same folder removes them, and never one of a process that still runs.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "wg_internal.h"

const char *wg_leftover_prefix(void)
{
    static char prefix[64];

    if (!prefix[0])
        snprintf(prefix, sizeof prefix, ".wimgapi-%ld-%llu-", (long)getpid(), wg_process_start((long)getpid()));
    return prefix;
}

void wg_clear_leftovers(const char *path)
{
    const char *slash = strrchr(path, '/');
    size_t dir_len = slash ? (size_t)(slash - path) : 0;
    char *dir = malloc(dir_len + 2), *victim;
    struct dirent *entry;
    DIR *folder;

    if (!dir)
        return;
    if (dir_len)
        memcpy(dir, path, dir_len);
    else
        dir[dir_len++] = '.';
    dir[dir_len] = 0;
    folder = opendir(dir);
    while (folder && (entry = readdir(folder))) {
        const char *name = entry->d_name, *p;
        size_t len = strlen(name);
        unsigned long long start;
        char *end;
        long pid;

        if (strncmp(name, ".wimgapi-", 9) || (len > 4 && !strcmp(name + len - 4, ".old")))
            continue;
        p = name + 9;
        pid = strtol(p, &end, 10);
        if (end == p || *end != '-')
            continue;
        p = end + 1;
        start = strtoull(p, &end, 10);
        if (end == p || *end != '-' || pid <= 0 || pid == (long)getpid())
            continue;
        if (wg_process_start(pid) == start)
            continue;   /* still running: its write goes on */
        victim = malloc(dir_len + len + 2);
        if (victim) {
            snprintf(victim, dir_len + len + 2, "%s/%s", dir, name);
            unlink(victim);
            free(victim);
        }
    }
    if (folder)
        closedir(folder);
    free(dir);
}
