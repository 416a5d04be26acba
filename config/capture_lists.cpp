#include "config/capture_lists.h"

#include <algorithm>
#include <cstdint>

#include <windows.h>

#include "config/profile_document.h"

const wchar_t* const kCaptureListNames[kCaptureListCount] = {L"EXCLUDE", L"NOCOMPRESS", L"ALIGNMENT", L"EXCEPTION"};

namespace {

const wchar_t kCountKey[] = L"Count";
const wchar_t kListKey[] = L"List";

// The longest "List" value read: far beyond any real list, but a bound on
// what a damaged file can make the program allocate.
constexpr size_t kMaxListChars = 16 * 1024 * 1024;

// ---- pattern matching ----

// Patterns and names are matched character by character, a character
// outside the Basic Multilingual Plane (a surrogate pair) counting as one.
typedef std::u32string CodePoints;

CodePoints ToCodePoints(const std::wstring& text) {
  CodePoints out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    if (IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    out += c;
  }
  return out;
}

char32_t FoldCase(char32_t c) { return (c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c; }
char32_t UpperCase(char32_t c) { return (c >= U'a' && c <= U'z') ? c - (U'a' - U'A') : c; }

bool InRange(char32_t c, char32_t a, char32_t b) {
  if (a > b) std::swap(a, b);
  auto in = [&](char32_t x) { return a <= x && x <= b; };
  return in(c) || in(FoldCase(c)) || in(UpperCase(c));
}

// Matches one character against the set that starts at `p` (just after
// "["). Moves `p` past the closing "]", or to the end of the pattern when
// the set is not closed.
bool MatchSet(const CodePoints& pattern, size_t& p, char32_t c) {
  const size_t n = pattern.size();
  bool negate = p < n && pattern[p] == U'^';
  if (negate) ++p;
  bool found = false;
  while (p < n && pattern[p] != U']') {
    char32_t first = pattern[p];
    if (p + 2 < n && pattern[p + 1] == U'-' && pattern[p + 2] != U']') {
      found = found || InRange(c, first, pattern[p + 2]);
      p += 3;
    } else {
      found = found || FoldCase(first) == FoldCase(c);
      ++p;
    }
  }
  if (p < n) ++p;  // the closing "]"
  return found != negate;
}

// Glob over the whole text. On a mismatch the last "*" takes one more
// character and matching resumes behind it.
bool Glob(const CodePoints& pattern, const CodePoints& text) {
  const size_t n = pattern.size();
  const size_t npos = static_cast<size_t>(-1);
  size_t p = 0, t = 0;
  size_t starP = npos, starT = 0;
  while (t < text.size()) {
    if (p < n) {
      char32_t c = pattern[p];
      if (c == U'*') {
        while (p < n && pattern[p] == U'*') ++p;
        starP = p;
        starT = t;
        continue;
      }
      if (c == U'?') {
        ++p, ++t;
        continue;
      }
      if (c == U'[') {
        size_t q = p + 1;
        if (MatchSet(pattern, q, text[t])) {
          p = q, ++t;
          continue;
        }
      } else if (FoldCase(c) == FoldCase(text[t])) {
        ++p, ++t;
        continue;
      }
    }
    if (starP == npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < n && pattern[p] == U'*') ++p;
  return p == n;
}

// ---- stored form ----

// The "|"-separated fields of a stored list; an empty value has none.
std::vector<std::wstring> SplitEntries(const std::wstring& list, size_t maxFields) {
  std::vector<std::wstring> fields;
  if (list.empty()) return fields;
  size_t start = 0;
  while (fields.size() < maxFields) {
    size_t end = list.find(L'|', start);
    fields.push_back(list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return fields;
}

size_t CountOrZero(int count) { return count > 0 ? static_cast<size_t>(count) : 0; }

struct StoredSection {
  int count = 0;
  std::wstring list;
};

// Count and List of one section.
StoredSection ReadSection(const ProfileDocument& document, const wchar_t* name) {
  StoredSection s;
  const ProfileSection* section = document.Find(name);
  if (!section) return s;
  s.count = section->Number(kCountKey);
  // The value is read whole: a long pattern is never cut (a cut would lose
  // its flag, and with it the entry).
  if (s.count > 0) s.list = section->Text(kListKey).substr(0, kMaxListChars);
  return s;
}

// Entries whose pattern the stored form cannot hold are not written, so
// Count always matches the entries in List.
void WriteSection(ProfileDocument& document, const wchar_t* name, const std::vector<CaptureListEntry>& entries) {
  std::vector<CaptureListEntry> kept = StorableEntries(entries);
  ProfileSection& section = document.Section(name);
  section.Set(kCountKey, std::to_wstring(kept.size()));
  section.Set(kListKey, FormatStoredList(kept));
}

}  // namespace

bool MatchCapturePattern(const std::wstring& pattern, const std::wstring& relativePath) {
  std::wstring p = pattern, path = relativePath;
  std::replace(p.begin(), p.end(), L'\\', L'/');
  std::replace(path.begin(), path.end(), L'\\', L'/');
  if (!p.empty() && p[0] == L'/') return Glob(ToCodePoints(p), ToCodePoints(path));
  size_t slash = path.rfind(L'/');
  return Glob(ToCodePoints(p), ToCodePoints(slash == std::wstring::npos ? path : path.substr(slash + 1)));
}

bool CaptureLists::AnyMatch(CaptureListKind list, const std::wstring& relativePath) const {
  for (const std::wstring& pattern : patterns[list])
    if (MatchCapturePattern(pattern, relativePath)) return true;
  return false;
}

bool StoredCaptureLists::Empty() const {
  for (const auto& list : entries)
    if (!list.empty()) return false;
  return true;
}

StoredCaptureLists DefaultCaptureLists() {
  StoredCaptureLists d;
  for (const wchar_t* p : {L"\\$ntfs.log", L"\\hiberfil.sys", L"\\pagefile.sys", L"\\System Volume Information",
                           L"\\RECYCLER", L"\\$Recycle.Bin", L"\\Windows\\CSC"})
    d.entries[kListExclude].push_back({p, true});
  for (const wchar_t* p : {L"*.ZIP", L"*.CAB", L"*.MP3", L"*.PNF", L"*.WIM"})
    d.entries[kListNoCompress].push_back({p, true});
  return d;
}

bool IsStorablePattern(const std::wstring& pattern) { return pattern.find_first_of(L"|:") == std::wstring::npos; }

std::vector<CaptureListEntry> StorableEntries(const std::vector<CaptureListEntry>& entries) {
  std::vector<CaptureListEntry> kept;
  for (const CaptureListEntry& e : entries)
    if (IsStorablePattern(e.pattern)) kept.push_back(e);
  return kept;
}

std::wstring FormatStoredList(const std::vector<CaptureListEntry>& entries) {
  std::wstring list;
  size_t written = 0;
  for (const CaptureListEntry& e : entries) {
    if (!IsStorablePattern(e.pattern)) continue;
    if (written++) list += L'|';
    list += e.pattern;
    list += e.enabled ? L":1" : L":0";
  }
  return list;
}

std::vector<CaptureListEntry> ParseStoredList(const std::wstring& list, int count) {
  std::vector<CaptureListEntry> entries;
  for (const std::wstring& field : SplitEntries(list, CountOrZero(count))) {
    size_t colon = field.rfind(L':');
    if (colon == std::wstring::npos) {
      entries.push_back({field, false});
      continue;
    }
    std::wstring pattern = field.substr(0, colon);
    bool enabled = field.compare(colon + 1, std::wstring::npos, L"1") == 0 && pattern.find(L':') == std::wstring::npos;
    entries.push_back({pattern, enabled});
  }
  return entries;
}

std::vector<std::wstring> ParseEnabledPatterns(const std::wstring& list, int count) {
  std::vector<std::wstring> patterns;
  for (const std::wstring& field : SplitEntries(list, CountOrZero(count))) {
    size_t first = field.find(L':');
    if (first == std::wstring::npos) continue;
    size_t second = field.find(L':', first + 1);
    if (field.compare(first + 1, second == std::wstring::npos ? std::wstring::npos : second - first - 1, L"1") == 0)
      patterns.push_back(field.substr(0, first));
  }
  return patterns;
}

void LoadCaptureLists(CaptureLists& lists, const std::wstring& settingsPath) {
  ProfileDocument document;
  ReadProfileDocument(settingsPath, document);
  for (int i = 0; i < kCaptureListCount; ++i) {
    StoredSection s = ReadSection(document, kCaptureListNames[i]);
    lists.patterns[i] = ParseEnabledPatterns(s.list, s.count);
  }
}

bool SaveCaptureLists(const CaptureLists& lists, const std::wstring& settingsPath) {
  // A file that exists but cannot be read is not replaced.
  ProfileDocument document;
  if (!ReadProfileDocument(settingsPath, document)) return false;
  bool changed = false;
  for (int i = 0; i < kCaptureListCount; ++i) {
    StoredSection s = ReadSection(document, kCaptureListNames[i]);
    const std::vector<std::wstring>& memory = lists.patterns[i];
    if (ParseEnabledPatterns(s.list, s.count) == memory) continue;

    // The enabled patterns in memory first, then the file's disabled
    // entries that memory does not hold as enabled.
    std::vector<CaptureListEntry> merged;
    for (const std::wstring& pattern : memory)
      if (IsStorablePattern(pattern)) merged.push_back({pattern, true});
    for (const CaptureListEntry& e : ParseStoredList(s.list, s.count))
      if (!e.enabled && std::find(memory.begin(), memory.end(), e.pattern) == memory.end()) merged.push_back(e);
    WriteSection(document, kCaptureListNames[i], merged);
    changed = true;
  }
  return !changed || WriteProfileDocument(settingsPath, document);
}

StoredCaptureLists ReadStoredCaptureLists(const std::wstring& settingsPath) {
  ProfileDocument document;
  ReadProfileDocument(settingsPath, document);
  StoredCaptureLists stored;
  for (int i = 0; i < kCaptureListCount; ++i) {
    StoredSection s = ReadSection(document, kCaptureListNames[i]);
    stored.entries[i] = ParseStoredList(s.list, s.count);
  }
  return stored;
}

bool WriteStoredCaptureLists(const StoredCaptureLists& stored, const std::wstring& settingsPath) {
  ProfileDocument document;
  if (!ReadProfileDocument(settingsPath, document)) return false;
  for (int i = 0; i < kCaptureListCount; ++i) WriteSection(document, kCaptureListNames[i], stored.entries[i]);
  return WriteProfileDocument(settingsPath, document);
}
