// Strings of mounting and unmounting (ids 2000-2099), kept apart from
// resource.h so that only the files using them depend on them.
#pragma once

#define IDS_REASON_WIM_REPLACED        2000
#define IDS_REASON_WIM_NEVER_WRITABLE  2001
#define IDS_ASK_UNSERVED_CHANGES       2002
#define IDS_ASK_SAVE_AS_NEW_IMAGE      2003
#define IDC_MOUNT_AS_NEW_IMAGE         2004
