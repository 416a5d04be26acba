// An INI file in memory: its sections and key lines, read and written in one
// go the way the private-profile functions read and write them. The settings
// file and the task-list files are both read and written through it, so they
// share one encoding rule. A queue of thousands of rows then loads and saves
// at once, where thousands of single-key calls would each go through the
// whole file, and a file costs time and memory in proportion to its size.
//
// What the private-profile functions do, and this does too:
//  - Encoding: UTF-16 (either byte order) or UTF-8 after their byte-order
//    marks, otherwise the ANSI code page. Files are written as UTF-16LE with
//    its mark, so every character survives.
//  - Lines end at any run of CR and LF; blanks around a line do not count.
//    "[name]" opens a section (the name ends at the line's last "]"); other
//    lines are keys, split at the first "=" with blanks around the key and
//    before the value dropped. Lines before the first section belong to a
//    section without a name, written back without a header.
//  - Section and key names compare without regard to case; the first
//    section of a name, and the first key of a name in it, are the ones
//    read and written.
//  - A value read loses a pair of enclosing quotes (" or ').
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <vector>

struct ProfileKey {
  std::wstring name;
  std::wstring value;
  bool hasValue = true;  // false for a line without "="
};

struct ProfileSection {
  std::wstring name;  // empty: the lines before the first section
  std::vector<ProfileKey> keys;

  // The first key of that name, or null.
  const ProfileKey* Find(const wchar_t* key) const;
  // The key's text as read (quotes dropped); empty when missing.
  std::wstring Text(const wchar_t* key) const;
  // The key's number: blanks, a sign, decimal digits or "0x" and hex
  // digits; a missing key, an empty value or other text gives 0.
  int Number(const wchar_t* key) const;
  // Replaces the first key of that name, or adds the key at the end.
  void Set(const wchar_t* key, const std::wstring& value);
};

class ProfileDocument {
 public:
  // The text of a file's bytes (see the encodings above).
  static std::wstring Decode(const std::string& bytes);

  // Takes the text apart; the previous contents are dropped.
  void Parse(const std::wstring& text);
  // The whole file as UTF-16 text without the byte-order mark.
  std::wstring Format() const;

  const std::vector<ProfileSection>& Sections() const { return sections_; }
  // The first section of that name, or null.
  const ProfileSection* Find(const std::wstring& name) const;
  // The first section of that name, added at the end when missing. Adding
  // a section may move the others: a reference an earlier call gave is not
  // held across this one.
  ProfileSection& Section(const std::wstring& name);

 private:
  std::vector<ProfileSection> sections_;
  std::map<std::wstring, size_t> firstByName_;  // upper-cased name -> index
};

// Reads and takes apart a whole file. A file that does not exist reads as an
// empty document when `missingIsEmpty`; otherwise, and for a file that exists
// but cannot be read (locked, too large for an INI file of ours), false with
// the document empty. A caller that writes the document back must stop on
// false: the file's other sections would be lost.
bool ReadProfileDocument(const std::wstring& path, ProfileDocument& document, bool missingIsEmpty = true);
// Replaces the file with the document (UTF-16LE with its mark), through a
// file beside it ("<path>.saving") that takes its place, so that a failed
// write leaves the old file as it was. Until it is complete that file is
// marked for deletion, so that a program killed in the middle of a save
// leaves nothing beside the old file. False when it cannot be written.
bool WriteProfileDocument(const std::wstring& path, const ProfileDocument& document);

// For tests: called with the file beside the target once the new text is
// written into it and before it takes the target's place (a test ends the
// process there, as a kill would). Null: none.
void SetProfileWriteHook(void (*hook)(const std::wstring& temporary));
