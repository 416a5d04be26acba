#include "recorder.h"

#include "harness.h"

#include <cstdio>

#include "engine/progress.h"
#include "engine/wimgapi_engine.h"

namespace rec {

std::vector<std::string> log;
std::wstring lastImageXml;
std::wstring lastTempPath;
std::map<std::string, DWORD> failing;
int failingDeletion = 0;
std::vector<Answer> answers;

namespace {

WimgapiTable g_api;
WimlibTable g_lib;
std::map<const void*, std::string> g_names;
int g_deletions = 0;
int g_files, g_images, g_wims;

std::string Hex(DWORD v) {
  char buf[16];
  snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(v));
  return buf;
}

std::string Name(const void* h) {
  if (!h) return "null";
  auto it = g_names.find(h);
  return it == g_names.end() ? "?" : it->second;
}

std::string Named(const void* h, char kind) {
  if (!h) return "null";
  int n = kind == 'F' ? ++g_files : kind == 'I' ? ++g_images : ++g_wims;
  std::string name = std::string(1, kind) + std::to_string(n);
  g_names[h] = name;
  return name;
}

bool Fails(const char* entry) {
  auto it = failing.find(entry);
  if (it == failing.end()) return false;
  SetLastError(it->second);
  return true;
}

std::string CallbackName(FARPROC cb) {
  if (cb == reinterpret_cast<FARPROC>(CaptureMessageCallback)) return "Capture";
  if (cb == reinterpret_cast<FARPROC>(ApplyMessageCallback)) return "Apply";
  if (cb == reinterpret_cast<FARPROC>(ExportMessageCallback)) return "Export";
  if (cb == reinterpret_cast<FARPROC>(SplitMessageCallback)) return "Split";
  return "other";
}

void Add(const std::string& line) { log.push_back(line); }

// ---- WIMGAPI ----

HANDLE WINAPI CreateFileRec(PCWSTR path, DWORD access, DWORD disposition, DWORD flags, DWORD compression,
                            PDWORD created) {
  HANDLE h = Fails("CreateFile") ? nullptr : g_api.CreateFile(path, access, disposition, flags, compression, created);
  DWORD error = GetLastError();
  Add("CreateFile " + Hex(access) + " " + std::to_string(disposition) + " " + std::to_string(flags) + " " +
      std::to_string(compression) + " -> " + Named(h, 'F'));
  SetLastError(error);
  return h;
}
BOOL WINAPI SetTemporaryPathRec(HANDLE wim, PCWSTR path) {
  lastTempPath = path ? path : L"(null)";
  Add("SetTemporaryPath " + Name(wim));
  return Fails("SetTemporaryPath") ? FALSE : g_api.SetTemporaryPath(wim, path);
}
BOOL WINAPI GetAttributesRec(HANDLE wim, PWIM_INFO info, DWORD size) {
  Add("GetAttributes " + Name(wim));
  return Fails("GetAttributes") ? FALSE : g_api.GetAttributes(wim, info, size);
}
HANDLE WINAPI LoadImageRec(HANDLE wim, DWORD index) {
  HANDLE h = Fails("LoadImage") ? nullptr : g_api.LoadImage(wim, index);
  DWORD error = GetLastError();
  Add("LoadImage " + Name(wim) + " " + std::to_string(index) + " -> " + Named(h, 'I'));
  SetLastError(error);
  return h;
}
// The engine's callback runs behind a spy that notes its file answers.
PFN_WIMMessageCallback g_engineCallback;

DWORD CALLBACK SpyCallback(DWORD msg, WPARAM wParam, LPARAM lParam, PVOID data) {
  DWORD r = g_engineCallback(msg, wParam, lParam, data);
  if ((msg == WIM_MSG_PROCESS || msg == WIM_MSG_COMPRESS || msg == WIM_MSG_ALIGNMENT) && wParam && lParam)
    answers.push_back({msg, reinterpret_cast<const wchar_t*>(wParam), *reinterpret_cast<BOOL*>(lParam)});
  return r;
}

FARPROC SpyProc() { return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SpyCallback)); }

DWORD WINAPI RegisterRec(HANDLE wim, FARPROC cb, PVOID data) {
  Add("Register " + Name(wim) + " " + CallbackName(cb) + (data ? " data" : " null"));
  g_engineCallback = reinterpret_cast<PFN_WIMMessageCallback>(reinterpret_cast<void*>(cb));
  return g_api.RegisterMessageCallback(wim, SpyProc(), data);
}
BOOL WINAPI UnregisterRec(HANDLE wim, FARPROC cb) {
  Add("Unregister " + Name(wim) + " " + CallbackName(cb));
  return g_api.UnregisterMessageCallback(wim, SpyProc());
}
HANDLE WINAPI CaptureImageRec(HANDLE wim, PCWSTR path, DWORD flags) {
  HANDLE h = Fails("CaptureImage") ? nullptr : g_api.CaptureImage(wim, path, flags);
  DWORD error = GetLastError();
  Add("CaptureImage " + Name(wim) + " " + Hex(flags) + " -> " + Named(h, 'I'));
  SetLastError(error);
  return h;
}
BOOL WINAPI ApplyImageRec(HANDLE image, PCWSTR path, DWORD flags) {
  BOOL ok = Fails("ApplyImage") ? FALSE : g_api.ApplyImage(image, path, flags);
  DWORD error = GetLastError();
  Add("ApplyImage " + Name(image) + " " + Hex(flags));
  SetLastError(error);
  return ok;
}
BOOL WINAPI MountImageHandleRec(HANDLE image, PCWSTR path, DWORD flags) {
  BOOL ok = Fails("MountImageHandle") ? FALSE : g_api.MountImageHandle(image, path, flags);
  DWORD error = GetLastError();
  Add("MountImageHandle " + Name(image) + " " + Hex(flags));
  SetLastError(error);
  return ok;
}
BOOL WINAPI MountImageRec(PCWSTR folder, PCWSTR wim, DWORD index, PCWSTR temp) {
  BOOL ok = Fails("MountImage") ? FALSE : g_api.MountImage(folder, wim, index, temp);
  DWORD error = GetLastError();
  Add("MountImage " + std::to_string(index) + (temp ? " temp" : " null"));
  SetLastError(error);
  return ok;
}
BOOL WINAPI SetReferenceFileRec(HANDLE wim, PCWSTR path, DWORD flags) {
  std::wstring p = path;
  Add("SetReferenceFile " + Name(wim) + " " + qtest::Utf8(p.substr(p.find_last_of(L'\\') + 1)) + " " + Hex(flags));
  return g_api.SetReferenceFile(wim, path, flags);
}
BOOL WINAPI ExportImageRec(HANDLE image, HANDLE dest, DWORD flags) {
  BOOL ok = Fails("ExportImage") ? FALSE : g_api.ExportImage(image, dest, flags);
  DWORD error = GetLastError();
  Add("ExportImage " + Name(image) + " " + Name(dest) + " " + std::to_string(flags));
  SetLastError(error);
  return ok;
}
BOOL WINAPI SplitFileRec(HANDLE wim, PCWSTR path, PLARGE_INTEGER size, DWORD flags) {
  BOOL ok = Fails("SplitFile") ? FALSE : g_api.SplitFile(wim, path, size, flags);
  DWORD error = GetLastError();
  Add("SplitFile " + Name(wim) + " " + std::to_string(size->QuadPart) + " " + std::to_string(flags));
  SetLastError(error);
  return ok;
}
BOOL WINAPI GetImageInformationRec(HANDLE h, PVOID* info, PDWORD size) {
  Add("GetImageInformation " + Name(h));
  return Fails("GetImageInformation") ? FALSE : g_api.GetImageInformation(h, info, size);
}
BOOL WINAPI SetImageInformationRec(HANDLE image, PVOID info, DWORD size) {
  lastImageXml.assign(static_cast<const wchar_t*>(info), size / sizeof(wchar_t));
  Add("SetImageInformation " + Name(image));
  return Fails("SetImageInformation") ? FALSE : g_api.SetImageInformation(image, info, size);
}
BOOL WINAPI DeleteImageRec(HANDLE wim, DWORD index) {
  const int call = ++g_deletions;
  BOOL ok = Fails("DeleteImage") || (failingDeletion && call >= failingDeletion) ? FALSE
                                                                                 : g_api.DeleteImage(wim, index);
  DWORD error = GetLastError();
  if (failingDeletion && call >= failingDeletion) error = ERROR_WRITE_FAULT;
  Add("DeleteImage " + Name(wim) + " " + std::to_string(index) + (ok ? "" : " failed"));
  SetLastError(error);
  return ok;
}
BOOL WINAPI SetBootImageRec(HANDLE wim, DWORD index) {
  Add("SetBootImage " + Name(wim) + " " + std::to_string(index));
  return g_api.SetBootImage(wim, index);
}
BOOL WINAPI CloseHandleRec(HANDLE h) {
  Add("Close " + Name(h));
  g_names.erase(h);
  return g_api.CloseHandle(h);
}

// ---- wimlib ----

int OpenWimRec(const wimlib_tchar* path, int flags, WIMStruct** out) {
  int ret = Fails("open_wim") ? WIMLIB_ERR_OPEN : g_lib.open_wim(path, flags, out);
  Add("open_wim " + std::to_string(flags) + " -> " + (ret ? "err" : Named(*out, 'W')));
  return ret;
}
int CreateNewWimRec(enum wimlib_compression_type ctype, WIMStruct** out) {
  int ret = g_lib.create_new_wim(ctype, out);
  Add("create_new_wim " + std::to_string(ctype) + " -> " + (ret ? "err" : Named(*out, 'W')));
  return ret;
}
int AddImageRec(WIMStruct* wim, const wimlib_tchar* source, const wimlib_tchar* name, const wimlib_tchar* config,
                int flags) {
  Add("add_image " + Name(wim) + " " + Hex(flags) + (name ? " named" : " unnamed") + (config ? " config" : ""));
  return Fails("add_image") ? WIMLIB_ERR_READ : g_lib.add_image(wim, source, name, config, flags);
}
int WriteRec(WIMStruct* wim, const wimlib_tchar* path, int image, int flags, unsigned threads) {
  Add("write " + Name(wim) + " " + std::to_string(image) + " " + std::to_string(flags));
  return Fails("write") ? WIMLIB_ERR_WRITE : g_lib.write(wim, path, image, flags, threads);
}
int OverwriteRec(WIMStruct* wim, int flags, unsigned threads) {
  Add("overwrite " + Name(wim) + " " + std::to_string(flags));
  return Fails("overwrite") ? WIMLIB_ERR_WRITE : g_lib.overwrite(wim, flags, threads);
}
int SetChunkRec(WIMStruct* wim, uint32_t size) {
  Add("set_output_chunk_size " + Name(wim) + " " + std::to_string(size));
  return g_lib.set_output_chunk_size(wim, size);
}
int ExportRec(WIMStruct* src, int image, WIMStruct* dst, const wimlib_tchar* name, const wimlib_tchar* desc,
              int flags) {
  int ret = g_lib.export_image(src, image, dst, name, desc, flags);
  Add("export_image " + Name(src) + " " + std::to_string(image) + " " + Name(dst) + " " + Hex(flags) + " -> " +
      std::to_string(ret));
  return ret;
}
int ExtractRec(WIMStruct* wim, int image, const wimlib_tchar* target, int flags) {
  int ret = g_lib.extract_image(wim, image, target, flags);
  Add("extract_image " + Name(wim) + " " + std::to_string(image) + " " + Hex(flags));
  return ret;
}
int VerifyRec(WIMStruct* wim, int flags) {
  Add("verify_wim " + Name(wim));
  return g_lib.verify_wim(wim, flags);
}
int SplitRec(WIMStruct* wim, const wimlib_tchar* name, uint64_t size, int flags) {
  Add("split " + Name(wim) + " " + std::to_string(size) + " " + std::to_string(flags));
  return g_lib.split(wim, name, size, flags);
}
int ReferenceRec(WIMStruct* wim, const wimlib_tchar* const* globs, unsigned count, int refFlags, int openFlags) {
  std::wstring g = count ? globs[0] : L"";
  Add("reference_resource_files " + Name(wim) + " " + qtest::Utf8(g.substr(g.find_last_of(L'\\') + 1)) + " " +
      std::to_string(refFlags));
  return g_lib.reference_resource_files(wim, globs, count, refFlags, openFlags);
}
void RegisterProgressRec(WIMStruct* wim, wimlib_progress_func_t fn, void* ctx) {
  Add("register_progress_function " + Name(wim) + (fn == WimlibProgress ? " WimlibProgress" : " other"));
  g_lib.register_progress_function(wim, fn, ctx);
}
int SetNameRec(WIMStruct* wim, int image, const wimlib_tchar* name) {
  Add("set_image_name " + Name(wim) + " " + std::to_string(image));
  return g_lib.set_image_name(wim, image, name);
}
int SetDescRec(WIMStruct* wim, int image, const wimlib_tchar* desc) {
  Add("set_image_descripton " + Name(wim) + " " + std::to_string(image));
  return g_lib.set_image_descripton(wim, image, desc);
}
int SetFlagsRec(WIMStruct* wim, int image, const wimlib_tchar* flags) {
  Add("set_image_flags " + Name(wim) + " " + std::to_string(image));
  return g_lib.set_image_flags(wim, image, flags);
}
void FreeRec(WIMStruct* wim) {
  Add("free " + Name(wim));
  g_names.erase(wim);
  g_lib.free(wim);
}

// Puts the recorder in the slot and keeps the real entry; a slot that
// already holds the recorder (a second Start in one test) keeps its real one.
template <typename T>
void Hook(T& slot, T& real, T recorder) {
  if (slot == recorder) return;
  real = slot;
  if (slot) slot = recorder;
}

void Reset() {
  log.clear();
  answers.clear();
  lastImageXml.clear();
  lastTempPath.clear();
  failing.clear();
  failingDeletion = 0;
  g_deletions = 0;
  g_names.clear();
  g_files = g_images = g_wims = 0;
}

}  // namespace

void StartWimgapi(Backends& backends) {
  Reset();
  WimgapiTable& t = backends.wimgapi;
  Hook(t.CreateFile, g_api.CreateFile, CreateFileRec);
  Hook(t.SetTemporaryPath, g_api.SetTemporaryPath, SetTemporaryPathRec);
  Hook(t.GetAttributes, g_api.GetAttributes, GetAttributesRec);
  Hook(t.LoadImage, g_api.LoadImage, LoadImageRec);
  Hook(t.RegisterMessageCallback, g_api.RegisterMessageCallback, RegisterRec);
  Hook(t.UnregisterMessageCallback, g_api.UnregisterMessageCallback, UnregisterRec);
  Hook(t.CaptureImage, g_api.CaptureImage, CaptureImageRec);
  Hook(t.ApplyImage, g_api.ApplyImage, ApplyImageRec);
  Hook(t.MountImageHandle, g_api.MountImageHandle, MountImageHandleRec);
  Hook(t.MountImage, g_api.MountImage, MountImageRec);
  Hook(t.SetReferenceFile, g_api.SetReferenceFile, SetReferenceFileRec);
  Hook(t.ExportImage, g_api.ExportImage, ExportImageRec);
  Hook(t.SplitFile, g_api.SplitFile, SplitFileRec);
  Hook(t.GetImageInformation, g_api.GetImageInformation, GetImageInformationRec);
  Hook(t.SetImageInformation, g_api.SetImageInformation, SetImageInformationRec);
  Hook(t.DeleteImage, g_api.DeleteImage, DeleteImageRec);
  Hook(t.SetBootImage, g_api.SetBootImage, SetBootImageRec);
  Hook(t.CloseHandle, g_api.CloseHandle, CloseHandleRec);
}

void StartWimlib(Backends& backends) {
  Reset();
  WimlibTable& t = backends.wimlib;
  Hook(t.open_wim, g_lib.open_wim, OpenWimRec);
  Hook(t.create_new_wim, g_lib.create_new_wim, CreateNewWimRec);
  Hook(t.add_image, g_lib.add_image, AddImageRec);
  Hook(t.write, g_lib.write, WriteRec);
  Hook(t.overwrite, g_lib.overwrite, OverwriteRec);
  Hook(t.set_output_chunk_size, g_lib.set_output_chunk_size, SetChunkRec);
  Hook(t.export_image, g_lib.export_image, ExportRec);
  Hook(t.extract_image, g_lib.extract_image, ExtractRec);
  Hook(t.verify_wim, g_lib.verify_wim, VerifyRec);
  Hook(t.split, g_lib.split, SplitRec);
  Hook(t.reference_resource_files, g_lib.reference_resource_files, ReferenceRec);
  Hook(t.register_progress_function, g_lib.register_progress_function, RegisterProgressRec);
  Hook(t.set_image_name, g_lib.set_image_name, SetNameRec);
  Hook(t.set_image_descripton, g_lib.set_image_descripton, SetDescRec);
  Hook(t.set_image_flags, g_lib.set_image_flags, SetFlagsRec);
  Hook(t.free, g_lib.free, FreeRec);
}

std::vector<std::string> Lines(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : log)
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  return out;
}

int AnswerFor(DWORD msg, const std::wstring& suffix) {
  for (const Answer& a : answers)
    if (a.msg == msg && a.path.size() >= suffix.size() &&
        a.path.compare(a.path.size() - suffix.size(), suffix.size(), suffix) == 0)
      return a.value;
  return -1;
}

bool Has(const std::string& line) {
  for (const std::string& l : log)
    if (l == line) return true;
  return false;
}

std::string Joined() {
  std::string out;
  for (const std::string& l : log) out += l + "\n";
  return out;
}

}  // namespace rec
