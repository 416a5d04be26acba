/*
 * wg_errors.c - Win32 error codes for wimlib and errno failures, and small
 * helpers shared by all modules.
 */
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include "wg_internal.h"

DWORD wg_error_from_errno(int err_no)
{
    switch (err_no) {
    case 0:             return ERROR_GEN_FAILURE;
    case ENOENT:        return ERROR_PATH_NOT_FOUND;
    case ENOTDIR:       return ERROR_DIRECTORY;
    case EACCES:
    case EPERM:
    case EROFS:         return ERROR_ACCESS_DENIED;
    case EEXIST:        return ERROR_FILE_EXISTS;
    case ENOTEMPTY:     return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:        return ERROR_DISK_FULL;
    case ENOMEM:        return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY:         return ERROR_BUSY;
    case ENAMETOOLONG:  return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR:        return ERROR_DIRECTORY;
    case EINVAL:        return ERROR_INVALID_PARAMETER;
    case EIO:           return ERROR_IO_DEVICE;
    case EMFILE:
    case ENFILE:        return ERROR_TOO_MANY_OPEN_FILES;
    case EXDEV:         return ERROR_NOT_SAME_DEVICE;
    default:            return ERROR_GEN_FAILURE;
    }
}

DWORD wg_error_from_wimlib(int ret, int err_no)
{
    switch (ret) {
    case WIMLIB_ERR_SUCCESS:
        return 0;
    case WIMLIB_ERR_ABORTED_BY_PROGRESS:
        return ERROR_REQUEST_ABORTED;
    case WIMLIB_ERR_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case WIMLIB_ERR_NOT_A_WIM_FILE:
    case WIMLIB_ERR_UNKNOWN_VERSION:
    case WIMLIB_ERR_INVALID_PIPABLE_WIM:
        return ERROR_INVALID_DATA;
    case WIMLIB_ERR_DECOMPRESSION:
    case WIMLIB_ERR_INTEGRITY:
    case WIMLIB_ERR_INVALID_CHUNK_SIZE:
    case WIMLIB_ERR_INVALID_HEADER:
    case WIMLIB_ERR_INVALID_INTEGRITY_TABLE:
    case WIMLIB_ERR_INVALID_LOOKUP_TABLE_ENTRY:
    case WIMLIB_ERR_INVALID_METADATA_RESOURCE:
    case WIMLIB_ERR_INVALID_PART_NUMBER:
    case WIMLIB_ERR_INVALID_REPARSE_DATA:
    case WIMLIB_ERR_INVALID_RESOURCE_HASH:
    case WIMLIB_ERR_INVALID_UTF16_STRING:
    case WIMLIB_ERR_METADATA_NOT_FOUND:
    case WIMLIB_ERR_UNEXPECTED_END_OF_FILE:
    case WIMLIB_ERR_XML:
    case WIMLIB_ERR_IMAGE_COUNT:
    case WIMLIB_ERR_WIM_IS_INCOMPLETE:
    case WIMLIB_ERR_INVALID_COMPRESSION_TYPE:
    case WIMLIB_ERR_RESOURCE_ORDER:
        return ERROR_FILE_CORRUPT;
    case WIMLIB_ERR_RESOURCE_NOT_FOUND:
    case WIMLIB_ERR_SPLIT_INVALID:
        /* Data of a split set whose part was not referenced (or is lost). */
        return ERROR_FILE_NOT_FOUND;
    case WIMLIB_ERR_INVALID_IMAGE:
    case WIMLIB_ERR_INVALID_PARAM:
        return ERROR_INVALID_PARAMETER;
    case WIMLIB_ERR_IMAGE_NAME_COLLISION:
        return ERROR_ALREADY_EXISTS;
    case WIMLIB_ERR_IS_SPLIT_WIM:
    case WIMLIB_ERR_UNSUPPORTED:
    case WIMLIB_ERR_WIM_IS_ENCRYPTED:
    case WIMLIB_ERR_DUPLICATE_EXPORTED_IMAGE:
    case WIMLIB_ERR_IMAGE_HAS_MULTIPLE_REFERENCES:
        return ERROR_NOT_SUPPORTED;
    case WIMLIB_ERR_WIM_IS_READONLY:
        /* Marked read-only in its header, or a part of a split set (the
         * file's own permissions are looked at before wimlib opens it). */
        return ERROR_FILE_READ_ONLY;
    case WIMLIB_ERR_PATH_DOES_NOT_EXIST:
        return ERROR_PATH_NOT_FOUND;
    case WIMLIB_ERR_NOTDIR:
        return ERROR_DIRECTORY;
    case WIMLIB_ERR_NOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case WIMLIB_ERR_IS_DIRECTORY:
        return ERROR_DIRECTORY;
    case WIMLIB_ERR_CONCURRENT_MODIFICATION_DETECTED:
    case WIMLIB_ERR_ALREADY_LOCKED:
        /* Another process is writing the file. */
        return ERROR_SHARING_VIOLATION;
    case WIMLIB_ERR_INVALID_UTF8_STRING:
    case WIMLIB_ERR_UNICODE_STRING_NOT_REPRESENTABLE:
        /* A name that has no form on the other side. */
        return ERROR_NO_UNICODE_TRANSLATION;
    case WIMLIB_ERR_UNSUPPORTED_FILE:
        return ERROR_NOT_SUPPORTED;
    case WIMLIB_ERR_WRITE:
        return err_no == ENOSPC || err_no == EDQUOT ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
    case WIMLIB_ERR_READ:
        return err_no ? wg_error_from_errno(err_no) : ERROR_READ_FAULT;
    case WIMLIB_ERR_OPEN:
    case WIMLIB_ERR_OPENDIR:
    case WIMLIB_ERR_STAT:
    case WIMLIB_ERR_MKDIR:
    case WIMLIB_ERR_LINK:
    case WIMLIB_ERR_RENAME:
    case WIMLIB_ERR_READLINK:
    case WIMLIB_ERR_SET_ATTRIBUTES:
    case WIMLIB_ERR_SET_TIMESTAMPS:
    case WIMLIB_ERR_SET_REPARSE_DATA:
    case WIMLIB_ERR_MKNOD:
        return err_no ? wg_error_from_errno(err_no) : ERROR_ACCESS_DENIED;
    default:
        return ERROR_INTERNAL_ERROR;
    }
}

BOOL wg_fail(DWORD err)
{
    SetLastError(err);
    return FALSE;
}

HANDLE wg_fail_handle(DWORD err)
{
    SetLastError(err);
    return NULL;
}

HANDLE wg_ok_handle(HANDLE h)
{
    /* wg_handle_new has set the error when there is no handle. */
    if (h)
        SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL wg_ok(void)
{
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

WCHAR *wg_full_path(const WCHAR *path)
{
    DWORD need, got, len;
    WCHAR *buf;

    if (!path || !path[0]) {
        SetLastError(path ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return NULL;
    }
    need = GetFullPathNameW(path, 0, NULL, NULL);
    if (!need)
        return NULL;
    buf = malloc((need + 1) * sizeof(WCHAR));
    if (!buf) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    got = GetFullPathNameW(path, need + 1, buf, NULL);
    if (!got || got > need) {
        free(buf);
        SetLastError(ERROR_INVALID_NAME);
        return NULL;
    }
    /* "C:\dir\" -> "C:\dir", but "C:\" stays. */
    len = got;
    while (len > 3 && buf[len - 1] == '\\')
        buf[--len] = 0;
    return buf;
}

WCHAR *wg_message_root(const WCHAR *given, const WCHAR *full)
{
    bool absolute = (given[0] && given[1] == ':' && (given[2] == '\\' || given[2] == '/')) ||
                    (given[0] == '\\' && given[1] == '\\');
    WCHAR *root = wc_dup(absolute ? given : full);
    size_t len = wc_len(root);

    while (root && len > 0 && (root[len - 1] == '\\' || root[len - 1] == '/'))
        root[--len] = 0;
    return root;
}

bool wg_path_equal(const WCHAR *a, const WCHAR *b)
{
    return a && b && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

uint64_t wg_now_ms(void)
{
    struct timespec ts;

    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000 + (uint64_t)ts.tv_nsec / 1000000;
}
