// What the browser page shows in its rows: one BrowserItem per row, the
// size and time texts, the order of a column sort and the icons of file
// types.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <map>
#include <string>

struct BrowserItem {
  int row = 0;            // position, renumbered before each sort
  int kind = 0;           // 0 drive or folder, 1 file; in the image list: the image index
  uint64_t size = 0;      // bytes
  uint64_t compressed = 0;
  std::wstring path;      // full path on the computer or inside the image
  std::wstring texts[5];  // the row's cells, which the list asks for
  int icon = 0;           // index in the system's small image list
  // Inside an image: the path in the image as it is now (empty for what a
  // pending change adds), and the pending change it shows (an EditMark).
  std::wstring imagePath;
  int mark = 0;
};

// "%llu Bytes" below 1024 bytes, else "%llu KB" rounded to the nearest KB.
std::wstring ComputerSizeText(uint64_t size);
// "%llu Bytes".
std::wstring BytesText(uint64_t size);
// "%Y-%m-%d %H:%M" of a file time, in local time by the time zone given
// (read once per listing, so that no entry asks the system again).
std::wstring FileTimeText(const FILETIME& utc, const TIME_ZONE_INFORMATION& zone);
// "%d-%02d-%02d %02d:%02d" of a Unix time, in local time.
std::wstring UnixTimeText(int64_t seconds, int32_t nanoseconds, const TIME_ZONE_INFORMATION& zone);

// The order of two rows for a sort by `column` (2 and 3 are the sizes):
// folders first, then the column; the whole result is turned round for a
// descending sort.
int CompareBrowserRows(const BrowserItem& a, const BrowserItem& b, int column, bool ascending);

// The registry's type name of a file extension (".txt"), empty if none.
std::wstring FileTypeName(const std::wstring& extension);
// The extension with its dot, lower case; empty when the name has none.
std::wstring LowerExtension(const std::wstring& name);

// Small icons of the system image list by file extension, filled once.
class IconCache {
 public:
  // The system's small-icon image list.
  static HIMAGELIST SystemImageList();
  void FillOnce();
  bool filled() const { return filled_; }
  int FileIcon(const std::wstring& name) const;
  // The type name of a file's extension, looked up once per extension.
  const std::wstring& TypeName(const std::wstring& name);
  int FolderIcon() const { return folderIcon_; }

 private:
  std::map<std::wstring, int> icons_;
  std::map<std::wstring, std::wstring> types_;
  int folderIcon_ = 0;
  bool filled_ = false;
};
