// Strings that say why an operation failed, kept apart from resource.h so
// that only the files using them depend on them.
#pragma once

#define IDS_REASON_HASH            950
#define IDS_REASON_DECOMPRESS      951
#define IDS_REASON_METADATA        952
#define IDS_REASON_DAMAGED         953
#define IDS_REASON_DISK_FULL       954
#define IDS_REASON_ACCESS_DENIED   955
#define IDS_REASON_PATH_NOT_FOUND  956
#define IDS_REASON_IN_USE          957
#define IDS_REASON_NOT_WIM         958
#define IDS_REASON_PART_MISSING    959
#define IDS_REASON_WIMLIB          960
#define IDS_REASON_WIN32           961
#define IDS_REASON_WITH_FILE       962
#define IDS_QUEUE_REASON_COLUMN    963
#define IDS_EXTRACT_FAILED_WHY     964
#define IDS_REASON_NO_WIMLIB_MOUNT 965
#define IDS_REASON_MOUNTED         966

// The progress page's line under the result: why the operation failed.
#define IDC_PROGRESS_REASON        1150
