// Test support for wimgapi.dll: binds the library at run time the way the
// program does (LoadLibraryW + GetProcAddress by the published names),
// closes handles automatically, records callback messages, and asks
// wimlib-imagex about the files the library writes.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/common/wimgapi_abi.h"
#include "harness.h"

namespace wgt {

struct Api {
  HMODULE module = nullptr;
  PFN_WIMGetMountedImageInfo GetMountedImageInfo = nullptr;
  PFN_WIMCreateFile CreateFile = nullptr;
  PFN_WIMMountImageHandle MountImageHandle = nullptr;
  PFN_WIMUnmountImageHandle UnmountImageHandle = nullptr;
  PFN_WIMGetMountedImageHandle GetMountedImageHandle = nullptr;
  PFN_WIMCommitImageHandle CommitImageHandle = nullptr;
  PFN_WIMSetTemporaryPath SetTemporaryPath = nullptr;
  PFN_WIMCloseHandle CloseHandle = nullptr;
  PFN_WIMLoadImage LoadImage = nullptr;
  PFN_WIMRegisterMessageCallback RegisterMessageCallback = nullptr;
  PFN_WIMMountImage MountImage = nullptr;
  PFN_WIMApplyImage ApplyImage = nullptr;
  PFN_WIMGetAttributes GetAttributes = nullptr;
  PFN_WIMSetReferenceFile SetReferenceFile = nullptr;
  PFN_WIMUnregisterMessageCallback UnregisterMessageCallback = nullptr;
  PFN_WIMCaptureImage CaptureImage = nullptr;
  PFN_WIMSetBootImage SetBootImage = nullptr;
  PFN_WIMGetImageInformation GetImageInformation = nullptr;
  PFN_WIMExportImage ExportImage = nullptr;
  PFN_WIMSplitFile SplitFile = nullptr;
  PFN_WIMSetImageInformation SetImageInformation = nullptr;
  PFN_WIMDeleteImage DeleteImage = nullptr;
  PFN_WIMGetMountedImages GetMountedImages = nullptr;
  PFN_WIMUnmountImage UnmountImage = nullptr;
};

// The library, bound once; module is null when it could not be loaded.
const Api& W();

// This library's own: how a mount is made (0 extracted copy, 1 FUSE,
// 2 FUSE whose process has died) and the files a dead one leaves staged.
typedef BOOL(WINAPI* PFN_GetMountKind)(PCWSTR folder, PDWORD kind, PULONGLONG files, PULONGLONG bytes);
PFN_GetMountKind GetMountKindProc();
constexpr DWORD kKindCopy = 0, kKindFuse = 1, kKindFuseDead = 2;
// The kind of the mount at folder, 0xFFFFFFFF when the library says nothing.
DWORD MountKindOf(const std::wstring& folder);

// Whether the library mounts through FUSE in this test run (harness.h).
using qtest::FuseUsable;
// While it lives, mounts made by this process are extracted copies.
struct HideFuse {
  HideFuse() { SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", L"1"); }
  ~HideFuse() { SetEnvironmentVariableW(L"WIMGAPI_WINE_NO_FUSE", nullptr); }
};
// Ends, with SIGKILL, the process that serves the FUSE mount at folder.
void KillMountDaemon(const std::wstring& folder);

// A handle closed with WIMCloseHandle when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(Handle&& o) noexcept : h_(o.Release()) {}
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.Release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void Reset() {
    if (h_) W().CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

// One message as a callback saw it.
struct Message {
  DWORD msg;
  std::wstring path;   // wParam of the messages that carry a path
  WPARAM wparam;
  LPARAM lparam;
};

// Records every message; an optional handler decides the answer and may
// change the BOOL that lParam points to.
struct Recorder {
  std::vector<Message> messages;
  std::function<DWORD(DWORD msg, WPARAM wparam, LPARAM lparam)> handler;

  std::vector<std::wstring> Paths(DWORD msg) const;
  std::vector<int> Percentages() const;
  size_t Count(DWORD msg) const;
};

// The callback to register with a Recorder* as user data.
DWORD CALLBACK RecordingCallback(DWORD msg, WPARAM wparam, LPARAM lparam, PVOID user);
FARPROC RecordingProc();

// Opens or creates a file; fails the test when the handle is null.
Handle Open(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags = 0,
            DWORD compression = WIM_COMPRESS_XPRESS);
// Captures folder into wim (a new file with compression, or appended) and
// returns the number of the new image, 0 on failure.
int Capture(const std::wstring& folder, const std::wstring& wim, DWORD compression = WIM_COMPRESS_XPRESS,
            bool append = false);

// wimlib-imagex with arguments, run on the Linux side; fails the test when
// its exit code is not the expected one.
std::string Imagex(const std::string& args, int expectedExit = 0);
// A Windows path quoted for the Linux shell.
std::string Q(const std::wstring& winPath);
// "Key: value" from wimlib-imagex info output for an image ("" = file).
std::string InfoField(const std::string& info, const std::string& key, int image = 0);
// Image count reported by wimlib-imagex info.
int ImageCount(const std::wstring& wim);
// Paths listed by wimlib-imagex dir for an image.
std::vector<std::string> DirList(const std::wstring& wim, int image);

// Files filled with incompressible bytes.
void MakeRandomFile(const std::wstring& path, size_t size, unsigned seed);
bool Exists(const std::wstring& path);

// wimgapi_tool.exe, a second Windows process that uses the library.
struct ToolResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};
class ToolProcess {
 public:
  explicit ToolProcess(const std::wstring& args);
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;
  bool Running() const;
  // Waits (at most 120 s) and collects the exit code and the output.
  ToolResult Wait();

 private:
  HANDLE process_ = nullptr;
  HANDLE output_ = nullptr;
};
ToolResult RunTool(const std::wstring& args);
// "\"path\"" for a tool command line.
std::wstring Arg(const std::wstring& path);

// Level-1 records of WIMGetMountedImageInfo (empty when it fails).
std::vector<WIM_MOUNT_INFO_LEVEL1> MountInfo();
// The record of the mount at folder, or null.
const WIM_MOUNT_INFO_LEVEL1* FindInfo(const std::vector<WIM_MOUNT_INFO_LEVEL1>& list, const std::wstring& folder);
// Waits (at most 60 s) until the file exists.
bool WaitForFile(const std::wstring& path);

// Unmounts whatever is mounted below root (clean-up after a failed test).
void UnmountAllBelow(const std::wstring& root);

// Mounts an image of a WIM file through WIMMountImageHandle, read-only or
// writable, with the recorder's callback when one is given. The handles are
// closed before it returns; the last error is the mount's.
BOOL MountWim(const std::wstring& wim, int index, const std::wstring& folder, bool rw, Recorder* rec = nullptr);

// The absolute form of a path.
std::wstring FullPath(const std::wstring& path);

// A test with a folder of its own holding the sample tree (src_) captured
// as image 1 of wim_; whatever a test leaves mounted below the folder is
// unmounted afterwards.
class OneImageWimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A new folder of that name in the test's folder.
  std::wstring Folder(const std::wstring& name);
  std::wstring dir_, src_, wim_;
};

}  // namespace wgt
