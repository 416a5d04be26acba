// Writing the pending changes of the delete and edit page into a WIM file:
// metadata of every image that stays, the deletion of the others, and the
// boot mark, with either back end. Runs on the page's save worker.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/image_info.h"

// One row of the page: the image's index in the file as it was opened, the
// metadata to write, and whether it carries the boot mark.
struct ImageRow {
  int index = 0;
  ImageInfo info;
  bool boot = false;
};

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

// Everything a save needs, copied from the page before the worker starts.
class OperationRunner;

struct SaveJob {
  HWND page = nullptr;
  std::wstring wimPath;      // the file that was opened
  std::wstring destination;  // the file written: the same, or a copy
  std::vector<ImageRow> rows;
  WimStamp loaded;           // the opened file when its list was loaded
  BackendKind backend = kBackendWimgapi;
  std::wstring tempFolder;  // the host's, copied before the worker starts
  OperationRunner* runner = nullptr;  // told of the end when the page is gone
};

// The position (1-based) of the row with the boot mark, 0 when none.
int BootPosition(const std::vector<ImageRow>& rows);
// The indexes of the file's images that no row keeps, highest first.
std::vector<int> IndexesToDelete(const std::vector<ImageRow>& rows, int imageCount);

// Copies the opened file to the destination through a temporary file in
// the destination's folder, so that a failed copy leaves a file that was
// there before untouched. False when the copy failed.
bool CopyForSaveAs(const std::wstring& source, const std::wstring& destination);

// Writes the rows into `destination`, which must hold the `imageCount`
// images the rows were listed from: a file with another count, or an empty
// row list, is left untouched. True when every step succeeded. The WIMGAPI
// writer gets the temporary folder copied before the worker started.
bool WriteWithWimgapi(const std::wstring& destination, const std::vector<ImageRow>& rows, int imageCount,
                      const std::wstring& tempFolder);
bool WriteWithWimlib(const std::wstring& destination, const std::vector<ImageRow>& rows, int imageCount);
