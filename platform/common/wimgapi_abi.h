/*
 * wimgapi_abi.h - the binary interface of the Windows Imaging API
 * (Wimgapi.dll): its published constants, records, callback messages and
 * the types of its functions.
 *
 * One header for every side of that interface: the program, which binds
 * the system's library at run time (so only pointer types of the functions
 * are declared here), the WIMGAPI library for Wine (platform/wimgapi), and
 * the tests that drive either.  It is read by C (winegcc) and C++ (mingw);
 * the layout checks at the end hold for both compilers.
 */
#ifndef WIMGAPI_ABI_H
#define WIMGAPI_ABI_H

#include <stddef.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

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
#define WIM_FLAG_RESERVED        0x00000001
#define WIM_FLAG_VERIFY          0x00000002
#define WIM_FLAG_INDEX           0x00000004
#define WIM_FLAG_NO_APPLY        0x00000008
#define WIM_FLAG_NO_DIRACL       0x00000010
#define WIM_FLAG_NO_FILEACL      0x00000020
#define WIM_FLAG_SHARE_WRITE     0x00000040
#define WIM_FLAG_FILEINFO        0x00000080
#define WIM_FLAG_NO_RP_FIX       0x00000100
#define WIM_FLAG_MOUNT_READONLY  0x00000200

/* WIM_MOUNT_INFO_LEVEL1.MountFlags */
#define WIM_MOUNT_FLAG_MOUNTED            0x00000001
#define WIM_MOUNT_FLAG_MOUNTING           0x00000002
#define WIM_MOUNT_FLAG_REMOUNTABLE        0x00000004
#define WIM_MOUNT_FLAG_INVALID            0x00000008
#define WIM_MOUNT_FLAG_NO_WIM             0x00000010
#define WIM_MOUNT_FLAG_NO_MOUNTDIR        0x00000020
#define WIM_MOUNT_FLAG_MOUNTDIR_REPLACED  0x00000040
#define WIM_MOUNT_FLAG_READWRITE          0x00000100

/* WIMCommitImageHandle */
#define WIM_COMMIT_FLAG_APPEND  0x00000001

/* WIMSetReferenceFile */
#define WIM_REFERENCE_APPEND   0x00010000
#define WIM_REFERENCE_REPLACE  0x00020000

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
#define WIM_MSG                 38006   /* WM_APP + 5238 */
#define WIM_MSG_TEXT            (WIM_MSG + 1)
#define WIM_MSG_PROGRESS        (WIM_MSG + 2)
#define WIM_MSG_PROCESS         (WIM_MSG + 3)
#define WIM_MSG_SCANNING        (WIM_MSG + 4)
#define WIM_MSG_SETRANGE        (WIM_MSG + 5)
#define WIM_MSG_SETPOS          (WIM_MSG + 6)
#define WIM_MSG_STEPIT          (WIM_MSG + 7)
#define WIM_MSG_COMPRESS        (WIM_MSG + 8)
#define WIM_MSG_ERROR           (WIM_MSG + 9)
#define WIM_MSG_ALIGNMENT       (WIM_MSG + 10)
#define WIM_MSG_RETRY           (WIM_MSG + 11)
#define WIM_MSG_SPLIT           (WIM_MSG + 12)
#define WIM_MSG_INFO            (WIM_MSG + 13)
#define WIM_MSG_WARNING         (WIM_MSG + 14)
#define WIM_MSG_CHK_PROCESS     (WIM_MSG + 15)
#define WIM_MSG_WARNING_OBJECTID (WIM_MSG + 16)
#define WIM_MSG_STALE_MOUNT_DIR (WIM_MSG + 17)
#define WIM_MSG_STALE_MOUNT_FILE (WIM_MSG + 18)
#define WIM_MSG_MOUNT_CLEANUP_PROGRESS (WIM_MSG + 19)
#define WIM_MSG_CLEANUP_SCANNING_DRIVE (WIM_MSG + 20)
#define WIM_MSG_IMAGE_ALREADY_MOUNTED (WIM_MSG + 21)
#define WIM_MSG_CLEANUP_UNMOUNTING_IMAGE (WIM_MSG + 22)
#define WIM_MSG_QUERY_ABORT     (WIM_MSG + 23)

/* Callback return values */
#define WIM_MSG_SUCCESS     ERROR_SUCCESS
#define WIM_MSG_DONE        0xFFFFFFF0u
#define WIM_MSG_SKIP_ERROR  0xFFFFFFFEu
#define WIM_MSG_ABORT_IMAGE 0xFFFFFFFFu

#define INVALID_CALLBACK_VALUE 0xFFFFFFFFu

/* WIMGetAttributes */
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
} WIM_INFO, *PWIM_INFO, *LPWIM_INFO;

/* WIMGetMountedImages */
typedef struct _WIM_MOUNT_LIST {
    WCHAR WimPath[MAX_PATH];
    WCHAR MountPath[MAX_PATH];
    DWORD ImageIndex;
    BOOL  MountedForRW;
} WIM_MOUNT_LIST, *PWIM_MOUNT_LIST, *LPWIM_MOUNT_LIST;

/* WIMGetMountedImageInfo: the levels and their records */
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

/* A message callback (WIMRegisterMessageCallback). */
typedef DWORD(CALLBACK *PFN_WIMMessageCallback)(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);

/* The functions, as bound by name from the library. */
typedef HANDLE(WINAPI *PFN_WIMCreateFile)(PCWSTR path, DWORD access, DWORD disposition, DWORD flags,
                                          DWORD compression, PDWORD creationResult);
typedef BOOL(WINAPI *PFN_WIMCloseHandle)(HANDLE object);
typedef BOOL(WINAPI *PFN_WIMSetTemporaryPath)(HANDLE wim, PCWSTR path);
typedef BOOL(WINAPI *PFN_WIMGetAttributes)(HANDLE wim, PWIM_INFO info, DWORD size);
typedef HANDLE(WINAPI *PFN_WIMLoadImage)(HANDLE wim, DWORD index);
typedef BOOL(WINAPI *PFN_WIMSetReferenceFile)(HANDLE wim, PCWSTR path, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMSetBootImage)(HANDLE wim, DWORD index);
typedef BOOL(WINAPI *PFN_WIMDeleteImage)(HANDLE wim, DWORD index);
typedef DWORD(WINAPI *PFN_WIMRegisterMessageCallback)(HANDLE wim, FARPROC callback, PVOID userData);
typedef BOOL(WINAPI *PFN_WIMUnregisterMessageCallback)(HANDLE wim, FARPROC callback);
typedef HANDLE(WINAPI *PFN_WIMCaptureImage)(HANDLE wim, PCWSTR path, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMApplyImage)(HANDLE image, PCWSTR path, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMExportImage)(HANDLE image, HANDLE destWim, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMSplitFile)(HANDLE wim, PCWSTR partPath, PLARGE_INTEGER partSize, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMGetImageInformation)(HANDLE object, PVOID *info, PDWORD size);
typedef BOOL(WINAPI *PFN_WIMSetImageInformation)(HANDLE image, PVOID info, DWORD size);
typedef BOOL(WINAPI *PFN_WIMMountImage)(PCWSTR mountPath, PCWSTR wimPath, DWORD index, PCWSTR tempPath);
typedef BOOL(WINAPI *PFN_WIMMountImageHandle)(HANDLE image, PCWSTR mountPath, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMGetMountedImages)(PWIM_MOUNT_LIST list, PDWORD size);
typedef BOOL(WINAPI *PFN_WIMGetMountedImageHandle)(PCWSTR mountPath, DWORD flags, PHANDLE wim, PHANDLE image);
typedef BOOL(WINAPI *PFN_WIMCommitImageHandle)(HANDLE image, DWORD flags, PHANDLE newImage);
typedef BOOL(WINAPI *PFN_WIMUnmountImageHandle)(HANDLE image, DWORD flags);
typedef BOOL(WINAPI *PFN_WIMUnmountImage)(PCWSTR mountPath, PCWSTR wimPath, DWORD index, BOOL commit);
/* The level is a MOUNTED_IMAGE_INFO_LEVELS (an int in size); callers pass
 * the number, which may also be an invalid one. */
typedef BOOL(WINAPI *PFN_WIMGetMountedImageInfo)(int level, PDWORD count, PVOID info, DWORD size,
                                                 PDWORD returned);

#ifdef __cplusplus
}
#endif

/* The layouts of the records, identical for every compiler that reads them
 * (the Windows library lays them out so). */
#ifdef __cplusplus
#define WIMGAPI_LAYOUT(cond, what) static_assert(cond, what)
#else
#define WIMGAPI_LAYOUT(cond, what) _Static_assert(cond, what)
#endif
WIMGAPI_LAYOUT(sizeof(MOUNTED_IMAGE_INFO_LEVELS) == 4, "MOUNTED_IMAGE_INFO_LEVELS is an int");
WIMGAPI_LAYOUT(sizeof(WIM_INFO) == 560, "WIM_INFO is 560 bytes");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, Guid) == 520, "WIM_INFO.Guid");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, ImageCount) == 536, "WIM_INFO.ImageCount");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, CompressionType) == 540, "WIM_INFO.CompressionType");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, PartNumber) == 544, "WIM_INFO.PartNumber");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, TotalParts) == 546, "WIM_INFO.TotalParts");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, BootIndex) == 548, "WIM_INFO.BootIndex");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, WimAttributes) == 552, "WIM_INFO.WimAttributes");
WIMGAPI_LAYOUT(offsetof(WIM_INFO, WimFlagsAndAttr) == 556, "WIM_INFO.WimFlagsAndAttr");
WIMGAPI_LAYOUT(sizeof(WIM_MOUNT_LIST) == 1048, "WIM_MOUNT_LIST is 1048 bytes");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_LIST, MountPath) == 520, "WIM_MOUNT_LIST.MountPath");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_LIST, ImageIndex) == 1040, "WIM_MOUNT_LIST.ImageIndex");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_LIST, MountedForRW) == 1044, "WIM_MOUNT_LIST.MountedForRW");
WIMGAPI_LAYOUT(sizeof(WIM_MOUNT_INFO_LEVEL0) == 1048, "WIM_MOUNT_INFO_LEVEL0 is 1048 bytes");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_INFO_LEVEL0, MountPath) == 520, "WIM_MOUNT_INFO_LEVEL0.MountPath");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_INFO_LEVEL0, ImageIndex) == 1040, "WIM_MOUNT_INFO_LEVEL0.ImageIndex");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_INFO_LEVEL0, MountedForRW) == 1044, "WIM_MOUNT_INFO_LEVEL0.MountedForRW");
WIMGAPI_LAYOUT(sizeof(WIM_MOUNT_INFO_LEVEL1) == 1048, "WIM_MOUNT_INFO_LEVEL1 is 1048 bytes");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_INFO_LEVEL1, MountPath) == 520, "WIM_MOUNT_INFO_LEVEL1.MountPath");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_INFO_LEVEL1, ImageIndex) == 1040, "WIM_MOUNT_INFO_LEVEL1.ImageIndex");
WIMGAPI_LAYOUT(offsetof(WIM_MOUNT_INFO_LEVEL1, MountFlags) == 1044, "WIM_MOUNT_INFO_LEVEL1.MountFlags");
#undef WIMGAPI_LAYOUT

#endif /* WIMGAPI_ABI_H */
