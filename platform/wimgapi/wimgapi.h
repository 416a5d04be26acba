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
 *   Writers      A file handle with write access (WIMCreateFile, and the
 *                file handle WIMGetMountedImageHandle gives for a writable
 *                mount) holds the file's one-writer lock until it is
 *                closed: every other attempt to open the file for writing,
 *                in this process or any other, fails with
 *                ERROR_SHARING_VIOLATION.  Reading stays possible.  Every
 *                call that writes first rereads the file, so a change made
 *                meanwhile by a program outside this library is kept.
 *   Mounting     There is no file-system driver under Wine.  A mount
 *                extracts the image into the (empty) mount folder and
 *                records it in %ProgramData%\WimgapiWine\mounts.txt, shared
 *                by all processes of the prefix; a read-only mount removes
 *                the write permission of the folder and the extracted tree.
 *                A commit captures the folder's current contents into the
 *                same image index (other images and the image's XML
 *                properties stay); an unmount empties the folder, gives it
 *                back its mode and drops the record.  While one call
 *                commits or unmounts a mount, another commit or unmount of
 *                it (in any process) fails with ERROR_BUSY.
 *   Mount list   WIMGetMountedImages and WIMGetMountedImageInfo list every
 *                record.  Level 1 of WIMGetMountedImageInfo gives flags:
 *                WIM_MOUNT_FLAG_MOUNTED for a good mount,
 *                WIM_MOUNT_FLAG_MOUNTING while a live process is still
 *                mounting, WIM_MOUNT_FLAG_READWRITE for a writable one, and
 *                WIM_MOUNT_FLAG_INVALID (instead of MOUNTED or MOUNTING)
 *                for a record that no longer matches the disk, with
 *                WIM_MOUNT_FLAG_NO_WIM (the WIM file is gone),
 *                WIM_MOUNT_FLAG_NO_MOUNTDIR (the folder is gone) or
 *                WIM_MOUNT_FLAG_MOUNTDIR_REPLACED (another folder took its
 *                name) as they apply; a mount whose process died before it
 *                finished is INVALID alone.  Unmounting such a record
 *                without commit succeeds: what is left of the mount in its
 *                own folder is deleted (a replaced folder is not touched)
 *                and the record is dropped.  Committing one fails.
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
 *   - A Linux name that is not valid UTF-8 has no Windows form: capture
 *     leaves the item out and sends WIM_MSG_ERROR with
 *     ERROR_NO_UNICODE_TRANSLATION (the answer cannot keep it; only
 *     WIM_MSG_ABORT_IMAGE changes anything).
 *   - WIMSetTemporaryPath only checks that the folder exists: wimlib puts
 *     its temporary files beside the target file.
 *
 * Error codes set with SetLastError (besides the obvious ones):
 *   ERROR_FILE_EXISTS (80)        WIM_CREATE_NEW on an existing file
 *   ERROR_INVALID_DATA (13)       the file is not a WIM file; XML text
 *                                 that is not well-formed or has no IMAGE
 *                                 element; committing a mount whose
 *                                 process died half-way
 *   ERROR_FILE_CORRUPT (1392)     a damaged or truncated WIM file
 *   ERROR_FILE_NOT_FOUND (2)      also: data of a split set whose other
 *                                 parts were not referenced
 *   ERROR_MORE_DATA (234)         split part size smaller than the largest
 *                                 resource (or 0)
 *   ERROR_NOT_SUPPORTED (50)      splitting a part of a split set
 *   ERROR_REQUEST_ABORTED (1235)  a callback returned WIM_MSG_ABORT_IMAGE
 *   ERROR_ALREADY_EXISTS (183)    an image name another image already has
 *   ERROR_DIR_NOT_EMPTY (145)     the mount folder is not empty
 *   ERROR_BUSY (170)              the image or folder is already mounted;
 *                                 another call commits or unmounts that
 *                                 mount, or it is still being mounted
 *   ERROR_FILENAME_EXCED_RANGE (206)  a mount folder or WIM path longer
 *                                 than 259 characters (the mount list
 *                                 could not hold it)
 *   ERROR_NO_UNICODE_TRANSLATION (1113)  a name with no form on the other
 *                                 side (see above)
 *   ERROR_NOT_ENOUGH_MEMORY (8)   also: the registered callbacks could not
 *                                 be copied for the call (it is not run
 *                                 without them)
 *   ERROR_NOT_FOUND (1168)        no image is mounted at that folder (or
 *                                 the image handle is not mounted)
 *   ERROR_SHARING_VIOLATION (32)  the file is open for writing through
 *                                 another handle, in this or another
 *                                 process, or another program holds
 *                                 wimlib's lock on it; deleting an image
 *                                 that is open or while an image of the
 *                                 file is mounted
 * A successful call sets ERROR_SUCCESS, except WIMCloseHandle, which leaves
 * the last error alone.
 */
#ifndef WIMGAPI_WINE_H
#define WIMGAPI_WINE_H

/* Constants, records, messages and function types of the interface. */
#include "wimgapi_abi.h"

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
