#include "engine/image_xml.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <vector>

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
  out += EscapeXmlText(value);
  out += e.close;
}

struct NamedEntity {
  const wchar_t* name;  // between "&" and ";"
  wchar_t character;
};
const NamedEntity kEntities[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}};

// A code point as UTF-16; false for what no character may be.
bool AppendCodePoint(std::wstring& out, unsigned long c) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  if (c < 0x10000) {
    out += static_cast<wchar_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  }
  return true;
}

// The character that the reference `body` (the text between "&" and ";")
// names, appended to `out`; false when it names none.
bool AppendReference(std::wstring& out, const std::wstring& body) {
  for (const NamedEntity& e : kEntities)
    if (body == e.name) {
      out += e.character;
      return true;
    }
  if (body.size() < 2 || body[0] != L'#') return false;
  bool hex = body[1] == L'x';
  const wchar_t* digits = body.c_str() + (hex ? 2 : 1);
  if (!*digits || wcslen(digits) > 8) return false;
  wchar_t* end = nullptr;
  unsigned long c = wcstoul(digits, &end, hex ? 16 : 10);
  if (*end || !iswxdigit(*digits)) return false;
  return AppendCodePoint(out, c);
}

}  // namespace

std::wstring EscapeXmlText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (c == L'&')
      out += L"&amp;";
    else if (c == L'<')
      out += L"&lt;";
    else if (c == L'>')
      out += L"&gt;";
    else
      out += c;
  }
  return out;
}

std::wstring DecodeXmlText(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    size_t semicolon = text[i] == L'&' ? text.find(L';', i + 1) : std::wstring::npos;
    if (semicolon != std::wstring::npos && semicolon - i <= 12 &&
        AppendReference(out, text.substr(i + 1, semicolon - i - 1))) {
      i = semicolon;
      continue;
    }
    out += text[i];
  }
  return out;
}

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

ImageXml::ImageXml(const std::wstring& xml) {
  text_.reserve(xml.size());
  for (wchar_t c : xml)
    if (c != L'\r') text_ += c;

  // Every "</IMAGE>", in order, so each image finds the first one after it
  // without a search of its own.
  std::vector<size_t> ends;
  for (size_t at = text_.find(kImageEnd); at != std::wstring::npos; at = text_.find(kImageEnd, at + 1))
    ends.push_back(at);

  const std::wstring prefix = L"<IMAGE INDEX=\"";
  std::vector<size_t> starts;  // every image element, indexed or not
  std::vector<std::pair<int, size_t>> found;
  for (size_t at = text_.find(prefix); at != std::wstring::npos; at = text_.find(prefix, at + 1)) {
    starts.push_back(at);
    // The number as ImageElementStart writes it: decimal digits without a
    // leading zero, then the closing quote.
    size_t p = at + prefix.size();
    size_t digits = 0;
    long long n = 0;
    while (p + digits < text_.size() && iswdigit(text_[p + digits]) && digits < 10) {
      n = n * 10 + (text_[p + digits] - L'0');
      ++digits;
    }
    if (digits == 0 || (digits > 1 && text_[p] == L'0') || n > 0x7FFFFFFF) continue;
    if (p + digits >= text_.size() || text_[p + digits] != L'"') continue;
    found.emplace_back(static_cast<int>(n), p + digits + 1);
  }
  size_t next = 0;  // the first element start after the current one
  for (const auto& f : found) {
    if (images_.count(f.first)) continue;
    Span span;
    span.begin = f.second;
    auto e = std::lower_bound(ends.begin(), ends.end(), span.begin);
    span.end = e == ends.end() ? std::wstring::npos : *e;
    while (next < starts.size() && starts[next] < span.begin) ++next;
    size_t following = next < starts.size() ? starts[next] : std::wstring::npos;
    span.limit = span.end < following ? span.end : following;
    images_.emplace(f.first, span);
  }
}

std::wstring ImageXml::Value(int index, const std::wstring& openTag) const {
  auto it = images_.find(index);
  if (it == images_.end() || openTag.empty()) return std::wstring();
  const Span& span = it->second;
  if (span.end == std::wstring::npos || span.limit == std::wstring::npos) return std::wstring();
  // A tag right at the start of the element is part of its opening tag.
  auto first = text_.begin() + static_cast<std::ptrdiff_t>(span.begin);
  auto last = text_.begin() + static_cast<std::ptrdiff_t>(span.limit);
  auto tag = std::search(first, last, openTag.begin(), openTag.end());
  if (tag == last || tag == first) return std::wstring();
  size_t m = static_cast<size_t>(tag - text_.begin());
  size_t valueStart = m + openTag.size();
  size_t valueEnd = text_.find(L'<', valueStart);
  if (valueEnd == std::wstring::npos || valueEnd > span.limit) return std::wstring();
  return DecodeXmlText(text_.substr(valueStart, valueEnd - valueStart));
}

std::wstring GetImageXmlValue(const std::wstring& xml, int index, const std::wstring& openTag) {
  return ImageXml(xml).Value(index, openTag);
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
