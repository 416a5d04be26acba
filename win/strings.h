// String-table access.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The string of the given id from the program's string table ("" if absent).
std::wstring LoadStr(UINT id);

// Splits a text at every separator; a trailing separator adds no empty field.
std::vector<std::wstring> SplitFields(const std::wstring& text, wchar_t separator = L';');

// printf-style formatting into a std::wstring.
std::wstring FormatStr(const wchar_t* format, ...);
