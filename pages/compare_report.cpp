#include "pages/compare_report.h"

#include "win/strings.h"

namespace {
std::wstring SizeField(bool present, bool folder, uint64_t size) {
  return present && !folder ? std::to_wstring(size) : std::wstring();
}
}  // namespace

std::wstring CsvField(const std::wstring& text) {
  if (text.find_first_of(L",\"\r\n") == std::wstring::npos) return text;
  std::wstring quoted = L"\"";
  for (wchar_t c : text) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  return quoted + L"\"";
}

std::wstring DiffCsv(const std::vector<DiffRow>& rows, const std::vector<uint32_t>& which,
                     const std::wstring& header, std::wstring (*kindsText)(unsigned)) {
  std::wstring text = header + L"\r\n";
  for (uint32_t i : which) {
    const DiffRow& row = rows[i];
    text += CsvField(row.path) + L"," + CsvField(kindsText(row.kinds)) + L"," + CsvField(row.fromPath) + L"," +
            SizeField(row.hasBefore, row.folder, row.sizeBefore) + L"," +
            SizeField(row.hasAfter, row.folder, row.sizeAfter) + L"\r\n";
  }
  return text;
}

std::wstring DiffText(const std::vector<DiffRow>& rows, const std::vector<uint32_t>& which,
                      const std::wstring& heading, const std::wstring& fromLabel,
                      std::wstring (*kindsText)(unsigned)) {
  std::wstring text = heading;
  for (uint32_t i : which) {
    const DiffRow& row = rows[i];
    text += kindsText(row.kinds) + L"\t" + row.path;
    if (!row.fromPath.empty()) text += L"\t" + FormatStr(fromLabel.c_str(), row.fromPath.c_str());
    text += L"\r\n";
  }
  return text;
}
