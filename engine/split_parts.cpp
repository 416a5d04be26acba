#include "engine/split_parts.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "engine/leftovers.h"
#include "engine/wim_file_reader.h"
#include "win/paths.h"
#include "win/strings.h"

std::wstring SplitPartPath(const std::wstring& firstPart, int partNumber) {
  // Parts share the first part's extension: a set "set.swm" goes on with
  // "set2.swm", as every tool that splits names it.
  const size_t cut = firstPart.size() >= 4 ? firstPart.size() - 4 : 0;
  const std::wstring base = firstPart.substr(0, cut);
  const std::wstring tail = firstPart.substr(cut);
  const bool extension = tail.size() == 4 && tail[0] == L'.' && tail.find_first_of(L"\\/:.", 1) == std::wstring::npos;
  return base + std::to_wstring(partNumber) + (extension ? tail : std::wstring(L".WIM"));
}

std::wstring SplitPartGlob(const std::wstring& firstPart) {
  // Only a "." of the file name starts its extension; a dot in a folder
  // name is part of the folder.
  size_t nameStart = firstPart.find_last_of(L"\\/:");
  nameStart = nameStart == std::wstring::npos ? 0 : nameStart + 1;
  size_t dot = firstPart.rfind(L'.');
  if (dot == std::wstring::npos || dot < nameStart) return firstPart + L"*.WIM";
  return firstPart.substr(0, dot) + L"*" + firstPart.substr(dot);
}

bool PathExists(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

namespace {
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(file, &info) != FALSE;
  CloseHandle(file);
  return ok;
}

// The base the part number goes after and the extension it comes before:
// the back ends name part n "<base><n><extension>" of the first part.
std::pair<std::wstring, std::wstring> PartNameParts(const std::wstring& firstPart) {
  size_t cut = firstPart.size() >= 4 ? firstPart.size() - 4 : 0;
  return {firstPart.substr(0, cut), firstPart.substr(cut)};
}

std::wstring FinalPartPath(const std::wstring& firstPart, int n) {
  if (n == 1) return firstPart;
  auto parts = PartNameParts(firstPart);
  return parts.first + std::to_wstring(n) + parts.second;
}

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The part number of a file name "<base><digits><extension>", or 0.
int PartNumberOf(const std::wstring& name, const std::wstring& baseName, const std::wstring& extension) {
  if (name.size() <= baseName.size() + extension.size()) return 0;
  if (!StartsWithNoCase(name, baseName)) return 0;
  const std::wstring tail = name.substr(name.size() - extension.size());
  if (!EqualNoCase(tail, extension)) return 0;
  const std::wstring digits = name.substr(baseName.size(), name.size() - baseName.size() - extension.size());
  if (digits.size() > 6 || digits[0] == L'0') return 0;
  for (wchar_t c : digits)
    if (c < L'0' || c > L'9') return 0;
  return std::stoi(digits);
}

struct PartMove {
  std::wstring temporary, final, aside;
  bool hadOld = false, moved = false;
};

// Puts every part in place, moving a file it replaces aside first; on the
// first failure undoes every step already taken.
bool MoveParts(std::vector<PartMove>& moves) {
  bool ok = true;
  for (PartMove& m : moves) {
    if (GetFileAttributesW(m.final.c_str()) != INVALID_FILE_ATTRIBUTES) {
      if (!MoveFileExW(m.final.c_str(), m.aside.c_str(), 0)) { ok = false; break; }
      m.hadOld = true;
    }
    if (!MoveFileExW(m.temporary.c_str(), m.final.c_str(), 0)) { ok = false; break; }
    m.moved = true;
  }
  if (ok) return true;
  for (auto m = moves.rbegin(); m != moves.rend(); ++m) {
    if (m->moved) MoveFileExW(m->final.c_str(), m->temporary.c_str(), 0);
    if (m->hadOld) MoveFileExW(m->aside.c_str(), m->final.c_str(), 0);
  }
  return false;
}
}  // namespace

bool SameFile(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION x = {}, y = {};
  if (!FileIdentity(a, x) || !FileIdentity(b, y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

std::vector<std::wstring> ExistingSplitParts(const std::wstring& firstPart) {
  std::vector<std::wstring> found;
  if (firstPart.empty()) return found;
  if (GetFileAttributesW(firstPart.c_str()) != INVALID_FILE_ATTRIBUTES) found.push_back(firstPart);
  auto parts = PartNameParts(firstPart);
  const std::wstring folder = FolderOf(parts.first);
  const std::wstring baseName = parts.first.substr(folder.size());
  std::vector<std::pair<int, std::wstring>> further;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((parts.first + L"*" + parts.second).c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      int n = PartNumberOf(data.cFileName, baseName, parts.second);
      if (n >= 2) further.emplace_back(n, folder + data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::sort(further.begin(), further.end());
  for (auto& part : further) found.push_back(part.second);
  return found;
}

SplitStaging::SplitStaging(const std::wstring& firstPart) : firstPart_(firstPart) {
  const std::wstring folder = FolderOf(firstPart);
  // What a killed split of an earlier run left here goes first.
  ClearLeftovers(folder.empty() ? L"." : folder);
  NoteWriteFolder(folder.empty() ? L"." : folder);
  static volatile LONG counter = 0;
  for (;;) {
    temporary_ = folder + LeftoverPrefix() + FormatStr(L"%ld-split.wim", InterlockedIncrement(&counter));
    if (GetFileAttributesW(temporary_.c_str()) == INVALID_FILE_ATTRIBUTES) break;
  }
}

SplitStaging::~SplitStaging() {
  // Left only by a failed or cancelled split (or a failed commit).
  DeleteFileW(temporary_.c_str());
  for (const std::wstring& part : ExistingSplitParts(temporary_)) DeleteFileW(part.c_str());
}

bool SplitStaging::Commit(const std::wstring& source, const std::vector<std::wstring>& shownParts) {
  WimFileReader reader;
  if (!reader.Read(temporary_) || reader.TotalParts() < 1 || reader.PartNumber() != 1) return false;
  const int count = reader.TotalParts();
  std::vector<PartMove> moves;
  for (int n = 1; n <= count; n++) {
    PartMove m;
    m.temporary = n == 1 ? temporary_ : SplitPartPath(temporary_, n);
    m.final = FinalPartPath(firstPart_, n);
    m.aside = m.temporary + L".old";
    if (!PathExists(m.temporary) || SameFile(m.final, source)) return false;
    moves.push_back(m);
  }
  if (!MoveParts(moves)) return false;
  for (const PartMove& m : moves)
    if (m.hadOld) DeleteFileW(m.aside.c_str());
  // Parts of an earlier, longer set the user agreed to replace.
  for (const std::wstring& old : shownParts) {
    bool reused = false;
    for (const PartMove& m : moves) reused = reused || SameFile(old, m.final);
    if (!reused && !SameFile(old, source)) DeleteFileW(old.c_str());
  }
  return true;
}

std::vector<std::wstring> SplitWriteTargets(const std::wstring& firstPart, const std::vector<std::wstring>& shownParts) {
  std::vector<std::wstring> targets = ExistingSplitParts(firstPart);
  targets.push_back(firstPart);
  targets.insert(targets.end(), shownParts.begin(), shownParts.end());
  return targets;
}
