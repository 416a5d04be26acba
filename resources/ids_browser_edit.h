// Identifiers of the browser page's editing of an image: menu commands,
// the controls of its edit bar and its strings.
#pragma once

// Commands (the browser's popup menu)
#define ID_BROWSER_ADD_FILES        2500
#define ID_BROWSER_ADD_FOLDER       2501
#define ID_BROWSER_NEW_FOLDER       2502
#define ID_BROWSER_RENAME           2503
#define ID_BROWSER_DELETE           2504
#define ID_BROWSER_UNDO             2505
#define ID_BROWSER_DISCARD          2506
#define ID_BROWSER_SAVE             2507

// The edit bar, made by the page below its list
#define IDC_BROWSER_EDIT_STATUS     2510
#define IDC_BROWSER_SAVE            2511
#define IDC_BROWSER_UNDO            2512
#define IDC_BROWSER_DISCARD         2513
#define IDC_BROWSER_ABORT           2514
#define IDC_BROWSER_PROGRESS        2515

// Strings
#define IDS_EDIT_PENDING            2520
#define IDS_EDIT_ASK_DELETE         2521
#define IDS_EDIT_ASK_REPLACE        2522
#define IDS_EDIT_BAD_NAME           2523
#define IDS_EDIT_NAME_EXISTS        2524
#define IDS_EDIT_ASK_SAVE           2525
#define IDS_EDIT_NO_WIMLIB          2526
#define IDS_EDIT_SPLIT_PART         2527
#define IDS_EDIT_READ_ONLY          2528
#define IDS_EDIT_CHANGED            2529
#define IDS_EDIT_SAVING             2530
#define IDS_EDIT_SAVE_FAILED        2531
#define IDS_EDIT_NEW_FOLDER_NAME    2532
#define IDS_EDIT_MARKS              2533
#define IDS_EDIT_BUTTONS            2534
#define IDS_EDIT_ASK_DISCARD        2535
#define IDS_EDIT_DELETED_ITEM       2536
#define IDS_EDIT_NOTHING            2537
#define IDS_EDIT_SAVED              2538
#define IDS_EDIT_CANCELLED          2539
#define IDS_EDIT_ADD_FILES_FILTER   2540
#define IDS_EDIT_OPEN_VERB          2541
#define IDS_EDIT_READING            2542
