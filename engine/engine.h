// One interface over both imaging back ends. An operation asks MakeEngine
// for the engine of the back end chosen when it was started, with its own
// context (progress target, cancel, host), calls one operation with a
// request that carries everything the operation needs, and drops the
// engine. Requests and choices are filled on the user-interface thread, so
// a worker never reads settings or lists that the user-interface thread may
// be changing.
//
// Every operation returns an EngineResult: 0, 1235 after the user's abort,
// -1 on failure (reported once, unless errors are quiet) or -99 when a
// library function it needs is not bound. Operations a back end does not
// offer fail with -1 (mounting on wimlib) or -99 (browsing on WIMGAPI).
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/capture_lists.h"
#include "engine/backend.h"
#include "engine/engine_host.h"
#include "engine/image_info.h"
#include "engine/image_tree.h"
#include "engine/image_update.h"
#include "engine/maintain.h"
#include "engine/mounts.h"
#include "engine/operation.h"
#include "engine/write_beside.h"

// One item a capture left out of the image, and why (in the user's words).
struct SkippedItem {
  std::wstring path;
  std::wstring reason;
};

// What a capture does with a file the back end cannot read (locked, access
// denied, gone): ask the user (the first time), skip every such file, or
// stop at the first one.
enum class UnreadablePolicy { kAsk, kSkip, kStop };

// The user's answer to the question about an unreadable file.
enum class UnreadableChoice { kSkip, kSkipAll, kStop };

// Asks the person at the program about an unreadable file; called on the
// thread that runs the capture.
using UnreadableQuestion = UnreadableChoice (*)(void* context, const std::wstring& path, const std::wstring& reason);

// What a capture tells its caller beside the result: every item it left
// out, and the file a stored "stop" ended it at (the capture then fails).
struct CaptureReport {
  std::vector<SkippedItem> skipped;
  std::wstring stoppedAt;
  std::wstring stopReason;
};

// The template choices of CaptureRequest::templateImage besides an index.
constexpr int kTemplateNone = 0;
constexpr int kTemplateLastImage = -1;

struct CaptureRequest {
  std::wstring source;
  std::wstring wimPath;
  int compression = 0;
  bool append = false;  // a further image of wimPath, else a new file
  // For an append: the image of wimPath whose unchanged files (same path,
  // size and times) are taken from it instead of being read again;
  // kTemplateNone, kTemplateLastImage or a 1-based image index. The new
  // image is the same either way. Ignored for a new file.
  int templateImage = 0;
  bool verify = false;
  bool noSecurity = false;
  ImageInfo info;
  // Files the back end cannot read. kAsk without a question stops.
  UnreadablePolicy unreadable = UnreadablePolicy::kStop;
  UnreadableQuestion ask = nullptr;
  void* askContext = nullptr;
  // Filled with what was left out; may be null.
  CaptureReport* report = nullptr;
};

struct ApplyRequest {
  std::wstring wimPath;
  std::wstring target;  // the folder written into
  int index = 1;
  bool verify = false;
  bool noSecurity = false;
};

struct MountRequest {
  std::wstring wimPath;
  std::wstring folder;
  int index = 1;
  bool verify = false;
  bool noSecurity = false;
  bool writable = false;
};

struct ExportRequest {
  std::wstring source;
  int index = 1;
  std::wstring destination;  // created with `compression` when missing
  int compression = 0;
  int wimBoot = 0;  // wimlib only
};

struct SplitRequest {
  std::wstring source;
  std::wstring firstPart;
  uint64_t partSize = 0;
  std::vector<std::wstring> shownParts;  // existing parts the user agreed to replace
};

// One image that stays in a file whose images are edited: its index in the
// file as it was listed, the metadata to write, and whether it carries the
// boot mark.
struct ImageRow {
  int index = 0;
  ImageInfo info;
  bool boot = false;
};

// The save of the delete and edit page: the rows are the images that stay,
// in file order; every other image of the `imageCount` the file held when
// it was listed is deleted, and the boot mark goes to the row that has it.
// A file with another image count, or an empty row list, is left untouched.
struct DeleteRequest {
  std::wstring wimPath;
  std::vector<ImageRow> rows;
  int imageCount = 0;
};

// The position (1-based) of the row with the boot mark, 0 when none.
int BootPosition(const std::vector<ImageRow>& rows);
// The indexes of the file's images that no row keeps, highest first.
std::vector<int> IndexesToDelete(const std::vector<ImageRow>& rows, int imageCount);

// The metadata of one image, written into the file in place.
struct SetImageInfoRequest {
  std::wstring wimPath;
  int index = 1;
  ImageInfo info;
};

// What ReadInfo tells of a file.
struct WimSummary {
  int imageCount = 0;
  int bootIndex = 0;
  int totalParts = 1;  // more than 1: a part of a split set
  std::wstring xmlText;
};

// Taking files and folders out of an image: each path lands directly in the
// target folder. A cancel request of the operation's context stops the
// extraction at its next progress call, without a question.
struct ExtractRequest {
  std::wstring wimPath;
  int image = 1;
  std::vector<std::wstring> paths;  // inside the image
  std::wstring target;
};

// One entry of a folder inside an image; its path is the folder's and its
// name. The name is kept in the listing the entry belongs to.
struct FolderEntry {
  size_t nameAt = 0;  // where the name starts in FolderListing::names
  size_t nameLength = 0;
  bool isFolder = false;
  bool hasData = false;  // size and compressed size are known
  uint64_t size = 0;
  uint64_t compressed = 0;
  int64_t createdSeconds = 0;  // Unix time
  int32_t createdNanoseconds = 0;
};

// The children of one folder inside an image. Their names are kept one
// after another in one block, each ended by a nul, so that a folder of many
// thousand entries costs no allocation for each of them.
class FolderListing {
 public:
  // Adds an entry named `name`; the entry's own name fields are set here.
  void Add(FolderEntry entry, std::wstring_view name) {
    entry.nameAt = names_.size();
    entry.nameLength = name.size();
    names_.append(name);
    names_.push_back(L'\0');
    entries_.push_back(entry);
  }
  void Add(FolderEntry entry, const wchar_t* name) { Add(entry, std::wstring_view(name ? name : L"")); }
  std::wstring_view NameOf(const FolderEntry& entry) const {
    return std::wstring_view(names_.data() + entry.nameAt, entry.nameLength);
  }
  // The same name, ended by a nul; valid while the listing is not added to.
  const wchar_t* NameTextOf(const FolderEntry& entry) const { return names_.c_str() + entry.nameAt; }

  const std::vector<FolderEntry>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  std::vector<FolderEntry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<FolderEntry>::const_iterator end() const { return entries_.end(); }

 private:
  std::vector<FolderEntry> entries_;
  std::wstring names_;
};

// A WIM file held open for browsing its images.
class BrowsedWim {
 public:
  virtual ~BrowsedWim() = default;
  // The children of `folder` ("\\" for the root) of image `image`, as far
  // as they can be read; false only when the library cannot list folders.
  virtual bool ListFolder(int image, const std::wstring& folder, FolderListing& out) = 0;
};

// What the mount manager decided about one mount before it is released.
struct UnmountRequest {
  std::wstring mountPath;
  std::wstring wimPath;
  DWORD index = 0;
  bool save = false;  // commit the changes first (the user agreed)
  // With save: the changes become a new image appended to the file, and
  // the mounted image itself stays as it was.
  bool asNewImage = false;
};

class Engine {
 public:
  virtual ~Engine() = default;
  virtual BackendKind Kind() const = 0;

  virtual EngineResult Capture(const CaptureRequest& request) = 0;
  virtual EngineResult Apply(const ApplyRequest& request) = 0;
  virtual EngineResult Mount(const MountRequest& request) = 0;
  virtual EngineResult Export(const ExportRequest& request) = 0;
  virtual EngineResult Split(const SplitRequest& request) = 0;
  virtual EngineResult Delete(const DeleteRequest& request) = 0;
  virtual EngineResult SetImageInfo(const SetImageInfoRequest& request) = 0;
  // 0 with `out` filled, -1 (no message) or -99.
  virtual EngineResult ReadInfo(const std::wstring& wimPath, WimSummary& out) = 0;
  // The number of parts of the set the file belongs to (1: not split):
  // 0, -1 (no message) or -99.
  virtual EngineResult ReadPartCount(const std::wstring& wimPath, int& totalParts) = 0;

  // Null when the file cannot be opened (the failure is shown unless errors
  // are quiet) or the back end cannot browse.
  virtual std::unique_ptr<BrowsedWim> OpenForBrowsing(const std::wstring& wimPath) = 0;
  // 0, 1235 when cancelled (what was written stays), -99, or the library's
  // own error number; no message.
  virtual EngineResult Extract(const ExtractRequest& request) = 0;

  // Whether a new file may be written solid (compression type 3).
  virtual bool WritesSolid() const = 0;

  // The images mounted on the system: 0, -1 when the list cannot be read,
  // or -99 when the back end keeps no list.
  virtual EngineResult ListMounts(std::vector<MountRecord>& out) = 0;
  // Commits (with request.save, as a new image with request.asNewImage) and
  // releases a mount: 0 when released, -1 or -99 when not. A commit that
  // fails keeps the image mounted.
  virtual EngineResult Unmount(const UnmountRequest& request) = 0;
  // Releases a mount whose record is stale, saving nothing: 0, -1 or -99.
  virtual EngineResult DiscardMount(const UnmountRequest& request) = 0;

  // Reading a whole tree
  // Every file and folder of one image, from its metadata alone (no file
  // data is decompressed). Progress goes to the context's target; its
  // cancel request stops the walk. 0 with `out` filled, 1235 when cancelled,
  // -1 (the reason noted, no message) or -99 (WIMGAPI cannot walk a tree).
  virtual EngineResult ReadTree(const TreeRequest& request, ImageTree& out) = 0;

  // Editing an image in place
  // Adds, deletes and renames files of one image and writes the change into
  // the file itself: 0, 1235 when stopped, -1, or -99 where the back end
  // has no such call (WIMGAPI). A write that fails or is stopped leaves
  // the file byte for byte as it was.
  virtual EngineResult UpdateImage(const ImageUpdateRequest&) { return kResultNotBound; }

  // File-wide maintenance (engine/maintain.h). Each is 0, 1235, -1 or -99.
  // A rebuild on WIMGAPI exports every image into a new file; verifying
  // needs wimlib (-99 on WIMGAPI).
  virtual EngineResult Rebuild(const RebuildRequest& request) = 0;
  virtual EngineResult Verify(const VerifyRequest& request) = 0;
  virtual EngineResult Join(const JoinRequest& request) = 0;

  // Capturing against a template
  // Whether an append can take an image of its file as a template
  // (CaptureRequest::templateImage). A back end without the call refuses
  // such a capture with -99 and changes nothing.
  virtual bool CapturesAgainstTemplate() const { return false; }
};

// The engine of the chosen back end, bound in `backends`, for one operation
// with `context`. The back ends outlive the engine; the choice and the
// context are copied.
std::unique_ptr<Engine> MakeEngine(const Backends& backends, const BackendChoice& choice,
                                   const OperationContext& context = OperationContext());
