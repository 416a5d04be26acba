// Identifiers: Information page and dialog, browser page, mount manager.
#pragma once

// Dialog templates
#define IDD_MOUNT_VIEW          152
#define IDD_WIM_INFO            185
#define IDD_EXTRACT_TIP         450

// Information page
#define IDC_INFO_LIST           1074
#define IDC_INFO_COPY_EDIT      1089

// Information dialog
#define IDC_WIMINFO_EDIT        1002
#define IDC_WIMINFO_TAB         1112
#define IDC_WIMINFO_STATUS      1113

// Browser page
#define IDC_BROWSER_LIST        1074
#define IDC_BROWSER_UP          1078
#define IDC_BROWSER_EXTRACT     1110
#define IDC_BROWSER_LOCATION    1111

// Mount manager
#define IDC_MOUNT_LIST          1024
#define IDC_MOUNT_UNMOUNT       1076

// The small extraction dialog
#define IDC_EXTRACT_TEXT        451
#define IDC_EXTRACT_BAR         452
#define IDC_EXTRACT_ABORT       1130

// Extra strings
#define IDS_MOUNT_STALE         450
#define IDS_COMPUTER            451
#define IDS_FOLDER_TYPE         452
#define IDS_MOUNT_VIEW_TITLE    453
#define IDS_MOUNT_COPY          454
#define IDS_MOUNT_MOUNTING      455
#define IDS_MOUNT_STILL_MOUNTING 456
#define IDS_ASK_STALE_FOLDER    457
#define IDS_ASK_DEAD_CHANGES    458
