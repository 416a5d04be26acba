// Solid output (ESD files): one LZMS resource holds the data of many files,
// which makes the file about half the size of an LZX one. A file written
// that way carries the header version 3584 (0xE00) instead of 0x10D00.
//
// Compression type 3 means "solid LZMS" for a new file on either back end.
// An image appended to a solid file is written solid too, so the file keeps
// one kind of resource throughout.
#pragma once
#include <cstdint>
#include <string>

#include "engine/backend.h"

constexpr int kCompressionSolidLzms = 3;
constexpr uint32_t kSolidWimVersion = 0xE00;

inline bool IsSolidWimVersion(uint32_t version) { return version == kSolidWimVersion; }

// Whether the bound WIMGAPI accepts compression type 3 for a new file. Our
// own library under Wine does; an older system library refuses it. Found
// out once per process by creating a file in `tempFolder` and removing it.
bool WimgapiWritesSolid(const WimgapiTable& api, const std::wstring& tempFolder);
