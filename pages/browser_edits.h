// The browser page's pending changes to the files of an image: what the
// user added, replaced, deleted, renamed and made inside the image, kept as
// a list until it is saved in one update, and how a folder of the image
// looks with them applied. Holds no window: the page asks it, and it is
// tested on its own.
//
// Paths inside the image: the root is "" and every other folder "\\a\\b".
// An edit names its folder and entry as they were called when it was made,
// so that later renames of a folder above do not change it (the update
// carries the commands out in the same order).
#pragma once
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/image_update.h"

enum class EditMark { kNone, kAdded, kReplaced, kDeleted, kRenamed };

struct PendingEdit {
  ImageUpdateOp op = ImageUpdateOp::kAdd;
  std::wstring folder;   // where it happens
  std::wstring name;     // the entry it adds, deletes or renames
  std::wstring newName;  // kRename
  std::wstring source;   // kAdd: the file or folder on the computer
  bool isFolder = false;
  bool replace = false;  // kAdd over an entry of the same name
  int group = 0;         // the edits of one user action share a group
};

// One row of a folder as it looks with the edits applied.
struct ShownEntry {
  std::wstring name;
  bool isFolder = false;
  EditMark mark = EditMark::kNone;
  // Where the entry is in the image as it is now; empty when it is not
  // there (added, or under an added folder).
  std::wstring imagePath;
  // The image's own facts, when imagePath is set (its sizes and time only:
  // a folder of many entries is not copied name by name twice).
  struct Facts {
    bool hasData = false;  // size and compressed size are known
    uint64_t size = 0;
    uint64_t compressed = 0;
    int64_t createdSeconds = 0;  // Unix time
    int32_t createdNanoseconds = 0;
  } image;
  std::wstring source;   // added or replaced: the path on the computer
};

// "" + "a" -> "\\a"; "\\a" + "b" -> "\\a\\b".
std::wstring ImageChild(const std::wstring& folder, std::wstring_view name);
// "\\a\\b" -> "\\a"; "\\a" -> "".
std::wstring ImageParent(const std::wstring& path);
// "\\a\\b" -> "b".
std::wstring ImageName(const std::wstring& path);

// True for a name Windows can hold as one file or folder name: not empty,
// at most 255 units, none of \ / : * ? " < > | or a control character, not
// ending in a space or a dot, not "." or "..", and not a device name
// (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without extension).
bool IsValidWindowsName(const std::wstring& name);

class BrowserEdits {
 public:
  // Starts a new user action: the edits made until the next call are taken
  // back together by Undo.
  void BeginAction() { group_++; }
  void Add(const std::wstring& folder, const std::wstring& name, const std::wstring& source, bool isFolder,
           bool replace);
  void NewFolder(const std::wstring& folder, const std::wstring& name);
  void Delete(const std::wstring& folder, const std::wstring& name, bool isFolder);
  void Rename(const std::wstring& folder, const std::wstring& name, const std::wstring& newName);

  // Takes back the last action; false when there is none.
  bool Undo();
  void Clear() { edits_.clear(); }
  bool empty() const { return edits_.empty(); }
  // The number of changes waiting (one per item of an action).
  int Count() const { return static_cast<int>(edits_.size()); }
  const std::vector<PendingEdit>& edits() const { return edits_; }

  // Where the folder shown as `shown` is in the image as it is now: false
  // when it is not there (it was added by an edit).
  bool ImageFolderOf(const std::wstring& shown, std::wstring& inImage) const;
  // The folder `shown` with the edits applied, from the image's listing of
  // its ImageFolderOf (ignored when it has none).
  std::vector<ShownEntry> Apply(const std::wstring& shown, const FolderListing& listing) const;

  // The update that carries the edits out, in order.
  std::vector<ImageUpdateCommand> Commands() const;

 private:
  // A new edit of this action at the end of the list: `op` on `name` in
  // `folder`; the caller fills in the rest.
  PendingEdit& Push(ImageUpdateOp op, const std::wstring& folder, const std::wstring& name);
  // The index of the first edit that happened to the folder `shown`, with
  // its path before that edit in `before`; the folder was made by edit
  // `created` (-1 when it is in the image).
  void Trace(const std::wstring& shown, std::wstring& before, int& created) const;

  std::vector<PendingEdit> edits_;
  int group_ = 0;
};
