/*
 * wg_internal.h - the pieces of wimgapi.dll and how they fit together.
 *
 *   wg_handles.c   handle table; file and image objects and their lifetime
 *   wg_wimfile.c   WIMCreateFile and the calls on a file handle; opening,
 *                  creating and writing the wimlib WIMStruct behind it
 *   wg_filelock.c  the one-writer lock of a WIM file
 *   wg_messages.c  callback registry, the operation context every long
 *                  call runs with, the wimlib progress adapter and the pacer
 *                  that reports items while an image's data are written
 *   wg_capture.c   WIMCaptureImage
 *   wg_transfer.c  WIMApplyImage, WIMExportImage, WIMSplitFile
 *   wg_xml.c       WIMGetImageInformation, WIMSetImageInformation
 *   wg_xmlread.c   reading a caller's XML with libxml2 (Linux compiler)
 *   wg_mount.c     mounting, the mount-list exports
 *   wg_commit.c    committing, discarding and unmounting a mount
 *   wg_mountlist.c the persistent mount list and the state of its records
 *   wg_mountdir.c  the mount folder: checking, protecting, emptying; the
 *                  tree walk shared with the staging folder's count
 *   wg_fuse.c      mounts served by wimlib's FUSE file system (a process of
 *                  its own, started with wimlib-imagex)
 *   wg_errors.c    wimlib and errno codes -> Win32 error codes
 *   wg_leftovers.c the names of a write's temporary files, and clearing
 *                  those that processes which ended left behind
 *
 * Locking: one global lock guards the handle table and the callback
 * registry (held only briefly, never while calling out).  A file opened
 * for writing holds the one-writer lock of its path (wg_filelock.c) for as
 * long as it lives, against every other handle of every process.  Each file object
 * has its own lock, held for the whole of every call that works on it, so
 * two threads never use one WIMStruct at once; message callbacks run with
 * it held (it is recursive, so a callback may call back into the library).
 */
#ifndef WG_INTERNAL_H
#define WG_INTERNAL_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <windows.h>

#include "wimgapi.h"
#include "winconv.h"
#include "wg_xmlread.h"

#include "linux_wimlib.h"

/* Header version of a file with solid resources (an ESD file). */
#define WG_SOLID_WIM_VERSION 0xE00

/* ------------------------------------------------------------------------- */
/* Objects and handles (wg_handles.c)                                        */
/* ------------------------------------------------------------------------- */

enum wg_kind { WG_KIND_FILE = 1, WG_KIND_IMAGE = 2 };

struct wg_image;

/* One WIMCreateFile (or an internal open for mounting). */
struct wg_file {
    LONG refs;                 /* handle + image objects + running calls */
    CRITICAL_SECTION lock;
    WCHAR *win_path;           /* full Windows path */
    char *unix_path;
    DWORD access;              /* WIM_GENERIC_* */
    DWORD flags;               /* flags given to WIMCreateFile */
    DWORD ctype;               /* compression type for a new file */
    bool is_new;               /* created; nothing written to disk yet */
    bool no_replace;           /* WIM_CREATE_NEW: never replace a file */
    bool failed;               /* a writing call failed or was aborted */
    int lock_fd;               /* holds the writer's lock, or -1 */
    WCHAR *temp_path;          /* WIMSetTemporaryPath */
    WIMStruct *wim;            /* NULL until needed; dropped after a write */
    char **ref_paths;          /* parts referenced by WIMSetReferenceFile */
    size_t ref_count;
    struct wg_image *images;   /* live image objects (index fix-ups) */
};

/* One image of a file (WIMLoadImage, WIMCaptureImage, mounting). */
struct wg_image {
    LONG refs;
    struct wg_file *file;      /* counted reference */
    int index;                 /* 1-based; 0 once the image was deleted */
    WCHAR *mount_path;         /* full path of its mount folder, if mounted */
    struct wg_image *next;     /* in file->images */
};

void wg_init(void);
void wg_lock(void);
void wg_unlock(void);

/* New objects start with one reference, which wg_handle_new takes over. */
struct wg_file *wg_file_alloc(void);
struct wg_image *wg_image_alloc(struct wg_file *file, int index);
/* Releasing the last reference of a new file writes it: the result is the
 * Win32 error of that write (0 when there was nothing to do). */
DWORD wg_file_release(struct wg_file *f);
DWORD wg_image_release(struct wg_image *img);

HANDLE wg_handle_new(int kind, void *obj);
/* Looks a handle up and takes a reference, or sets ERROR_INVALID_HANDLE. */
struct wg_file *wg_file_get(HANDLE h);
struct wg_image *wg_image_get(HANDLE h);
BOOL wg_handle_close(HANDLE h);


/* ------------------------------------------------------------------------- */
/* Files (wg_wimfile.c)                                                      */
/* ------------------------------------------------------------------------- */

/* Creates a file object for a path as WIMCreateFile does; NULL with the
 * error in *err on failure. */
struct wg_file *wg_file_create(const WCHAR *path, DWORD access, DWORD disposition, DWORD flags,
                               DWORD ctype, DWORD *created, DWORD *err);
/* A file object for a known WIM path that is opened only when needed (the
 * file behind a mount may be gone; unmounting must still work). */
struct wg_file *wg_file_attach(const WCHAR *win_path, DWORD access, DWORD *err);
/* Makes f->wim usable (opens or creates it); returns a Win32 error. */
DWORD wg_file_load(struct wg_file *f);
/* Forgets the WIMStruct and anything not yet written. */
void wg_file_drop(struct wg_file *f);
/* At the start of a writing call: forgets what was read of an existing
 * file, so the next wg_file_load reads it as it is on disk now. */
void wg_file_refresh(struct wg_file *f);
/* Takes the one-writer lock of f's file for as long as f lives;
 * ERROR_SHARING_VIOLATION while another handle, in any process of the
 * machine, has the file open for writing. */
DWORD wg_file_lock_writer(struct wg_file *f);
void wg_file_unlock_writer(struct wg_file *f);
/* Writes the in-memory state of f->wim to disk (see wimgapi.h, "Writing")
 * and drops the WIMStruct; returns a Win32 error.  op may be NULL. */
struct wg_op;
DWORD wg_file_write(struct wg_file *f, struct wg_op *op);
DWORD wg_file_check_writable(const struct wg_file *f);
/* Number of images, or -1 with a Win32 error in *err. */
int wg_file_image_count(struct wg_file *f, DWORD *err);
/* Called by the last release of a file object; returns a Win32 error. */
DWORD wg_file_finish(struct wg_file *f);
/* Checks that index names an image whose metadata can be read. */
DWORD wg_file_check_image(struct wg_file *f, int index);

/* ------------------------------------------------------------------------- */
/* Messages and operations (wg_messages.c)                                   */
/* ------------------------------------------------------------------------- */

struct wg_callback {
    PFN_WIMMessageCallback fn;
    PVOID user;
};

/* An item reported by WIM_MSG_PROCESS while an image's data are written. */
struct wg_pace_item {
    char *path;                /* in-image path, "/" separated */
    uint64_t size;
    uint64_t part, offset;     /* where its data sit in the WIM */
    size_t seq;                /* tree order */
};

struct wg_pacer {
    struct wg_pace_item *items;
    size_t count, cap, next;
    uint64_t total, emitted;   /* sums of item sizes */
    WCHAR *prefix;             /* put before each in-image path */
};

enum wg_op_kind { WG_OP_CAPTURE, WG_OP_APPLY, WG_OP_EXPORT, WG_OP_SPLIT, WG_OP_COMMIT };

/* The context of one long call: the callbacks to notify and the state of
 * its progress reports. */
struct wg_op {
    enum wg_op_kind kind;
    struct wg_callback *cbs;
    size_t ncbs;
    bool aborted;
    int last_percent;
    uint64_t start_ms;
    WCHAR *buf;                /* scratch buffer for paths */
    size_t bufcap;
    /* capture: Unix paths from wimlib -> the Windows paths the caller knows */
    const char *unix_root;
    size_t unix_root_len;
    const WCHAR *win_root;
    size_t win_root_len;
    /* apply, mount, export */
    struct wg_pacer pacer;
    /* split: hooks of wg_transfer.c */
    void *split_ctx;
    int (*split_begin)(struct wg_op *op, union wimlib_progress_info *info);
    int (*split_end)(struct wg_op *op, union wimlib_progress_info *info);
    uint64_t split_base;       /* bytes of the parts already written */
    uint64_t split_total;      /* bytes of all parts */
};

/* Snapshot of the callbacks registered on a and b (either may be NULL) and
 * on no handle; ERROR_NOT_ENOUGH_MEMORY when it cannot be taken (op can
 * still be freed). */
DWORD wg_op_init(struct wg_op *op, enum wg_op_kind kind, struct wg_file *a, struct wg_file *b);
void wg_op_free(struct wg_op *op);
static inline bool wg_op_has_callbacks(const struct wg_op *op) { return op->ncbs != 0; }
/* Sends a message to every callback; a WIM_MSG_ABORT_IMAGE answer sets
 * op->aborted and stops the delivery.  Returns the last answer. */
DWORD wg_op_send(struct wg_op *op, DWORD msg, WPARAM wparam, LPARAM lparam);
void wg_op_progress(struct wg_op *op, uint64_t done, uint64_t total);
/* Registers the progress adapter on wim when op has callbacks. */
void wg_op_attach(struct wg_op *op, WIMStruct *wim);
void wg_op_detach(struct wg_op *op, WIMStruct *wim);
/* A scratch buffer of at least n WCHARs, or NULL. */
WCHAR *wg_op_buffer(struct wg_op *op, size_t n);

/* Lists the items of an image for WIM_MSG_PROCESS, in the order in which
 * wimlib will write their data. */
DWORD wg_pacer_build(struct wg_op *op, WIMStruct *wim, int image, const WCHAR *prefix);
/* Reports the items whose data lie within the first done/total of the
 * work; wg_pacer_finish reports the rest. */
void wg_pacer_advance(struct wg_op *op, uint64_t done, uint64_t total);
void wg_pacer_finish(struct wg_op *op);

void wg_callbacks_forget(struct wg_file *f);
DWORD wg_callbacks_register(struct wg_file *f, PFN_WIMMessageCallback fn, PVOID user);
BOOL wg_callbacks_unregister(struct wg_file *f, bool any_file, PFN_WIMMessageCallback fn);
DWORD wg_callbacks_count(struct wg_file *f);

/* ------------------------------------------------------------------------- */
/* Transfers (wg_transfer.c)                                                 */
/* ------------------------------------------------------------------------- */

/* Extracts image index of f into the folder path (WIMApplyImage). */
DWORD wg_apply(struct wg_file *f, int index, const WCHAR *path, DWORD flags);

/* ------------------------------------------------------------------------- */
/* The mount list (wg_mountlist.c)                                           */
/* ------------------------------------------------------------------------- */

/* A Linux process, told apart from a later one that got the same pid. */
struct wg_owner {
    long pid;                  /* 0: none */
    unsigned long long start;  /* start time in clock ticks after boot */
};

#define WG_MODE_UNKNOWN 0xFFFFFFFFu

enum wg_mount_kind { WG_MOUNT_COPY = 0, WG_MOUNT_FUSE = 1 };

struct wg_mount_rec {
    bool pending;              /* being mounted */
    bool emptying;             /* an unmount began to empty the folder */
    enum wg_mount_kind kind;   /* extracted copy or FUSE file system */
    char *staging;             /* FUSE, read-write: Unix path of its staging folder */
    DWORD index;
    bool rw;
    WCHAR *wim_path;
    WCHAR *mount_path;
    struct wg_owner owner;     /* the process that mounted it */
    struct wg_owner busy;      /* a process committing or unmounting it */
    unsigned long long dir_dev, dir_ino;   /* the mount folder; 0/0 unknown */
    unsigned long long dir_born;           /* its birth time in ns, 0 unknown */
    unsigned dir_mode;         /* its permission bits before the mount */
    /* The WIM file as it was when mounted (and after each commit): a
     * commit refuses a file that is no longer that one.  All 0: unknown. */
    unsigned long long wim_dev, wim_ino, wim_size, wim_mtime;
    /* The mounted image's creation time as its XML holds it ("-": none),
     * which tells whether the index still names that image. */
    char *image_id;
};

struct wg_mount_list {
    int lock_fd;
    char *file;                /* Unix path of mounts.txt */
    struct wg_mount_rec *recs;
    size_t count, cap;
};

/* Start time of a Linux process (field 22 of /proc/<pid>/stat): 0 when it
 * does not exist or has ended, never 0 otherwise. */
unsigned long long wg_process_start(long pid);
void wg_owner_self(struct wg_owner *o);
bool wg_owner_alive(const struct wg_owner *o);
/* Unix path of a file in the library's shared folder (%ProgramData%\
 * WimgapiWine, created on demand), from malloc; NULL on failure. */
char *wg_store_file(const char *name);

/* Locks and reads the list; wg_list_close unlocks it. */
DWORD wg_list_open(struct wg_mount_list *l);
/* The same, but only when nobody holds the lock now (else its error). */
DWORD wg_list_try_open(struct wg_mount_list *l);
DWORD wg_list_save(struct wg_mount_list *l);
void wg_list_close(struct wg_mount_list *l);
bool wg_list_add(struct wg_mount_list *l, const struct wg_mount_rec *r);
void wg_list_remove(struct wg_mount_list *l, size_t i);
long wg_list_find_folder(const struct wg_mount_list *l, const WCHAR *mount_path);
long wg_list_find_image(const struct wg_mount_list *l, const WCHAR *wim_path, DWORD index);
bool wg_record_copy(struct wg_mount_rec *dst, const struct wg_mount_rec *src);
void wg_record_free(struct wg_mount_rec *r);
/* Records the identity of the folder at unix_path in r (dir_dev, dir_ino,
 * dir_born); an error when it cannot be read. */
DWORD wg_record_folder(struct wg_mount_rec *r, const char *unix_path);
/* Records the identity of the WIM file at unix_path in r (wim_dev,
 * wim_ino, wim_size, wim_mtime); an error when it cannot be read. */
DWORD wg_record_wim(struct wg_mount_rec *r, const char *unix_path);
/* The creation time of image index of wim, as text from malloc (NULL when
 * the image has none). */
char *wg_image_identity(WIMStruct *wim, int index);
/* WIM_MOUNT_FLAG_* of a record as things stand now. */
DWORD wg_mount_flags(const struct wg_mount_rec *r);
/* True while another call (here or in another live process) works on the
 * mount: a commit, an unmount, or the mount itself. */
bool wg_record_busy(const struct wg_mount_rec *r);

/* The mount folder (wg_mountdir.c).  wg_folder_check: 0 for an existing
 * empty folder, else why it cannot take a mount.  wg_folder_empty deletes
 * everything inside (0 when the folder is gone).  wg_folder_protect takes
 * the write permission away from the folder and everything inside. */
DWORD wg_folder_check(const char *unix_path);
/* The Unix path of a mount folder, found without looking at the folder
 * itself (only at its parent), so that it never waits for a file system
 * mounted there.  From malloc; NULL with an error set. */
char *wg_folder_unix_path(const WCHAR *win_path);
DWORD wg_folder_empty(const char *unix_path);
void wg_folder_protect(const char *unix_path);

/* Walks the tree below the open folder dirfd without following symbolic
 * links: calls fn for every regular file (fd -1) and, after its contents,
 * for every folder it could enter (fd open on it).  Folders more than
 * max_depth levels down are not entered. */
struct stat;
typedef void (*wg_walk_fn)(int dirfd, const char *name, int fd, const struct stat *st, void *ctx);
void wg_walk_tree(int dirfd, int max_depth, wg_walk_fn fn, void *ctx);

/* True when an image of the file at win_path is mounted. */
bool wg_mount_uses_file(const WCHAR *win_path);
/* ERROR_SHARING_VIOLATION when a writer may not open the existing file
 * now: replacing it while any of its images is mounted, or writing it
 * while a FUSE file system has it mounted read-write (unless the writer
 * mounts). */
DWORD wg_mount_check_writer(const WCHAR *win_path, const char *unix_path, bool replacing, bool mounting);

/* FUSE mounts (wg_fuse.c).  wg_fuse_usable: whether mounts go through
 * FUSE here.  wg_fuse_state: what is at a folder.  wg_fuse_release: lazy
 * unmount of a dead endpoint.  wg_fuse_staging_for: a new staging folder
 * for a mount at unix_folder (malloc).  wg_fuse_staged: the files a
 * staging folder holds. */
enum wg_fuse_state { WG_FUSE_NONE, WG_FUSE_LIVE, WG_FUSE_DEAD };
bool wg_fuse_usable(void);
enum wg_fuse_state wg_fuse_state(const char *unix_folder);
DWORD wg_fuse_mount(const char *wim, int index, const char *folder, bool rw, const char *staging);
DWORD wg_fuse_unmount(const char *folder, bool commit, bool append, struct wg_op *op);
DWORD wg_fuse_release(const char *folder);
char *wg_fuse_staging_for(const char *unix_folder);
/* Removes the staging folders of mounts that are over: named by this
 * library, made by a process that has ended, named by no record of l and
 * holding no file. */
void wg_fuse_sweep_staging(const struct wg_mount_list *l);
/* The same sweep when the library is loaded into a process (a program's
 * start), so that a killed program's empty staging folders do not wait for
 * the next mount; skipped while another process holds the list. */
void wg_fuse_sweep_at_start(void);
/* Mounts with the parts of a split set (paths of its other parts). */
DWORD wg_fuse_mount_refs(const char *wim, int index, const char *folder, bool rw, const char *staging,
                         char *const *refs, size_t nrefs);
void wg_fuse_staged(const char *staging, uint64_t *files, uint64_t *bytes);
void wg_fuse_drop_staging(const char *staging);

/* ------------------------------------------------------------------------- */
/* Errors (wg_errors.c)                                                      */
/* ------------------------------------------------------------------------- */

DWORD wg_error_from_wimlib(int ret, int err_no);
DWORD wg_error_from_errno(int err_no);
/* SetLastError(err) and return FALSE / NULL. */
BOOL wg_fail(DWORD err);
HANDLE wg_fail_handle(DWORD err);
/* SetLastError(0) and return TRUE. */
BOOL wg_ok(void);
/* SetLastError(0) when h is a handle; returns h. */
HANDLE wg_ok_handle(HANDLE h);

/* ------------------------------------------------------------------------- */
/* Small helpers                                                             */
/* ------------------------------------------------------------------------- */

/* Full Windows path (GetFullPathNameW) in memory from malloc, without a
 * trailing "\" unless it is a root such as "C:\"; NULL with an error set. */
WCHAR *wg_full_path(const WCHAR *path);
/* The prefix of the paths a long call reports for a folder the caller
 * named: the caller's own text (its full path if it was relative) without
 * trailing separators, so "C:\" gives "C:" and items "C:\pagefile.sys".
 * From wc_dup; NULL when out of memory. */
WCHAR *wg_message_root(const WCHAR *given, const WCHAR *full);
/* Case-insensitive equality of two Windows paths. */
bool wg_path_equal(const WCHAR *a, const WCHAR *b);
/* Milliseconds of a monotonic clock. */
uint64_t wg_now_ms(void);

/* ------------------------------------------------------------------------- */
/* What killed writes leave (wg_leftovers.c)                                 */
/* ------------------------------------------------------------------------- */

/* ".wimgapi-<pid>-<start>-": how the temporary files of this process begin
 * (its Linux process id and start time), so that those of a process that
 * was killed can be told from those of one that still writes. */
const char *wg_leftover_prefix(void);
/* Removes, in the folder of `path`, the temporary files of processes that
 * have ended; never a file moved aside ("*.old"), which may be all that is
 * left of the file a write was replacing. */
void wg_clear_leftovers(const char *path);

#endif /* WG_INTERNAL_H */
