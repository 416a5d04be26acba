// Capture through WIMGAPI: create or open the file, capture the folder with a
// message callback that applies the capture lists to every file and decides
// about the files the library cannot take, then write the image's metadata
// and the boot mark. A new file is made beside its target and takes the
// target's name only once all of this has succeeded.
#include <cwctype>
#include <new>

#include "engine/failure_reason.h"
#include "engine/progress.h"
#include "engine/wimgapi_engine.h"
#include "resources/ids_skip.h"
#include "win/paths.h"

namespace {

// The path as seen from the capture root; begins with "\".
std::wstring RelativeCapturePath(const wchar_t* fullPath, size_t rootLength) {
  size_t length = wcslen(fullPath);
  return rootLength < length ? std::wstring(fullPath + rootLength, length - rootLength) : std::wstring();
}

DWORD OnProcess(const CaptureContext& ctx, const wchar_t* path, BOOL* capture) {
  if (!path || !capture) return WIM_MSG_SUCCESS;
  const CaptureLists& lists = ctx.lists;
  if (lists.patterns[kListExclude].empty()) return WIM_MSG_SUCCESS;
  std::wstring relative = RelativeCapturePath(path, ctx.rootLength);
  if (lists.AnyMatch(kListException, relative)) return WIM_MSG_SUCCESS;
  if (lists.AnyMatch(kListExclude, relative)) *capture = FALSE;
  return WIM_MSG_SUCCESS;
}

// NOCOMPRESS turns compression off, ALIGNMENT turns alignment on.
DWORD OnFileQuestion(const CaptureContext& ctx, CaptureListKind list, BOOL answer, const wchar_t* path,
                     BOOL* result) {
  if (!path || !result || ctx.lists.patterns[list].empty()) return WIM_MSG_SUCCESS;
  if (ctx.lists.AnyMatch(list, RelativeCapturePath(path, ctx.rootLength))) *result = answer;
  return WIM_MSG_SUCCESS;
}

// An item the library leaves out or cannot read (wParam its path, lParam
// the error number). A name with no Windows form and a special file are
// left out whatever the answer; any other error is the capture's to
// decide: skip the item or stop.
DWORD OnError(CaptureSkips* skips, const wchar_t* path, DWORD code) {
  if (!skips) return WIM_MSG_SUCCESS;
  switch (code) {
    case ERROR_NO_UNICODE_TRANSLATION:
      skips->LeftOut(path, IDS_SKIP_FOREIGN_NAME);
      return WIM_MSG_SKIP_ERROR;
    case ERROR_NOT_SUPPORTED:
      skips->LeftOut(path, IDS_SKIP_SPECIAL_FILE);
      return WIM_MSG_SKIP_ERROR;
    default:
      return skips->SkipUnreadable(path, Win32ReasonText(code)) ? WIM_MSG_SKIP_ERROR : WIM_MSG_ABORT_IMAGE;
  }
}

}  // namespace

DWORD CALLBACK CaptureMessageCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID userData) {
  const CaptureContext* ctx = static_cast<const CaptureContext*>(userData);
  const wchar_t* path = reinterpret_cast<const wchar_t*>(wParam);
  BOOL* answer = reinterpret_cast<BOOL*>(lParam);
  // Nothing may be thrown back into the library.
  try {
    // Any message may stop the capture, the percentages of the write too.
    if (ctx && ctx->operation && AbortRequested(*ctx->operation)) return WIM_MSG_ABORT_IMAGE;
    switch (msg) {
      case WIM_MSG_PROGRESS:
        ReportProgress(ctx && ctx->operation ? ctx->operation->progress : nullptr, static_cast<float>(wParam));
        return WIM_MSG_SUCCESS;
      case WIM_MSG_PROCESS:
        return ctx ? OnProcess(*ctx, path, answer) : WIM_MSG_SUCCESS;
      case WIM_MSG_COMPRESS:
        return ctx ? OnFileQuestion(*ctx, kListNoCompress, FALSE, path, answer) : WIM_MSG_SUCCESS;
      case WIM_MSG_ALIGNMENT:
        return ctx ? OnFileQuestion(*ctx, kListAlignment, TRUE, path, answer) : WIM_MSG_SUCCESS;
      case WIM_MSG_ERROR:
        return ctx ? OnError(ctx->skips, path, static_cast<DWORD>(lParam)) : WIM_MSG_SUCCESS;
      default:
        return WIM_MSG_SUCCESS;
    }
  } catch (...) {
    return WIM_MSG_SUCCESS;
  }
}

std::wstring DriveRootOf(const std::wstring& wimPath) {
  bool driveForm = wimPath.size() >= 3 && iswalpha(wimPath[0]) && wimPath[0] < 0x80 && wimPath[1] == L':' &&
                   wimPath[2] == L'\\';
  return driveForm ? wimPath.substr(0, 3) : std::wstring();
}

EngineResult WimgapiEngine::CaptureImage(const CaptureRequest& request, const CaptureLists& lists) {
  const std::wstring& source = request.source;
  const std::wstring& wimPath = request.wimPath;
  const bool append = request.append;
  if (!api_.CreateFile || !api_.GetAttributes || !api_.SetTemporaryPath || !api_.RegisterMessageCallback ||
      !api_.UnregisterMessageCallback || !api_.CaptureImage || !api_.GetImageInformation ||
      !api_.SetImageInformation || !api_.SetBootImage || !api_.CloseHandle)
    return kResultNotBound;
  // An abort pressed before the library's first message counts too.
  if (AbortRequested()) return kResultAborted;

  CaptureSkips skips(request);
  // The caller's copy of the lists, taken before this worker started.
  CaptureContext ctx;
  ctx.rootLength = CaptureRootLength(source);
  ctx.lists = lists;
  ctx.operation = &context_;
  ctx.skips = &skips;

  // An append goes into the file itself (the library leaves it as it was
  // when the capture fails); a new file is written beside the target, so
  // that nothing replaces the target before the capture has succeeded.
  // A folder of that name cannot be replaced by the file.
  if (!append && IsExistingFolder(wimPath)) {
    SetLastError(ERROR_ACCESS_DENIED);
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  std::wstring written = append ? wimPath : TempFileBeside(wimPath);
  if (written.empty()) {
    ReportApiFailure(L"WIMCreateFile()");
    return kResultFailed;
  }
  EngineResult result = CaptureInto(source, written, append, request.compression, request.verify,
                                    request.noSecurity, request.info, ctx);
  // A stop by the stored choice is no abort of the user's: the capture failed.
  if (result == kResultAborted && skips.StoppedByRule()) {
    NoteWin32Failure(ERROR_CANT_ACCESS_FILE);
    result = kResultFailed;
  }
  if (!append) {
    EngineResult made = result;
    result = PutInPlace(written, wimPath, result, true);
    // The file could not take its name: it was not created where asked.
    if (made == kResultSuccess && result != kResultSuccess) ReportApiFailure(L"WIMCreateFile()");
  }
  return result;
}

// Every handle is closed and the callback unregistered when this returns,
// before the caller moves the written file.
EngineResult WimgapiEngine::CaptureInto(const std::wstring& source, const std::wstring& written, bool append,
                                        int compression, bool verify, bool noSecurity, const ImageInfo& info,
                                        CaptureContext& ctx) {
  // Undone in reverse: image, file, then the callback registration.
  MessageCallbackRegistration callback(api_);
  WimHandle wim(api_);

  // On Windows PE the temporary files go to the image file's own drive.
  std::wstring driveRoot = DriveRootOf(written);
  if (choice_.runningFromDriveX && !driveRoot.empty()) tempFolder_ = driveRoot;
  if (!OpenForWriting(wim, written, append ? WIM_OPEN_ALWAYS : WIM_CREATE_ALWAYS, verify ? WIM_FLAG_VERIFY : 0,
                      compression, nullptr, WIM_GENERIC_WRITE))
    return kResultFailed;
  int newIndex = 1;
  if (append) {
    WIM_INFO attributes = {};
    if (api_.GetAttributes(wim.get(), &attributes, sizeof(attributes)))
      newIndex = static_cast<int>(attributes.ImageCount) + 1;
  }

  callback.Register(wim.get(), CaptureMessageCallback, &ctx);
  DWORD captureFlags = (verify ? WIM_FLAG_VERIFY : 0) | (noSecurity ? WIM_FLAG_NO_DIRACL | WIM_FLAG_NO_FILEACL : 0);
  WimHandle image(api_, api_.CaptureImage(wim.get(), source.c_str(), captureFlags));
  if (!image) {
    if (GetLastError() == ERROR_REQUEST_ABORTED) return kResultAborted;
    ReportApiFailure(L"WIMCaptureImage()");
    return kResultFailed;
  }

  // A failed metadata write has been shown; the image itself is made.
  WriteImageInfo(image.get(), newIndex, info);
  if (info.bootIndex) api_.SetBootImage(wim.get(), static_cast<DWORD>(info.bootIndex));
  return kResultSuccess;
}
