// Identifiers: every property of an image in the edit dialog of the delete
// and edit page, and the Windows facts of the information views (2700-2799).
#pragma once

// The edit dialog with the Windows properties and the other elements
#define IDD_EDIT_PROPERTIES         2700

#define IDC_PROPS_EDITION           2710
#define IDC_PROPS_INSTALLATION      2711
#define IDC_PROPS_PRODUCT           2712
#define IDC_PROPS_ARCH              2713
#define IDC_PROPS_MAJOR             2714
#define IDC_PROPS_MINOR             2715
#define IDC_PROPS_BUILD             2716
#define IDC_PROPS_SPBUILD           2717
#define IDC_PROPS_LANGUAGES         2718
#define IDC_PROPS_DEFAULT_LANGUAGE  2719
#define IDC_PROPS_LIST              2720
#define IDC_PROPS_PATH              2721
#define IDC_PROPS_VALUE             2722
#define IDC_PROPS_SET               2723
#define IDC_PROPS_REMOVE            2724
#define IDC_PROPS_UNDEFINED         2725
#define IDC_PROPS_WINDOWS_GROUP     2726
#define IDC_PROPS_OTHER_GROUP       2727

// Strings
#define IDS_PROPS_COLUMNS           2740
#define IDS_PROPS_UNDEFINED         2741
#define IDS_PROPS_UNDEFINED_FIELDS  2742
#define IDS_PROPS_FIELD_NAMES       2743
#define IDS_PROPS_BAD_PATH          2744
#define IDS_PROPS_FIXED_PATH        2745
#define IDS_PROPS_PATH_CONFLICT     2746
#define IDS_PROPS_BAD_NUMBER        2747
#define IDS_PROPS_NONE_DEFINED      2748
#define IDS_FACTS_NAMES             2760
#define IDS_FACTS_COUNTS            2761
#define IDS_FACTS_TITLE             2762
