#include "engine/image_diff.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

using EntryRef = const TreeEntry*;

std::vector<EntryRef> SortedByPath(const ImageTree& tree) {
  std::vector<EntryRef> refs;
  refs.reserve(tree.entries.size());
  for (const TreeEntry& entry : tree.entries) refs.push_back(&entry);
  std::sort(refs.begin(), refs.end(), [](EntryRef a, EntryRef b) { return a->path < b->path; });
  return refs;
}

bool SameStream(const TreeStream& a, const TreeStream& b) {
  return a.size == b.size && a.name == b.name && memcmp(a.sha1, b.sha1, sizeof(a.sha1)) == 0;
}

// The streams of an entry ordered by name (the unnamed one first).
std::vector<const TreeStream*> StreamsByName(const TreeEntry& entry) {
  std::vector<const TreeStream*> streams;
  for (const TreeStream& s : entry.streams) streams.push_back(&s);
  std::sort(streams.begin(), streams.end(),
            [](const TreeStream* a, const TreeStream* b) { return a->name < b->name; });
  return streams;
}

bool SameContent(const TreeEntry& a, const TreeEntry& b) {
  if (a.reparseTag != b.reparseTag || a.streams.size() != b.streams.size()) return false;
  if (a.streams.size() == 1) return SameStream(a.streams[0], b.streams[0]);
  std::vector<const TreeStream*> sa = StreamsByName(a), sb = StreamsByName(b);
  for (size_t i = 0; i < sa.size(); i++)
    if (!SameStream(*sa[i], *sb[i])) return false;
  return true;
}

unsigned ChangesOf(const TreeEntry& a, const TreeEntry& b, const DiffOptions& options) {
  unsigned kinds = 0;
  if (!SameContent(a, b)) kinds |= kDiffContent;
  if (a.attributes != b.attributes) kinds |= kDiffAttributes;
  if (a.hasSecurity != b.hasSecurity || a.securitySize != b.securitySize || a.securityDigest != b.securityDigest)
    kinds |= kDiffSecurity;
  if (!options.ignoreTimes && (a.created != b.created || a.written != b.written)) kinds |= kDiffTimes;
  return kinds;
}

DiffRow RowOf(unsigned kinds, const TreeEntry* before, const TreeEntry* after) {
  DiffRow row;
  row.kinds = kinds;
  const TreeEntry& shown = after ? *after : *before;
  row.path = shown.path;
  row.folder = shown.IsFolder();
  if (before) {
    row.hasBefore = true;
    row.sizeBefore = before->size;
  }
  if (after) {
    row.hasAfter = true;
    row.sizeAfter = after->size;
  }
  return row;
}

// A file whose content can tell it apart: not a folder, with data.
bool HasTellingContent(const TreeEntry& entry) {
  return !entry.IsFolder() && entry.size > 0 && !entry.streams.empty();
}

uint64_t ContentKey(const TreeEntry& entry) {
  uint64_t key = 0;
  memcpy(&key, entry.streams[0].sha1, sizeof(key));
  return key ^ entry.size;
}

std::wstring NameOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Pairs removed and added files of the same content as moves; the pairs
// leave `removed` and `added` (set to null) and go into `rows`.
void FindMoves(std::vector<EntryRef>& removed, std::vector<EntryRef>& added, std::vector<DiffRow>& rows,
               const DiffOptions& options) {
  std::unordered_multimap<uint64_t, size_t> byContent;
  byContent.reserve(removed.size());
  for (size_t i = 0; i < removed.size(); i++)
    if (HasTellingContent(*removed[i])) byContent.emplace(ContentKey(*removed[i]), i);
  if (byContent.empty()) return;
  for (EntryRef& add : added) {
    if (!HasTellingContent(*add)) continue;
    auto range = byContent.equal_range(ContentKey(*add));
    auto chosen = byContent.end();
    for (auto it = range.first; it != range.second; ++it) {
      EntryRef candidate = removed[it->second];
      if (!SameContent(*candidate, *add)) continue;
      if (chosen == byContent.end()) chosen = it;
      // A file of the same name (moved, not renamed) is the likelier match.
      if (NameOf(candidate->path) == NameOf(add->path)) {
        chosen = it;
        break;
      }
    }
    if (chosen == byContent.end()) continue;
    EntryRef& from = removed[chosen->second];
    // What else changed on the way (its content did not).
    DiffRow row = RowOf(kDiffMoved | (ChangesOf(*from, *add, options) & ~kDiffContent), from, add);
    row.fromPath = from->path;
    rows.push_back(std::move(row));
    byContent.erase(chosen);
    from = nullptr;
    add = nullptr;
  }
}

}  // namespace

int DiffKindIndex(unsigned kind) {
  for (int i = 0; i < kDiffKindCount; i++)
    if (kind == (1u << i)) return i;
  return -1;
}

std::vector<DiffRow> CompareTrees(const ImageTree& before, const ImageTree& after, const DiffOptions& options) {
  std::vector<EntryRef> a = SortedByPath(before), b = SortedByPath(after);
  std::vector<DiffRow> rows;
  std::vector<EntryRef> removed, added;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() || (i < a.size() && a[i]->path < b[j]->path)) {
      removed.push_back(a[i++]);
    } else if (i == a.size() || b[j]->path < a[i]->path) {
      added.push_back(b[j++]);
    } else {
      const TreeEntry& x = *a[i++];
      const TreeEntry& y = *b[j++];
      if (x.IsFolder() != y.IsFolder()) {  // a file became a folder or the reverse
        removed.push_back(&x);
        added.push_back(&y);
        continue;
      }
      unsigned kinds = ChangesOf(x, y, options);
      if (kinds) rows.push_back(RowOf(kinds, &x, &y));
    }
  }
  FindMoves(removed, added, rows, options);
  for (EntryRef entry : removed)
    if (entry) rows.push_back(RowOf(kDiffRemoved, entry, nullptr));
  for (EntryRef entry : added)
    if (entry) rows.push_back(RowOf(kDiffAdded, nullptr, entry));
  std::sort(rows.begin(), rows.end(), [](const DiffRow& x, const DiffRow& y) {
    if (x.path != y.path) return x.path < y.path;
    return x.kinds < y.kinds;
  });
  return rows;
}

DiffSummary Summarize(const std::vector<DiffRow>& rows) {
  DiffSummary summary;
  for (const DiffRow& row : rows) {
    for (int k = 0; k < kDiffKindCount; k++)
      if (row.kinds & (1u << k)) summary.counts[k]++;
    if (row.kinds & kDiffAdded) summary.bytesAdded += row.sizeAfter;
    if (row.kinds & kDiffRemoved) summary.bytesRemoved += row.sizeBefore;
  }
  return summary;
}

namespace {
std::wstring Lower(const std::wstring& text) {
  std::wstring lower = text;
  if (!lower.empty()) CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
  return lower;
}
}  // namespace

std::vector<uint32_t> FilterRows(const std::vector<DiffRow>& rows, unsigned kinds, const std::wstring& text) {
  std::vector<uint32_t> shown;
  shown.reserve(rows.size());
  const std::wstring needle = Lower(text);
  for (size_t i = 0; i < rows.size(); i++) {
    const DiffRow& row = rows[i];
    if (!(row.kinds & kinds)) continue;
    if (!needle.empty() && Lower(row.path).find(needle) == std::wstring::npos &&
        (row.fromPath.empty() || Lower(row.fromPath).find(needle) == std::wstring::npos))
      continue;
    shown.push_back(static_cast<uint32_t>(i));
  }
  return shown;
}
