// String-table access.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

// The string of the given id from the program's string table ("" if absent).
std::wstring LoadStr(UINT id);

// Splits a text at every separator; a trailing separator adds no empty field.
std::vector<std::wstring> SplitFields(const std::wstring& text, wchar_t separator = L';');

// printf-style formatting into a std::wstring.
std::wstring FormatStr(const wchar_t* format, ...);

// A string-table text with its markers "%1" ... "%9" replaced by the values
// in order, in one pass: a value that itself holds "%2" stays as it is. A
// marker without a value, and a "%" before anything else, stay in the text.
std::wstring FillStr(const std::wstring& text, std::initializer_list<std::wstring> values);
// The same for the text of a string-table id.
std::wstring LoadFilledStr(UINT id, std::initializer_list<std::wstring> values);
