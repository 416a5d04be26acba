#include "engine/mount_guard.h"

#include <windows.h>

#include "engine/engine_host.h"
#include "engine/failure_reason.h"
#include "engine/split_parts.h"
#include "resources/ids_safety.h"
#include "win/long_path.h"
#include "win/paths.h"
#include "win/strings.h"

namespace {

struct Identity {
  bool known = false;
  DWORD volume = 0, high = 0, low = 0;
};

Identity IdentityOf(const std::wstring& path) {
  Identity id;
  if (path.empty()) return id;
  // No access asked: a file held open by a mount, or one that refuses
  // reading, still tells what it is. A symbolic link is followed.
  HANDLE file = CreateFileW(LongPathForm(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (GetFileInformationByHandle(file, &info)) {
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.high = info.nFileIndexHigh;
    id.low = info.nFileIndexLow;
  }
  CloseHandle(file);
  return id;
}

bool SameIdentity(const Identity& a, const Identity& b) {
  return a.known && b.known && a.volume == b.volume && a.high == b.high && a.low == b.low;
}

std::wstring FolderOfRecords(const std::vector<MountRecord>& records, const std::wstring& path,
                             const Identity& target) {
  for (const MountRecord& r : records) {
    if (r.wimPath.empty()) continue;
    if (SamePath(r.wimPath, path) || SameIdentity(target, IdentityOf(r.wimPath))) return r.mountPath;
  }
  return std::wstring();
}

}  // namespace

std::wstring MountFolderIn(const std::vector<MountRecord>& records, const std::wstring& path) {
  if (path.empty() || records.empty()) return std::wstring();
  return FolderOfRecords(records, path, IdentityOf(path));
}

std::wstring MountFolderOf(const Backends& backends, const std::wstring& path) {
  std::vector<MountRecord> records;
  if (path.empty() || !ReadMountedImages(backends, records)) return std::wstring();
  return MountFolderIn(records, path);
}

std::wstring MountFolderOfAny(const Backends& backends, const std::vector<std::wstring>& paths, std::wstring* which) {
  std::vector<MountRecord> records;
  if (paths.empty() || !ReadMountedImages(backends, records)) return std::wstring();
  for (const std::wstring& path : paths) {
    std::wstring folder = MountFolderIn(records, path);
    if (folder.empty()) continue;
    if (which) *which = path;
    return folder;
  }
  return std::wstring();
}

std::wstring MountedRefusalText(const std::wstring& path, const std::wstring& folder) {
  return FormatStr(LoadStr(IDS_SAFETY_MOUNTED).c_str(), path.c_str(), folder.c_str());
}

bool RefuseMountedWrite(const Backends& backends, const OperationContext& context,
                        const std::vector<std::wstring>& paths) {
  std::wstring which;
  std::wstring folder = MountFolderOfAny(backends, paths, &which);
  if (folder.empty()) return false;
  NoteMountedFailure(folder);
  context.ShowError(MountedRefusalText(which, folder));
  return true;
}

