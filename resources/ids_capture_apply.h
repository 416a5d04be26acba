// Identifiers: Capture page, apply page, capture options dialog, task queue.
#pragma once

// Capture options dialog
#define IDD_SAVE_OPTIONS        146
#define IDC_OPT_COMP_NONE       1027
#define IDC_OPT_COMP_XPRESS     1029
#define IDC_OPT_COMP_LZX        1030
#define IDC_OPT_EDITION         1065
#define IDC_OPT_BOOT            1066
#define IDC_OPT_WIMBOOT         1067
#define IDC_OPT_COMP_LZMS       1068

// Capture page
#define IDC_CAP_CREATE          1015
#define IDC_CAP_SOURCE          1016
#define IDC_CAP_WIM             1017
#define IDC_CAP_PICK_SOURCE     1018
#define IDC_CAP_PICK_WIM        1019
#define IDC_CAP_APPEND          1020
#define IDC_CAP_NAME            1021
#define IDC_CAP_DISPLAY_NAME    1022
#define IDC_CAP_DESCRIPTION     1023
#define IDC_CAP_DISPLAY_DESC    1024
#define IDC_CAP_QUEUE           1056
#define IDC_CAP_VERIFY          1057
#define IDC_CAP_NO_ACL          1105

// Apply page
#define IDC_APPLY_WIM           1001
#define IDC_APPLY_TARGET        1005
#define IDC_APPLY_PICK_WIM      1009
#define IDC_APPLY_PICK_TARGET   1012
#define IDC_APPLY_APPLY         1013
#define IDC_APPLY_MOUNT         1015
#define IDC_APPLY_LIST          1024
#define IDC_APPLY_QUEUE         1056
#define IDC_APPLY_VERIFY        1057
#define IDC_APPLY_NO_ACL        1067

// Extra strings
#define IDS_CAPTURE_WIM_FILTER  400
#define IDS_APPLY_FILTER_WIMGAPI 401
#define IDS_APPLY_FILTER_WIMLIB 402
#define IDS_TASK_FILTER_SAVE    403
#define IDS_TASK_FILTER_LOAD    404
#define IDS_TASK_RUNNER_BUSY    405
#define IDS_OPT_LZMS_UNAVAILABLE 920
#define IDS_ESD_NOT_SOLID       921
