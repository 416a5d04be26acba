// Resource identifiers of the program.
#pragma once

// Icons
#define IDI_QUARRY              128
#define IDI_WIM_DOCUMENT        135
#define IDI_STATE_IMAGE         138
#define IDI_STATE_DONE          141
#define IDI_STATE_WAITING       142
#define IDI_STATE_RUNNING       145
#define IDI_INFO_FILE           147
#define IDI_INFO_IMAGE          148
#define IDI_INFO_ERROR          150
#define IDI_STATE_FAILED        153
#define IDI_BACK                155
#define IDI_WARNING_SIGN        177
#define IDI_STATE_VOLUME        179
#define IDI_ESD_DOCUMENT        187

// Pictures (resource type "ARGB": drawn as PNG files, stored decoded)
#define IDP_TAB_CAPTURE         130
#define IDP_TAB_APPLY           131
#define IDP_TAB_INFO            133
#define IDP_TAB_ADVANCED        137
#define IDP_DROP_AREA           159
#define IDP_FOLDER              160
#define IDP_WIM_FILE            161
#define IDP_ABOUT               163
#define IDP_RESULT_CANCELLED    171
#define IDP_RESULT_FAILED       172
#define IDP_RESULT_OK           173
#define IDP_MENU_BUTTON         175
#define IDP_TAB_BROWSE          182

// Menus
#define IDR_MENU_MAIN           139

// Dialog templates
#define IDD_PAGE_INFO           101
#define IDD_QUARRY_DIALOG       102
#define IDD_PAGE_APPLY          129
#define IDD_PAGE_CAPTURE        130
#define IDD_PAGE_ADVANCED       132
#define IDD_PAGE_TASK_QUEUE     153
#define IDD_PAGE_PROGRESS       154
#define IDD_PAGE_EASY           159
#define IDD_PAGE_BROWSER        182

// Controls of the main window: the five tab buttons
#define IDC_TAB_APPLY           1004
#define IDC_TAB_CAPTURE         1007
#define IDC_TAB_BROWSE          1008
#define IDC_TAB_INFO            1010
#define IDC_TAB_ADVANCED        1011

// Controls shared by several pages
#define IDC_MAIN_MENU           1077    // "M": opens the main menu
#define IDC_SEPARATOR           1028

// Progress page
#define IDC_PROGRESS_BAR        1014
#define IDC_PROGRESS_OK         1020
#define IDC_PROGRESS_ABORT      1021
#define IDC_PROGRESS_TEXT       1079
#define IDC_PROGRESS_PICTURE    1098
#define IDC_PROGRESS_TITLE      1118

// Task queue page
#define IDC_TASK_CLOSE          1020
#define IDC_TASK_LIST           1059
#define IDC_TASK_START          1060
#define IDC_TASK_OVERALL_BAR    1078
#define IDC_TASK_CURRENT_BAR    1079
#define IDC_TASK_ABORT          1090
#define IDC_TASK_LOAD           1095
#define IDC_TASK_SAVE           1096

// Advanced page host: the radio buttons of its three pages
#define IDC_ADVANCED_SPLIT      1033
#define IDC_ADVANCED_MERGE      1036
#define IDC_ADVANCED_DELETE     1037

// Easy page
#define IDC_EASY_MOUNT          1114
#define IDC_EASY_APPLY          1115
#define IDC_EASY_CAPTURE        1116
#define IDC_EASY_CLEAR          1117

// Menu commands
#define ID_INFO_COPY            32771
#define ID_INFO_OPEN            32773
#define ID_INFO_SHOW_XML        32775
#define ID_INFO_CLEAR           32777
#define ID_MOUNT_UNMOUNT        32780
#define ID_MOUNT_UNMOUNT_ALL    32782
#define ID_EXIT                 32785
#define ID_SHOW_TASK_QUEUE      32786
#define ID_MOUNT_REFRESH        32787
#define ID_SHOW_MOUNTED         32788
#define ID_TREE_ADD             32789
#define ID_TREE_DELETE          32790
#define ID_TREE_EDIT            32791
#define ID_SWITCH_EASY          32794
#define ID_SWITCH_ADVANCED      32795
#define ID_PREFERENCES          32796
#define ID_INFO_REFRESH         32804
#define ID_MOUNT_OPEN_FOLDER    32807
#define ID_MERGE_ADD            32810
#define ID_MERGE_REMOVE_ALL     32811
#define ID_APPLY_OPEN           32813
#define ID_APPLY_DETAILS        32815
#define ID_EASY_CLEAR_ALL       32817
#define ID_DELETE_OPEN          32820
#define ID_DELETE_IMAGE         32822
#define ID_ABOUT                32828
#define ID_BROWSER_EXTRACT      32830
#define ID_BROWSER_OPEN         32833
#define ID_BACKEND_WIMGAPI      32835
#define ID_BACKEND_WIMLIB       32836
#define ID_BROWSER_PROPERTIES   32838
#define ID_INFO_DETAILS         32840
#define ID_BROWSER_DETAILS      32842
#define ID_JUMP_SPLIT           32847
#define ID_JUMP_MERGE           32848
#define ID_JUMP_DELETE          32849
#define ID_JUMP_BROWSER         32850
#define ID_JUMP_APPLY           32851
#define ID_JUMP_CAPTURE         32853
#define ID_JUMP_INFO            32855

// Strings
#define IDS_PROPSHEET_LABELS    101
#define IDS_CANNOT_OPEN_WIM     140
#define IDS_UP_TO_DATE          142
#define IDS_TASK_TYPES          143
#define IDS_EMPTY_FOLDER        144
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
#define IDS_DROP_HERE           240
#define IDS_DROP_OR_PICK        241
#define IDS_CLICK_TO_SWITCH     242
#define IDS_ONE_TASK_ADDED      243
#define IDS_TASKS_ADDED         244
#define IDS_CONFIG_LIST_NAMES   250
#define IDS_TASK_COLUMNS        252
#define IDS_INFO_COLUMNS        253
#define IDS_INFO_SUMMARY        254
#define IDS_PERCENT_DONE        255
#define IDS_WIMLIB_NO_MOUNT     256
#define IDS_PROGRESS_TITLES     257
#define IDS_ASK_CLOSE_WHEN_DONE 290
#define IDS_CLOSE_PENDING       924
#define IDS_UNMOUNTING          145
#define IDS_COMPRESSION_NONE    147
#define IDS_COMPRESSION_FAST    148
#define IDS_COMPRESSION_MAX     149
#define IDS_MOUNT_READ_ONLY     150
#define IDS_MOUNT_READ_WRITE    151
#define IDS_COMPRESSION_DEFAULT 170
#define IDS_ASK_REPLACE         200
#define IDS_ASK_CREATE_CAPTION  201
#define IDS_ASK_CREATE          202
#define IDS_ASK_MERGE_INTO      203
#define IDS_ASK_MERGE_CAPTION   204
#define IDS_CANNOT_DELETE_ALL   206
#define IDS_ASK_SAVE_CHANGES    207
#define IDS_INVALID_PATH        208
#define IDS_ASK_LOAD_DEFAULTS   209
#define IDS_ALREADY_SPLIT       233
#define IDS_MOUNT_COLUMNS       251

// Identifiers of each area's own dialogs, controls and extra strings.
// Extra strings beyond the shared table use these ranges:
//   capture, apply and the task queue   400-449
//   information, browser, mount manager 450-499
//   split, merge, delete and edit       500-549
//   easy mode and the shell             550-599
//   window layer and engine             600-649
#include "ids_capture_apply.h"
#include "ids_look_inside.h"
#include "ids_advanced.h"
#include "ids_shell.h"
#include "ids_failure.h"
#include "ids_maintain.h"
