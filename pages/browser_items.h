// What the browser page shows in its rows: one BrowserItem per row, the
// size and time texts, the order of a column sort and the icons of file
// types. A row keeps its facts, not its texts: the size and time cells are
// formatted only when the list asks for a row it draws, so that a folder of
// a hundred thousand entries costs no more than its facts.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "win/handles.h"

// How a size or time cell of a row is written.
enum class CellStyle : uint8_t {
  kBlank,
  kComputerSize,  // "%llu Bytes" below 1024 bytes, else "%llu KB"
  kBytes,         // "%llu Bytes"
  kFileTime,      // "%04d-%02d-%02d %02d:%02d" local time
  kUnixTime,      // "%d-%02d-%02d %02d:%02d" local time
};

struct BrowserItem {
  int row = 0;            // position, renumbered before each sort
  int kind = 0;           // 0 drive or folder, 1 file; in the image list: the image index
  uint64_t size = 0;      // bytes
  uint64_t compressed = 0;
  // The full path on the computer or inside the image. A row of an image
  // folder keeps none: its path is `folder`'s child of its name.
  std::wstring path;
  const std::wstring* folder = nullptr;
  // The name, and the type when the row has a type of its own; rows of
  // the same file type share `type` instead. A row made from the page's
  // listing of an image folder shares that listing's name (`name`, ended
  // by a nul, `nameLength` characters).
  std::wstring texts[2];
  const wchar_t* name = nullptr;
  size_t nameLength = 0;
  const std::wstring* type = nullptr;
  int64_t time = 0;       // creation time, FILETIME ticks (UTC)
  CellStyle sizeStyle = CellStyle::kBlank;
  CellStyle compressedStyle = CellStyle::kBlank;
  CellStyle timeStyle = CellStyle::kBlank;
  int icon = 0;           // index in the system's small image list
  // Inside an image: whether the entry is in the image as it is now (not
  // for what a pending change adds), its path there when that is not
  // `path` (a pending rename), and the pending change it shows (an
  // EditMark).
  bool inImage = false;
  std::wstring imagePath;
  int mark = 0;

  std::wstring_view Name() const { return name ? std::wstring_view(name, nameLength) : std::wstring_view(texts[0]); }
  const wchar_t* NameText() const { return name ? name : texts[0].c_str(); }  // ended by a nul
  const std::wstring& TypeText() const { return type ? *type : texts[1]; }
  std::wstring Path() const;
  std::wstring ImagePath() const { return imagePath.empty() ? Path() : imagePath; }
};

// The rows of a listing, made in blocks so that a folder of many entries
// costs a few allocations instead of one a row. A row stays where it is
// until Clear.
class BrowserRowStore {
 public:
  BrowserItem& Add();
  void Clear();

 private:
  std::vector<std::unique_ptr<BrowserItem[]>> blocks_;
  size_t used_ = 0;  // rows taken of the last block
  size_t room_ = 0;  // rows of the last block
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
// FILETIME ticks of a FILETIME and of a Unix time.
int64_t TicksOf(const FILETIME& utc);
int64_t TicksOfUnix(int64_t seconds, int32_t nanoseconds);

// The text of cell `column` (0 name, 1 type, 2 size, 3 compressed size,
// 4 creation time) written into `out` (at most `capacity` characters with
// the terminating zero).
void WriteCellText(const BrowserItem& item, int column, const TIME_ZONE_INFORMATION& zone, wchar_t* out,
                   int capacity);
std::wstring CellText(const BrowserItem& item, int column, const TIME_ZONE_INFORMATION& zone);

// Sort keys of many texts: byte strings that order as lstrcmpW orders the
// texts. They are made in chunks of rows. A worker starts on the chunks at
// once; Finish has the calling thread take the chunks still left and waits
// for the worker, so a listing's keys are made while its rows are. The
// texts must stay as they are until Finish has returned (or the maker is
// gone); the destructor stops the worker after its chunk.
class TextKeys;
class SortKeyMaker {
 public:
  // The keys order as lstrcmpW does on a thread of locale `lcid`.
  SortKeyMaker(size_t count, std::function<std::wstring_view(size_t)> textOf, LCID lcid = GetThreadLocale());
  ~SortKeyMaker();
  SortKeyMaker(const SortKeyMaker&) = delete;
  SortKeyMaker& operator=(const SortKeyMaker&) = delete;

  // Makes the keys not made yet and waits for the worker; false when a
  // text got no key (then Compare is not to be used). The texts are not
  // read after it.
  bool Finish();
  size_t size() const { return count_; }
  int Compare(size_t a, size_t b) const;

 private:
  void TakeChunks();

  size_t count_;
  std::function<std::wstring_view(size_t)> textOf_;
  std::vector<std::unique_ptr<TextKeys>> chunks_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> failed_{false};
  UniqueHandle worker_;
};

// Sorts the rows by `column`: folders first, then the column (the sizes
// as numbers, the other columns in the order lstrcmpW gives their texts);
// the whole order is turned round for a descending sort. Rows that
// compare equal keep their order. Each row's key is made once, so a sort
// of many rows never formats a text per comparison. `names`, when given,
// holds the keys of the rows' names in the rows' present order (made while
// they were added); a sort by name uses them instead of making its own.
void SortBrowserRows(std::vector<BrowserItem*>& items, int column, bool ascending,
                     const TIME_ZONE_INFORMATION& zone, SortKeyMaker* names = nullptr);

// The registry's type name of a file extension (".txt"), empty if none.
std::wstring FileTypeName(const std::wstring& extension);
// The extension with its dot, lower case; empty when the name has none.
std::wstring LowerExtension(const std::wstring& name);

// Small icons of the system image list and type names by file extension,
// each looked up once, when a row of its type is first listed.
class IconCache {
 public:
  // What rows of one file extension share.
  struct FileKind {
    int icon = 0;
    std::wstring type;
  };

  // The system's small-icon image list.
  static HIMAGELIST SystemImageList();
  // Looks up the folder icon (the page does, once, as it is made).
  void FindFolderIcon();
  // The type name of a file's extension, looked up once per extension.
  const std::wstring& TypeName(const std::wstring& name);
  // The icon and the type name of a file, by its extension; the reference
  // stays valid as long as the cache.
  const FileKind& KindOf(std::wstring_view name);
  int FolderIcon() const { return folderIcon_; }

 private:
  static int ExtensionIcon(const std::wstring& extension);

  std::unordered_map<std::wstring, std::unique_ptr<FileKind>> kinds_;
  const FileKind* last_ = nullptr;  // the kind of the last name asked for
  std::wstring lastExtension_;
  std::wstring lookup_;  // the extension being looked up
  int folderIcon_ = 0;
};
