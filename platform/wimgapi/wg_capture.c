/*
 * wg_capture.c - WIMCaptureImage: a folder becomes a new image of the file.
 *
 * wimlib scans the Linux folder behind the Windows path.  With callbacks
 * registered, every item is first offered to them as WIM_MSG_PROCESS
 * (through wimlib's file-exclusion test), under the path the caller knows:
 * the source path as given, without its trailing "\", followed by the
 * item's path below it.  What cannot go into the image (a name with no
 * Windows form, a special file, a file that cannot be read) comes to them
 * as WIM_MSG_ERROR.  The image is then written to the file before the
 * call returns; an aborted or failed capture leaves the file as it was.
 */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "wg_internal.h"

/* Checks the source folder and finds its Unix path. */
static DWORD source_folder(const WCHAR *full, char **unix_ret)
{
    char *unix_path = wc_unix_path(full);
    struct stat st;
    size_t len;

    *unix_ret = NULL;
    if (!unix_path)
        return GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
    if (stat(unix_path, &st) != 0) {
        DWORD err = errno == ENOENT ? ERROR_PATH_NOT_FOUND : wg_error_from_errno(errno);
        wc_free(unix_path);
        return err;
    }
    if (!S_ISDIR(st.st_mode)) {
        wc_free(unix_path);
        return ERROR_DIRECTORY;
    }
    len = strlen(unix_path);
    while (len > 1 && unix_path[len - 1] == '/')
        unix_path[--len] = 0;
    *unix_ret = unix_path;
    return 0;
}

static DWORD capture(struct wg_file *f, const WCHAR *path, DWORD flags, int *index_ret)
{
    WCHAR *full = NULL, *root = NULL;
    char *unix_path = NULL;
    struct wg_op op;
    int add_flags = 0, ret;
    DWORD err;

    err = wg_op_init(&op, WG_OP_CAPTURE, f, NULL);
    if (!err)
        err = wg_file_check_writable(f);
    if (!err) {
        full = wg_full_path(path);
        err = full ? source_folder(full, &unix_path) : GetLastError();
    }
    if (!err) {
        root = wg_message_root(path, full);
        /* Another program may have changed the file since it was read. */
        wg_file_refresh(f);
        err = root ? wg_file_load(f) : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (err)
        goto out;

    op.unix_root = unix_path;
    op.unix_root_len = strcmp(unix_path, "/") ? strlen(unix_path) : 0;
    op.win_root = root;
    op.win_root_len = wc_len(root);
    /* Every name is looked at (wg_messages.c); with callbacks they are
     * asked about each item too. */
    add_flags |= WIMLIB_ADD_FLAG_TEST_FILE_EXCLUSION;
    /* wimlib leaves special files (FIFOs, sockets, devices) out; with this
     * flag it says so, and the callbacks hear of each (wg_messages.c). */
    add_flags |= WIMLIB_ADD_FLAG_EXCLUDE_VERBOSE;
    if (flags & (WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL))
        add_flags |= WIMLIB_ADD_FLAG_NO_ACLS;

    wg_op_attach(&op, f->wim);
    ret = wimlib_add_image(f->wim, unix_path, NULL, NULL, add_flags);
    if (ret) {
        int e = errno;
        err = op.aborted ? ERROR_REQUEST_ABORTED : wg_error_from_wimlib(ret, e);
        f->failed = true;
        wg_file_drop(f);
        goto out;
    }
    *index_ret = wg_file_image_count(f, &err);
    if (!err)
        err = wg_file_write(f, &op);
    if (!err)
        wg_op_progress(&op, 1, 1);
out:
    /* A file created for this capture is not made by a failed one. */
    if (err)
        f->failed = true;
    wg_op_free(&op);
    free(full);
    wc_free(root);
    wc_free(unix_path);
    return err;
}

HANDLE WINAPI wg_CaptureImage(HANDLE wim, PCWSTR path, DWORD flags)
{
    struct wg_file *f;
    struct wg_image *img = NULL;
    int index = 0;
    DWORD err;

    if (!path)
        return wg_fail_handle(ERROR_INVALID_PARAMETER);
    f = wg_file_get(wim);
    if (!f)
        return NULL;
    EnterCriticalSection(&f->lock);
    err = capture(f, path, flags, &index);
    LeaveCriticalSection(&f->lock);
    if (!err) {
        img = wg_image_alloc(f, index);
        if (!img)
            err = ERROR_NOT_ENOUGH_MEMORY;
    }
    wg_file_release(f);
    if (err)
        return wg_fail_handle(err);
    return wg_ok_handle(wg_handle_new(WG_KIND_IMAGE, img));
}
