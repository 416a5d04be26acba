// Appending against a template image: the choice in the capture options,
// its reason when greyed, and how a queue row names it (2800-2899).
#pragma once

// Capture options dialog
#define IDC_OPT_TEMPLATE            2800
#define IDC_OPT_TEMPLATE_IMAGE      2801
#define IDC_OPT_TEMPLATE_NOTE       2802

// Strings
#define IDS_TEMPLATE_LAST_IMAGE     2810
#define IDS_TEMPLATE_IMAGE_ENTRY    2811
#define IDS_TEMPLATE_NEEDS_WIMLIB   2812
#define IDS_TEMPLATE_ROW_LAST       2813
#define IDS_TEMPLATE_ROW_INDEX      2814
#define IDS_TEMPLATE_NO_IMAGES      2815
