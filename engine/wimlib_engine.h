// The imaging operations on the wimlib back end (libwim-15.dll).
//
// Like the WIMGAPI engine, one engine serves one operation on a worker
// thread and every operation first checks the library functions it needs
// (kResultNotBound otherwise). wimlib operations report progress through
// WimlibProgress to the target their request names, show no message boxes and stop at the user's abort with
// 1235: a file written in place is rolled back by the library, a new file
// is written beside its target and renamed only once complete. Failures end
// as -1 (apply returns wimlib's own error number from the extraction).
// Every WIMStruct is freed exactly once, the last opened first. The
// library's global state is left alone (see ReleaseBackends).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/backend.h"
#include "engine/engine.h"
#include "engine/engine_host.h"
#include "engine/image_info.h"
#include "engine/operation.h"
#include "engine/progress.h"

// A WIMStruct freed with wimlib_free when this object goes away.
class WimlibWim {
 public:
  explicit WimlibWim(const WimlibTable& api) : api_(api) {}
  ~WimlibWim() { Free(); }
  WimlibWim(const WimlibWim&) = delete;
  WimlibWim& operator=(const WimlibWim&) = delete;

  WIMStruct* get() const { return wim_; }
  // For the library's out-parameter; frees what was held before.
  WIMStruct** out() {
    Free();
    return &wim_;
  }
  void Free() {
    if (wim_) api_.free(wim_);
    wim_ = nullptr;
  }

 private:
  const WimlibTable& api_;
  WIMStruct* wim_ = nullptr;
};

class WimlibEngine : public Engine {
 public:
  // The engine of one operation: `backends` outlive it; the context is
  // copied.
  WimlibEngine(const Backends& backends, const OperationContext& context);
  WimlibEngine(const WimlibEngine&) = delete;
  WimlibEngine& operator=(const WimlibEngine&) = delete;

  // Captures the request's source with wimlib's own Windows capture
  // configuration into a new file (replacing one that exists) or, with
  // `append`, as a further image of an existing file (with the template
  // image it names, if any); the image's name, description, edition and
  // display texts go into the same write. WIMBoot forces XPRESS with
  // 4096-byte chunks. With `verify`, the
  // file as written is then verified and a file that does not verify makes
  // the capture fail. A new file is made beside the target and replaces it
  // only when all of this succeeded. 0, 1235, -1 or -99. The capture lists do not apply to
  // wimlib.
  EngineResult CaptureImage(const CaptureRequest& request);

  // Writes image `index` into `target`: 0, 1235 when aborted (what was
  // written stays), -1 when the file cannot be opened, -99, or wimlib's
  // error number from the extraction.
  EngineResult ApplyImage(const std::wstring& wimPath, const std::wstring& target, int index, bool verify,
                          bool noSecurity);

  // Copies image `index` of `source` into `destination` (created with
  // `compression` when missing). An image name the destination already uses
  // makes the image go in without a name. 0, 1235, -1 or -99.
  EngineResult ExportImage(const std::wstring& source, int index, const std::wstring& destination,
                           int compression, int wimBoot);

  // Cuts `source` into parts of at most `partSize` bytes, the first at
  // `firstPart`, written beside their names and moved there on success;
  // `shownParts` are existing parts the user agreed to replace (see
  // SplitStaging::Commit). The parts an unfinished split began are deleted.
  // 0, 1235, -1 or -99.
  EngineResult SplitWim(const std::wstring& source, const std::wstring& firstPart, uint64_t partSize,
                        const std::vector<std::wstring>& shownParts = {});

  // Reads the library's WIM information and the XML text in display form
  // (empty without wimlib_get_xml_data). 0, -1 or -99; no message.
  int ReadWimInfo(const std::wstring& wimPath);
  const wimlib_wim_info& WimInfo() const { return wimInfo_; }
  const std::wstring& XmlText() const { return xmlText_; }

  // Sets the non-empty NAME, DESCRIPTION and FLAGS of image `index` and
  // rewrites the file; empty fields keep the image's value. Returns 0, the
  // first failing library call's error number, or -99.
  int WriteImageInfo(const std::wstring& wimPath, int index, const ImageInfo& info);

  // References the further parts of a split set ("<base>*.WIM"). Returns -1
  // when the library cannot reference files, else 0.
  int ReferenceSplitParts(WIMStruct* wim, const std::wstring& wimPath);

  // Engine
  BackendKind Kind() const override { return kBackendWimlib; }
  EngineResult Capture(const CaptureRequest& request) override;
  EngineResult Apply(const ApplyRequest& request) override;
  EngineResult Mount(const MountRequest&) override { return kResultFailed; }  // wimlib cannot mount here
  EngineResult Export(const ExportRequest& request) override;
  EngineResult Split(const SplitRequest& request) override;
  // Every change goes into one rewrite of the file, which the user's abort
  // stops and the library rolls back: an aborted save leaves the file as
  // it was.
  EngineResult Delete(const DeleteRequest& request) override;
  EngineResult SetImageInfo(const SetImageInfoRequest& request) override;
  EngineResult ReadInfo(const std::wstring& wimPath, WimSummary& out) override;
  EngineResult ReadPartCount(const std::wstring& wimPath, int& totalParts) override;
  std::unique_ptr<BrowsedWim> OpenForBrowsing(const std::wstring& wimPath) override;
  EngineResult Extract(const ExtractRequest& request) override;
  bool WritesSolid() const override { return true; }
  EngineResult ListMounts(std::vector<MountRecord>&) override { return kResultNotBound; }
  EngineResult Unmount(const UnmountRequest&) override { return kResultNotBound; }
  EngineResult DiscardMount(const UnmountRequest&) override { return kResultNotBound; }
  EngineResult ReadTree(const TreeRequest& request, ImageTree& out) override;
  // One update of the image and one in-place write (update_wimlib.cpp).
  EngineResult UpdateImage(const ImageUpdateRequest& request) override;
  // File-wide maintenance (rebuild_wimlib.cpp, verify_wimlib.cpp, join_wimlib.cpp).
  EngineResult Rebuild(const RebuildRequest& request) override;
  EngineResult Verify(const VerifyRequest& request) override;
  EngineResult Join(const JoinRequest& request) override;
  bool CapturesAgainstTemplate() const override { return api_.reference_template_image != nullptr; }

 private:
  // Delete's edits of the open file, before it is rewritten.
  int EditImages(WIMStruct* wim, const DeleteRequest& request);
  // WIMLIB_WRITE_FLAG_SOLID for a new file of compression type 3 and for
  // an existing file that is solid already, else 0.
  int SolidWriteFlag(WIMStruct* wim, bool newFile, int compression) const;

  // Opens the file as written and checks every resource against its hash;
  // with `abortable`, the user's abort stops the check (and fails it).
  bool VerifyFile(const std::wstring& wimPath, bool abortable = false);
  // Capture's steps once the image is written to `written`: its metadata
  // and the verification.
  // Sets the texts of `info` on the image just added (the file's last), in
  // the open file, before it is written: 0 or wimlib's error.
  int DescribeNewImage(WIMStruct* wim, const ImageInfo& info);
  EngineResult FinishCapture(const std::wstring& written, bool append, bool verify);
  // Export's work on the file it writes: `destination` is the existing file
  // or the temporary one beside a new file.
  EngineResult ExportInto(const std::wstring& source, int index, const std::wstring& destination, bool exists,
                          int compression, int wimBoot);
  // The rebuild's and the join's write of every image of the open `wim`
  // into `written`, and the check that the written file holds what `wim`
  // holds (image count, boot index, one part).
  EngineResult WriteWholeFile(WIMStruct* wim, const std::wstring& written, int writeFlags);
  bool HoldsSameImages(const std::wstring& written, const wimlib_wim_info& expected);
  // True when the user's abort came before the operation began.
  bool AbortedBeforeStart();
  // True, with the refusal noted and shown, when an image of one of the
  // files is mounted.
  bool RefuseMountedWrite(const std::vector<std::wstring>& paths) const;
  // The result of a finished wimlib call: 0, 1235 after the user's abort,
  // or -1.
  EngineResult Outcome(int ret) const;

  const Backends& backends_;
  OperationContext context_;
  WimlibOperation op_;  // context of WimlibProgress for this engine's calls

  const WimlibTable& api_;
  wimlib_wim_info wimInfo_ = {};
  std::wstring xmlText_;
};
