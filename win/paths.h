// Path checks shared by the pages and the task runner. Nothing here cuts a
// path at any length.
#pragma once
#include <string>

// True when a folder exists at the path.
bool IsExistingFolder(const std::wstring& path);
// True when a file (not a folder) exists at the path; wildcards match nothing.
bool FileExists(const std::wstring& path);
// True when the last characters equal `extension` (such as ".wim"), ASCII
// case ignored.
bool HasExtension(const std::wstring& path, const wchar_t* extension);
// True when `path` names `folder` itself or something below it, after both
// are made absolute; case ignored.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);
// The text after the last "\" (the whole text when there is none).
std::wstring LastComponent(const std::wstring& path);
// True when the last four characters are ".wim" (ASCII case ignored).
bool HasWimExtension(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Full path of any length (the path itself when it cannot be resolved).
std::wstring FullPath(const std::wstring& path);
// True when both name the same file: full paths equal, ASCII case ignored.
bool SamePath(const std::wstring& a, const std::wstring& b);
// ASCII-case-insensitive comparison.
bool EqualNoCase(const std::wstring& a, const std::wstring& b);
