// The four capture configuration lists that steer a WIMGAPI capture:
// exclusions, files stored uncompressed, files aligned on 64 KB, and
// exceptions to the exclusions. They live in the settings INI file.
//
// Stored form, one section per list ("EXCLUDE", "NOCOMPRESS", "ALIGNMENT",
// "EXCEPTION"):
//   Count=<number of entries>
//   List=<pattern>:1|<pattern>:0|...      (":1" enabled, ":0" disabled)
//
// Two views of the lists:
//  - CaptureLists, what a capture consults: the enabled patterns only, as
//    loaded at start-up and after the configuration editor's OK.
//  - StoredCaptureLists, what the editor shows and stores: every entry with
//    its enabled flag.
//
// Keeping disabled entries across an exit: the program writes the lists at
// exit from memory, where only enabled patterns are held. SaveCaptureLists
// therefore rewrites a section only when the enabled patterns that the file
// would load differ from those in memory, and then keeps the file's disabled
// entries behind the enabled ones, so an exit never drops what the editor
// stored as disabled.
#pragma once
#include <string>
#include <vector>

enum CaptureListKind { kListExclude = 0, kListNoCompress = 1, kListAlignment = 2, kListException = 3 };
constexpr int kCaptureListCount = 4;

// Section names, in list order: "EXCLUDE", "NOCOMPRESS", "ALIGNMENT", "EXCEPTION".
extern const wchar_t* const kCaptureListNames[kCaptureListCount];

struct CaptureListEntry {
  std::wstring pattern;
  bool enabled = true;

  bool operator==(const CaptureListEntry& o) const { return pattern == o.pattern && enabled == o.enabled; }
};

struct CaptureLists {
  // Enabled patterns of each list, in stored order: what a capture consults.
  std::vector<std::wstring> patterns[kCaptureListCount];

  // True when any enabled pattern of the list matches the relative path
  // (walked in stored order, stopping at the first match).
  bool AnyMatch(CaptureListKind list, const std::wstring& relativePath) const;
};

// Every entry of the four lists with its enabled flag, as the configuration
// editor shows and stores them.
struct StoredCaptureLists {
  std::vector<CaptureListEntry> entries[kCaptureListCount];

  // True when none of the four lists holds an entry.
  bool Empty() const;
};

// Glob match of a capture pattern against a path relative to the capture
// root ("\dir\file"). A pattern starting with "\" is matched against the
// whole path, any other against the last component only. "*" matches any
// run (including "/"), "?" one character, "[...]" a set (with "^"
// negation and ranges in either order); letters A-Z ignore case. A
// character outside the Basic Multilingual Plane counts as one character.
bool MatchCapturePattern(const std::wstring& pattern, const std::wstring& relativePath);

// The default contents: seven exclusions and five no-compression patterns,
// all enabled; the alignment and exception lists empty.
StoredCaptureLists DefaultCaptureLists();

// Start-up and after the editor's OK: replaces the in-memory lists with the
// enabled entries of the file. Per list, Count entries are taken from List
// (which is read as far as Count x 260 characters); an entry counts as
// enabled when its second ":"-separated field is exactly "1", and its first
// field is the pattern. Missing sections give empty lists.
void LoadCaptureLists(CaptureLists& lists, const std::wstring& settingsPath);

// Program exit: writes the in-memory lists (see the note at the top on
// disabled entries). A list whose enabled patterns already match the file
// is left untouched; when nothing differs the file is not written at all.
// False, with nothing written, when the file exists but cannot be read or
// cannot be replaced.
bool SaveCaptureLists(const CaptureLists& lists, const std::wstring& settingsPath);

// The editor's view of the file: every stored entry with its flag. An entry
// is enabled when it ends in ":1"; its pattern is the text before its last
// ":". A pattern that itself holds ":" never loads as enabled, so it is
// shown disabled; an entry without any ":" is a disabled pattern.
StoredCaptureLists ReadStoredCaptureLists(const std::wstring& settingsPath);

// The editor's OK: writes all entries, enabled and disabled, of all four
// lists (Count is the number of entries written; see IsStorablePattern),
// keeping every other line of the file. The caller then reloads the
// settings and the lists. False as for SaveCaptureLists.
bool WriteStoredCaptureLists(const StoredCaptureLists& stored, const std::wstring& settingsPath);

// A pattern can hold neither "|" nor ":", the separators of the stored
// form: kept, it would split into other entries when read back. Such
// patterns are refused: import skips them and storing leaves them out.
bool IsStorablePattern(const std::wstring& pattern);
// The entries whose pattern can be stored, in order.
std::vector<CaptureListEntry> StorableEntries(const std::vector<CaptureListEntry>& entries);

// The stored "List" value of one list (entries that cannot be stored are
// left out) and the entries read from one.
std::wstring FormatStoredList(const std::vector<CaptureListEntry>& entries);
std::vector<CaptureListEntry> ParseStoredList(const std::wstring& list, int count);
// The enabled patterns of a stored "List" value, by the load rule above.
std::vector<std::wstring> ParseEnabledPatterns(const std::wstring& list, int count);
