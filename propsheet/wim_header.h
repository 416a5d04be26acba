/*
 * wim_header.h - the WIM header facts shown on the property page.
 *
 * The extension reads the fixed header at the start of the selected file
 * itself (no imaging library) and turns a few of its fields into six rows
 * of text: version, GUID, image count, compression, parts and boot index.
 * The row labels come from one string resource, separated by ':'.
 */
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tessel {

// Bytes asked for at offset 0: the 208-byte WIM header and 8 bytes after it.
constexpr DWORD kHeaderReadSize = 216;
// A read shorter than the WIM header itself yields no rows.
constexpr DWORD kWimHeaderSize = 208;
// Number of rows (and labels) shown on the page.
constexpr size_t kRowCount = 6;

// Header flag bits that decide the compression text.
constexpr DWORD kFlagCompressed = 0x00000002;
constexpr DWORD kFlagXpress = 0x00020000;
constexpr DWORD kFlagLzx = 0x00040000;
constexpr DWORD kFlagLzms = 0x00080000;

// The six values of a header record of kHeaderReadSize bytes, in row order:
// "1.13", "{...GUID...}", "3", "LZX", "1/1", "0".
std::vector<std::wstring> FormatHeaderValues(const BYTE* header);

// Splits a label list such as "A:B:C:" into its first `count` labels, each
// keeping its ':'; missing labels are empty.
std::vector<std::wstring> SplitRowLabels(const std::wstring& text, size_t count);

// Reads the header of `path` and builds the rows "label value". Returns an
// empty list when the file cannot be opened (missing, locked by another
// process) or is shorter than a WIM header. The file is opened read-only.
std::vector<std::wstring> ReadHeaderRows(const wchar_t* path, const std::vector<std::wstring>& labels);

// Appends the rows for `path` to the tree control `tree` as top-level items,
// with the labels taken from the module's string resource.
void FillInfoList(HWND tree, const wchar_t* path);

}  // namespace tessel
