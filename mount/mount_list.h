// The images mounted on the system, as WIMGAPI lists them, with the records
// that no longer stand for a usable mount marked stale.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct MountRecord {
  std::wstring wimPath;
  std::wstring mountPath;
  DWORD index = 0;
  bool writable = false;
  // The mount folder or the image file is gone, or the record was left by
  // a process that died while mounting: it can only be discarded.
  bool stale = false;
};

// Reads the mounted images. False (and `out` untouched) when WIMGAPI has no
// mounted-image list or the library refuses it.
bool ReadMountedImages(std::vector<MountRecord>& out);

// The records from a raw WIMGetMountedImages buffer of `bytes` bytes.
std::vector<MountRecord> ParseMountList(const void* buffer, DWORD bytes);

// Marks stale records: by the library's own mount flags when it offers
// WIMGetMountedImageInfo, else by whether the folder and the file exist.
void MarkStaleRecords(std::vector<MountRecord>& records);
