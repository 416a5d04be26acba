// Strings of the browser page's extraction, kept apart from resource.h so
// that only the files using them depend on them.
#pragma once

#define IDS_BROWSER_EXTRACT_FAILED 470
#define IDS_BROWSER_OPEN_FAILED 471
