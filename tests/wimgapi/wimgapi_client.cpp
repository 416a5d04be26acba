#include "wimgapi_client.h"

#include <gtest/gtest.h>

#include <sstream>

#include "harness.h"

namespace wgt {

namespace {

template <typename T>
void Bind(HMODULE m, const char* name, T* out) {
  *out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

Api LoadApi() {
  Api a;
  a.module = LoadLibraryW(L"wimgapi.dll");
  if (!a.module) return a;
  Bind(a.module, "WIMCreateFile", &a.CreateFile);
  Bind(a.module, "WIMMountImageHandle", &a.MountImageHandle);
  Bind(a.module, "WIMUnmountImageHandle", &a.UnmountImageHandle);
  Bind(a.module, "WIMGetMountedImageHandle", &a.GetMountedImageHandle);
  Bind(a.module, "WIMCommitImageHandle", &a.CommitImageHandle);
  Bind(a.module, "WIMSetTemporaryPath", &a.SetTemporaryPath);
  Bind(a.module, "WIMCloseHandle", &a.CloseHandle);
  Bind(a.module, "WIMLoadImage", &a.LoadImage);
  Bind(a.module, "WIMRegisterMessageCallback", &a.RegisterMessageCallback);
  Bind(a.module, "WIMMountImage", &a.MountImage);
  Bind(a.module, "WIMApplyImage", &a.ApplyImage);
  Bind(a.module, "WIMGetAttributes", &a.GetAttributes);
  Bind(a.module, "WIMSetReferenceFile", &a.SetReferenceFile);
  Bind(a.module, "WIMUnregisterMessageCallback", &a.UnregisterMessageCallback);
  Bind(a.module, "WIMCaptureImage", &a.CaptureImage);
  Bind(a.module, "WIMSetBootImage", &a.SetBootImage);
  Bind(a.module, "WIMGetImageInformation", &a.GetImageInformation);
  Bind(a.module, "WIMExportImage", &a.ExportImage);
  Bind(a.module, "WIMSplitFile", &a.SplitFile);
  Bind(a.module, "WIMSetImageInformation", &a.SetImageInformation);
  Bind(a.module, "WIMDeleteImage", &a.DeleteImage);
  Bind(a.module, "WIMGetMountedImages", &a.GetMountedImages);
  Bind(a.module, "WIMUnmountImage", &a.UnmountImage);
  Bind(a.module, "WIMGetMountedImageInfo", &a.GetMountedImageInfo);
  return a;
}

}  // namespace

const Api& W() {
  static const Api api = LoadApi();
  return api;
}

std::vector<std::wstring> Recorder::Paths(DWORD msg) const {
  std::vector<std::wstring> out;
  for (const auto& m : messages)
    if (m.msg == msg) out.push_back(m.path);
  return out;
}

std::vector<int> Recorder::Percentages() const {
  std::vector<int> out;
  for (const auto& m : messages)
    if (m.msg == WIM_MSG_PROGRESS) out.push_back(static_cast<int>(m.wparam));
  return out;
}

size_t Recorder::Count(DWORD msg) const {
  size_t n = 0;
  for (const auto& m : messages) n += m.msg == msg;
  return n;
}

DWORD CALLBACK RecordingCallback(DWORD msg, WPARAM wparam, LPARAM lparam, PVOID user) {
  auto* r = static_cast<Recorder*>(user);
  Message m{msg, {}, wparam, lparam};
  if (msg == WIM_MSG_PROCESS || msg == WIM_MSG_COMPRESS || msg == WIM_MSG_ALIGNMENT || msg == WIM_MSG_SPLIT ||
      msg == WIM_MSG_ERROR)
    m.path = reinterpret_cast<const wchar_t*>(wparam);
  r->messages.push_back(m);
  return r->handler ? r->handler(msg, wparam, lparam) : WIM_MSG_SUCCESS;
}

FARPROC RecordingProc() {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RecordingCallback));
}

Handle Open(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags, DWORD compression) {
  HANDLE h = W().CreateFile(path.c_str(), access, disposition, flags, compression, nullptr);
  EXPECT_NE(h, nullptr) << qtest::Utf8(path) << " error " << GetLastError();
  return Handle(h);
}

int Capture(const std::wstring& folder, const std::wstring& wim, DWORD compression, bool append) {
  Handle file = Open(wim, WIM_GENERIC_WRITE, append ? WIM_OPEN_ALWAYS : WIM_CREATE_ALWAYS, 0, compression);
  if (!file) return 0;
  Handle image(W().CaptureImage(file.get(), folder.c_str(), 0));
  EXPECT_TRUE(image) << "capture error " << GetLastError();
  if (!image) return 0;
  WIM_INFO info = {};
  if (!W().GetAttributes(file.get(), &info, sizeof info)) return 0;
  return static_cast<int>(info.ImageCount);
}

std::string Imagex(const std::string& args, int expectedExit) {
  qtest::UnixResult r = qtest::RunUnix("/usr/bin/wimlib-imagex " + args);
  EXPECT_EQ(r.exitCode, expectedExit) << "wimlib-imagex " << args << "\n" << r.output;
  return r.output;
}

std::string Q(const std::wstring& winPath) {
  return qtest::ShQuote(qtest::UnixPath(winPath));
}

static std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string InfoField(const std::string& info, const std::string& key, int image) {
  std::istringstream in(info);
  std::string line;
  int current = 0;
  bool images = false;
  while (std::getline(in, line)) {
    if (line.rfind("Available Images:", 0) == 0) images = true;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string k = Trim(line.substr(0, colon)), v = Trim(line.substr(colon + 1));
    if (images && k == "Index") current = atoi(v.c_str());
    if (k == key && ((image == 0 && !images) || (images && current == image))) return v;
  }
  return "<missing>";
}

int ImageCount(const std::wstring& wim) {
  return atoi(InfoField(Imagex("info " + Q(wim)), "Image Count").c_str());
}

std::vector<std::string> DirList(const std::wstring& wim, int image) {
  std::istringstream in(Imagex("dir " + Q(wim) + " " + std::to_string(image)));
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

void MakeRandomFile(const std::wstring& path, size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>(x);
  }
  ASSERT_TRUE(qtest::WriteFileBytes(path, bytes));
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ToolProcess::ToolProcess(const std::wstring& args) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE writeEnd;
  if (!CreatePipe(&output_, &writeEnd, &sa, 0)) return;
  SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
  std::wstring cmd = L"\"" + qtest::BinDir() + L"\\wimgapi_tool.exe\" " + args;
  STARTUPINFOW si = {sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    process_ = pi.hProcess;
    CloseHandle(pi.hThread);
  }
  CloseHandle(writeEnd);
}

ToolProcess::~ToolProcess() {
  if (process_) {
    if (Running()) TerminateProcess(process_, 1);
    CloseHandle(process_);
  }
  if (output_) CloseHandle(output_);
}

bool ToolProcess::Running() const {
  return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

ToolResult ToolProcess::Wait() {
  ToolResult r;
  if (!process_) return r;
  char buf[4096];
  DWORD got;
  while (ReadFile(output_, buf, sizeof buf, &got, nullptr) && got) r.output.append(buf, got);
  WaitForSingleObject(process_, 120000);
  GetExitCodeProcess(process_, &r.exitCode);
  return r;
}

ToolResult RunTool(const std::wstring& args) {
  ToolProcess p(args);
  return p.Wait();
}

std::wstring Arg(const std::wstring& path) {
  return L"\"" + path + L"\"";
}

std::vector<WIM_MOUNT_INFO_LEVEL1> MountInfo() {
  std::vector<WIM_MOUNT_INFO_LEVEL1> list;
  if (!W().GetMountedImageInfo) return list;
  DWORD count = 0, bytes = 0;
  if (W().GetMountedImageInfo(1, &count, nullptr, 0, &bytes)) return list;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(bytes, count * sizeof(WIM_MOUNT_INFO_LEVEL1));
  list.resize(count);
  if (!W().GetMountedImageInfo(1, &count, list.data(), bytes, &bytes)) list.clear();
  list.resize(count);
  return list;
}

const WIM_MOUNT_INFO_LEVEL1* FindInfo(const std::vector<WIM_MOUNT_INFO_LEVEL1>& list, const std::wstring& folder) {
  for (const auto& m : list)
    if (CompareStringOrdinal(m.MountPath, -1, folder.c_str(), -1, TRUE) == CSTR_EQUAL) return &m;
  return nullptr;
}

bool WaitForFile(const std::wstring& path) {
  for (int i = 0; i < 6000; ++i) {
    if (Exists(path)) return true;
    Sleep(10);
  }
  return false;
}

void UnmountAllBelow(const std::wstring& root) {
  DWORD size = 0;
  W().GetMountedImages(nullptr, &size);
  std::vector<BYTE> buffer(size + sizeof(WIM_MOUNT_LIST));
  size = static_cast<DWORD>(buffer.size());
  auto* list = reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data());
  if (!W().GetMountedImages(list, &size)) return;
  for (DWORD i = 0; i < size / sizeof(WIM_MOUNT_LIST); ++i) {
    std::wstring mount = list[i].MountPath;
    if (CompareStringOrdinal(mount.c_str(), static_cast<int>(std::min(mount.size(), root.size())), root.c_str(),
                             static_cast<int>(root.size()), TRUE) == CSTR_EQUAL)
      W().UnmountImage(mount.c_str(), nullptr, 0, FALSE);
  }
}

PFN_GetMountKind GetMountKindProc() {
  return W().module ? reinterpret_cast<PFN_GetMountKind>(
                          reinterpret_cast<void*>(GetProcAddress(W().module, "WIMWineGetMountKind")))
                    : nullptr;
}

DWORD MountKindOf(const std::wstring& folder) {
  DWORD kind = 0;
  PFN_GetMountKind get = GetMountKindProc();
  return get && get(folder.c_str(), &kind, nullptr, nullptr) ? kind : 0xFFFFFFFF;
}

void KillMountDaemon(const std::wstring& folder) {
  // The daemon is the wimlib-imagex process whose arguments name the folder.
  std::string q = Q(folder);
  qtest::RunUnix("d=$(realpath " + q + " 2>/dev/null || echo " + q + "); for p in /proc/[0-9]*; do "
                 "if tr '\\0' '\\n' < $p/cmdline 2>/dev/null | grep -qxF -e \"$d\" -e " + q + " && "
                 "tr '\\0' '\\n' < $p/cmdline | grep -q wimlib-imagex; then kill -9 ${p#/proc/}; fi; done");
}

BOOL MountWim(const std::wstring& wim, int index, const std::wstring& folder, bool rw, Recorder* rec) {
  DWORD access = WIM_GENERIC_READ | WIM_GENERIC_MOUNT | (rw ? WIM_GENERIC_WRITE : 0);
  Handle file = Open(wim, access, WIM_OPEN_EXISTING);
  if (rec) W().RegisterMessageCallback(file.get(), RecordingProc(), rec);
  Handle image(W().LoadImage(file.get(), index));
  BOOL ok = W().MountImageHandle(image.get(), folder.c_str(), rw ? 0 : WIM_FLAG_MOUNT_READONLY);
  DWORD err = GetLastError();
  image.Reset();
  file.Reset();
  SetLastError(err);
  return ok;
}

std::wstring FullPath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
  full.resize(n);
  return full;
}

void OneImageWimTest::SetUp() {
  ASSERT_NE(W().module, nullptr);
  dir_ = FullPath(qtest::TempDir());
  src_ = dir_ + L"\\src";
  qtest::MakeSampleTree(src_);
  wim_ = dir_ + L"\\a.wim";
  ASSERT_EQ(Capture(src_, wim_), 1);
}

void OneImageWimTest::TearDown() { UnmountAllBelow(dir_); }

std::wstring OneImageWimTest::Folder(const std::wstring& name) {
  std::wstring folder = dir_ + L"\\" + name;
  qtest::MakeDirs(folder);
  return folder;
}

}  // namespace wgt
