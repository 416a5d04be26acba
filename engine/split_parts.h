// Names of the parts of a split WIM. The first part carries the name the user
// gave; part n (n >= 2) is that path without its extension of three letters
// followed by n and the same extension ("set.swm", "set2.swm"), or, when the
// name has no such extension, without its last four characters followed by n
// and ".WIM". Apply and export find the further parts only when they follow
// this rule.
#pragma once
#include <string>
#include <vector>

// "C:\x\install.wim", 2 -> "C:\x\install2.wim"; "D:\set.swm", 3 -> "D:\set3.swm"
std::wstring SplitPartPath(const std::wstring& firstPart, int partNumber);

// The glob wimlib is given to find every part: the path up to the last "."
// of its file name, "*" and the extension from that "." ("*.WIM" when the
// file name has no "."), never cut: "D:\my.dir\set.swm" ->
// "D:\my.dir\set*.swm", "D:\my.dir\set" -> "D:\my.dir\set*.WIM".
std::wstring SplitPartGlob(const std::wstring& firstPart);

// True when a file or folder of that name exists.
bool PathExists(const std::wstring& path);

// True when both paths reach one existing file, however they are spelled
// (case, short names, "..", links): compared by volume and file index.
bool SameFile(const std::wstring& a, const std::wstring& b);

// The existing files a split to `firstPart` would replace: the first part
// itself and every further part name (n >= 2) that exists, in part order.
// Parts beyond the new set's count are left from an earlier, longer split;
// they would be taken for parts of the new set, so a split removes them too.
std::vector<std::wstring> ExistingSplitParts(const std::wstring& firstPart);

// Every file a split may replace: the first part, the parts of an earlier
// set under the same names and the existing parts the user agreed to replace.
std::vector<std::wstring> SplitWriteTargets(const std::wstring& firstPart, const std::vector<std::wstring>& shownParts);

// A split written beside its final names: the back end writes the set
// under a temporary first-part name in the same folder, and Commit moves
// every part to its final name only once the whole set is there. Whatever
// is still under the temporary names when the object ends is deleted, so a
// failed or cancelled split leaves the folder as it was.
class SplitStaging {
 public:
  explicit SplitStaging(const std::wstring& firstPart);
  ~SplitStaging();
  SplitStaging(const SplitStaging&) = delete;
  SplitStaging& operator=(const SplitStaging&) = delete;

  // The name to give the back end as its first part.
  const std::wstring& TemporaryFirstPart() const { return temporary_; }

  // Renames the finished parts, all or none. A part name that reaches
  // `source` stops it before anything moves. Files the new parts replace
  // are deleted only once every part is in place; files of `shownParts`
  // (the existing parts the user agreed to replace) that the new set does
  // not reuse are then deleted as well. False: every file is as before.
  bool Commit(const std::wstring& source, const std::vector<std::wstring>& shownParts);

 private:
  std::wstring firstPart_;
  std::wstring temporary_;
};
