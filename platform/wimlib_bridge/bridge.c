/*
 * bridge.c - libwim-15.dll for Wine: the Windows ABI of wimlib on top of the
 * Linux libwim.so.15.
 *
 * The Windows program calls this library exactly as it would call a Windows
 * build of wimlib: strings are UTF-16 (wimlib_tchar = wchar_t), file paths
 * are Windows paths, paths inside an image use "\", and callbacks use the
 * Windows x64 calling convention.  Each export (see libwim-15.spec) converts
 * its arguments, calls the Linux library and converts what comes back.
 *
 * Structures are laid out identically by mingw x64 and Linux x86_64 (checked
 * below); only their string fields differ.  Where wimlib hands a structure to
 * a callback, the bridge makes a copy whose string fields point to UTF-16
 * text and passes the copy, so the Windows side sees the same structure type
 * with wchar_t strings.  The UTF-16 copies live until the callback returns.
 *
 * The library is initialised for UTF-8 strings and for case-insensitive
 * paths inside images, as the Windows build of wimlib behaves.
 */
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <windows.h>

#include "winconv.h"

/* winegcc defines _WIN32/_WIN64, which would make wimlib.h declare the
 * Windows ABI (wchar_t strings).  The Linux library has the UNIX ABI. */
#pragma push_macro("_WIN32")
#pragma push_macro("_WIN64")
#undef _WIN32
#undef _WIN64
#include <wimlib.h>
#pragma pop_macro("_WIN64")
#pragma pop_macro("_WIN32")

_Static_assert(sizeof(wimlib_tchar) == 1, "the Linux wimlib must use char strings");
/* The layouts the Windows side relies on (mingw x64 gives the same). */
_Static_assert(sizeof(struct wimlib_wim_info) == 88, "wimlib_wim_info layout");
_Static_assert(sizeof(struct wimlib_resource_entry) == 88, "wimlib_resource_entry layout");
_Static_assert(sizeof(struct wimlib_stream_entry) == 128, "wimlib_stream_entry layout");
_Static_assert(offsetof(struct wimlib_dir_entry, attributes) == 48, "wimlib_dir_entry layout");
_Static_assert(offsetof(struct wimlib_dir_entry, creation_time) == 72, "wimlib_dir_entry layout");
_Static_assert(offsetof(struct wimlib_dir_entry, streams) == 248, "wimlib_dir_entry layout");
_Static_assert(sizeof(union wimlib_progress_info) == 112, "wimlib_progress_info layout");
_Static_assert(sizeof(struct wimlib_update_command) == 40, "wimlib_update_command layout");
_Static_assert(sizeof(struct wimlib_capture_source) == 24, "wimlib_capture_source layout");

#define PE_CALL __attribute__((ms_abi))
#define EXPORT CDECL

/* Callbacks of the Windows program. */
typedef enum wimlib_progress_status(PE_CALL *pe_progress_func)(enum wimlib_progress_msg msg,
                                                                union wimlib_progress_info *info,
                                                                void *ctx);
typedef int(PE_CALL *pe_dir_tree_func)(const struct wimlib_dir_entry *entry, void *ctx);
typedef int(PE_CALL *pe_lookup_table_func)(const struct wimlib_resource_entry *entry, void *ctx);
typedef void *(PE_CALL *pe_malloc_func)(size_t size);

/* A UTF-16 string stored in a char-typed field of a structure copy. */
#define PE_STR(w) ((char *)(w))

/* ------------------------------------------------------------------------- */
/* Library set-up                                                            */
/* ------------------------------------------------------------------------- */

static INIT_ONCE g_init_once = INIT_ONCE_STATIC_INIT;
static int g_init_result;
static int g_init_flags;

static BOOL CALLBACK do_init(INIT_ONCE *once, void *param, void **ctx)
{
    int flags = g_init_flags | WIMLIB_INIT_FLAG_ASSUME_UTF8;

    (void)once, (void)param, (void)ctx;
    if (!(flags & WIMLIB_INIT_FLAG_DEFAULT_CASE_SENSITIVE))
        flags |= WIMLIB_INIT_FLAG_DEFAULT_CASE_INSENSITIVE;
    g_init_result = wimlib_global_init(flags);
    return TRUE;
}

/* Initialises libwim once, before the first call that uses it; the first
 * wimlib_global_init of the program chooses the flags. */
static int ensure_init(void)
{
    InitOnceExecuteOnce(&g_init_once, do_init, NULL, NULL);
    return g_init_result;
}

/* ------------------------------------------------------------------------- */
/* Per-WIM state                                                             */
/* ------------------------------------------------------------------------- */

/* A UTF-16 string that the bridge returned for a WIMStruct and keeps until
 * wimlib_free, as wimlib keeps its own strings. */
struct kept_string {
    struct kept_string *next;
    char *key;
    char *utf8;
    WCHAR *text;
};

struct wim_state {
    struct wim_state *next;
    const WIMStruct *wim;
    pe_progress_func progress;
    void *progress_ctx;
    /* Commands of a running wimlib_update_image, as the caller passed them. */
    const struct wimlib_update_command *update_pe;
    size_t update_count;
    /* A split part name chosen by the progress function. */
    char *split_part_name;
    struct kept_string *strings;
};

static SRWLOCK g_states_lock = SRWLOCK_INIT;
static struct wim_state *g_states;

static struct wim_state *find_state(const WIMStruct *wim, BOOL create)
{
    struct wim_state *st;

    if (!wim)
        return NULL;
    AcquireSRWLockExclusive(&g_states_lock);
    for (st = g_states; st; st = st->next)
        if (st->wim == wim)
            break;
    if (!st && create) {
        st = calloc(1, sizeof(*st));
        if (st) {
            st->wim = wim;
            st->next = g_states;
            g_states = st;
        }
    }
    ReleaseSRWLockExclusive(&g_states_lock);
    return st;
}

static void drop_state(const WIMStruct *wim)
{
    struct wim_state **link, *st = NULL;
    struct kept_string *s, *next;

    AcquireSRWLockExclusive(&g_states_lock);
    for (link = &g_states; *link; link = &(*link)->next) {
        if ((*link)->wim == wim) {
            st = *link;
            *link = st->next;
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_states_lock);
    if (!st)
        return;
    for (s = st->strings; s; s = next) {
        next = s->next;
        free(s->key);
        free(s->utf8);
        free(s->text);
        free(s);
    }
    free(st->split_part_name);
    free(st);
}

/*
 * Returns a UTF-16 copy of a string that libwim returned for wim, kept until
 * wimlib_free.  The same key and text give the same pointer, so asking
 * again does not use more memory.
 */
static const WCHAR *keep_string(const WIMStruct *wim, const char *key, const char *utf8)
{
    struct wim_state *st;
    struct kept_string *s;

    if (!utf8)
        return NULL;
    st = find_state(wim, TRUE);
    if (!st)
        return NULL;
    for (s = st->strings; s; s = s->next)
        if (!strcmp(s->key, key) && !strcmp(s->utf8, utf8))
            return s->text;
    s = calloc(1, sizeof(*s));
    if (!s)
        return NULL;
    s->key = strdup(key);
    s->utf8 = strdup(utf8);
    s->text = wc_from_utf8(utf8);
    if (!s->key || !s->utf8 || !s->text) {
        free(s->key);
        free(s->utf8);
        free(s->text);
        free(s);
        return NULL;
    }
    s->next = st->strings;
    st->strings = s;
    return s->text;
}

/* ------------------------------------------------------------------------- */
/* Argument conversion                                                       */
/* ------------------------------------------------------------------------- */

/* Error for a string argument that could not be converted. */
static int conv_error(int otherwise)
{
    return GetLastError() == ERROR_OUTOFMEMORY ? WIMLIB_ERR_NOMEM : otherwise;
}

/* Converts a string argument with fn; *out stays NULL for a NULL input.
 * Returns FALSE when a non-NULL input could not be converted. */
#define CONVERT(fn, in, out) ((*(out) = fn(in)) != NULL || (in) == NULL)

static BOOL text_arg(const WCHAR *in, char **out)
{
    return CONVERT(wc_to_utf8, in, out);
}

static BOOL path_arg(const WCHAR *in, char **out)
{
    return CONVERT(wc_unix_path, in, out);
}

static BOOL image_path_arg(const WCHAR *in, char **out)
{
    return CONVERT(wc_image_path_to_unix, in, out);
}

/* Array of converted strings, freed with free_string_array. */
static char **string_array(const WCHAR *const *in, size_t count, char *(*fn)(const WCHAR *))
{
    char **out = calloc(count ? count : 1, sizeof(*out));
    size_t i;

    if (!out)
        return NULL;
    for (i = 0; i < count; i++) {
        if (!CONVERT(fn, in[i], &out[i])) {
            wc_free_list(out, i);
            return NULL;
        }
    }
    return out;
}

static void free_string_array(char **a, size_t count)
{
    wc_free_list(a, count);
}

/* ------------------------------------------------------------------------- */
/* Progress messages                                                         */
/* ------------------------------------------------------------------------- */

/* The UTF-16 strings made for one progress message. */
struct msg_strings {
    WCHAR *s[4];
    int n;
};

enum str_kind { TEXT, FS_PATH, IMAGE_PATH };

/* Converts one string of a message; a file path that Wine cannot map is
 * still passed on as text rather than dropped. */
static char *msg_str(struct msg_strings *m, const char *in, enum str_kind kind)
{
    WCHAR *w = NULL;

    if (!in || m->n == (int)(sizeof(m->s) / sizeof(m->s[0])))
        return NULL;
    if (kind == FS_PATH)
        w = wc_dos_path(in);
    else if (kind == IMAGE_PATH)
        w = wc_image_path_from_unix(in);
    if (!w)
        w = wc_from_utf8(in);
    m->s[m->n++] = w;
    return PE_STR(w);
}

static void free_msg_strings(struct msg_strings *m)
{
    while (m->n > 0)
        free(m->s[--m->n]);
}

/* Copy of a split part name with room for the callback to change it in
 * place, as the Windows build allows. */
static WCHAR *part_name_buffer(struct msg_strings *m, const char *in)
{
    WCHAR *w = wc_dos_path(in), *buf;
    size_t len;

    if (!w)
        w = wc_from_utf8(in);
    if (!w)
        return NULL;
    len = wc_len(w);
    buf = calloc(len + MAX_PATH + 1, sizeof(WCHAR));
    if (buf)
        memcpy(buf, w, len * sizeof(WCHAR));
    free(w);
    if (buf)
        m->s[m->n++] = buf;
    return buf;
}

/* After SPLIT_BEGIN_PART: when the callback chose another part name, hand
 * libwim the Unix form of it. */
static void take_part_name(struct wim_state *st, union wimlib_progress_info *info,
                           const WCHAR *given, const WCHAR *now, const WCHAR *original)
{
    char *unix_name;

    if (!now || !original ||
        (now == given && CompareStringOrdinal(now, -1, original, -1, FALSE) == CSTR_EQUAL))
        return;
    unix_name = wc_unix_path(now);
    if (!unix_name)
        return;
    free(st->split_part_name);
    st->split_part_name = unix_name;
    info->split.part_name = unix_name;
}

static enum wimlib_progress_status progress_bridge(enum wimlib_progress_msg msg,
                                                   union wimlib_progress_info *info, void *ctx)
{
    struct wim_state *st = ctx;
    union wimlib_progress_info pe;
    struct msg_strings m = {{0}, 0};
    WCHAR *part_given = NULL, *part_original = NULL;
    enum wimlib_progress_status status;

    if (!st || !st->progress)
        return WIMLIB_PROGRESS_STATUS_CONTINUE;
    if (!info)
        return st->progress(msg, NULL, st->progress_ctx);
    pe = *info;

    switch (msg) {
    case WIMLIB_PROGRESS_MSG_EXTRACT_IMAGE_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_TREE_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_FILE_STRUCTURE:
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
    case WIMLIB_PROGRESS_MSG_EXTRACT_SPWM_PART_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_METADATA:
    case WIMLIB_PROGRESS_MSG_EXTRACT_IMAGE_END:
    case WIMLIB_PROGRESS_MSG_EXTRACT_TREE_END:
        pe.extract.wimfile_name = msg_str(&m, info->extract.wimfile_name, FS_PATH);
        pe.extract.image_name = msg_str(&m, info->extract.image_name, TEXT);
        pe.extract.target = msg_str(&m, info->extract.target, FS_PATH);
        pe.extract.reserved = NULL;
        break;
    case WIMLIB_PROGRESS_MSG_SCAN_BEGIN:
    case WIMLIB_PROGRESS_MSG_SCAN_END:
        pe.scan.source = msg_str(&m, info->scan.source, FS_PATH);
        pe.scan.cur_path = NULL;
        pe.scan.wim_target_path = msg_str(&m, info->scan.wim_target_path, IMAGE_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_SCAN_DENTRY:
        pe.scan.source = msg_str(&m, info->scan.source, FS_PATH);
        pe.scan.cur_path = msg_str(&m, info->scan.cur_path, FS_PATH);
        if (info->scan.status == WIMLIB_SCAN_DENTRY_FIXED_SYMLINK ||
            info->scan.status == WIMLIB_SCAN_DENTRY_NOT_FIXED_SYMLINK)
            pe.scan.symlink_target = msg_str(&m, info->scan.symlink_target, FS_PATH);
        else
            pe.scan.symlink_target = NULL;
        break;
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
    case WIMLIB_PROGRESS_MSG_WRITE_METADATA_BEGIN:
    case WIMLIB_PROGRESS_MSG_WRITE_METADATA_END:
        break;
    case WIMLIB_PROGRESS_MSG_RENAME:
        pe.rename.from = msg_str(&m, info->rename.from, FS_PATH);
        pe.rename.to = msg_str(&m, info->rename.to, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_VERIFY_INTEGRITY:
    case WIMLIB_PROGRESS_MSG_CALC_INTEGRITY:
        pe.integrity.filename = msg_str(&m, info->integrity.filename, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART:
    case WIMLIB_PROGRESS_MSG_SPLIT_END_PART:
        if (info->split.part_name) {
            part_given = part_name_buffer(&m, info->split.part_name);
            part_original = part_given ? wc_dup(part_given) : NULL;
        }
        pe.split.part_name = PE_STR(part_given);
        break;
    case WIMLIB_PROGRESS_MSG_UPDATE_BEGIN_COMMAND:
    case WIMLIB_PROGRESS_MSG_UPDATE_END_COMMAND:
        /* libwim reports its own copy of the command; point at the
         * caller's command of the same position instead. */
        pe.update.command = NULL;
        if (st->update_pe && info->update.total_commands == st->update_count) {
            size_t index = info->update.completed_commands;
            if (msg == WIMLIB_PROGRESS_MSG_UPDATE_END_COMMAND && index > 0)
                index--;
            if (index < st->update_count)
                pe.update.command = st->update_pe + index;
        }
        break;
    case WIMLIB_PROGRESS_MSG_REPLACE_FILE_IN_WIM:
        pe.replace.path_in_wim = msg_str(&m, info->replace.path_in_wim, IMAGE_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_WIMBOOT_EXCLUDE:
        pe.wimboot_exclude.path_in_wim = msg_str(&m, info->wimboot_exclude.path_in_wim, IMAGE_PATH);
        pe.wimboot_exclude.extraction_path = msg_str(&m, info->wimboot_exclude.extraction_path, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_UNMOUNT_BEGIN:
        pe.unmount.mountpoint = msg_str(&m, info->unmount.mountpoint, FS_PATH);
        pe.unmount.mounted_wim = msg_str(&m, info->unmount.mounted_wim, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_DONE_WITH_FILE:
        pe.done_with_file.path_to_file = msg_str(&m, info->done_with_file.path_to_file, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_BEGIN_VERIFY_IMAGE:
    case WIMLIB_PROGRESS_MSG_END_VERIFY_IMAGE:
        pe.verify_image.wimfile = msg_str(&m, info->verify_image.wimfile, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_VERIFY_STREAMS:
        pe.verify_streams.wimfile = msg_str(&m, info->verify_streams.wimfile, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION:
        pe.test_file_exclusion.path = msg_str(&m, info->test_file_exclusion.path, FS_PATH);
        break;
    case WIMLIB_PROGRESS_MSG_HANDLE_ERROR:
        pe.handle_error.path = msg_str(&m, info->handle_error.path, FS_PATH);
        break;
    default:
        /* A message this bridge does not know: its string fields are
         * unknown, so it is not passed on. */
        return WIMLIB_PROGRESS_STATUS_CONTINUE;
    }

    status = st->progress(msg, &pe, st->progress_ctx);

    /* The fields a progress function may change. */
    if (msg == WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION)
        info->test_file_exclusion.will_exclude = pe.test_file_exclusion.will_exclude;
    else if (msg == WIMLIB_PROGRESS_MSG_HANDLE_ERROR)
        info->handle_error.will_ignore = pe.handle_error.will_ignore;
    else if (msg == WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART && part_given)
        take_part_name(st, info, part_given, (const WCHAR *)pe.split.part_name, part_original);

    free(part_original);
    free_msg_strings(&m);
    return status;
}

/* ------------------------------------------------------------------------- */
/* Opening, creating and freeing                                             */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_global_init(int init_flags)
{
    g_init_flags = init_flags;
    return ensure_init();
}

/*
 * Other threads may still be using the library when the program cleans up
 * (the program calls this after every operation, and each operation runs on
 * a worker thread of its own), and libwim's clean-up tears down libxml2 for
 * the whole process.  The library's memory is released when the process
 * ends, so the clean-up is left to that.
 */
void EXPORT bridge_global_cleanup(void)
{
}

int EXPORT bridge_set_print_errors(bool show)
{
    ensure_init();
    return wimlib_set_print_errors(show);
}

int EXPORT bridge_open_wim(const WCHAR *path, int open_flags, WIMStruct **wim_ret)
{
    char *upath;
    int ret;

    ensure_init();
    if (!path || !wim_ret)
        return WIMLIB_ERR_INVALID_PARAM;
    *wim_ret = NULL;
    if (!path_arg(path, &upath))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_open_wim(upath, open_flags, wim_ret);
    free(upath);
    return ret;
}

int EXPORT bridge_create_new_wim(int ctype, WIMStruct **wim_ret)
{
    ensure_init();
    return wimlib_create_new_wim((enum wimlib_compression_type)ctype, wim_ret);
}

void EXPORT bridge_free(WIMStruct *wim)
{
    if (!wim)
        return;
    /* Forget the state while the address still belongs to this WIM: once
     * freed, another thread may get the same address for a new one. */
    drop_state(wim);
    wimlib_free(wim);
}

void EXPORT bridge_register_progress_function(WIMStruct *wim, pe_progress_func func, void *ctx)
{
    struct wim_state *st;

    if (!wim)
        return;
    if (!func) {
        wimlib_register_progress_function(wim, NULL, NULL);
        st = find_state(wim, FALSE);
        if (st) {
            st->progress = NULL;
            st->progress_ctx = NULL;
        }
        return;
    }
    st = find_state(wim, TRUE);
    if (!st)
        return;
    st->progress = func;
    st->progress_ctx = ctx;
    wimlib_register_progress_function(wim, progress_bridge, st);
}

int EXPORT bridge_reference_resource_files(WIMStruct *wim, const WCHAR *const *globs, unsigned count,
                                           int ref_flags, int open_flags)
{
    char **paths = NULL;
    size_t n = 0, cap = 0, i;
    int ret = 0;

    if (!wim || (count && !globs))
        return WIMLIB_ERR_INVALID_PARAM;
    /*
     * Globs are expanded here: Windows file names ignore case, so
     * "base*.WIM" has to find "base2.wim", which glob(3) would not.
     */
    for (i = 0; i < count && !ret; i++) {
        char **found = NULL;
        size_t nfound = 0, k;

        if (!globs[i]) {
            ret = WIMLIB_ERR_INVALID_PARAM;
            break;
        }
        if (ref_flags & WIMLIB_REF_FLAG_GLOB_ENABLE) {
            DWORD err = wc_expand_glob(globs[i], &found, &nfound);
            if (err) {
                ret = err == ERROR_OUTOFMEMORY ? WIMLIB_ERR_NOMEM : WIMLIB_ERR_OPEN;
                break;
            }
            if (!nfound && (ref_flags & WIMLIB_REF_FLAG_GLOB_ERR_ON_NOMATCH)) {
                ret = WIMLIB_ERR_GLOB_HAD_NO_MATCHES;
                break;
            }
        }
        if (!nfound) {
            /* Not a glob, or one without matches: the name itself, which
             * libwim then fails to open just as with a glob of its own. */
            found = calloc(1, sizeof(*found));
            if (found)
                found[0] = wc_unix_path(globs[i]);
            if (!found || !found[0]) {
                wc_free_list(found, 1);
                ret = conv_error(WIMLIB_ERR_OPEN);
                break;
            }
            nfound = 1;
        }
        if (n + nfound > cap) {
            size_t ncap = (n + nfound) * 2;
            char **grown = realloc(paths, ncap * sizeof(*grown));
            if (!grown) {
                wc_free_list(found, nfound);
                ret = WIMLIB_ERR_NOMEM;
                break;
            }
            paths = grown;
            cap = ncap;
        }
        for (k = 0; k < nfound; k++)
            paths[n++] = found[k];
        free(found);
    }
    if (!ret)
        ret = wimlib_reference_resource_files(wim, (const char *const *)paths, (unsigned)n,
                                              ref_flags & ~(WIMLIB_REF_FLAG_GLOB_ENABLE |
                                                            WIMLIB_REF_FLAG_GLOB_ERR_ON_NOMATCH),
                                              open_flags);
    wc_free_list(paths, n);
    return ret;
}

/* ------------------------------------------------------------------------- */
/* Information                                                               */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_get_wim_info(WIMStruct *wim, struct wimlib_wim_info *info)
{
    return wimlib_get_wim_info(wim, info);
}

int EXPORT bridge_set_wim_info(WIMStruct *wim, const struct wimlib_wim_info *info, int which)
{
    return wimlib_set_wim_info(wim, info, which);
}

static pe_malloc_func pe_malloc(void)
{
    static pe_malloc_func fn;

    if (!fn) {
        HMODULE crt = LoadLibraryA("msvcrt.dll");
        if (crt)
            fn = (pe_malloc_func)(void (*)(void))GetProcAddress(crt, "malloc");
    }
    return fn;
}

/* The XML data (UTF-16LE, as stored in the file) in memory that the caller
 * releases with free() of msvcrt, the C runtime of mingw programs. */
int EXPORT bridge_get_xml_data(WIMStruct *wim, void **buf_ret, size_t *size_ret)
{
    void *buf = NULL, *copy;
    size_t size = 0;
    pe_malloc_func alloc = pe_malloc();
    int ret;

    if (!buf_ret || !size_ret)
        return WIMLIB_ERR_INVALID_PARAM;
    *buf_ret = NULL;
    *size_ret = 0;
    if (!alloc)
        return WIMLIB_ERR_NOMEM;
    ret = wimlib_get_xml_data(wim, &buf, &size);
    if (ret)
        return ret;
    copy = alloc(size ? size : 1);
    if (!copy) {
        free(buf);
        return WIMLIB_ERR_NOMEM;
    }
    memcpy(copy, buf, size);
    free(buf);
    *buf_ret = copy;
    *size_ret = size;
    return 0;
}

/* Image names, descriptions and properties: text, kept for the caller until
 * wimlib_free like libwim's own strings. */
const WCHAR *EXPORT bridge_get_image_name(const WIMStruct *wim, int image)
{
    char key[32];
    snprintf(key, sizeof(key), "name:%d", image);
    return keep_string(wim, key, wimlib_get_image_name(wim, image));
}

const WCHAR *EXPORT bridge_get_image_description(const WIMStruct *wim, int image)
{
    char key[32];
    snprintf(key, sizeof(key), "description:%d", image);
    return keep_string(wim, key, wimlib_get_image_description(wim, image));
}

const WCHAR *EXPORT bridge_get_image_property(const WIMStruct *wim, int image, const WCHAR *name)
{
    char *uname, *key;
    const WCHAR *ret = NULL;

    if (!text_arg(name, &uname) || !uname)
        return NULL;
    key = malloc(strlen(uname) + 32);
    if (key) {
        sprintf(key, "property:%d:%s", image, uname);
        ret = keep_string(wim, key, wimlib_get_image_property(wim, image, uname));
        free(key);
    }
    free(uname);
    return ret;
}

int EXPORT bridge_set_image_property(WIMStruct *wim, int image, const WCHAR *name, const WCHAR *value)
{
    char *uname = NULL, *uvalue = NULL;
    int ret;

    if (!text_arg(name, &uname) || !text_arg(value, &uvalue))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_set_image_property(wim, image, uname, uvalue);
    free(uname);
    free(uvalue);
    return ret;
}

typedef int (*text_setter)(WIMStruct *, int, const char *);

static int set_text(text_setter fn, WIMStruct *wim, int image, const WCHAR *text)
{
    char *utext;
    int ret;

    if (!text_arg(text, &utext))
        return conv_error(WIMLIB_ERR_INVALID_PARAM);
    ret = fn(wim, image, utext);
    free(utext);
    return ret;
}

int EXPORT bridge_set_image_name(WIMStruct *wim, int image, const WCHAR *name)
{
    return set_text(wimlib_set_image_name, wim, image, name);
}

/* Exported under the library's own spelling and under the correct one. */
int EXPORT bridge_set_image_descripton(WIMStruct *wim, int image, const WCHAR *description)
{
    return set_text(wimlib_set_image_descripton, wim, image, description);
}

int EXPORT bridge_set_image_flags(WIMStruct *wim, int image, const WCHAR *flags)
{
    return set_text(wimlib_set_image_flags, wim, image, flags);
}

int EXPORT bridge_resolve_image(WIMStruct *wim, const WCHAR *name_or_num)
{
    char *u;
    int ret;

    if (!text_arg(name_or_num, &u))
        return WIMLIB_NO_IMAGE;
    ret = wimlib_resolve_image(wim, u);
    free(u);
    return ret;
}

bool EXPORT bridge_image_name_in_use(const WIMStruct *wim, const WCHAR *name)
{
    char *u;
    bool ret;

    if (!text_arg(name, &u))
        return false;
    ret = wimlib_image_name_in_use(wim, u);
    free(u);
    return ret;
}

/* Static texts of libwim, converted once per code. */
#define TEXT_CACHE_SIZE 256

static const WCHAR *cached_text(WCHAR *volatile *slot, const char *utf8)
{
    WCHAR *w, *old;

    if (!utf8)
        return NULL;
    if (!slot)
        return NULL; /* outside the cache: not expected for libwim's codes */
    if (*slot)
        return *slot;
    w = wc_from_utf8(utf8);
    if (!w)
        return NULL;
    old = InterlockedCompareExchangePointer((void *volatile *)slot, w, NULL);
    if (old) {
        free(w);
        return old;
    }
    return w;
}

const WCHAR *EXPORT bridge_get_error_string(int code)
{
    static WCHAR *volatile texts[TEXT_CACHE_SIZE];
    return cached_text(code >= 0 && code < TEXT_CACHE_SIZE ? &texts[code] : NULL,
                       wimlib_get_error_string((enum wimlib_error_code)code));
}

const WCHAR *EXPORT bridge_get_compression_type_string(int ctype)
{
    static WCHAR *volatile texts[TEXT_CACHE_SIZE];
    return cached_text(ctype >= 0 && ctype < TEXT_CACHE_SIZE ? &texts[ctype] : NULL,
                       wimlib_get_compression_type_string((enum wimlib_compression_type)ctype));
}

const WCHAR *EXPORT bridge_get_version_string(void)
{
    static WCHAR *volatile text;
    return cached_text(&text, wimlib_get_version_string());
}

uint32_t EXPORT bridge_get_version(void)
{
    return wimlib_get_version();
}

/* ------------------------------------------------------------------------- */
/* Directory tree and lookup table                                           */
/* ------------------------------------------------------------------------- */

struct dir_tree_call {
    pe_dir_tree_func func;
    void *ctx;
};

/* Hands one entry, with UTF-16 names and "\" paths, to the caller. */
static int dir_tree_bridge(const struct wimlib_dir_entry *e, void *ctx)
{
    struct dir_tree_call *call = ctx;
    size_t nstreams = (size_t)e->num_named_streams + 1, i;
    size_t size = offsetof(struct wimlib_dir_entry, streams) + nstreams * sizeof(struct wimlib_stream_entry);
    struct wimlib_dir_entry *pe = malloc(size);
    WCHAR **names = calloc(nstreams + 3, sizeof(*names));
    int ret = WIMLIB_ERR_NOMEM;

    if (!pe || !names)
        goto out;
    memcpy(pe, e, size);
    if (e->filename && !(names[0] = wc_from_utf8(e->filename)))
        goto out;
    if (e->dos_name && !(names[1] = wc_from_utf8(e->dos_name)))
        goto out;
    if (e->full_path && !(names[2] = wc_image_path_from_unix(e->full_path)))
        goto out;
    pe->filename = PE_STR(names[0]);
    pe->dos_name = PE_STR(names[1]);
    pe->full_path = PE_STR(names[2]);
    for (i = 0; i < nstreams; i++) {
        const char *sname = e->streams[i].stream_name;
        if (sname && !(names[3 + i] = wc_from_utf8(sname)))
            goto out;
        pe->streams[i].stream_name = PE_STR(names[3 + i]);
    }
    ret = call->func(pe, call->ctx);
out:
    if (names)
        for (i = 0; i < nstreams + 3; i++)
            free(names[i]);
    free(names);
    free(pe);
    return ret;
}

int EXPORT bridge_iterate_dir_tree(WIMStruct *wim, int image, const WCHAR *path, int flags,
                                   pe_dir_tree_func func, void *ctx)
{
    struct dir_tree_call call = {func, ctx};
    char *upath;
    int ret;

    if (!func)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!image_path_arg(path, &upath))
        return conv_error(WIMLIB_ERR_INVALID_PARAM);
    ret = wimlib_iterate_dir_tree(wim, image, upath, flags, dir_tree_bridge, &call);
    free(upath);
    return ret;
}

struct lookup_table_call {
    pe_lookup_table_func func;
    void *ctx;
};

static int lookup_table_bridge(const struct wimlib_resource_entry *entry, void *ctx)
{
    struct lookup_table_call *call = ctx;
    return call->func(entry, call->ctx);
}

int EXPORT bridge_iterate_lookup_table(WIMStruct *wim, int flags, pe_lookup_table_func func, void *ctx)
{
    struct lookup_table_call call = {func, ctx};

    if (!func)
        return WIMLIB_ERR_INVALID_PARAM;
    return wimlib_iterate_lookup_table(wim, flags, lookup_table_bridge, &call);
}

/* ------------------------------------------------------------------------- */
/* Adding and changing images                                                */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_add_image(WIMStruct *wim, const WCHAR *source, const WCHAR *name,
                            const WCHAR *config_file, int add_flags)
{
    char *usource = NULL, *uname = NULL, *uconfig = NULL;
    int ret;

    if (!path_arg(source, &usource) || !path_arg(config_file, &uconfig))
        ret = conv_error(WIMLIB_ERR_OPEN);
    else if (!text_arg(name, &uname))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_add_image(wim, usource, uname, uconfig, add_flags);
    free(usource);
    free(uname);
    free(uconfig);
    return ret;
}

int EXPORT bridge_add_image_multisource(WIMStruct *wim, const struct wimlib_capture_source *sources,
                                        size_t num_sources, const WCHAR *name,
                                        const WCHAR *config_file, int add_flags)
{
    struct wimlib_capture_source *usources;
    char *uname = NULL, *uconfig = NULL;
    size_t i, done = 0;
    int ret = 0;

    if (num_sources && !sources)
        return WIMLIB_ERR_INVALID_PARAM;
    usources = calloc(num_sources ? num_sources : 1, sizeof(*usources));
    if (!usources)
        return WIMLIB_ERR_NOMEM;
    for (; done < num_sources; done++) {
        usources[done].reserved = sources[done].reserved;
        if (!path_arg((const WCHAR *)sources[done].fs_source_path, &usources[done].fs_source_path)) {
            ret = conv_error(WIMLIB_ERR_OPEN);
            break;
        }
        if (!image_path_arg((const WCHAR *)sources[done].wim_target_path,
                            &usources[done].wim_target_path)) {
            free(usources[done].fs_source_path);
            ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
            break;
        }
    }
    if (!ret && (!text_arg(name, &uname) || !path_arg(config_file, &uconfig)))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    if (!ret)
        ret = wimlib_add_image_multisource(wim, usources, num_sources, uname, uconfig, add_flags);
    for (i = 0; i < done; i++) {
        free(usources[i].fs_source_path);
        free(usources[i].wim_target_path);
    }
    free(usources);
    free(uname);
    free(uconfig);
    return ret;
}

int EXPORT bridge_add_empty_image(WIMStruct *wim, const WCHAR *name, int *new_idx_ret)
{
    char *uname;
    int ret;

    if (!text_arg(name, &uname))
        return conv_error(WIMLIB_ERR_INVALID_PARAM);
    ret = wimlib_add_empty_image(wim, uname, new_idx_ret);
    free(uname);
    return ret;
}

static void free_update_commands(struct wimlib_update_command *cmds, size_t count)
{
    size_t i;

    for (i = 0; i < count; i++) {
        switch (cmds[i].op) {
        case WIMLIB_UPDATE_OP_ADD:
            free(cmds[i].add.fs_source_path);
            free(cmds[i].add.wim_target_path);
            free(cmds[i].add.config_file);
            break;
        case WIMLIB_UPDATE_OP_DELETE:
            free(cmds[i].delete_.wim_path);
            break;
        case WIMLIB_UPDATE_OP_RENAME:
            free(cmds[i].rename.wim_source_path);
            free(cmds[i].rename.wim_target_path);
            break;
        }
    }
    free(cmds);
}

/* Converts one update command; returns 0 or a wimlib error. */
static int convert_update_command(const struct wimlib_update_command *in, struct wimlib_update_command *out)
{
    out->op = in->op;
    switch (in->op) {
    case WIMLIB_UPDATE_OP_ADD:
        out->add.add_flags = in->add.add_flags;
        if (!path_arg((const WCHAR *)in->add.fs_source_path, &out->add.fs_source_path) ||
            !path_arg((const WCHAR *)in->add.config_file, &out->add.config_file))
            return conv_error(WIMLIB_ERR_OPEN);
        if (!image_path_arg((const WCHAR *)in->add.wim_target_path, &out->add.wim_target_path))
            return conv_error(WIMLIB_ERR_INVALID_PARAM);
        return 0;
    case WIMLIB_UPDATE_OP_DELETE:
        out->delete_.delete_flags = in->delete_.delete_flags;
        if (!image_path_arg((const WCHAR *)in->delete_.wim_path, &out->delete_.wim_path))
            return conv_error(WIMLIB_ERR_INVALID_PARAM);
        return 0;
    case WIMLIB_UPDATE_OP_RENAME:
        out->rename.rename_flags = in->rename.rename_flags;
        if (!image_path_arg((const WCHAR *)in->rename.wim_source_path, &out->rename.wim_source_path) ||
            !image_path_arg((const WCHAR *)in->rename.wim_target_path, &out->rename.wim_target_path))
            return conv_error(WIMLIB_ERR_INVALID_PARAM);
        return 0;
    }
    return WIMLIB_ERR_INVALID_PARAM;
}

int EXPORT bridge_update_image(WIMStruct *wim, int image, const struct wimlib_update_command *cmds,
                               size_t num_cmds, int update_flags)
{
    struct wimlib_update_command *ucmds;
    struct wim_state *st;
    size_t i;
    int ret = 0;

    if (num_cmds && !cmds)
        return WIMLIB_ERR_INVALID_PARAM;
    ucmds = calloc(num_cmds ? num_cmds : 1, sizeof(*ucmds));
    if (!ucmds)
        return WIMLIB_ERR_NOMEM;
    for (i = 0; i < num_cmds && !ret; i++)
        ret = convert_update_command(&cmds[i], &ucmds[i]);
    if (ret) {
        free_update_commands(ucmds, i);
        return ret;
    }
    /* Lets the progress messages point at the caller's commands. */
    st = find_state(wim, FALSE);
    if (st) {
        st->update_pe = cmds;
        st->update_count = num_cmds;
    }
    ret = wimlib_update_image(wim, image, ucmds, num_cmds, update_flags);
    if (st) {
        st->update_pe = NULL;
        st->update_count = 0;
    }
    free_update_commands(ucmds, num_cmds);
    return ret;
}

int EXPORT bridge_add_tree(WIMStruct *wim, int image, const WCHAR *fs_source_path,
                           const WCHAR *wim_target_path, int add_flags)
{
    struct wimlib_update_command cmd;

    memset(&cmd, 0, sizeof(cmd));
    cmd.op = WIMLIB_UPDATE_OP_ADD;
    cmd.add.fs_source_path = (char *)fs_source_path;
    cmd.add.wim_target_path = (char *)wim_target_path;
    cmd.add.add_flags = add_flags;
    return bridge_update_image(wim, image, &cmd, 1, 0);
}

int EXPORT bridge_delete_path(WIMStruct *wim, int image, const WCHAR *path, int delete_flags)
{
    struct wimlib_update_command cmd;

    memset(&cmd, 0, sizeof(cmd));
    cmd.op = WIMLIB_UPDATE_OP_DELETE;
    cmd.delete_.wim_path = (char *)path;
    cmd.delete_.delete_flags = delete_flags;
    return bridge_update_image(wim, image, &cmd, 1, 0);
}

int EXPORT bridge_rename_path(WIMStruct *wim, int image, const WCHAR *source_path, const WCHAR *dest_path)
{
    struct wimlib_update_command cmd;

    memset(&cmd, 0, sizeof(cmd));
    cmd.op = WIMLIB_UPDATE_OP_RENAME;
    cmd.rename.wim_source_path = (char *)source_path;
    cmd.rename.wim_target_path = (char *)dest_path;
    return bridge_update_image(wim, image, &cmd, 1, 0);
}

int EXPORT bridge_delete_image(WIMStruct *wim, int image)
{
    return wimlib_delete_image(wim, image);
}

int EXPORT bridge_export_image(WIMStruct *src_wim, int src_image, WIMStruct *dest_wim,
                               const WCHAR *dest_name, const WCHAR *dest_description, int export_flags)
{
    char *uname = NULL, *udesc = NULL;
    int ret;

    if (!text_arg(dest_name, &uname) || !text_arg(dest_description, &udesc))
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_export_image(src_wim, src_image, dest_wim, uname, udesc, export_flags);
    free(uname);
    free(udesc);
    return ret;
}

/* ------------------------------------------------------------------------- */
/* Extracting                                                                */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_extract_image(WIMStruct *wim, int image, const WCHAR *target, int extract_flags)
{
    char *utarget;
    int ret;

    if (!path_arg(target, &utarget))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_extract_image(wim, image, utarget, extract_flags);
    free(utarget);
    return ret;
}

int EXPORT bridge_extract_paths(WIMStruct *wim, int image, const WCHAR *target,
                                const WCHAR *const *paths, size_t num_paths, int extract_flags)
{
    char *utarget;
    char **upaths;
    int ret;

    if (num_paths && !paths)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!path_arg(target, &utarget))
        return conv_error(WIMLIB_ERR_OPEN);
    upaths = string_array(paths, num_paths, wc_image_path_to_unix);
    if (!upaths)
        ret = conv_error(WIMLIB_ERR_INVALID_PARAM);
    else
        ret = wimlib_extract_paths(wim, image, utarget, (const char *const *)upaths, num_paths,
                                   extract_flags);
    free_string_array(upaths, num_paths);
    free(utarget);
    return ret;
}

/*
 * Writes a copy of a path-list file for libwim: UTF-8 (the original may be
 * UTF-16LE with a byte-order mark) with "/" as the separator of paths inside
 * the image.  Returns the Unix path of the copy, or NULL.
 */
static char *unix_path_list(const WCHAR *list_file, int *err)
{
    HANDLE h;
    LARGE_INTEGER size;
    char *data = NULL, *text = NULL, *tmp = NULL, *p;
    DWORD got = 0;
    size_t len;
    int fd = -1;

    *err = WIMLIB_ERR_OPEN;
    h = CreateFileW(list_file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return NULL;
    if (!GetFileSizeEx(h, &size) || size.QuadPart > 0x7FFFFFFF) {
        *err = WIMLIB_ERR_READ;
        goto out;
    }
    data = malloc((size_t)size.QuadPart + 2);
    if (!data) {
        *err = WIMLIB_ERR_NOMEM;
        goto out;
    }
    if (!ReadFile(h, data, (DWORD)size.QuadPart, &got, NULL) || got != (DWORD)size.QuadPart) {
        *err = WIMLIB_ERR_READ;
        goto out;
    }
    len = got;
    if (len >= 2 && (unsigned char)data[0] == 0xFF && (unsigned char)data[1] == 0xFE)
        text = wc_to_utf8_n((const WCHAR *)(data + 2), (len - 2) / 2);
    else if (len >= 3 && !memcmp(data, "\xEF\xBB\xBF", 3))
        text = strndup(data + 3, len - 3);
    else
        text = strndup(data, len);
    if (!text) {
        *err = WIMLIB_ERR_NOMEM;
        goto out;
    }
    for (p = text; *p; p++)
        if (*p == '\\')
            *p = '/';
    tmp = strdup("/tmp/quarry-pathlist-XXXXXX");
    if (!tmp || (fd = mkstemp(tmp)) < 0) {
        *err = WIMLIB_ERR_OPEN;
        free(tmp);
        tmp = NULL;
        goto out;
    }
    len = strlen(text);
    if (write(fd, text, len) != (ssize_t)len) {
        *err = WIMLIB_ERR_WRITE;
        unlink(tmp);
        free(tmp);
        tmp = NULL;
    }
out:
    if (fd >= 0)
        close(fd);
    free(text);
    free(data);
    CloseHandle(h);
    return tmp;
}

int EXPORT bridge_extract_pathlist(WIMStruct *wim, int image, const WCHAR *target,
                                   const WCHAR *path_list_file, int extract_flags)
{
    char *utarget, *ulist = NULL;
    int ret;

    if (!path_arg(target, &utarget))
        return conv_error(WIMLIB_ERR_OPEN);
    if (path_list_file && !(ulist = unix_path_list(path_list_file, &ret))) {
        free(utarget);
        return ret;
    }
    ret = wimlib_extract_pathlist(wim, image, utarget, ulist, extract_flags);
    if (ulist)
        unlink(ulist);
    free(ulist);
    free(utarget);
    return ret;
}

/* ------------------------------------------------------------------------- */
/* Writing                                                                   */
/* ------------------------------------------------------------------------- */

int EXPORT bridge_write(WIMStruct *wim, const WCHAR *path, int image, int write_flags, unsigned num_threads)
{
    char *upath;
    int ret;

    if (!path)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!path_arg(path, &upath))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_write(wim, upath, image, write_flags, num_threads);
    free(upath);
    return ret;
}

int EXPORT bridge_overwrite(WIMStruct *wim, int write_flags, unsigned num_threads)
{
    return wimlib_overwrite(wim, write_flags, num_threads);
}

int EXPORT bridge_split(WIMStruct *wim, const WCHAR *swm_name, uint64_t part_size, int write_flags)
{
    struct wim_state *st;
    char *uname;
    int ret;

    if (!swm_name)
        return WIMLIB_ERR_INVALID_PARAM;
    if (!path_arg(swm_name, &uname))
        return conv_error(WIMLIB_ERR_OPEN);
    ret = wimlib_split(wim, uname, part_size, write_flags);
    free(uname);
    st = find_state(wim, FALSE);
    if (st) {
        free(st->split_part_name);
        st->split_part_name = NULL;
    }
    return ret;
}

int EXPORT bridge_verify_wim(WIMStruct *wim, int verify_flags)
{
    return wimlib_verify_wim(wim, verify_flags);
}

int EXPORT bridge_set_output_chunk_size(WIMStruct *wim, uint32_t chunk_size)
{
    return wimlib_set_output_chunk_size(wim, chunk_size);
}

int EXPORT bridge_set_output_pack_chunk_size(WIMStruct *wim, uint32_t chunk_size)
{
    return wimlib_set_output_pack_chunk_size(wim, chunk_size);
}

int EXPORT bridge_set_output_compression_type(WIMStruct *wim, int ctype)
{
    return wimlib_set_output_compression_type(wim, (enum wimlib_compression_type)ctype);
}

int EXPORT bridge_set_output_pack_compression_type(WIMStruct *wim, int ctype)
{
    return wimlib_set_output_pack_compression_type(wim, (enum wimlib_compression_type)ctype);
}

int EXPORT bridge_set_default_compression_level(int ctype, unsigned int level)
{
    return wimlib_set_default_compression_level(ctype, level);
}
