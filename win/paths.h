// The program's one vocabulary for paths: what a folder or an image file
// is, how two names compare, and where a separator ends a path. Nothing here
// cuts a path at any length.
#pragma once
#include <string>

// True when a folder exists at the path, at any length.
bool IsExistingFolder(const std::wstring& path);
// True when a file (not a folder) exists at the path; wildcards match nothing.
bool FileExists(const std::wstring& path);

// The file system's comparison of names: code unit by code unit, case
// ignored for every letter the system folds (not only A-Z), no linguistic
// rules (a hyphen or an accent always counts).
bool EqualNoCase(const std::wstring& a, const std::wstring& b);
// True when `text` begins with `prefix`, case ignored as EqualNoCase ignores it.
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
// True when the last characters equal `extension` (such as ".wim"), case
// ignored as EqualNoCase ignores it.
bool HasExtension(const std::wstring& path, const wchar_t* extension);
// True for a name an image is read from: a ".wim" or ".esd" file, or the
// ".swm" first part of a split set. A place that writes a new image file has
// its own rule for the names it makes.
bool IsImageFileName(const std::wstring& path);

// The path without separators at its end; a root keeps its own ("C:\",
// "\", "\\?\C:\"), since without it the name means something else.
std::wstring WithoutTrailingSeparator(const std::wstring& path);
// `name` inside `folder`, with exactly one separator between them ("C:\"
// and "a" give "C:\a", "C:\x\" and "a" give "C:\x\a").
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The system folder ("C:\Windows\System32"), or "" when it cannot be had.
std::wstring SystemFolder();

// True when `path` names `folder` itself or something below it, after both
// are made absolute; case ignored.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);
// The text after the last "\" (the whole text when there is none).
std::wstring LastComponent(const std::wstring& path);
// Full path of any length (the path itself when it cannot be resolved).
std::wstring FullPath(const std::wstring& path);
// True when both name the same file: full paths equal, case ignored, a
// separator at the end not counted.
bool SamePath(const std::wstring& a, const std::wstring& b);
