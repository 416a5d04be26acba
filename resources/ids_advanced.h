// Identifiers: Advanced page host, split, merge and export, delete and edit.
#pragma once

// Dialog templates
#define IDD_PAGE_SPLIT          133
#define IDD_PAGE_MERGE          134
#define IDD_PAGE_DELETE         147
#define IDD_EDIT_INFO           151

// Split page
#define IDC_SPLIT_SOURCE        1029
#define IDC_SPLIT_PICK_SOURCE   1030
#define IDC_SPLIT_TARGET        1033
#define IDC_SPLIT_PICK_TARGET   1034
#define IDC_SPLIT_START         1035
#define IDC_SPLIT_SIZE          1040
#define IDC_SPLIT_UNIT          1091
#define IDC_SPLIT_WARNING       1099
#define IDC_SPLIT_WARNING_ICON  1100
#define IDC_SPLIT_SOURCE_LABEL  1101
#define IDC_SPLIT_TARGET_LABEL  1102
#define IDC_SPLIT_SIZE_LABEL    1103
#define IDC_SPLIT_UNIT_HINT     1104

// Merge and export page
#define IDC_MERGE_LIST          1032
#define IDC_MERGE_ADD           1036
#define IDC_MERGE_EXPORT        1037

// Delete and edit page
#define IDC_DELETE_OPEN         1069
#define IDC_DELETE_LIST         1070
#define IDC_DELETE_PATH         1071
#define IDC_DELETE_SAVE         1072
#define IDC_DELETE_SAVE_AS      1073
#define IDC_DELETE_BUSY         1085
#define IDC_DELETE_ABORT        1131

// Edit information dialog
#define IDC_EDIT_NAME           1021
#define IDC_EDIT_DISPLAY_NAME   1022
#define IDC_EDIT_DESCRIPTION    1023
#define IDC_EDIT_DISPLAY_DESC   1024
#define IDC_EDIT_EDITION        1065
#define IDC_EDIT_BOOT           1066

// Extra strings (500-549)
#define IDS_ENTER_POSITIVE_INT  500
#define IDS_SPLIT_SAME_FILE     501
#define IDS_SPLIT_SIZE_TOO_BIG  502
#define IDS_SPLIT_SOLID         503
#define IDS_MERGE_NOTHING       504
#define IDS_MERGE_INTO_SOURCE   505
#define IDS_SAVE_FAILED         507
#define IDS_COPY_FAILED         508
#define IDS_SAVING_FILE         509
#define IDS_FILE_CHANGED_SINCE_LOAD 540
#define IDS_MERGE_STILL_LOADING 541
#define IDS_SPLIT_PART_IS_SOURCE 542
#define IDS_SPLIT_ASK_REPLACE_PARTS 543
