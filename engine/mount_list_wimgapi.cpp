#include "engine/mounts.h"

#include "engine/engine_host.h"
#include "win/long_path.h"
#include "win/paths.h"

namespace {

// WIMGetMountedImageInfo, level 1: the records with their mount flags.
struct MountInfoLevel1 {
  WCHAR WimPath[MAX_PATH];
  WCHAR MountPath[MAX_PATH];
  DWORD ImageIndex;
  DWORD MountFlags;
};
static_assert(sizeof(MountInfoLevel1) == 1048, "level-1 mount record is 1048 bytes");
typedef BOOL(WINAPI* PFN_WIMGetMountedImageInfo)(int level, PDWORD count, PVOID info, DWORD bytes, PDWORD returned);
constexpr int kMountedImageInfoLevel1 = 1;
constexpr DWORD kStaleFlags = WIM_MOUNT_FLAG_INVALID | WIM_MOUNT_FLAG_NO_WIM | WIM_MOUNT_FLAG_NO_MOUNTDIR;

std::wstring FixedText(const WCHAR* text) { return std::wstring(text, wcsnlen(text, MAX_PATH)); }

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(LongPathForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

typedef BOOL(WINAPI* PFN_GetMountKind)(PCWSTR folder, PDWORD kind, PULONGLONG files, PULONGLONG bytes);
typedef BOOL(WINAPI* PFN_ForgetMount)(PCWSTR folder);
constexpr DWORD kKindCopy = 0, kKindDead = 2;

FARPROC LibraryProc(const Backends& backends, const char* name) {
  HMODULE module = backends.wimgapiModule;
  return module ? GetProcAddress(module, name) : nullptr;
}

// The library's level-1 records, or false when it has no such function.
bool ReadMountFlags(const Backends& backends, std::vector<MountInfoLevel1>& out) {
  HMODULE module = backends.wimgapiModule;
  auto info = module ? reinterpret_cast<PFN_WIMGetMountedImageInfo>(GetProcAddress(module, "WIMGetMountedImageInfo"))
                     : nullptr;
  if (!info) return false;
  DWORD count = 0, needed = 0;
  if (!info(kMountedImageInfoLevel1, &count, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return false;
  if (needed == 0) return true;
  std::vector<MountInfoLevel1> records(needed / sizeof(MountInfoLevel1) + 1);
  DWORD bytes = static_cast<DWORD>(records.size() * sizeof(MountInfoLevel1));
  if (!info(kMountedImageInfoLevel1, &count, records.data(), bytes, &needed)) return false;
  records.resize(count < records.size() ? count : records.size());
  out = std::move(records);
  return true;
}

}  // namespace

std::vector<MountRecord> ParseMountList(const void* buffer, DWORD bytes) {
  std::vector<MountRecord> records;
  auto* entries = static_cast<const WIM_MOUNT_LIST*>(buffer);
  for (DWORD i = 0; i < bytes / sizeof(WIM_MOUNT_LIST); i++) {
    MountRecord r;
    r.wimPath = FixedText(entries[i].WimPath);
    r.mountPath = FixedText(entries[i].MountPath);
    r.index = entries[i].ImageIndex;
    r.writable = entries[i].MountedForRW != 0;
    records.push_back(r);
  }
  return records;
}

void MarkStaleRecords(const Backends& backends, std::vector<MountRecord>& records) {
  std::vector<MountInfoLevel1> flags;
  if (!ReadMountFlags(backends, flags)) {
    for (MountRecord& r : records) r.stale = !Exists(r.mountPath) || !Exists(r.wimPath);
    return;
  }
  for (MountRecord& r : records) {
    for (const MountInfoLevel1& f : flags) {
      if (!EqualNoCase(FixedText(f.MountPath), r.mountPath)) continue;
      r.stale = (f.MountFlags & kStaleFlags) != 0;
      r.mounting = !r.stale && (f.MountFlags & WIM_MOUNT_FLAG_MOUNTING) != 0;
      r.noWim = (f.MountFlags & WIM_MOUNT_FLAG_NO_WIM) != 0;
      break;
    }
  }
}

bool ReadMountedImages(const Backends& backends, std::vector<MountRecord>& out) {
  PFN_WIMGetMountedImages list = backends.wimgapi.GetMountedImages;
  if (!list) return false;
  std::vector<BYTE> buffer(sizeof(WIM_MOUNT_LIST), 0);
  DWORD bytes = static_cast<DWORD>(buffer.size());
  if (!list(reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data()), &bytes)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(bytes, 0);
    if (!list(reinterpret_cast<PWIM_MOUNT_LIST>(buffer.data()), &bytes)) return false;
  }
  if (bytes > buffer.size()) bytes = static_cast<DWORD>(buffer.size());
  std::vector<MountRecord> records = ParseMountList(buffer.data(), bytes);
  MarkStaleRecords(backends, records);
  for (MountRecord& r : records) {
    MountKind kind;
    if (ReadMountKind(backends, r.mountPath, kind)) r.copy = kind.copy;
  }
  out = std::move(records);
  return true;
}

bool ReadMountKind(const Backends& backends, const std::wstring& folder, MountKind& kind) {
  auto get = reinterpret_cast<PFN_GetMountKind>(LibraryProc(backends, "WIMWineGetMountKind"));
  DWORD value = 0;
  if (!get || !get(folder.c_str(), &value, &kind.stagedFiles, &kind.stagedBytes)) return false;
  kind.copy = value == kKindCopy;
  kind.dead = value == kKindDead;
  return true;
}

bool ForgetStaleMount(const Backends& backends, const std::wstring& folder) {
  auto forget = reinterpret_cast<PFN_ForgetMount>(LibraryProc(backends, "WIMWineForgetMount"));
  return forget && forget(folder.c_str());
}

bool ReadMountRecord(const Backends& backends, const std::wstring& folder, MountRecord& out) {
  std::vector<MountRecord> records;
  if (!ReadMountedImages(backends, records)) return false;
  for (const MountRecord& r : records) {
    if (!EqualNoCase(r.mountPath, folder)) continue;
    out = r;
    return true;
  }
  return false;
}
