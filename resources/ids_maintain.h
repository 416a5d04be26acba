// Identifiers: the maintenance page of the advanced host (2400-2499 for
// its template, controls, strings and commands).
#pragma once

// The host's fourth radio button and the page's template
#define IDC_ADVANCED_MAINTAIN       2400
#define IDD_PAGE_MAINTAIN           2401

// Maintenance page
#define IDC_MAINTAIN_FILE_LABEL     2410
#define IDC_MAINTAIN_FILE           2411
#define IDC_MAINTAIN_PICK_FILE      2412
#define IDC_MAINTAIN_COMPRESSION_LABEL 2413
#define IDC_MAINTAIN_COMPRESSION    2414
#define IDC_MAINTAIN_INTEGRITY_LABEL 2415
#define IDC_MAINTAIN_INTEGRITY      2416
#define IDC_MAINTAIN_REBUILD        2417
#define IDC_MAINTAIN_TO_ESD         2418
#define IDC_MAINTAIN_TO_WIM         2419
#define IDC_MAINTAIN_VERIFY         2420
#define IDC_MAINTAIN_JOIN_LABEL     2421
#define IDC_MAINTAIN_JOIN_TARGET    2422
#define IDC_MAINTAIN_PICK_JOIN      2423
#define IDC_MAINTAIN_JOIN           2424
#define IDC_MAINTAIN_STATUS         2425
#define IDC_MAINTAIN_VERIFY_NOTE    2426
#define IDC_MAINTAIN_REBUILD_GROUP  2427
#define IDC_MAINTAIN_CHECK_GROUP    2428
#define IDC_MAINTAIN_JOIN_GROUP     2429

// The split page's FAT32 preset
#define IDC_SPLIT_FAT32             2430

// Strings
#define IDS_MAINTAIN_COMPRESSIONS   2450
#define IDS_MAINTAIN_INTEGRITY_CHOICES 2451
#define IDS_MAINTAIN_REBUILT        2452
#define IDS_MAINTAIN_SOUND          2453
#define IDS_MAINTAIN_DAMAGED        2454
#define IDS_MAINTAIN_NEEDS_WIMLIB   2455
#define IDS_MAINTAIN_SPLIT_PART     2456
#define IDS_MAINTAIN_READ_ONLY      2457
#define IDS_MAINTAIN_NOT_FIRST_PART 2458
#define IDS_MAINTAIN_JOIN_INTO_SET  2459
#define IDS_MAINTAIN_JOINED         2460
#define IDS_MAINTAIN_NO_FILE        2461
#define IDS_MAINTAIN_NOT_DONE       2462
#define IDS_MAINTAIN_CANCELLED      2463
#define IDS_REASON_ENCRYPTED        2464
#define IDS_SPLIT_CONVERT_FIRST     2465
#define IDS_SPLIT_NO_SPACE          2466

// The "跳转到" command of the other pages
#define ID_JUMP_MAINTAIN            2499
