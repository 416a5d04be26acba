/*
 * resource.h - resource identifiers of the WIM property-sheet extension,
 * shared by tessel.rc and the extension's sources.
 */
#pragma once

#define IDS_PROJNAME        100   /* project name, not shown */
#define IDS_ROW_LABELS      101   /* the six row labels, each ending in ':' */
#define IDS_PAGE_TITLE      102   /* title of the property page */

#define IDR_REGISTRY        101   /* registration script (type "REGISTRY") */
#define IDR_TYPELIB         1     /* type library (type "TYPELIB") */

#define IDD_WIMINFO         107   /* property page template */
#define IDC_INFO_TREE       210   /* tree control listing the header facts */
