// Comparing two images: the window, its list's menu and its texts.
#pragma once

// The window.
#define IDD_COMPARE                 2600
#define IDC_COMPARE_FILE1           2601
#define IDC_COMPARE_PICK1           2602
#define IDC_COMPARE_IMAGE1          2603
#define IDC_COMPARE_FILE2           2604
#define IDC_COMPARE_PICK2           2605
#define IDC_COMPARE_IMAGE2          2606
#define IDC_COMPARE_IGNORE_TIMES    2607
#define IDC_COMPARE_RUN             2608
#define IDC_COMPARE_ABORT           2609
#define IDC_COMPARE_PROGRESS        2610
// One check box per kind of change, in the order of the kinds.
#define IDC_COMPARE_SHOW_FIRST      2611
#define IDC_COMPARE_SHOW_ADDED      2611
#define IDC_COMPARE_SHOW_REMOVED    2612
#define IDC_COMPARE_SHOW_CONTENT    2613
#define IDC_COMPARE_SHOW_ATTRIBUTES 2614
#define IDC_COMPARE_SHOW_SECURITY   2615
#define IDC_COMPARE_SHOW_TIMES      2616
#define IDC_COMPARE_SHOW_MOVED      2617
#define IDC_COMPARE_TEXT            2618
#define IDC_COMPARE_LIST            2619
#define IDC_COMPARE_SUMMARY         2620
#define IDC_COMPARE_SAVE            2621
#define IDC_COMPARE_LABEL1          2622
#define IDC_COMPARE_LABEL2          2623
#define IDC_COMPARE_LABEL_TEXT      2624
#define IDC_COMPARE_STATUS          2625

// The command that opens the window (main menu, information page, browser).
#define ID_COMPARE_IMAGES           2630
// The list's menu.
#define IDR_COMPARE_MENU            2631
#define ID_COMPARE_COPY_PATH        2632
#define ID_COMPARE_OPEN_BOTH        2633
#define ID_COMPARE_BROWSE_FIRST     2634
#define ID_COMPARE_BROWSE_SECOND    2635

// Texts.
#define IDS_COMPARE_TITLE           2640
#define IDS_COMPARE_COLUMNS         2641
#define IDS_COMPARE_KIND_FIRST      2642
#define IDS_COMPARE_KIND_ADDED      2642
#define IDS_COMPARE_KIND_REMOVED    2643
#define IDS_COMPARE_KIND_CONTENT    2644
#define IDS_COMPARE_KIND_ATTRIBUTES 2645
#define IDS_COMPARE_KIND_SECURITY   2646
#define IDS_COMPARE_KIND_TIMES      2647
#define IDS_COMPARE_KIND_MOVED      2648
#define IDS_COMPARE_SUMMARY         2649
#define IDS_COMPARE_READING         2650
#define IDS_COMPARE_READ_FAILED     2651
#define IDS_COMPARE_CSV_HEADER      2652
#define IDS_COMPARE_REPORT_FILTER   2653
#define IDS_COMPARE_NEED_TWO        2654
#define IDS_COMPARE_SAVE_FAILED     2655
#define IDS_COMPARE_IMAGE_ITEM      2656
#define IDS_COMPARE_TEXT_HEADER     2657
#define IDS_COMPARE_OPEN_FAILED     2658
#define IDS_COMPARE_NOT_A_WIM       2659
#define IDS_COMPARE_SHOWN           2660
#define IDS_COMPARE_FROM            2661
#define IDS_COMPARE_CANCELLED       2662
#define IDS_COMPARE_WIM_FILTER      2663
#define IDS_COMPARE_NO_WIMLIB       2664
#define IDS_COMPARE_BUSY            2665
