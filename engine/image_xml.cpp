#include "engine/image_xml.h"

#include "win/strings.h"

namespace {

const wchar_t kImageEnd[] = L"</IMAGE>";
const wchar_t kWimEnd[] = L"</WIM>";

struct EditableElement {
  const wchar_t* open;
  const wchar_t* close;
};

// The elements a write replaces, in the order they are written back.
const EditableElement kEditable[] = {
    {L"<NAME>", L"</NAME>"},
    {L"<DESCRIPTION>", L"</DESCRIPTION>"},
    {L"<DISPLAYNAME>", L"</DISPLAYNAME>"},
    {L"<DISPLAYDESCRIPTION>", L"</DISPLAYDESCRIPTION>"},
    {L"<FLAGS>", L"</FLAGS>"},
};

void AppendElement(std::wstring& out, const EditableElement& e, const std::wstring& value) {
  if (value.empty()) return;
  out += L'\n';
  out += e.open;
  out += value;
  out += e.close;
}

}  // namespace

std::wstring ImageElementStart(int index) { return FormatStr(L"<IMAGE INDEX=\"%d\"", index); }

std::wstring XmlTextFromBytes(const void* data, size_t byteCount) {
  if (!data) return std::wstring();
  const wchar_t* text = static_cast<const wchar_t*>(data);
  size_t units = byteCount / sizeof(wchar_t);
  size_t length = 0;
  while (length < units && text[length]) ++length;
  return std::wstring(text, length);
}

std::wstring XmlDisplayForm(const std::wstring& raw) {
  std::wstring out;
  out.reserve(raw.size() + raw.size() / 8);
  for (size_t i = 0; i < raw.size(); ++i) {
    out += raw[i];
    if (raw[i] == L'>' && i + 1 < raw.size() && raw[i + 1] == L'<') out += L"\r\n";
  }
  size_t end = out.find(kWimEnd);
  if (end != std::wstring::npos) out.resize(end + wcslen(kWimEnd));
  return out;
}

std::wstring GetImageXmlValue(const std::wstring& xml, int index, const std::wstring& openTag) {
  std::wstring text;
  text.reserve(xml.size());
  for (wchar_t c : xml)
    if (c != L'\r') text += c;

  std::wstring start = ImageElementStart(index);
  size_t s = text.find(start);
  if (s == std::wstring::npos || openTag.empty()) return std::wstring();
  text.erase(0, s + start.size());

  size_t e = text.find(kImageEnd);
  size_t m = text.find(openTag);
  if (e == std::wstring::npos || m == std::wstring::npos || m == 0 || m >= e) return std::wstring();
  size_t valueStart = m + openTag.size();
  size_t valueEnd = text.find(L'<', valueStart);
  if (valueEnd == std::wstring::npos) return std::wstring();
  return text.substr(valueStart, valueEnd - valueStart);
}

std::wstring ImageInfoFragment(const ImageInfo& info) {
  std::wstring f;
  AppendElement(f, kEditable[0], info.name);
  AppendElement(f, kEditable[1], info.description);
  AppendElement(f, kEditable[2], info.displayName);
  AppendElement(f, kEditable[3], info.displayDescription);
  AppendElement(f, kEditable[4], info.flags);
  f += L'\n';
  return f;
}

bool RewriteImageXml(std::wstring& xml, int index, const ImageInfo& info) {
  std::wstring start = ImageElementStart(index);
  size_t s = xml.find(start);
  if (s == std::wstring::npos) return false;
  s += start.size();
  size_t e = xml.find(kImageEnd, s);
  if (e == std::wstring::npos) return false;

  // Only elements wholly inside this image are removed, so another image's
  // values are never touched.
  for (const EditableElement& el : kEditable) {
    size_t o = xml.find(el.open, s);
    if (o == std::wstring::npos || o >= e) continue;
    size_t c = xml.find(el.close, o + wcslen(el.open));
    if (c == std::wstring::npos || c >= e) continue;
    size_t length = c - o + wcslen(el.close);
    xml.erase(o, length);
    e -= length;
  }
  xml.insert(e, ImageInfoFragment(info));
  return true;
}
