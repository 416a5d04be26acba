// Path checks shared by the capture and apply pages. Nothing here cuts a
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
