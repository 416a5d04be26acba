// Names of the parts of a split WIM. The first part carries the name the user
// gave; part n (n >= 2) is that path without its last four characters (the
// extension and its dot) followed by n and ".WIM". Apply and export find the
// further parts only when they follow this rule.
#pragma once
#include <string>

// "C:\x\install.wim", 2 -> "C:\x\install2.WIM"
std::wstring SplitPartPath(const std::wstring& firstPart, int partNumber);

// The glob wimlib is given to find every part: the path up to the last "."
// of its file name followed by "*.WIM" (the whole path when the file name
// has no "."), never cut: "D:\my.dir\set.wim" -> "D:\my.dir\set*.WIM",
// "D:\my.dir\set" -> "D:\my.dir\set*.WIM".
std::wstring SplitPartGlob(const std::wstring& firstPart);

// True when a file or folder of that name exists.
bool PathExists(const std::wstring& path);
