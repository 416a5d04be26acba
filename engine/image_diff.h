// What differs between two image trees: files added, removed, with other
// content, attributes, security or times, and files that moved (the same
// content under a path that is gone on one side and new on the other).
// Pure work on two ImageTree values; nothing is read from a file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image_tree.h"

// The kinds of change, one bit each. A file in both images may carry
// several of content, attributes, security and times; a moved file may
// carry attributes, security and times beside the move.
enum DiffKind : unsigned {
  kDiffAdded = 1u << 0,
  kDiffRemoved = 1u << 1,
  kDiffContent = 1u << 2,
  kDiffAttributes = 1u << 3,
  kDiffSecurity = 1u << 4,
  kDiffTimes = 1u << 5,
  kDiffMoved = 1u << 6,
};
constexpr int kDiffKindCount = 7;
constexpr unsigned kDiffAllKinds = (1u << kDiffKindCount) - 1;

// The position (0-6) of a single kind bit.
int DiffKindIndex(unsigned kind);

struct DiffRow {
  unsigned kinds = 0;
  std::wstring path;      // in the second image; for a removed file, in the first
  std::wstring fromPath;  // a moved file: its path in the first image
  bool folder = false;
  bool hasBefore = false;  // the first image has it (sizeBefore is meaningful)
  bool hasAfter = false;
  uint64_t sizeBefore = 0;
  uint64_t sizeAfter = 0;
};

struct DiffOptions {
  // Times change on every capture: with this set they are not compared.
  bool ignoreTimes = false;
};

// Every difference, ordered by path. Last-access times are never compared
// (reading a file for a capture changes them). Runs in O(n log n).
std::vector<DiffRow> CompareTrees(const ImageTree& before, const ImageTree& after,
                                  const DiffOptions& options = DiffOptions());

struct DiffSummary {
  size_t counts[kDiffKindCount] = {};  // rows carrying each kind, by DiffKindIndex
  uint64_t bytesAdded = 0;    // the sizes of added files
  uint64_t bytesRemoved = 0;  // the sizes of removed files
};
DiffSummary Summarize(const std::vector<DiffRow>& rows);

// The rows (their positions in `rows`) that carry one of `kinds` and whose
// path (or former path) holds `text`, compared without regard to case.
std::vector<uint32_t> FilterRows(const std::vector<DiffRow>& rows, unsigned kinds, const std::wstring& text);
