// The texts of the information page and the information dialog, built from
// what the WIM file reader finds in one file: the indented rows of the
// page, their copy as plain text, and the per-image text view.
#pragma once
#include <string>
#include <vector>

class WimFileReader;

// One row of the information list. Levels: 0 file, 1 file fact or image
// heading, 2 image value, 3 blank, -1 the message of a file that failed.
struct InfoRow {
  std::wstring text;
  int level;
};

// The rows of one file, appended to `rows`.
void AppendInfoRows(const std::wstring& path, std::vector<InfoRow>& rows);

// All rows as text: each row on a line of its own after "\r\n", indented by
// six spaces (levels 1 and -1) or twelve (level 2); a "---" row is empty.
std::wstring InfoRowsAsText(const std::vector<InfoRow>& rows);

// The compression name of a header's flags; with `suffix` the bracketed
// algorithm follows the Chinese name ("最大 (LZX)").
std::wstring CompressionName(unsigned flags, bool suffix);
// The same for a file, marked " (ESD)" when its header has the version of
// files with solid resources.
std::wstring CompressionText(const WimFileReader& reader, bool suffix);

// "GUID: {…}"-style text of the file GUID in registry form.
std::wstring GuidText(const WimFileReader& reader);

// The Windows facts of image n, as DISM shows them for one index: edition,
// version.build, architecture, languages (the default first), installation
// type, files and folders, total size, creation and modification times;
// one "name: value" line each, ended by "\r\n". A fact the XML does not
// define reads "未定义".
std::wstring WindowsFacts(const class ImageXml& xml, int n);

// The XML text as lines "NAME = value", one bare line per element with
// children and a line ">>>IMAGE INDEX=\"n\"" where each image starts.
std::wstring XmlToLines(const std::wstring& xml);

// The lines of image n out of XmlToLines' text (empty when it has none).
std::wstring ImageSection(const std::wstring& lines, int index);
