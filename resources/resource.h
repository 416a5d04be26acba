// Resource identifiers of the program.
#pragma once

// Icons and menus
#define IDI_QUARRY              128
#define IDR_MENU_MAIN           139

// Dialog templates
#define IDD_QUARRY_DIALOG       102

// Menu commands
#define ID_SWITCH_EASY          32794
#define ID_SWITCH_ADVANCED      32795
#define ID_SHOW_TASK_QUEUE      32786
#define ID_SHOW_MOUNTED         32788
#define ID_PREFERENCES          32796
#define ID_BACKEND_WIMGAPI      32835
#define ID_BACKEND_WIMLIB       32836
#define ID_ABOUT                32828
#define ID_EXIT                 32785

// Strings
#define IDS_PROPSHEET_LABELS    101
#define IDS_CANNOT_OPEN_WIM     140
#define IDS_UP_TO_DATE          142
#define IDS_TASK_TYPES          143
#define IDS_BROWSER_COLUMNS     146
#define IDS_ASK_MOUNT_WRITABLE  205
#define IDS_NEW_VERSION         210
#define IDS_OP_SUCCEEDED        230
#define IDS_PREPARING           231
#define IDS_OP_FAILED           232
#define IDS_SPLIT_TOO_SMALL     234
#define IDS_OP_CANCELLED        235
#define IDS_SPLITTING           236
#define IDS_ASK_ABORT           237
#define IDS_ASK_ABORT_CAPTION   238
#define IDS_NO_YES              239
#define IDS_CONFIG_LIST_NAMES   250
#define IDS_TASK_COLUMNS        252
#define IDS_INFO_COLUMNS        253
#define IDS_INFO_SUMMARY        254
#define IDS_WIMLIB_NO_MOUNT     256
#define IDS_PROGRESS_TITLES     257
