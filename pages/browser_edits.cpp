#include "pages/browser_edits.h"

#include <cwctype>

#include "win/paths.h"

std::wstring ImageChild(const std::wstring& folder, std::wstring_view name) {
  std::wstring child = folder.empty() || folder == L"\\" ? std::wstring() : folder;
  child.reserve(child.size() + 1 + name.size());
  child += L'\\';
  child.append(name);
  return child;
}

std::wstring ImageParent(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos || slash == 0 ? L"" : path.substr(0, slash);
}

std::wstring ImageName(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

namespace {

// True when `path` is `base` or lies below it; `rest` gets what follows.
bool AtOrBelow(const std::wstring& path, const std::wstring& base, std::wstring& rest) {
  if (EqualNoCase(path, base)) {
    rest.clear();
    return true;
  }
  if (path.size() > base.size() && path[base.size()] == L'\\' && EqualNoCase(path.substr(0, base.size()), base)) {
    rest = path.substr(base.size());
    return true;
  }
  return false;
}

std::wstring Normal(const std::wstring& folder) { return folder == L"\\" ? L"" : folder; }

ShownEntry* Find(std::vector<ShownEntry>& entries, const std::wstring& name) {
  for (ShownEntry& entry : entries)
    if (entry.mark != EditMark::kDeleted && EqualNoCase(entry.name, name)) return &entry;
  return nullptr;
}

}  // namespace

bool IsValidWindowsName(const std::wstring& name) {
  if (name.empty() || name.size() > 255 || name == L"." || name == L"..") return false;
  for (wchar_t c : name)
    if (c < 32 || wcschr(L"\\/:*?\"<>|", c)) return false;
  if (name.back() == L' ' || name.back() == L'.') return false;
  std::wstring stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (wchar_t& c : stem) c = static_cast<wchar_t>(towupper(c));
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices)
    if (stem == device) return false;
  if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) && stem[3] >= L'1' &&
      stem[3] <= L'9')
    return false;
  return true;
}

PendingEdit& BrowserEdits::Push(ImageUpdateOp op, const std::wstring& folder, const std::wstring& name) {
  edits_.emplace_back();
  PendingEdit& edit = edits_.back();
  edit.op = op;
  edit.folder = Normal(folder);
  edit.name = name;
  edit.group = group_;
  return edit;
}

void BrowserEdits::Add(const std::wstring& folder, const std::wstring& name, const std::wstring& source,
                       bool isFolder, bool replace) {
  PendingEdit& edit = Push(ImageUpdateOp::kAdd, folder, name);
  edit.source = source;
  edit.isFolder = isFolder;
  edit.replace = replace;
}

void BrowserEdits::NewFolder(const std::wstring& folder, const std::wstring& name) {
  Push(ImageUpdateOp::kNewFolder, folder, name).isFolder = true;
}

void BrowserEdits::Delete(const std::wstring& folder, const std::wstring& name, bool isFolder) {
  Push(ImageUpdateOp::kDelete, folder, name).isFolder = isFolder;
}

void BrowserEdits::Rename(const std::wstring& folder, const std::wstring& name, const std::wstring& newName) {
  Push(ImageUpdateOp::kRename, folder, name).newName = newName;
}

bool BrowserEdits::Undo() {
  if (edits_.empty()) return false;
  const int group = edits_.back().group;
  while (!edits_.empty() && edits_.back().group == group) edits_.pop_back();
  return true;
}

void BrowserEdits::Trace(const std::wstring& shown, std::wstring& before, int& created) const {
  before = Normal(shown);
  created = -1;
  for (int k = static_cast<int>(edits_.size()) - 1; k >= 0; k--) {
    const PendingEdit& edit = edits_[k];
    const std::wstring path = ImageChild(edit.folder, edit.name);
    std::wstring rest;
    if (edit.op == ImageUpdateOp::kRename) {
      if (AtOrBelow(before, ImageChild(edit.folder, edit.newName), rest)) before = path + rest;
    } else if (edit.op == ImageUpdateOp::kAdd || edit.op == ImageUpdateOp::kNewFolder) {
      if (AtOrBelow(before, path, rest)) {
        created = k;
        return;
      }
    }
  }
}

bool BrowserEdits::ImageFolderOf(const std::wstring& shown, std::wstring& inImage) const {
  int created = -1;
  Trace(shown, inImage, created);
  return created < 0;
}

std::vector<ShownEntry> BrowserEdits::Apply(const std::wstring& shown, const FolderListing& listing) const {
  std::wstring folder;
  int created = -1;
  Trace(shown, folder, created);
  std::vector<ShownEntry> entries;
  if (created < 0) {
    entries.reserve(listing.size());
    for (const FolderEntry& item : listing) {
      entries.emplace_back();
      ShownEntry& entry = entries.back();
      entry.name = listing.NameOf(item);
      entry.isFolder = item.isFolder;
      entry.imagePath = ImageChild(folder, entry.name);
      entry.image.hasData = item.hasData;
      entry.image.size = item.size;
      entry.image.compressed = item.compressed;
      entry.image.createdSeconds = item.createdSeconds;
      entry.image.createdNanoseconds = item.createdNanoseconds;
    }
  }
  for (size_t k = created < 0 ? 0 : static_cast<size_t>(created) + 1; k < edits_.size(); k++) {
    const PendingEdit& edit = edits_[k];
    if (EqualNoCase(edit.folder, folder)) {
      ShownEntry* entry = Find(entries, edit.name);
      switch (edit.op) {
        case ImageUpdateOp::kAdd:
        case ImageUpdateOp::kNewFolder:
          if (entry && edit.replace) {
            entry->mark = entry->imagePath.empty() ? EditMark::kAdded : EditMark::kReplaced;
            entry->isFolder = edit.isFolder;
            entry->source = edit.source;
            entry->name = edit.name;
          } else if (!entry) {
            ShownEntry added;
            added.name = edit.name;
            added.isFolder = edit.isFolder;
            added.mark = EditMark::kAdded;
            added.source = edit.source;
            entries.push_back(added);
          }
          break;
        case ImageUpdateOp::kDelete:
          if (!entry) break;
          if (entry->imagePath.empty()) entries.erase(entries.begin() + (entry - entries.data()));
          else entry->mark = EditMark::kDeleted;
          break;
        case ImageUpdateOp::kRename:
          if (!entry) break;
          entry->name = edit.newName;
          if (entry->mark == EditMark::kNone) entry->mark = EditMark::kRenamed;
          break;
      }
    }
    // A rename of this folder or of one above it: later edits name the
    // folder by its new path.
    std::wstring rest;
    if (edit.op == ImageUpdateOp::kRename && AtOrBelow(folder, ImageChild(edit.folder, edit.name), rest))
      folder = ImageChild(edit.folder, edit.newName) + rest;
  }
  return entries;
}

std::vector<ImageUpdateCommand> BrowserEdits::Commands() const {
  std::vector<ImageUpdateCommand> commands;
  for (const PendingEdit& edit : edits_) {
    ImageUpdateCommand command;
    command.op = edit.op;
    command.path = ImageChild(edit.folder, edit.name);
    command.source = edit.source;
    command.replace = edit.replace;
    if (edit.op == ImageUpdateOp::kRename) command.target = ImageChild(edit.folder, edit.newName);
    commands.push_back(command);
  }
  return commands;
}
