// Identifiers: Easy mode, shell tasks, configuration editor, preferences, about box.
#pragma once

// Dialog templates
#define IDD_ABOUT               131
#define IDD_PREFERENCES         157
#define IDD_CONFIG_EDITOR       158
#define IDD_SHELL_TASK_TIP      180
#define IDD_SHELL_IMAGE_SELECT  181

// Shell-task progress dialog
#define IDC_SHELL_TIP_BAR       1107
#define IDC_SHELL_TIP_STATUS    1108
#define IDC_SHELL_TIP_DONE      1109
#define IDC_SHELL_TIP_TASK      1119

// Image chooser
#define IDC_SELECT_WRITABLE     1066
#define IDC_SELECT_LIST         1074

// About box
#define IDC_ABOUT_HOME          1055
#define IDC_ABOUT_FEEDBACK      1056
#define IDC_ABOUT_DONATE        1057
#define IDC_ABOUT_CHECK         1095

// Preferences
#define IDC_PREF_BROWSE         3
#define IDC_PREF_AUTOPOP        1066
#define IDC_PREF_TEMP           1080
#define IDC_PREF_CONFIG         1081
#define IDC_PREF_ASSOCIATE      1094
#define IDC_PREF_INTEGRATE      1095
#define IDC_PREF_USECFG         1102
#define IDC_PREF_LINE1          1028
#define IDC_PREF_LINE2          1029
#define IDC_PREF_LINE3          1030

// Configuration editor
#define IDC_CFG_TREE            1073
#define IDC_CFG_IMPORT          1092
#define IDC_CFG_DEFAULTS        1095

// Extra strings (550-599)
#define IDS_IMPORT_FAILED       550
#define IDS_BAD_PATTERN         551
#define IDS_UPDATE_FAILED       552
#define IDS_SHELL_TASK_FAILED   553
