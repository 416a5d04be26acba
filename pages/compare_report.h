// The report of a comparison of two images: a CSV table (one header row,
// then one row per difference) or a plain text with a heading.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image_diff.h"

// One field of a CSV row: quoted (with inner quotes doubled) when it holds
// a comma, a quote or a line break.
std::wstring CsvField(const std::wstring& text);

// The CSV text of `rows` (those at `which`), lines ended by CR LF, with
// the kinds of each row named by `kindsText`.
std::wstring DiffCsv(const std::vector<DiffRow>& rows, const std::vector<uint32_t>& which,
                     const std::wstring& header, std::wstring (*kindsText)(unsigned));

// The plain text report: `heading`, then one line per row: its kinds, a
// tab, its path and, for a move, a tab and `fromLabel` filled with the
// path it had.
std::wstring DiffText(const std::vector<DiffRow>& rows, const std::vector<uint32_t>& which,
                      const std::wstring& heading, const std::wstring& fromLabel,
                      std::wstring (*kindsText)(unsigned));
