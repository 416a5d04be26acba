/*
 * bridge_progress.c - libwim-15.dll: libwim progress messages handed to the
 * Windows callback, with UTF-16 strings and Windows paths.
 */
#include "bridge_private.h"

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

static void convert_extract(const union wimlib_progress_info *info, union wimlib_progress_info *pe,
                            struct msg_strings *m)
{
    pe->extract.wimfile_name = msg_str(m, info->extract.wimfile_name, FS_PATH);
    pe->extract.image_name = msg_str(m, info->extract.image_name, TEXT);
    pe->extract.target = msg_str(m, info->extract.target, FS_PATH);
    pe->extract.reserved = NULL;
}

static void convert_scan(enum wimlib_progress_msg msg, const union wimlib_progress_info *info,
                         union wimlib_progress_info *pe, struct msg_strings *m)
{
    pe->scan.source = msg_str(m, info->scan.source, FS_PATH);
    if (msg != WIMLIB_PROGRESS_MSG_SCAN_DENTRY) {
        pe->scan.cur_path = NULL;
        pe->scan.wim_target_path = msg_str(m, info->scan.wim_target_path, IMAGE_PATH);
        return;
    }
    pe->scan.cur_path = msg_str(m, info->scan.cur_path, FS_PATH);
    if (info->scan.status == WIMLIB_SCAN_DENTRY_FIXED_SYMLINK ||
        info->scan.status == WIMLIB_SCAN_DENTRY_NOT_FIXED_SYMLINK)
        pe->scan.symlink_target = msg_str(m, info->scan.symlink_target, FS_PATH);
    else
        pe->scan.symlink_target = NULL;
}

/* libwim reports its own copy of an update command; the callback gets the
 * caller's command of the same position instead. */
static const struct wimlib_update_command *caller_command(const struct wim_state *st,
                                                          enum wimlib_progress_msg msg,
                                                          const union wimlib_progress_info *info)
{
    size_t index = info->update.completed_commands;

    if (!st->update_pe || info->update.total_commands != st->update_count)
        return NULL;
    if (msg == WIMLIB_PROGRESS_MSG_UPDATE_END_COMMAND && index > 0)
        index--;
    return index < st->update_count ? st->update_pe + index : NULL;
}

/* Messages with at most two plain string fields; FALSE for a message this
 * bridge does not know. */
static BOOL convert_other(enum wimlib_progress_msg msg, const union wimlib_progress_info *info,
                          union wimlib_progress_info *pe, struct msg_strings *m)
{
    switch (msg) {
    case WIMLIB_PROGRESS_MSG_WRITE_STREAMS:
    case WIMLIB_PROGRESS_MSG_WRITE_METADATA_BEGIN:
    case WIMLIB_PROGRESS_MSG_WRITE_METADATA_END:
        return TRUE;
    case WIMLIB_PROGRESS_MSG_RENAME:
        pe->rename.from = msg_str(m, info->rename.from, FS_PATH);
        pe->rename.to = msg_str(m, info->rename.to, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_VERIFY_INTEGRITY:
    case WIMLIB_PROGRESS_MSG_CALC_INTEGRITY:
        pe->integrity.filename = msg_str(m, info->integrity.filename, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_REPLACE_FILE_IN_WIM:
        pe->replace.path_in_wim = msg_str(m, info->replace.path_in_wim, IMAGE_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_WIMBOOT_EXCLUDE:
        pe->wimboot_exclude.path_in_wim = msg_str(m, info->wimboot_exclude.path_in_wim, IMAGE_PATH);
        pe->wimboot_exclude.extraction_path = msg_str(m, info->wimboot_exclude.extraction_path, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_UNMOUNT_BEGIN:
        pe->unmount.mountpoint = msg_str(m, info->unmount.mountpoint, FS_PATH);
        pe->unmount.mounted_wim = msg_str(m, info->unmount.mounted_wim, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_DONE_WITH_FILE:
        pe->done_with_file.path_to_file = msg_str(m, info->done_with_file.path_to_file, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_BEGIN_VERIFY_IMAGE:
    case WIMLIB_PROGRESS_MSG_END_VERIFY_IMAGE:
        pe->verify_image.wimfile = msg_str(m, info->verify_image.wimfile, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_VERIFY_STREAMS:
        pe->verify_streams.wimfile = msg_str(m, info->verify_streams.wimfile, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION:
        pe->test_file_exclusion.path = msg_str(m, info->test_file_exclusion.path, FS_PATH);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_HANDLE_ERROR:
        pe->handle_error.path = msg_str(m, info->handle_error.path, FS_PATH);
        return TRUE;
    default:
        return FALSE;
    }
}

/* One message on its way to the callback: the copy it sees, the strings
 * made for it and, for a split part, the name buffer and its first text. */
struct pe_message {
    union wimlib_progress_info pe;
    struct msg_strings m;
    WCHAR *part_given;
    WCHAR *part_original;
};

/* Fills msg's copy with UTF-16 strings; FALSE for a message whose string
 * fields are unknown. */
static BOOL convert_message(const struct wim_state *st, enum wimlib_progress_msg msg,
                            const union wimlib_progress_info *info, struct pe_message *out)
{
    switch (msg) {
    case WIMLIB_PROGRESS_MSG_EXTRACT_IMAGE_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_TREE_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_FILE_STRUCTURE:
    case WIMLIB_PROGRESS_MSG_EXTRACT_STREAMS:
    case WIMLIB_PROGRESS_MSG_EXTRACT_SPWM_PART_BEGIN:
    case WIMLIB_PROGRESS_MSG_EXTRACT_METADATA:
    case WIMLIB_PROGRESS_MSG_EXTRACT_IMAGE_END:
    case WIMLIB_PROGRESS_MSG_EXTRACT_TREE_END:
        convert_extract(info, &out->pe, &out->m);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_SCAN_BEGIN:
    case WIMLIB_PROGRESS_MSG_SCAN_END:
    case WIMLIB_PROGRESS_MSG_SCAN_DENTRY:
        convert_scan(msg, info, &out->pe, &out->m);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART:
    case WIMLIB_PROGRESS_MSG_SPLIT_END_PART:
        if (info->split.part_name) {
            out->part_given = part_name_buffer(&out->m, info->split.part_name);
            out->part_original = out->part_given ? wc_dup(out->part_given) : NULL;
        }
        out->pe.split.part_name = PE_STR(out->part_given);
        return TRUE;
    case WIMLIB_PROGRESS_MSG_UPDATE_BEGIN_COMMAND:
    case WIMLIB_PROGRESS_MSG_UPDATE_END_COMMAND:
        out->pe.update.command = caller_command(st, msg, info);
        return TRUE;
    default:
        return convert_other(msg, info, &out->pe, &out->m);
    }
}

/* Copies back to libwim the fields a progress function may change. */
static void take_answers(struct wim_state *st, enum wimlib_progress_msg msg,
                         union wimlib_progress_info *info, const struct pe_message *x)
{
    if (msg == WIMLIB_PROGRESS_MSG_TEST_FILE_EXCLUSION)
        info->test_file_exclusion.will_exclude = x->pe.test_file_exclusion.will_exclude;
    else if (msg == WIMLIB_PROGRESS_MSG_HANDLE_ERROR)
        info->handle_error.will_ignore = x->pe.handle_error.will_ignore;
    else if (msg == WIMLIB_PROGRESS_MSG_SPLIT_BEGIN_PART && x->part_given)
        take_part_name(st, info, x->part_given, (const WCHAR *)x->pe.split.part_name, x->part_original);
}

static enum wimlib_progress_status progress_bridge(enum wimlib_progress_msg msg,
                                                   union wimlib_progress_info *info, void *ctx)
{
    struct wim_state *st = ctx;
    struct pe_message x;
    enum wimlib_progress_status status = WIMLIB_PROGRESS_STATUS_CONTINUE;

    if (!st || !st->progress)
        return WIMLIB_PROGRESS_STATUS_CONTINUE;
    if (!info)
        return st->progress(msg, NULL, st->progress_ctx);
    memset(&x, 0, sizeof(x));
    x.pe = *info;
    /* A message this bridge does not know is not passed on: its string
     * fields are unknown. */
    if (convert_message(st, msg, info, &x)) {
        status = st->progress(msg, &x.pe, st->progress_ctx);
        take_answers(st, msg, info, &x);
    }
    free(x.part_original);
    free_msg_strings(&x.m);
    return status;
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
