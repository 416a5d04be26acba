// The images mounted on the system, as WIMGAPI lists them, with the records
// that no longer stand for a usable mount marked stale.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/backend.h"

struct MountRecord {
  std::wstring wimPath;
  std::wstring mountPath;
  DWORD index = 0;
  bool writable = false;
  // The mount folder or the image file is gone, the record was left by a
  // process that died while mounting or unmounting, or the process that
  // served the mount has died: it can only be discarded.
  bool stale = false;
  // Still being mounted: nothing may be done with it yet.
  bool mounting = false;
  // The image is an extracted copy in the folder, not a mount of the file.
  bool copy = false;
  // The image file is missing, the rest may still be there.
  bool noWim = false;
};

// How the library made the mount at `folder` (only the WIMGAPI library for
// Wine says so; elsewhere false): an extracted copy or a mount served by a
// process of its own, and then whether that process has died and how many
// changed files it leaves behind.
struct MountKind {
  bool copy = false;
  bool dead = false;
  ULONGLONG stagedFiles = 0, stagedBytes = 0;
};
bool ReadMountKind(const Backends& backends, const std::wstring& folder, MountKind& kind);

// Clears the record of a stale mount and keeps the folder and whatever the
// mount left as they are; false where the library cannot.
bool ForgetStaleMount(const Backends& backends, const std::wstring& folder);

// The current record of the mount at `folder`, read again now.
bool ReadMountRecord(const Backends& backends, const std::wstring& folder, MountRecord& out);

// Reads the mounted images. False (and `out` untouched) when WIMGAPI has no
// mounted-image list or the library refuses it.
bool ReadMountedImages(const Backends& backends, std::vector<MountRecord>& out);

// The records from a raw WIMGetMountedImages buffer of `bytes` bytes.
std::vector<MountRecord> ParseMountList(const void* buffer, DWORD bytes);

// Marks stale records: by the library's own mount flags when it offers
// WIMGetMountedImageInfo, else by whether the folder and the file exist.
void MarkStaleRecords(const Backends& backends, std::vector<MountRecord>& records);
