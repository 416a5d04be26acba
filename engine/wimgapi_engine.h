// The imaging operations on the WIMGAPI back end (Wimgapi.dll).
//
// A worker creates one engine, calls one operation and drops the engine.
// Every operation first checks that the library functions it needs are bound
// (kResultNotBound otherwise), reports progress to the target its request
// names, asks about a pending abort from its message callback
// (kResultAborted when the user agrees), tells the host of a failed library
// call once with ShowApiError unless errors are quiet, and closes every handle it opened exactly once, the last
// opened first.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/capture_lists.h"
#include "engine/backend.h"
#include "engine/engine.h"
#include "engine/engine_host.h"
#include "engine/image_info.h"
#include "engine/operation.h"
#include "engine/progress.h"

// A WIMGAPI file or image handle, closed with WIMCloseHandle exactly once.
class WimHandle {
 public:
  WimHandle(const WimgapiTable& api, HANDLE handle = nullptr) : api_(api), handle_(handle) {}
  ~WimHandle() { Close(); }
  WimHandle(const WimHandle&) = delete;
  WimHandle& operator=(const WimHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }
  void Close() {
    if (handle_) api_.CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  const WimgapiTable& api_;
  HANDLE handle_;
};

// A registered message callback, unregistered (with a null handle) when this
// object goes away. Declared before the handles so that it is undone after
// they are closed.
class MessageCallbackRegistration {
 public:
  explicit MessageCallbackRegistration(const WimgapiTable& api) : api_(api) {}
  ~MessageCallbackRegistration() { Unregister(); }
  MessageCallbackRegistration(const MessageCallbackRegistration&) = delete;
  MessageCallbackRegistration& operator=(const MessageCallbackRegistration&) = delete;

  void Register(HANDLE wim, PFN_WIMMessageCallback callback, void* userData);
  void Unregister();

 private:
  const WimgapiTable& api_;
  PFN_WIMMessageCallback callback_ = nullptr;
};

// What the capture callback needs: the length of the capture root (the
// source path without one trailing backslash) and the capture lists as the
// caller took them before the capture's worker started, so that a reload of
// the lists during a long capture cannot pull them from under the callback.
struct CaptureContext {
  size_t rootLength = 0;
  CaptureLists lists;
  const OperationContext* operation = nullptr;  // progress, cancel and host of the capture
  class CaptureSkips* skips = nullptr;  // what the capture leaves out; none when null
};

// The capture root length for a source path: one trailing "\" does not count.
size_t CaptureRootLength(const std::wstring& source);

// The message callback of a WIMGAPI capture; userData is a CaptureContext.
// Progress goes to the operation's target; a pending abort is asked about
// for every file; EXCEPTION/EXCLUDE decide whether a file or folder is captured,
// NOCOMPRESS whether its data is compressed and ALIGNMENT whether it is
// aligned, each matched against the path relative to the capture root.
DWORD CALLBACK CaptureMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData);

class WimgapiEngine : public Engine {
 public:
  // The engine of one operation: `backends` outlive it; the choice (the
  // temporary folder, the capture lists, Windows PE) and the context are
  // copied.
  WimgapiEngine(const Backends& backends, const BackendChoice& choice, const OperationContext& context);
  WimgapiEngine(const WimgapiEngine&) = delete;
  WimgapiEngine& operator=(const WimgapiEngine&) = delete;

  // Captures `source` into a new file (replacing one that exists) or, with
  // `append`, as a further image of `wimPath` (creating it when missing),
  // then writes `info` and sets the boot image. 0, 1235, -1 or -99.
  //
  // `lists` are the capture lists the callback applies: the choice's copy,
  // taken on the user-interface thread, where the lists are reloaded,
  // before the worker that runs the capture started. The worker then never
  // reads the program's lists while they may be replaced.
  EngineResult CaptureImage(const CaptureRequest& request, const CaptureLists& lists);

  // Writes image `index` into `target`. 0, 1235, -1 or -99.
  EngineResult ApplyImage(const std::wstring& wimPath, const std::wstring& target, int index, bool verify,
                          bool noSecurity);

  // Mounts image `index` at `mountFolder`, read-only unless `writable`; the
  // mount outlives the engine. Falls back to WIMMountImage when the library
  // has no WIMMountImageHandle. 0, 1235, -1 or -99.
  EngineResult MountImage(const std::wstring& wimPath, const std::wstring& mountFolder, int index, bool verify,
                          bool noSecurity, bool writable);

  // Copies image `index` of `source` into `destination`, creating it with
  // `compression` when it does not exist; duplicates are allowed.
  EngineResult ExportImage(const std::wstring& source, int index, const std::wstring& destination,
                           int compression);

  // Cuts `source` into parts of at most `partSize` bytes, the first at
  // `firstPart`, written beside their names and moved there on success;
  // `shownParts` are existing parts the user agreed to replace (see
  // SplitStaging::Commit). A too small size is told to the user through
  // the host's notice. 0, 1235, -1 or -99.
  EngineResult SplitWim(const std::wstring& source, const std::wstring& firstPart, uint64_t partSize,
                        const std::vector<std::wstring>& shownParts = {});

  // Reads the file's attributes and whole XML text into the engine:
  // 1 on success, 0 on failure (no message), -99 when not bound.
  int ReadWimInfo(const std::wstring& wimPath);
  const WIM_INFO& WimInfo() const { return wimInfo_; }
  const std::wstring& XmlText() const { return xmlText_; }  // begins with U+FEFF

  // Replaces NAME, DESCRIPTION, DISPLAYNAME, DISPLAYDESCRIPTION and FLAGS of
  // the loaded or captured image: empty fields lose their element. A failure
  // is shown as "WIMSetImageInformation()" unless errors are quiet.
  // Returns 0, -1, or -99 when not bound.
  int WriteImageInfo(HANDLE image, int index, const ImageInfo& info);

  // Makes the further parts of a split set known to the open file.
  void ReferenceSplitParts(HANDLE wim, const std::wstring& wimPath);

  const std::wstring& TempFolder() const { return tempFolder_; }
  const OperationContext& Context() const { return context_; }

  // Engine
  BackendKind Kind() const override { return kBackendWimgapi; }
  EngineResult Capture(const CaptureRequest& request) override;
  EngineResult Apply(const ApplyRequest& request) override;
  EngineResult Mount(const MountRequest& request) override;
  EngineResult Export(const ExportRequest& request) override;
  EngineResult Split(const SplitRequest& request) override;
  // Sets every row's metadata, deletes the other images and sets the boot
  // image, all on one open file handle.
  EngineResult Delete(const DeleteRequest& request) override;
  EngineResult SetImageInfo(const SetImageInfoRequest& request) override;
  EngineResult ReadInfo(const std::wstring& wimPath, WimSummary& out) override;
  EngineResult ReadPartCount(const std::wstring& wimPath, int& totalParts) override;
  std::unique_ptr<BrowsedWim> OpenForBrowsing(const std::wstring&) override { return nullptr; }
  EngineResult Extract(const ExtractRequest&) override { return kResultNotBound; }
  bool WritesSolid() const override;
  EngineResult ListMounts(std::vector<MountRecord>& out) override;
  EngineResult Unmount(const UnmountRequest& request) override;
  EngineResult DiscardMount(const UnmountRequest& request) override;
  EngineResult ReadTree(const TreeRequest& request, ImageTree& out) override;

  // File-wide maintenance (rebuild_wimgapi.cpp, join_wimgapi.cpp); there is
  // no verification through WIMGAPI.
  EngineResult Rebuild(const RebuildRequest& request) override;
  EngineResult Verify(const VerifyRequest&) override { return kResultNotBound; }
  EngineResult Join(const JoinRequest& request) override;

 private:
  // Exports every image of `source` (a split set's parts referenced) into
  // the new file `written` with `compression`, an integrity table with
  // `integrity`, and sets its boot image to the source's.
  EngineResult ExportEveryImage(const std::wstring& source, const std::wstring& written, int compression,
                                bool integrity);
  EngineResult UnmountByHandle(const UnmountRequest& request);
  EngineResult CommitAsNewImage(const UnmountRequest& request);
  // Delete's steps on the open file.
  bool EditImages(HANDLE wim, const DeleteRequest& request);
  EngineResult ApplyOrMount(const std::wstring& wimPath, const std::wstring& folder, int index, bool verify,
                            bool noSecurity, bool mount, bool writable);
  EngineResult MountWithoutHandle(const std::wstring& wimPath, const std::wstring& folder, int index,
                                  bool writable);

  // Opens, or makes as `disposition` says, a WIM file to write into, with
  // the operation's temporary folder set on it: false, with the failed call
  // noted and shown, when either step fails (the handle is then closed).
  bool OpenForWriting(WimHandle& wim, const std::wstring& path, DWORD disposition, DWORD flags = 0,
                      DWORD compression = 0, DWORD* created = nullptr,
                      DWORD access = WIM_GENERIC_READ | WIM_GENERIC_WRITE);

  // The capture's steps on the file it writes.
  EngineResult CaptureInto(const std::wstring& source, const std::wstring& written, bool append, int compression,
                           bool verify, bool noSecurity, const ImageInfo& info, CaptureContext& ctx);

  // Notes the failed call for the result's reason and shows it unless
  // errors are quiet.
  void ReportApiFailure(const wchar_t* functionName) const { ShowApiError(context_, functionName); }
  bool AbortRequested() const { return ::AbortRequested(context_); }
  // True, with the refusal noted and shown, when an image of one of the
  // files is mounted.
  bool RefuseMountedWrite(const std::vector<std::wstring>& paths) const;

  const Backends& backends_;
  const WimgapiTable& api_;
  BackendChoice choice_;
  std::wstring tempFolder_;
  OperationContext context_;
  WIM_INFO wimInfo_ = {};
  std::wstring xmlText_;
};

// The temporary folder of a capture on Windows PE (the system on drive X):
// the root of the WIM file's drive ("D:\\" for "D:\\images\\a.wim"). Empty
// for any path not of the form "D:\\..." (a network path, a relative one),
// whose temporary folder stays the one of the settings.
std::wstring DriveRootOf(const std::wstring& wimPath);
