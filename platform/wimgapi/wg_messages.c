/*
 * wg_messages.c - message callbacks: registration, delivery, and the
 * translation of wimlib's progress messages into WIMGAPI messages.
 *
 * Every long call runs with a struct wg_op that holds a snapshot of the
 * callbacks to notify.  When there are none, no progress function is
 * registered with wimlib at all, so an operation without callbacks costs
 * exactly what the bare wimlib call costs.
 *
 * WIM_MSG_PROCESS during apply, mount and export: wimlib reports no file
 * names while it writes data, only byte counts.  The pacer lists the image's
 * items beforehand in the order in which wimlib processes their data (by
 * location in the WIM, as wimlib sorts them for sequential reading) and
 * reports each item when the byte count reaches it.  Items without data
 * (folders, empty files) are reported first, when the folder structure is
 * created.  So the messages arrive while the work happens, which is what a
 * callback that offers the user to abort needs.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "wg_internal.h"

/* ------------------------------------------------------------------------- */
/* Registry                                                                  */
/* ------------------------------------------------------------------------- */

struct registration {
    struct wg_file *file;      /* NULL: every operation */
    PFN_WIMMessageCallback fn;
    PVOID user;
};

static struct registration *g_regs;
static size_t g_nregs, g_capregs;

DWORD wg_callbacks_register(struct wg_file *f, PFN_WIMMessageCallback fn, PVOID user)
{
    DWORD index = 0;
    size_t i;

    wg_lock();
    if (g_nregs == g_capregs) {
        size_t cap = g_capregs ? g_capregs * 2 : 8;
        struct registration *grown = realloc(g_regs, cap * sizeof(*grown));
        if (!grown) {
            wg_unlock();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return INVALID_CALLBACK_VALUE;
        }
        g_regs = grown;
        g_capregs = cap;
    }
    for (i = 0; i < g_nregs; i++)
        if (g_regs[i].file == f)
            index++;
    g_regs[g_nregs].file = f;
    g_regs[g_nregs].fn = fn;
    g_regs[g_nregs].user = user;
    g_nregs++;
    wg_unlock();
    return index;
}

/* Removes the registrations that match; any_file ignores f. */
static size_t remove_matching(struct wg_file *f, bool any_file, PFN_WIMMessageCallback fn)
{
    size_t i, kept = 0, removed;

    for (i = 0; i < g_nregs; i++) {
        bool match = (any_file || g_regs[i].file == f) && (!fn || g_regs[i].fn == fn);
        if (!match)
            g_regs[kept++] = g_regs[i];
    }
    removed = g_nregs - kept;
    g_nregs = kept;
    return removed;
}

BOOL wg_callbacks_unregister(struct wg_file *f, bool any_file, PFN_WIMMessageCallback fn)
{
    size_t removed;

    wg_lock();
    /* A null handle with a null callback forgets the handle-less ones. */
    removed = remove_matching(f, any_file && fn, fn);
    wg_unlock();
    return removed ? wg_ok() : wg_fail(ERROR_NOT_FOUND);
}

void wg_callbacks_forget(struct wg_file *f)
{
    wg_lock();
    remove_matching(f, false, NULL);
    wg_unlock();
}

DWORD wg_callbacks_count(struct wg_file *f)
{
    DWORD n = 0;
    size_t i;

    wg_lock();
    for (i = 0; i < g_nregs; i++)
        if (g_regs[i].file == f)
            n++;
    wg_unlock();
    return n;
}

/* ------------------------------------------------------------------------- */
/* Operations                                                                */
/* ------------------------------------------------------------------------- */

/* Tests make the snapshot's allocation fail by setting this variable. */
static bool snapshot_fault(void)
{
    WCHAR value[32];
    DWORD n = GetEnvironmentVariableW(L"WIMGAPI_WINE_FAIL", value, 32);

    return n && n < 32 && !lstrcmpiW(value, L"callback-snapshot");
}

DWORD wg_op_init(struct wg_op *op, enum wg_op_kind kind, struct wg_file *a, struct wg_file *b)
{
    size_t i, j;

    memset(op, 0, sizeof(*op));
    op->kind = kind;
    op->last_percent = -1;
    op->start_ms = wg_now_ms();

    wg_lock();
    if (g_nregs) {
        op->cbs = snapshot_fault() ? NULL : malloc(g_nregs * sizeof(*op->cbs));
        if (!op->cbs) {
            /* Running without the callbacks would ignore an abort and
             * the caller's choices: fail instead. */
            wg_unlock();
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    for (i = 0; op->cbs && i < g_nregs; i++) {
        struct registration *r = &g_regs[i];
        bool dup = false;
        if (r->file && r->file != a && r->file != b)
            continue;
        /* The same callback registered on both files hears each message once. */
        for (j = 0; j < op->ncbs && !dup; j++)
            dup = op->cbs[j].fn == r->fn && op->cbs[j].user == r->user;
        if (!dup) {
            op->cbs[op->ncbs].fn = r->fn;
            op->cbs[op->ncbs].user = r->user;
            op->ncbs++;
        }
    }
    wg_unlock();
    return 0;
}

void wg_op_free(struct wg_op *op)
{
    size_t i;

    for (i = 0; i < op->pacer.count; i++)
        free(op->pacer.items[i].path);
    free(op->pacer.items);
    free(op->pacer.prefix);
    free(op->cbs);
    free(op->buf);
    memset(op, 0, sizeof(*op));
}

DWORD wg_op_send(struct wg_op *op, DWORD msg, WPARAM wparam, LPARAM lparam)
{
    DWORD answer = WIM_MSG_SUCCESS;
    size_t i;

    for (i = 0; i < op->ncbs && !op->aborted; i++) {
        answer = op->cbs[i].fn(msg, wparam, lparam, op->cbs[i].user);
        if (answer == WIM_MSG_ABORT_IMAGE)
            op->aborted = true;
    }
    return answer;
}

void wg_op_progress(struct wg_op *op, uint64_t done, uint64_t total)
{
    uint64_t elapsed, remaining = 0;
    int percent;

    if (!op->ncbs)
        return;
    if (done > total)
        done = total;
    percent = total ? (int)((double)done * 100.0 / (double)total) : 0;
    if (percent <= op->last_percent)
        return;
    op->last_percent = percent;
    elapsed = wg_now_ms() - op->start_ms;
    if (done && total > done)
        remaining = (uint64_t)((double)elapsed * (double)(total - done) / (double)done);
    wg_op_send(op, WIM_MSG_PROGRESS, (WPARAM)percent, (LPARAM)remaining);
}

WCHAR *wg_op_buffer(struct wg_op *op, size_t n)
{
    if (n > op->bufcap) {
        size_t cap = n < 512 ? 512 : n * 2;
        WCHAR *grown = realloc(op->buf, cap * sizeof(WCHAR));
        if (!grown)
            return NULL;
        op->buf = grown;
        op->bufcap = cap;
    }
    return op->buf;
}

/* prefix + UTF-8 path with "/" turned into "\", in the op's buffer. */
static WCHAR *join_path(struct wg_op *op, const WCHAR *prefix, size_t prefix_len, const char *rel)
{
    size_t rel_len = strlen(rel), i;
    WCHAR *buf = wg_op_buffer(op, prefix_len + rel_len + 1);
    int n = 0;

    if (!buf)
        return NULL;
    memcpy(buf, prefix, prefix_len * sizeof(WCHAR));
    if (rel_len) {
        n = MultiByteToWideChar(CP_UTF8, 0, rel, (int)rel_len, buf + prefix_len, (int)(op->bufcap - prefix_len - 1));
        if (n <= 0)
            return NULL;
    }
    buf[prefix_len + n] = 0;
    for (i = prefix_len; i < prefix_len + (size_t)n; i++)
        if (buf[i] == '/')
            buf[i] = '\\';
    return buf;
}

/* Windows form of a path wimlib reports during a capture. */
static WCHAR *capture_path(struct wg_op *op, const char *unix_path)
{
    if (op->unix_root && !strncmp(unix_path, op->unix_root, op->unix_root_len) &&
        (unix_path[op->unix_root_len] == '/' || !unix_path[op->unix_root_len]))
        return join_path(op, op->win_root, op->win_root_len, unix_path + op->unix_root_len);
    return join_path(op, L"", 0, unix_path);
}

/* Length of the UTF-8 sequence at s, or 0 when it is not well-formed
 * (overlong forms, surrogates and values beyond U+10FFFF included). */
static size_t utf8_sequence(const unsigned char *s)
{
    unsigned cp;
    size_t n, i;

    if (s[0] < 0x80)
        return 1;
    if (s[0] >= 0xC2 && s[0] <= 0xDF)
        n = 2, cp = s[0] & 0x1F;
    else if (s[0] >= 0xE0 && s[0] <= 0xEF)
        n = 3, cp = s[0] & 0x0F;
    else if (s[0] >= 0xF0 && s[0] <= 0xF4)
        n = 4, cp = s[0] & 0x07;
    else
        return 0;
    for (i = 1; i < n; i++) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

static bool valid_utf8(const char *s)
{
    const unsigned char *p = (const unsigned char *)s;
    size_t n;

    while (*p) {
        n = utf8_sequence(p);
        if (!n)
            return false;
        p += n;
    }
    return true;
}

/* A Linux name that is not UTF-8 has no Windows form, and wimlib would fail
 * the whole capture on it: it is left out, and the callbacks hear of it as
 * an error they cannot prevent (they may still abort). */
static bool skip_foreign_name(struct wg_op *op, const char *unix_path)
{
    const char *name = strrchr(unix_path, '/');
    WCHAR *path;

    if (valid_utf8(name ? name + 1 : unix_path))
        return false;
    path = capture_path(op, unix_path);
    wg_op_send(op, WIM_MSG_ERROR, (WPARAM)(path ? path : L""), (LPARAM)ERROR_NO_UNICODE_TRANSLATION);
    return true;
}

/* WIM_MSG_PROCESS (and, for files, WIM_MSG_COMPRESS and WIM_MSG_ALIGNMENT)
 * before wimlib scans an item; a FALSE answer leaves the item out. */
static void test_exclusion(struct wg_op *op, struct wimlib_progress_info_test_file_exclusion *t)
{
    const char *p = t->path;
    struct stat st;
    WCHAR *path;
    BOOL keep = TRUE, compress = TRUE, align = FALSE;

    /* The capture root itself cannot be left out. */
    if (op->unix_root && !strncmp(p, op->unix_root, op->unix_root_len) && !p[op->unix_root_len])
        return;
    if (skip_foreign_name(op, p)) {
        t->will_exclude = true;
        return;
    }
    if (!op->ncbs)
        return;
    path = capture_path(op, p);
    if (!path)
        return;
    wg_op_send(op, WIM_MSG_PROCESS, (WPARAM)path, (LPARAM)&keep);
    if (op->aborted)
        return;
    if (!keep) {
        t->will_exclude = true;
        return;
    }
    if (lstat(p, &st) == 0 && S_ISREG(st.st_mode)) {
        /* Asked for every file; wimlib cannot act on the answers (see
         * wimgapi.h). */
        wg_op_send(op, WIM_MSG_COMPRESS, (WPARAM)path, (LPARAM)&compress);
        if (!op->aborted)
            wg_op_send(op, WIM_MSG_ALIGNMENT, (WPARAM)path, (LPARAM)&align);
    }
}

/* WIM_MSG_ERROR for an item wimlib cannot read; WIM_MSG_SKIP_ERROR skips it. */
static void handle_error(struct wg_op *op, struct wimlib_progress_info_handle_error *e)
{
    WCHAR *path = e->path ? capture_path(op, e->path) : NULL;
    DWORD code = wg_error_from_wimlib(e->error_code, errno);
    DWORD answer = wg_op_send(op, WIM_MSG_ERROR, (WPARAM)(path ? path : L""), (LPARAM)code);

    /* A name with no Windows form is always left out (see above). */
    if (answer == WIM_MSG_SKIP_ERROR || code == ERROR_NO_UNICODE_TRANSLATION)
        e->will_ignore = true;
}

/* A special file (FIFO, socket, device) that wimlib has left out: the
 * callbacks hear of it as an error they cannot prevent, as for a name with
 * no Windows form. */
static void report_unsupported(struct wg_op *op, const struct wimlib_progress_info_scan *scan)
{
    WCHAR *path;

    if (scan->status != WIMLIB_SCAN_DENTRY_UNSUPPORTED || !scan->cur_path || !op->ncbs)
        return;
    path = capture_path(op, scan->cur_path);
    wg_op_send(op, WIM_MSG_ERROR, (WPARAM)(path ? path : L""), (LPARAM)ERROR_NOT_SUPPORTED);
}

static enum wimlib_progress_status progress_adapter(enum wimlib_progress_msg msg,
                                                    union wimlib_progress_info *info, void *ctx)
{
    struct wg_op *op = ctx;

    switch (msg) {
    case WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION:
        test_exclusion(op, &info->test_file_exclusion);
        break;
    case WIMLIB_PROGRESS_MSG_HANDLE_ERROR:
        handle_error(op, &info->handle_error);
        break;
    case WIMLIB_PROGRESS_MSG_SCAN_DENTRY:
        report_unsupported(op, &info->scan);
        break;
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
        if (op->kind == WG_OP_SPLIT) {
            wg_op_progress(op, op->split_base + info->write_streams.completed_bytes, op->split_total);
        } else {
            wg_pacer_advance(op, info->write_streams.completed_bytes, info->write_streams.total_bytes);
            wg_op_progress(op, info->write_streams.completed_bytes, info->write_streams.total_bytes);
        }
        break;
    case WIMLIB_PROGRESS_MSG_WRITE_METADATA_BEGIN:
        wg_pacer_finish(op);
        break;
    case WIMLIB_PROGRESS_MSG_EXTRACT_IMAGE_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_TREE_BEGIN:
        wg_op_progress(op, 0, 1);
        wg_pacer_advance(op, 0, 1);
        break;
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
        wg_pacer_advance(op, info->extract.completed_bytes, info->extract.total_bytes);
        wg_op_progress(op, info->extract.completed_bytes, info->extract.total_bytes);
        break;
    case WIMLIB_PROGRESS_MSG_EXTRACT_METADATA:
    case WIMLIB_PROGRESS_MSG_EXTRACT_TREE_END:
    case WIMLIB_PROGRESS_MSG_EXTRACT_IMAGE_END:
        wg_pacer_finish(op);
        break;
    case WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART:
        op->split_base = info->split.completed_bytes;
        op->split_total = info->split.total_bytes;
        wg_op_progress(op, op->split_base, op->split_total);
        if (op->split_begin && !op->aborted && op->split_begin(op, info))
            return WIMLIB_PROGRESS_STATUS_ABORT;
        break;
    case WIMLIB_PROGRESS_MSG_SPLIT_END_PART:
        op->split_base = info->split.completed_bytes;
        if (op->split_end && op->split_end(op, info))
            return WIMLIB_PROGRESS_STATUS_ABORT;
        break;
    default:
        break;
    }
    return op->aborted ? WIMLIB_PROGRESS_STATUS_ABORT : WIMLIB_PROGRESS_STATUS_CONTINUE;
}

void wg_op_attach(struct wg_op *op, WIMStruct *wim)
{
    /* Split always needs its hooks (part names), even without callbacks,
     * and capture its check of the names. */
    if (op->ncbs || op->split_begin || op->kind == WG_OP_CAPTURE)
        wimlib_register_progress_function(wim, progress_adapter, op);
}

void wg_op_detach(struct wg_op *op, WIMStruct *wim)
{
    if (wim)
        wimlib_register_progress_function(wim, NULL, NULL);
}

/* ------------------------------------------------------------------------- */
/* Pacer                                                                     */
/* ------------------------------------------------------------------------- */

static int collect_item(const struct wimlib_dir_entry *e, void *ctx)
{
    struct wg_pacer *p = ctx;
    struct wg_pace_item *item;

    if (e->depth == 0)
        return 0;   /* the root */
    if (p->count == p->cap) {
        size_t cap = p->cap ? p->cap * 2 : 256;
        struct wg_pace_item *grown = realloc(p->items, cap * sizeof(*grown));
        if (!grown)
            return WIMLIB_ERR_NOMEM;
        p->items = grown;
        p->cap = cap;
    }
    item = &p->items[p->count];
    memset(item, 0, sizeof(*item));
    item->path = strdup(e->full_path);
    if (!item->path)
        return WIMLIB_ERR_NOMEM;
    item->seq = p->count;
    if (!(e->attributes & WIMLIB_FILE_ATTRIBUTE_DIRECTORY)) {
        item->size = e->streams[0].resource.uncompressed_size;
        item->part = e->streams[0].resource.part_number;
        item->offset = e->streams[0].resource.offset;
    }
    p->total += item->size;
    p->count++;
    return 0;
}

static int compare_items(const void *a, const void *b)
{
    const struct wg_pace_item *x = a, *y = b;

    /* Items without data come first, in tree order. */
    if ((x->size == 0) != (y->size == 0))
        return x->size == 0 ? -1 : 1;
    if (x->size) {
        if (x->part != y->part)
            return x->part < y->part ? -1 : 1;
        if (x->offset != y->offset)
            return x->offset < y->offset ? -1 : 1;
    }
    return x->seq < y->seq ? -1 : x->seq > y->seq;
}

DWORD wg_pacer_build(struct wg_op *op, WIMStruct *wim, int image, const WCHAR *prefix)
{
    struct wg_pacer *p = &op->pacer;
    int ret;

    if (!op->ncbs)
        return 0;
    p->prefix = wc_dup(prefix);
    if (!p->prefix)
        return ERROR_NOT_ENOUGH_MEMORY;
    ret = wimlib_iterate_dir_tree(wim, image, "/", WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, collect_item, p);
    if (ret)
        return wg_error_from_wimlib(ret, 0);
    if (p->count)
        qsort(p->items, p->count, sizeof(*p->items), compare_items);
    return 0;
}

static void emit(struct wg_op *op, struct wg_pace_item *item)
{
    BOOL keep = TRUE;
    WCHAR *path = join_path(op, op->pacer.prefix, wc_len(op->pacer.prefix), item->path);

    if (path)
        wg_op_send(op, WIM_MSG_PROCESS, (WPARAM)path, (LPARAM)&keep);
}

void wg_pacer_advance(struct wg_op *op, uint64_t done, uint64_t total)
{
    struct wg_pacer *p = &op->pacer;
    double reached;

    if (!p->items)
        return;
    if (done > total)
        done = total;
    reached = total ? (double)p->total * (double)done / (double)total : 0.0;
    /* An item is reported when wimlib starts on its data. */
    while (p->next < p->count && !op->aborted && (double)p->emitted <= reached) {
        emit(op, &p->items[p->next]);
        p->emitted += p->items[p->next].size;
        p->next++;
    }
}

void wg_pacer_finish(struct wg_op *op)
{
    struct wg_pacer *p = &op->pacer;

    while (p->next < p->count && !op->aborted)
        emit(op, &p->items[p->next++]);
}

/* ------------------------------------------------------------------------- */
/* Exports                                                                   */
/* ------------------------------------------------------------------------- */

DWORD WINAPI wg_RegisterMessageCallback(HANDLE wim, FARPROC callback, PVOID user)
{
    struct wg_file *f = NULL;
    DWORD index;

    if (!callback) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_CALLBACK_VALUE;
    }
    if (wim) {
        f = wg_file_get(wim);
        if (!f)
            return INVALID_CALLBACK_VALUE;
    }
    index = wg_callbacks_register(f, (PFN_WIMMessageCallback)(void *)callback, user);
    wg_file_release(f);
    if (index != INVALID_CALLBACK_VALUE)
        SetLastError(ERROR_SUCCESS);
    return index;
}

BOOL WINAPI wg_UnregisterMessageCallback(HANDLE wim, FARPROC callback)
{
    struct wg_file *f = NULL;
    BOOL ok;

    if (wim) {
        f = wg_file_get(wim);
        if (!f)
            return FALSE;
    }
    ok = wg_callbacks_unregister(f, wim == NULL, (PFN_WIMMessageCallback)(void *)callback);
    wg_file_release(f);
    return ok;
}

DWORD WINAPI wg_GetMessageCallbackCount(HANDLE wim)
{
    struct wg_file *f = NULL;
    DWORD n;

    if (wim) {
        f = wg_file_get(wim);
        if (!f)
            return 0;
    }
    n = wg_callbacks_count(f);
    wg_file_release(f);
    SetLastError(ERROR_SUCCESS);
    return n;
}
