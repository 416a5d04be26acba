// What a capture left out of its image: the reasons, the question about an
// unreadable file, the list dialog and the result texts.
#pragma once

#define IDS_SKIP_FOREIGN_NAME   2200
#define IDS_SKIP_SPECIAL_FILE   2201
#define IDS_SKIP_UNREADABLE     2202
#define IDS_SKIP_ASK            2203
#define IDS_SKIP_ASK_CAPTION    2204
#define IDS_SKIP_RESULT         2205
#define IDS_SKIP_SHOW_LIST      2206
#define IDS_SKIP_QUEUE_ROW      2207
#define IDS_SKIP_STOPPED        2208
#define IDS_SKIP_FILTER         2209
#define IDS_SKIP_SAVE_FAILED    2210
#define IDS_SKIP_HEADER         2211
#define IDS_SKIP_UNKNOWN_PATH   2212

// The list of the items a capture left out.
#define IDD_SKIPPED_ITEMS       2250
#define IDC_SKIP_HEADER         2260
#define IDC_SKIP_LIST           2261
#define IDC_SKIP_COPY           2262
#define IDC_SKIP_SAVE           2263
// The progress page's button that opens the list.
#define IDC_PROGRESS_SKIPPED    2264
