#include "pages/info_rows.h"

#include <algorithm>
#include <cwchar>

#include "engine/image_xml.h"
#include "engine/solid_output.h"
#include "engine/wim_file_reader.h"
#include "resources/ids_properties.h"
#include "resources/resource.h"
#include "win/strings.h"

namespace {

void Add(std::vector<InfoRow>& rows, const std::wstring& text, int level) { rows.push_back({text, level}); }

std::wstring Field(const std::vector<std::wstring>& fields, size_t i) { return i < fields.size() ? fields[i] : L""; }

// Every `from` in the text replaced by `to`, left to right, in one pass.
void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  if (from.empty()) return;
  size_t at = text.find(from);
  if (at == std::wstring::npos) return;
  std::wstring out;
  out.reserve(text.size());
  size_t done = 0;
  for (; at != std::wstring::npos; at = text.find(from, done)) {
    out.append(text, done, at - done);
    out += to;
    done = at + from.size();
  }
  out.append(text, done, std::wstring::npos);
  text.swap(out);
}

// The text without its closing tags ("</" up to the next ">"); an unclosed
// one takes the rest of the text with it.
std::wstring WithoutClosingTags(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  size_t done = 0;
  for (size_t open = text.find(L"</"); open != std::wstring::npos; open = text.find(L"</", done)) {
    out.append(text, done, open - done);
    size_t close = text.find(L'>', open);
    if (close == std::wstring::npos) return out;
    done = close + 1;
  }
  out.append(text, done, std::wstring::npos);
  return out;
}

// The header facts of a readable file (level 1).
void AppendFacts(const WimFileReader& reader, std::vector<InfoRow>& rows) {
  std::vector<std::wstring> summary = SplitFields(LoadStr(IDS_INFO_SUMMARY));
  std::wstring version = FormatStr(L"%d.%d", reader.MajorVersion(), reader.MinorVersion());
  Add(rows, L"GUID: " + GuidText(reader), 1);
  Add(rows, FormatStr(Field(summary, 0).c_str(), static_cast<int>(reader.ImageCount())), 1);
  Add(rows, Field(summary, 1) + CompressionText(reader, true), 1);
  Add(rows, FormatStr(Field(summary, 5).c_str(), static_cast<int>(reader.ChunkSize())), 1);
  Add(rows, FormatStr(Field(summary, 2).c_str(), reader.PartNumber(), reader.TotalParts()), 1);
  Add(rows, FormatStr(Field(summary, 3).c_str(), static_cast<int>(reader.BootIndex())), 1);
  Add(rows, FormatStr(Field(summary, 4).c_str(), version.c_str()), 1);
}

// The metadata of image n (a heading and up to nine values).
void AppendImage(const WimFileReader& reader, int n, std::vector<InfoRow>& rows) {
  struct Element {
    const wchar_t* tag;
    size_t field;
  };
  static const Element kElements[] = {{L"<NAME>", 4},      {L"<DESCRIPTION>", 5}, {L"<DISPLAYNAME>", 6},
                                      {L"<DISPLAYDESCRIPTION>", 7}, {L"<DIRCOUNT>", 2}, {L"<FILECOUNT>", 1},
                                      {L"<TOTALBYTES>", 3}, {L"<FLAGS>", 8}};
  std::vector<std::wstring> names = SplitFields(LoadStr(IDS_INFO_COLUMNS));
  Add(rows, FormatStr(L"%s %s", Field(names, 0).c_str(), FormatStr(L"%d", n).c_str()), 1);
  for (const Element& e : kElements) {
    std::wstring value = reader.ImageValue(n, e.tag);
    if (value.empty()) continue;
    if (e.field == 3) value += L" Bytes";
    Add(rows, FormatStr(L"%s: %s", Field(names, e.field).c_str(), value.c_str()), 2);
  }
  std::wstring wimboot = reader.ImageValue(n, L"<WIMBOOT>");
  std::vector<std::wstring> noYes = SplitFields(LoadStr(IDS_NO_YES));
  size_t answer = wimboot.empty() ? 0 : (_wtoi(wimboot.c_str()) != 0 ? 1 : 0);
  Add(rows, FormatStr(L"%s: %s", Field(names, 10).c_str(), Field(noYes, answer).c_str()), 2);
}

// "1234567" as "1,234,567"; any other text as it is.
std::wstring Grouped(const std::wstring& digits) {
  if (digits.empty() || digits.find_first_not_of(L"0123456789") != std::wstring::npos) return digits;
  std::wstring out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i && (digits.size() - i) % 3 == 0) out += L',';
    out += digits[i];
  }
  return out;
}

// The local time of an image's time element (its HIGHPART and LOWPART, as
// "0x..." texts); empty when it has none.
std::wstring TimeText(const std::vector<ImageProperty>& properties, const std::wstring& element) {
  std::wstring high, low;
  for (const ImageProperty& p : properties) {
    if (p.path == element + L"/HIGHPART" && high.empty()) high = p.value;
    if (p.path == element + L"/LOWPART" && low.empty()) low = p.value;
  }
  if (high.empty() || low.empty()) return std::wstring();
  wchar_t* end = nullptr;
  unsigned long long h = wcstoull(high.c_str(), &end, 0);
  if (*end) return std::wstring();
  unsigned long long l = wcstoull(low.c_str(), &end, 0);
  if (*end || h > 0xFFFFFFFFull || l > 0xFFFFFFFFull) return std::wstring();
  FILETIME utc = {static_cast<DWORD>(l), static_cast<DWORD>(h)};
  SYSTEMTIME universal, local;
  if (!FileTimeToSystemTime(&utc, &universal)) return std::wstring();
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) local = universal;
  return FormatStr(L"%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                   local.wMinute, local.wSecond);
}

void AppendEnd(std::vector<InfoRow>& rows) {
  Add(rows, L"", 3);
  Add(rows, L"---", 1);
}

}  // namespace

std::wstring CompressionName(unsigned flags, bool suffix) {
  if (!(flags & kWimHeaderCompressed)) return LoadStr(IDS_COMPRESSION_NONE);
  if (flags & (kWimHeaderXpress | kWimHeaderXpress2))
    return LoadStr(IDS_COMPRESSION_FAST) + (suffix ? L" (XPRESS)" : L"");
  if (flags & kWimHeaderLzx) return LoadStr(IDS_COMPRESSION_MAX) + (suffix ? L" (LZX)" : L"");
  if (flags & kWimHeaderLzms) return L"LZMS";
  return LoadStr(IDS_COMPRESSION_NONE);
}

std::wstring CompressionText(const WimFileReader& reader, bool suffix) {
  std::wstring text = CompressionName(reader.Flags(), suffix);
  if (IsSolidWimVersion(reader.Version())) text += L" (ESD)";
  return text;
}

std::wstring GuidText(const WimFileReader& reader) {
  GUID g = reader.FileGuid();
  return FormatStr(L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1), g.Data2,
                   g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                   g.Data4[7]);
}

void AppendInfoRows(const std::wstring& path, std::vector<InfoRow>& rows) {
  Add(rows, path, 0);
  WimFileReader reader;
  if (!reader.Read(path)) {
    Add(rows, LoadStr(IDS_CANNOT_OPEN_WIM), -1);
    AppendEnd(rows);
    return;
  }
  AppendFacts(reader, rows);
  const uint32_t images = reader.ListedImageCount();
  for (uint32_t n = 1; n <= images; n++) AppendImage(reader, static_cast<int>(n), rows);
  AppendEnd(rows);
}

std::wstring InfoRowsAsText(const std::vector<InfoRow>& rows) {
  std::wstring text;
  for (const InfoRow& row : rows) {
    text += L"\r\n";
    if (row.text == L"---") continue;
    if (row.level == 1 || row.level == -1) text += L"      ";
    else if (row.level == 2) text += L"            ";
    text += row.text;
  }
  return text;
}

std::wstring XmlToLines(const std::wstring& xml) {
  std::wstring text = xml;
  ReplaceAll(text, L"<WIM>", L"");
  ReplaceAll(text, L"</WIM>", L"");
  // Keep the one character before the first image (the line break that
  // precedes it); a text without any image stays as it is.
  size_t first = text.find(L"<IMAGE INDEX=\"1\"");
  if (first != std::wstring::npos && first > 0) text.erase(0, first - 1);
  text = WithoutClosingTags(text);
  ReplaceAll(text, L">", L" = ");
  ReplaceAll(text, L" = \r\n", L"\r\n");
  ReplaceAll(text, L"<IMAGE INDEX", L">>>IMAGE INDEX");
  ReplaceAll(text, L"<", L"");
  return text;
}

std::wstring ImageSection(const std::wstring& lines, int index) {
  size_t start = lines.find(FormatStr(L">>>IMAGE INDEX=\"%d\"", index));
  if (start == std::wstring::npos) return L"";
  std::wstring section = lines.substr(start);
  size_t lineEnd = section.find(L"\r\n");
  section = lineEnd == std::wstring::npos ? L"" : section.substr(lineEnd + 2);
  size_t next = section.find(L">>>IMAGE INDEX");
  if (next != std::wstring::npos) section.erase(next);
  return section;
}

std::wstring WindowsFacts(const ImageXml& xml, int n) {
  std::vector<std::wstring> names = SplitFields(LoadStr(IDS_FACTS_NAMES));
  names.resize(9);
  const std::wstring undefined = LoadStr(IDS_PROPS_UNDEFINED);
  auto value = [&](const wchar_t* tag) { return xml.Value(n, tag); };
  auto shown = [&](const std::wstring& v) { return UndefinedValue(v) ? undefined : v; };

  std::wstring version;
  std::wstring major = value(L"<MAJOR>"), minor = value(L"<MINOR>"), build = value(L"<BUILD>");
  std::wstring spbuild = value(L"<SPBUILD>");
  if (!UndefinedValue(major) && !UndefinedValue(minor) && !UndefinedValue(build)) {
    version = major + L"." + minor + L"." + build;
    if (!UndefinedValue(spbuild)) version += L"." + spbuild;
  }
  std::wstring arch = value(L"<ARCH>");
  std::wstring archName = ArchitectureName(arch);

  // Every language element of the image, the default one first.
  std::vector<std::wstring> languages;
  const std::vector<ImageProperty> properties = xml.Properties(n);
  for (const ImageProperty& p : properties)
    if (p.path == L"WINDOWS/LANGUAGES/LANGUAGE" && !UndefinedValue(p.value)) languages.push_back(p.value);
  std::wstring preferred = value(L"<DEFAULT>");
  auto first = std::find(languages.begin(), languages.end(), preferred);
  if (first != languages.end()) std::rotate(languages.begin(), first, first + 1);
  else if (!UndefinedValue(preferred)) languages.insert(languages.begin(), preferred);
  std::wstring languageText;
  for (const std::wstring& l : languages) languageText += (languageText.empty() ? L"" : L", ") + l;

  std::wstring files = value(L"<FILECOUNT>"), folders = value(L"<DIRCOUNT>"), bytes = value(L"<TOTALBYTES>");
  std::wstring counts = UndefinedValue(files) && UndefinedValue(folders)
                            ? std::wstring()
                            : FormatStr(LoadStr(IDS_FACTS_COUNTS).c_str(), shown(Grouped(files)).c_str(),
                                        shown(Grouped(folders)).c_str());
  std::wstring size = UndefinedValue(bytes) ? std::wstring() : Grouped(bytes) + L" Bytes";

  const std::wstring facts[9] = {value(L"<EDITIONID>"),
                                 version,
                                 archName.empty() ? arch : archName,
                                 languageText,
                                 value(L"<INSTALLATIONTYPE>"),
                                 counts,
                                 size,
                                 TimeText(properties, L"CREATIONTIME"),
                                 TimeText(properties, L"LASTMODIFICATIONTIME")};
  std::wstring text;
  for (int i = 0; i < 9; i++) text += names[i] + L": " + shown(facts[i]) + L"\r\n";
  return text;
}
