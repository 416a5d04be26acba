// Reading a capture configuration import file: a sectioned text file whose
// header lines select the list that the following lines fill.
//
//   [ExclusionList]              -> EXCLUDE
//   [CompressionExclusionList]   -> NOCOMPRESS
//   [AlignmentList]              -> ALIGNMENT
//   [ExclusionException]         -> EXCEPTION
//
// Header lines are compared without regard to case. Lines before the first
// header are ignored. Every other line that holds anything besides spaces
// is an enabled entry of the current list, kept exactly as written (inner
// and outer spaces included). There is no comment syntax; any other
// bracketed line is an ordinary entry. A line holding "|" or ":" is
// skipped: no pattern can contain them (see IsStorablePattern).
#pragma once
#include <string>

#include "config/capture_lists.h"

// Import files larger than this are refused; real ones hold a few lines.
constexpr size_t kMaxImportFileBytes = 16 * 1024 * 1024;

// The text of an import file's bytes. Files are 8-bit text in practice:
// UTF-8 (with or without its byte-order mark) is taken as such, other bytes
// in the system's ANSI code page; a UTF-16LE file with its byte-order mark
// is read as UTF-16.
std::wstring DecodeImportText(const std::string& bytes);

// The four lists that an import file's text fills.
StoredCaptureLists ParseCaptureImport(const std::wstring& text);

// Reads and parses the file. False when it cannot be opened or read, or is
// too large; the lists are then empty.
bool ImportCaptureFile(const std::wstring& path, StoredCaptureLists& lists);
