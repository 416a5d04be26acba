// Strings of the checks that keep a write from harming a file: a mounted
// image, a file not wholly listed, a place where no file can be written.
#pragma once

#define IDS_SAFETY_MOUNTED          2100
#define IDS_SAFETY_NOT_ALL_LISTED   2101
