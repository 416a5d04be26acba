// Changing the files of one image of a WIM file without mounting it: a list
// of commands (add a file or folder from the computer, delete, rename, make
// an empty folder) that go into the image in one update and then into the
// file with one in-place write (the changes are appended after what the
// file holds, and the header is written last).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum class ImageUpdateOp { kAdd, kDelete, kRename, kNewFolder };

// One command. Paths inside the image are full ("\\dir\\name"); the root
// is "\\".
struct ImageUpdateCommand {
  ImageUpdateOp op = ImageUpdateOp::kAdd;
  std::wstring source;  // kAdd: the file or folder on the computer
  std::wstring path;    // kAdd, kNewFolder: the path it gets; kDelete, kRename: the path it has
  std::wstring target;  // kRename: the new full path
  bool replace = false; // kAdd: what stands at `path` goes first (a whole folder too)
};

struct ImageUpdateRequest {
  std::wstring wimPath;
  int image = 1;
  std::vector<ImageUpdateCommand> commands;
  // A folder the engine may use for an empty folder to add (made and
  // removed by the engine); empty: the system's temporary folder.
  std::wstring scratchFolder;
};

// The header and the length of a file, kept before an in-place write so
// that a write that fails or is stopped can be taken back to exactly what
// was there.
class InPlaceGuard {
 public:
  // Reads the length, the first `kHeaderBytes` and the last-write time.
  bool Take(const std::wstring& path);
  // True when the file is byte for byte as taken (length and header; the
  // rest of an in-place write lies past the old end).
  bool Unchanged() const;
  // Cuts the file back to its old length, writes the old header bytes and
  // the old last-write time. True when the file is as it was.
  bool Restore() const;
  // Gives the file its old last-write time back (the bytes being as taken).
  void RestoreTime() const;
  uint64_t size() const { return size_; }

  static constexpr DWORD kHeaderBytes = 208;

 private:
  std::wstring path_;
  uint64_t size_ = 0;
  std::string header_;
  FILETIME written_ = {};
  bool taken_ = false;
};
