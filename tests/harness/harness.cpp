#include "harness.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace qtest {

// Shared with the clean-up environment at the end of this file.
std::wstring g_tempRoot;

namespace {

std::atomic<int> g_tempCounter{0};

std::wstring TempRoot() {
  if (g_tempRoot.empty()) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    g_tempRoot = std::wstring(base) + L"qtest-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(g_tempRoot.c_str(), nullptr);
  }
  return g_tempRoot;
}

}  // namespace

std::wstring BinDir() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L'\\'));
}

std::wstring TempDir() {
  std::wstring dir = TempRoot() + L"\\t" + std::to_wstring(++g_tempCounter);
  RemoveTree(dir);
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

std::string Utf8(const std::wstring& s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], n);
  return out;
}

std::string UnixPath(const std::wstring& winPath) {
  using Fn = char*(CDECL*)(const wchar_t*);
  static Fn fn = (Fn)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
  if (!fn) return {};
  char* p = fn(winPath.c_str());
  if (!p) return {};
  std::string s(p);
  HeapFree(GetProcessHeap(), 0, p);
  return s;
}

std::string ShQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Wine starts Linux programs detached, so the command writes its output and
// exit code to files and we poll for the exit-code file.
bool MakeNtfsVolumeWim(const std::wstring& dir, const std::wstring& wim) {
  if (RunUnix("command -v mkntfs && command -v ntfs-3g").exitCode != 0) return false;
  const std::string d = ShQuote(UnixPath(dir));
  UnixResult r = RunUnix(
      "set -e; cd " + d + "; truncate -s 8M vol.img; mkntfs -F -Q vol.img >/dev/null 2>&1; mkdir -p vm; "
      "ntfs-3g -o permissions,hide_dot_files vol.img vm; "
      "echo one > vm/a.txt; echo two > vm/b.txt; chmod 600 vm/b.txt; echo hidden > vm/.hidden; "
      "mkdir vm/d; echo three > vm/d/c.txt; chmod 750 vm/d; echo keep > vm/d/change.txt; "
      "umount vm; wimlib-imagex capture vol.img " + ShQuote(UnixPath(wim)) + " >/dev/null");
  return r.exitCode == 0;
}

std::map<std::string, std::string> ImageMetadata(const std::wstring& wim, int image) {
  std::map<std::string, std::string> out;
  UnixResult r = RunUnix("wimlib-imagex dir " + ShQuote(UnixPath(wim)) + " " + std::to_string(image) + " --detailed");
  const std::string& text = r.output;
  std::string path;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("Full Path", 0) == 0) {
      path = line.substr(line.find('"'));
    } else if (!path.empty() && (line.rfind("Attributes", 0) == 0 || line.rfind("Security Descriptor", 0) == 0 ||
                                 line.rfind("Short Name", 0) == 0 || line.rfind("Creation Time", 0) == 0)) {
      out[path] += line + "\n";
    }
  }
  return out;
}

bool FuseUsable() {
  char value[8];
  DWORD n = GetEnvironmentVariableA("WIMGAPI_WINE_NO_FUSE", value, sizeof(value));
  if (n && n < sizeof(value) && strcmp(value, "0") != 0) return false;
  static const int usable = RunUnix(
      "test -r /dev/fuse -a -w /dev/fuse && command -v wimlib-imagex >/dev/null && "
      "{ [ \"$(id -u)\" = 0 ] || command -v fusermount >/dev/null || command -v fusermount3 >/dev/null; } && "
      "exec 3<>/dev/fuse").exitCode == 0;
  return usable != 0;
}

bool FileDataIsSolid(const std::wstring& wim) {
  UnixResult r = RunUnix("wimlib-imagex info " + ShQuote(UnixPath(wim)) + " --blobs");
  if (r.exitCode != 0) return false;
  // Blobs are blocks of "Key = value" lines separated by blank lines.
  int dataBlobs = 0;
  std::string block;
  auto judge = [&]() {
    if (block.empty() || block.find("Hash") == std::string::npos) return true;
    if (block.find("WIM_RESHDR_FLAG_METADATA") != std::string::npos) return true;
    dataBlobs++;
    return block.find("Solid resource") != std::string::npos;
  };
  size_t at = 0;
  while (at <= r.output.size()) {
    size_t end = r.output.find('\n', at);
    if (end == std::string::npos) end = r.output.size();
    std::string line = r.output.substr(at, end - at);
    if (line.find_first_not_of(" \r") == std::string::npos) {
      if (!judge()) return false;
      block.clear();
    } else {
      block += line + "\n";
    }
    at = end + 1;
  }
  return judge() && dataBlobs > 0;
}

UnixResult RunUnix(const std::string& shellCommand, DWORD timeoutMs) {
  UnixResult r;
  std::wstring dir = TempDir();
  std::string udir = UnixPath(dir);
  std::string script = "( " + shellCommand + " ) > " + ShQuote(udir + "/out") + " 2>&1; echo $? > " +
                       ShQuote(udir + "/rc.tmp") + "; mv " + ShQuote(udir + "/rc.tmp") + " " +
                       ShQuote(udir + "/rc");
  if (!WriteFileBytes(dir + L"\\cmd.sh", script)) return r;
  std::wstring cmd = L"Z:\\bin\\sh " + Wide(udir) + L"/cmd.sh";
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return r;
  if (pi.hProcess) CloseHandle(pi.hProcess);
  if (pi.hThread) CloseHandle(pi.hThread);
  DWORD start = GetTickCount();
  std::wstring rcPath = dir + L"\\rc";
  while (GetFileAttributesW(rcPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > timeoutMs) return r;
    Sleep(5);
  }
  r.exitCode = atoi(ReadFileBytes(rcPath).c_str());
  r.output = ReadFileBytes(dir + L"\\out");
  RemoveTree(dir);
  return r;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

std::vector<std::wstring> NamesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
  CloseHandle(h);
  return out;
}

bool MakeDirs(const std::wstring& path) {
  size_t pos = path.find(L'\\', 3);
  while (pos != std::wstring::npos) {
    CreateDirectoryW(path.substr(0, pos).c_str(), nullptr);
    pos = path.find(L'\\', pos + 1);
  }
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

void MakeSampleTree(const std::wstring& root) {
  MakeDirs(root + L"\\sub\\deeper");
  MakeDirs(root + L"\\empty");
  WriteFileBytes(root + L"\\small.txt", "hello quarry\n");
  WriteFileBytes(root + L"\\zero.bin", "");
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 2654435761u) >> 13);
  WriteFileBytes(root + L"\\sub\\big.bin", big);
  WriteFileBytes(root + L"\\sub\\deeper\\repeat.txt", std::string(100000, 'a'));
  WriteFileBytes(root + L"\\\u4e2d\u6587\u6587\u4ef6.txt", "\xe4\xb8\xad\xe6\x96\x87\n");
  WriteFileBytes(root + L"\\sub\\\U0001F600.txt", "emoji\n");
}

}  // namespace qtest

namespace {
// Removes the process's temporary folders when the test program ends.
class TempCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!qtest::g_tempRoot.empty()) qtest::RemoveTree(qtest::g_tempRoot);
  }
};
}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new TempCleanup);
  return RUN_ALL_TESTS();
}
