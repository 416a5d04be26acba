// Jobs on a whole WIM file, every image at once: rebuilding it (with the
// same or another compression), adding or removing its integrity table,
// verifying it (or a whole split set) and joining a split set into one file.
//
// Every job that writes leaves the file it replaces as it was until the new
// file is complete and checked: the new content is written beside the
// target and takes its name only then (engine/write_beside.h). A file any of
// whose images is mounted, a part of a split set (for a rebuild) and a
// read-only file are refused before anything is written.
#pragma once
#include <string>

// The compression of a rebuilt file: its own (a solid file stays solid), or
// a compression type of a new file (0 none, 1 XPRESS, 2 LZX, 3 solid LZMS).
constexpr int kKeepCompression = -1;

// What a rebuild does with the file's integrity table.
enum class IntegrityChoice { kKeep, kAdd, kRemove };

// Rebuilds `wimPath` so that it holds no data its images do not use, with
// every image's XML properties and the boot index kept.
// With a `target`, the rebuilt file is a new file there (replacing one that
// exists) and `wimPath` stays as it is.
struct RebuildRequest {
  std::wstring wimPath;
  int compression = kKeepCompression;
  IntegrityChoice integrity = IntegrityChoice::kKeep;
  std::wstring target;  // empty: in place
};

// Checks every resource of `wimPath` (a split set's first part: of every
// part, found by name) against its hash, and the integrity table where the
// file has one. Success: the file is sound; failure: the reason says what
// is damaged.
struct VerifyRequest {
  std::wstring wimPath;
};

// Writes the split set whose first part is `firstPart` into one new file
// `target`; `replace` when the user agreed to replace an existing target.
struct JoinRequest {
  std::wstring firstPart;
  std::wstring target;
  bool replace = false;
};

// Whether the file has the read-only attribute (a rebuild refuses it).
bool IsReadOnlyFile(const std::wstring& path);
