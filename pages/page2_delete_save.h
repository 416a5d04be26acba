// Writing the pending changes of the delete and edit page into a WIM file:
// metadata of every image that stays, the deletion of the others, and the
// boot mark, with either back end. Runs on the page's save worker.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/engine.h"

// What the page saw of a file when it listed its images: the rows stand
// for exactly these images, so a save is only sound while the file is
// still the one that was listed.
struct WimStamp {
  bool valid = false;
  uint32_t imageCount = 0;
  ULONGLONG size = 0;
  FILETIME written = {};
};
// The file's size and time now, without its image count; invalid when the
// file cannot be found. Taken before the file is read, so that a change
// during the read shows at the next look.
WimStamp StampOfFile(const std::wstring& path);
// The stamp of the file as it is now; invalid when it is no WIM file.
WimStamp CurrentStamp(const std::wstring& path);
// True when the file is no longer the one the stamp was taken of.
bool ChangedSince(const std::wstring& path, const WimStamp& loaded);

// Everything a save needs, copied from the page before the operation starts.
struct SaveJob {
  std::wstring wimPath;      // the file that was opened
  std::wstring destination;  // the file written: the same, or a copy
  std::vector<ImageRow> rows;
  WimStamp loaded;           // the opened file when its list was loaded
  const Backends* backends = nullptr;  // bound for the program's life
  BackendChoice choice;
};

// A copy of the opened file in the destination's folder, under a name of
// its own: a Save As writes into it and it replaces the destination only
// once complete, so that a failed or aborted save leaves a file that was
// there before untouched. Empty when the copy failed.
std::wstring CopyBeside(const std::wstring& source, const std::wstring& destination);

// Writes the job's rows into `file` with the job's back end; the file must
// hold the images the rows were listed from (a file with
// another count, or an empty row list, is left untouched). 0, 1235 when the
// user aborted it (the file is then as it was), or a failure.
EngineResult WriteChanges(const SaveJob& job, const OperationContext& context, const std::wstring& file);

// The whole save: with wimlib into the opened file itself, otherwise into a
// copy beside the destination that takes its place once every edit has
// succeeded. Refused (failure, nothing written) while an image of either
// file is mounted. `copied` is false when the copy could not be made.
EngineResult SaveChanges(const SaveJob& job, const OperationContext& context, bool& copied);
