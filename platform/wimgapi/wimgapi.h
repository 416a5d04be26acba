/*
 * wimgapi.h - the Windows Imaging API (Wimgapi.dll) for Wine, on top of
 * wimlib.
 *
 * Wine ships no Wimgapi.dll.  This winelib library is installed as the Wine
 * prefix's system copy (C:\windows\system32\wimgapi.dll) and offers the
 * published WIMGAPI functions, constants and structures, so that a Windows
 * program binds and calls it exactly as it would bind the Windows library.
 * All imaging work is done by the Linux wimlib (libwim.so.15), called
 * directly; paths are translated through Wine's drive mapping.
 *
 * How the Windows behaviour is realised
 *
 *   Handles      File and image handles are entries of a handle table
 *                (slot + generation), never pointers: null, stale, foreign
 *                and mixed-up handles fail with ERROR_INVALID_HANDLE.  An
 *                image handle keeps its file alive, so handles may be closed
 *                in any order.
 *   Writing      Every call that changes a file writes it before it
 *                returns: a new file is written to a temporary file beside
 *                the target and renamed over it on success; an existing file
 *                is appended to in place (wimlib truncates it back to its
 *                old end when the write fails or is aborted); deleting an
 *                image rebuilds the file through a temporary file.  A file
 *                that was only created (no image written) becomes an empty,
 *                valid WIM file when its last handle is closed - unless a
 *                call on it failed or was aborted: then the disk stays as it
 *                was (nothing is created, an existing file is not
 *                replaced).  A file opened read-only is never written.
 *   Messages     Callbacks are registered per file handle or, with a null
 *                handle, for every operation.  Capture sends
 *                WIM_MSG_PROCESS (and WIM_MSG_COMPRESS / WIM_MSG_ALIGNMENT
 *                for files) before each item is scanned, WIM_MSG_ERROR for
 *                a file that cannot be read (WIM_MSG_SKIP_ERROR skips it),
 *                and WIM_MSG_PROGRESS while the data are written.  Apply,
 *                mount and export send WIM_MSG_PROCESS for each item at the
 *                time its data are written, and WIM_MSG_PROGRESS.  Split
 *                sends WIM_MSG_SPLIT for each part and WIM_MSG_PROGRESS.
 *                WIM_MSG_ABORT_IMAGE returned for any message ends the call
 *                with ERROR_REQUEST_ABORTED and leaves the target file (or
 *                the earlier parts of a split) as they were before the call.
 *   Mounting     There is no file-system driver under Wine.  A mount
 *                extracts the image into the (empty) mount folder and
 *                records it in %ProgramData%\WimgapiWine\mounts.txt, shared
 *                by all processes of the prefix; a read-only mount removes
 *                the write permission of the extracted tree.  A commit
 *                captures the folder's current contents into the same image
 *                index (other images and the image's XML properties stay);
 *                an unmount empties the folder and drops the record.
 *
 * What wimlib cannot honour (differences from the Windows library)
 *
 *   - WIM_MSG_COMPRESS: the answer is ignored.  wimlib compresses every
 *     file with the file's compression type; it has no per-file choice.
 *     (It does store each chunk that does not shrink uncompressed, which is
 *     what an already-compressed file such as a .zip gets anyway.)
 *   - WIM_MSG_ALIGNMENT: the answer is ignored; wimlib decides the position
 *     of every resource itself.
 *   - WIM_MSG_PROCESS during apply, mount and export only reports the item;
 *     setting the BOOL to FALSE does not skip it (wimlib extracts or exports
 *     an image as a whole).  During capture the answer is honoured.
 *   - WIM_MSG_PROCESS is not sent for the capture root itself.
 *   - WIM_MSG_SPLIT: changes the callback makes to the part path or size
 *     are ignored; all part boundaries are fixed before the first part is
 *     written.
 *   - Capture reads the Linux files behind the Wine paths: Windows ACLs,
 *     DOS attributes kept by Wine (hidden, system), short names and
 *     alternate data streams are not captured; WIM_FLAG_NO_DIRACL and
 *     WIM_FLAG_NO_FILEACL change nothing.  Apply writes Linux files in the
 *     same way (no ACLs, attributes or short names).
 *   - WIM_FLAG_VERIFY on WIMCaptureImage (byte-by-byte comparison of
 *     duplicate files) has no effect: wimlib identifies duplicates by SHA-1.
 *     On WIMApplyImage every file is checked against its SHA-1 anyway.
 *     On WIMCreateFile it verifies the integrity table when the file is
 *     opened and writes one whenever the file is written.
 *   - Image names must be unique in a wimlib file.  WIMExportImage with
 *     WIM_EXPORT_ALLOW_DUPLICATES of an image whose name the destination
 *     already uses names the copy "<name> (2)" (or the next free number);
 *     WIMSetImageInformation with a name that another image of the file
 *     uses fails with ERROR_ALREADY_EXISTS.
 *   - WIM_EXPORT_ONLY_RESOURCES and WIM_EXPORT_ONLY_METADATA are not
 *     supported (ERROR_NOT_SUPPORTED).
 *   - A commit rewrites the whole image from the mount folder (every file
 *     is read and hashed; unchanged data are not stored twice); the root
 *     folder keeps its recorded attributes.  WIMCommitImageHandle with
 *     WIM_COMMIT_FLAG_APPEND appends the folder as a new, unnamed image.
 *   - Mounts are per Wine prefix and are not visible to Linux tools; the
 *     WIM file is not locked against other writers while it is mounted.
 *     A read-only mount is protected by file permissions only, which the
 *     Linux user root ignores.
 *   - WIMSetTemporaryPath only checks that the folder exists: wimlib puts
 *     its temporary files beside the target file.
 *
 * Error codes set with SetLastError (besides the obvious ones):
 *   ERROR_FILE_EXISTS (80)        WIM_CREATE_NEW on an existing file
 *   ERROR_INVALID_DATA (13)       the file is not a WIM file; XML text
 *                                 without an IMAGE element
 *   ERROR_FILE_CORRUPT (1392)     a damaged or truncated WIM file
 *   ERROR_FILE_NOT_FOUND (2)      also: data of a split set whose other
 *                                 parts were not referenced
 *   ERROR_MORE_DATA (234)         split part size smaller than the largest
 *                                 resource (or 0)
 *   ERROR_NOT_SUPPORTED (50)      splitting a part of a split set
 *   ERROR_REQUEST_ABORTED (1235)  a callback returned WIM_MSG_ABORT_IMAGE
 *   ERROR_ALREADY_EXISTS (183)    an image name another image already has
 *   ERROR_DIR_NOT_EMPTY (145)     the mount folder is not empty
 *   ERROR_BUSY (170)              the image or folder is already mounted
 *   ERROR_NOT_FOUND (1168)        no image is mounted at that folder (or
 *                                 the image handle is not mounted)
 *   ERROR_SHARING_VIOLATION (32)  the file is opened for writing elsewhere
 *                                 in this process; deleting an image that
 *                                 is open or while an image of the file is
 *                                 mounted
 * A successful call sets ERROR_SUCCESS, except WIMCloseHandle, which leaves
 * the last error alone.
 */
#ifndef WIMGAPI_WINE_H
#define WIMGAPI_WINE_H

#include <windef.h>
#include <winbase.h>

/* Access rights of WIMCreateFile */
#define WIM_GENERIC_READ   0x80000000u
#define WIM_GENERIC_WRITE  0x40000000u
#define WIM_GENERIC_MOUNT  0x20000000u

/* Dispositions of WIMCreateFile */
#define WIM_CREATE_NEW     1
#define WIM_CREATE_ALWAYS  2
#define WIM_OPEN_EXISTING  3
#define WIM_OPEN_ALWAYS    4

/* Compression types */
#define WIM_COMPRESS_NONE    0
#define WIM_COMPRESS_XPRESS  1
#define WIM_COMPRESS_LZX     2
#define WIM_COMPRESS_LZMS    3

/* Creation results */
#define WIM_CREATED_NEW      0
#define WIM_OPENED_EXISTING  1

/* Flags of create, capture, apply and mount */
#define WIM_FLAG_VERIFY          0x00000002
#define WIM_FLAG_NO_APPLY        0x00000008
#define WIM_FLAG_NO_DIRACL       0x00000010
#define WIM_FLAG_NO_FILEACL      0x00000020
#define WIM_FLAG_MOUNT_READONLY  0x00000200

/* WIMCommitImageHandle */
#define WIM_COMMIT_FLAG_APPEND   0x00000001

/* WIMSetReferenceFile */
#define WIM_REFERENCE_APPEND     0x00010000
#define WIM_REFERENCE_REPLACE    0x00020000

/* WIMExportImage */
#define WIM_EXPORT_ALLOW_DUPLICATES  0x00000001
#define WIM_EXPORT_ONLY_RESOURCES    0x00000002
#define WIM_EXPORT_ONLY_METADATA     0x00000004

/* WIM_INFO.WimAttributes */
#define WIM_ATTRIBUTE_NORMAL         0x00000000
#define WIM_ATTRIBUTE_RESOURCE_ONLY  0x00000001
#define WIM_ATTRIBUTE_METADATA_ONLY  0x00000002
#define WIM_ATTRIBUTE_VERIFY_DATA    0x00000004
#define WIM_ATTRIBUTE_RP_FIX         0x00000008
#define WIM_ATTRIBUTE_SPANNED        0x00000010
#define WIM_ATTRIBUTE_READONLY       0x00000020

/* Messages sent to a registered callback */
#define WIM_MSG            38006   /* WM_APP + 0x1476 */
#define WIM_MSG_PROGRESS   (WIM_MSG + 2)
#define WIM_MSG_PROCESS    (WIM_MSG + 3)
#define WIM_MSG_COMPRESS   (WIM_MSG + 8)
#define WIM_MSG_ERROR      (WIM_MSG + 9)
#define WIM_MSG_ALIGNMENT  (WIM_MSG + 10)
#define WIM_MSG_SPLIT      (WIM_MSG + 12)

/* Callback return values */
#define WIM_MSG_SUCCESS     ERROR_SUCCESS
#define WIM_MSG_DONE        0xFFFFFFF0u
#define WIM_MSG_SKIP_ERROR  0xFFFFFFFEu
#define WIM_MSG_ABORT_IMAGE 0xFFFFFFFFu

#define INVALID_CALLBACK_VALUE 0xFFFFFFFFu

typedef struct _WIM_INFO {
    WCHAR  WimPath[MAX_PATH];
    GUID   Guid;
    DWORD  ImageCount;
    DWORD  CompressionType;
    USHORT PartNumber;
    USHORT TotalParts;
    DWORD  BootIndex;
    DWORD  WimAttributes;
    DWORD  WimFlagsAndAttr;
} WIM_INFO, *PWIM_INFO;

/* WIM_MOUNT_INFO_LEVEL1.MountFlags */
#define WIM_MOUNT_FLAG_MOUNTED            0x00000001
#define WIM_MOUNT_FLAG_MOUNTING           0x00000002
#define WIM_MOUNT_FLAG_REMOUNTABLE        0x00000004
#define WIM_MOUNT_FLAG_INVALID            0x00000008
#define WIM_MOUNT_FLAG_NO_WIM             0x00000010
#define WIM_MOUNT_FLAG_NO_MOUNTDIR        0x00000020
#define WIM_MOUNT_FLAG_MOUNTDIR_REPLACED  0x00000040
#define WIM_MOUNT_FLAG_READWRITE          0x00000100

typedef enum _MOUNTED_IMAGE_INFO_LEVELS {
    MountedImageInfoLevel0,
    MountedImageInfoLevel1,
    MountedImageInfoLevelInvalid
} MOUNTED_IMAGE_INFO_LEVELS;

typedef struct _WIM_MOUNT_INFO_LEVEL0 {
    WCHAR WimPath[MAX_PATH];
    WCHAR MountPath[MAX_PATH];
    DWORD ImageIndex;
    BOOL  MountedForRW;
} WIM_MOUNT_INFO_LEVEL0, *PWIM_MOUNT_INFO_LEVEL0;

typedef struct _WIM_MOUNT_INFO_LEVEL1 {
    WCHAR WimPath[MAX_PATH];
    WCHAR MountPath[MAX_PATH];
    DWORD ImageIndex;
    DWORD MountFlags;
} WIM_MOUNT_INFO_LEVEL1, *PWIM_MOUNT_INFO_LEVEL1;

typedef struct _WIM_MOUNT_LIST {
    WCHAR WimPath[MAX_PATH];
    WCHAR MountPath[MAX_PATH];
    DWORD ImageIndex;
    BOOL  MountedForRW;
} WIM_MOUNT_LIST, *PWIM_MOUNT_LIST;

_Static_assert(sizeof(WIM_INFO) == 560, "WIM_INFO is 560 bytes");
_Static_assert(sizeof(WIM_MOUNT_LIST) == 1048, "WIM_MOUNT_LIST is 1048 bytes");

/* A message callback of the calling program (Windows calling convention). */
typedef DWORD (CALLBACK *WIM_MESSAGE_CALLBACK)(DWORD msg, WPARAM wparam, LPARAM lparam, PVOID user);

/* The exports (see wimgapi.spec for their Windows names). */
HANDLE WINAPI wg_CreateFile(PCWSTR path, DWORD access, DWORD disposition, DWORD flags,
                            DWORD compression, PDWORD creation_result);
BOOL   WINAPI wg_CloseHandle(HANDLE object);
BOOL   WINAPI wg_SetTemporaryPath(HANDLE wim, PCWSTR path);
BOOL   WINAPI wg_GetAttributes(HANDLE wim, PWIM_INFO info, DWORD size);
DWORD  WINAPI wg_GetImageCount(HANDLE wim);
HANDLE WINAPI wg_LoadImage(HANDLE wim, DWORD index);
BOOL   WINAPI wg_SetReferenceFile(HANDLE wim, PCWSTR path, DWORD flags);
BOOL   WINAPI wg_SetBootImage(HANDLE wim, DWORD index);
BOOL   WINAPI wg_DeleteImage(HANDLE wim, DWORD index);
DWORD  WINAPI wg_RegisterMessageCallback(HANDLE wim, FARPROC callback, PVOID user);
BOOL   WINAPI wg_UnregisterMessageCallback(HANDLE wim, FARPROC callback);
DWORD  WINAPI wg_GetMessageCallbackCount(HANDLE wim);
HANDLE WINAPI wg_CaptureImage(HANDLE wim, PCWSTR path, DWORD flags);
BOOL   WINAPI wg_ApplyImage(HANDLE image, PCWSTR path, DWORD flags);
BOOL   WINAPI wg_ExportImage(HANDLE image, HANDLE dest_wim, DWORD flags);
BOOL   WINAPI wg_SplitFile(HANDLE wim, PCWSTR part_path, PLARGE_INTEGER part_size, DWORD flags);
BOOL   WINAPI wg_GetImageInformation(HANDLE object, PVOID *info, PDWORD size);
BOOL   WINAPI wg_SetImageInformation(HANDLE image, PVOID info, DWORD size);
BOOL   WINAPI wg_MountImageHandle(HANDLE image, PCWSTR mount_path, DWORD flags);
BOOL   WINAPI wg_MountImage(PCWSTR mount_path, PCWSTR wim_path, DWORD index, PCWSTR temp_path);
BOOL   WINAPI wg_GetMountedImages(PWIM_MOUNT_LIST list, PDWORD size);
BOOL   WINAPI wg_GetMountedImageHandle(PCWSTR mount_path, DWORD flags, PHANDLE wim, PHANDLE image);
BOOL   WINAPI wg_CommitImageHandle(HANDLE image, DWORD flags, PHANDLE new_image);
BOOL   WINAPI wg_UnmountImageHandle(HANDLE image, DWORD flags);
BOOL   WINAPI wg_UnmountImage(PCWSTR mount_path, PCWSTR wim_path, DWORD index, BOOL commit);
BOOL   WINAPI wg_GetMountedImageInfo(MOUNTED_IMAGE_INFO_LEVELS level, PDWORD count, PVOID info, DWORD size,
                                     PDWORD returned);

#endif /* WIMGAPI_WINE_H */
