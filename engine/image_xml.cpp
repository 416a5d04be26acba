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

// Every property of an image

namespace {

// One element inside an image's element, as it stands in the text.
struct XmlElement {
  std::wstring path;  // below the image, "/"-separated
  size_t begin = 0;      // the "<" of its opening tag
  size_t end = 0;        // just after its closing tag (or its "/>")
  size_t textBegin = 0;  // just after its opening tag
  size_t textEnd = 0;    // the "<" of its closing tag
  bool leaf = true;      // holds no element
  bool selfClosing = false;
};

std::wstring LastName(const std::wstring& path) {
  size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ParentPath(const std::wstring& path) {
  size_t slash = path.rfind(L'/');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsNameEnd(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'/' || c == L'>'; }

// The elements of image `index` in document order, and the position of the
// image's "</IMAGE>". False when the image has no element, or its element
// is not closed properly within the text.
bool ImageElements(const std::wstring& xml, int index, std::vector<XmlElement>& out, size_t& imageClose) {
  out.clear();
  size_t s = xml.find(ImageElementStart(index));
  if (s == std::wstring::npos) return false;
  size_t pos = xml.find(L'>', s);
  if (pos == std::wstring::npos || xml[pos - 1] == L'/') return false;
  ++pos;
  std::vector<size_t> open;  // indexes into out
  for (;;) {
    size_t lt = xml.find(L'<', pos);
    if (lt == std::wstring::npos) return false;
    if (xml.compare(lt, 4, L"<!--") == 0 || xml.compare(lt, 2, L"<?") == 0 || xml.compare(lt, 9, L"<![CDATA[") == 0) {
      const wchar_t* close = xml[lt + 1] == L'?' ? L"?>" : xml[lt + 2] == L'-' ? L"-->" : L"]]>";
      size_t e = xml.find(close, lt);
      if (e == std::wstring::npos) return false;
      pos = e + wcslen(close);
      continue;
    }
    size_t gt = xml.find(L'>', lt);
    if (gt == std::wstring::npos) return false;
    if (xml[lt + 1] == L'/') {
      std::wstring name = xml.substr(lt + 2, gt - lt - 2);
      while (!name.empty() && iswspace(name.back())) name.pop_back();
      if (open.empty()) {
        if (name != L"IMAGE") return false;
        imageClose = lt;
        return true;
      }
      XmlElement& top = out[open.back()];
      if (LastName(top.path) != name) return false;
      top.textEnd = lt;
      top.end = gt + 1;
      open.pop_back();
      pos = gt + 1;
      continue;
    }
    size_t nameEnd = lt + 1;
    while (nameEnd < gt && !IsNameEnd(xml[nameEnd])) ++nameEnd;
    if (nameEnd == lt + 1) return false;
    XmlElement element;
    std::wstring name = xml.substr(lt + 1, nameEnd - lt - 1);
    element.path = open.empty() ? name : out[open.back()].path + L"/" + name;
    element.begin = lt;
    element.selfClosing = xml[gt - 1] == L'/';
    element.textBegin = element.textEnd = gt + 1;
    element.end = gt + 1;
    if (!open.empty()) out[open.back()].leaf = false;
    out.push_back(element);
    if (!element.selfClosing) open.push_back(out.size() - 1);
    pos = gt + 1;
  }
}

std::wstring ElementText(const std::wstring& name, const std::wstring& value) {
  return L"<" + name + L">" + EscapeXmlText(value) + L"</" + name + L">";
}

// "<A><B>value</B></A>" for the path "A/B".
std::wstring NestedElements(const std::wstring& path, const std::wstring& value) {
  size_t slash = path.find(L'/');
  if (slash == std::wstring::npos) return ElementText(path, value);
  std::wstring name = path.substr(0, slash);
  return L"<" + name + L">" + NestedElements(path.substr(slash + 1), value) + L"</" + name + L">";
}

bool ApplyOne(std::wstring& xml, int index, const PropertyChange& change) {
  std::vector<XmlElement> elements;
  size_t imageClose = 0;
  if (!ImageElements(xml, index, elements, imageClose)) return false;
  std::vector<const XmlElement*> same;
  for (const XmlElement& e : elements)
    if (e.path == change.path) same.push_back(&e);
  const int count = static_cast<int>(same.size());
  if (change.occurrence < 1) return false;
  if (change.occurrence <= count) {
    const XmlElement& e = *same[static_cast<size_t>(change.occurrence - 1)];
    if (!e.leaf) return false;
    if (change.remove) xml.erase(e.begin, e.end - e.begin);
    else if (e.selfClosing) xml.replace(e.begin, e.end - e.begin, ElementText(LastName(e.path), change.value));
    else xml.replace(e.textBegin, e.textEnd - e.textBegin, EscapeXmlText(change.value));
    return true;
  }
  if (change.remove) return change.occurrence > count;  // nothing there to remove
  if (change.occurrence != count + 1) return false;
  if (count > 0) {
    xml.insert(same.back()->end, ElementText(LastName(change.path), change.value));
    return true;
  }
  // The nearest parent that exists takes the new element and the parents
  // between them; without one the image's element takes them all.
  std::wstring rest = LastName(change.path);
  for (std::wstring parent = ParentPath(change.path); !parent.empty(); parent = ParentPath(parent)) {
    auto found = std::find_if(elements.begin(), elements.end(), [&](const XmlElement& e) { return e.path == parent; });
    if (found != elements.end()) {
      if (found->selfClosing) return false;
      if (found->leaf) {
        std::wstring text = xml.substr(found->textBegin, found->textEnd - found->textBegin);
        if (text.find_first_not_of(L" \t\r\n") != std::wstring::npos) return false;  // a value, not a parent
      }
      xml.insert(found->textEnd, NestedElements(rest, change.value));
      return true;
    }
    rest = LastName(parent) + L"/" + rest;
  }
  xml.insert(imageClose, NestedElements(rest, change.value));
  return true;
}

}  // namespace

std::vector<ImageProperty> ReadImageProperties(const std::wstring& xml, int index) {
  std::vector<ImageProperty> out;
  std::vector<XmlElement> elements;
  size_t imageClose = 0;
  if (!ImageElements(xml, index, elements, imageClose)) return out;
  for (const XmlElement& e : elements) {
    if (!e.leaf) continue;
    std::wstring text = xml.substr(e.textBegin, e.textEnd - e.textBegin);
    if (text.find_first_not_of(L"\r\n") == std::wstring::npos) text.clear();
    out.push_back({e.path, DecodeXmlText(text)});
  }
  return out;
}

std::vector<PropertyChange> PropertyChanges(const std::vector<ImageProperty>& before,
                                            const std::vector<ImageProperty>& after) {
  std::vector<std::wstring> paths;  // in the order they first appear
  auto note = [&paths](const std::wstring& p) {
    if (std::find(paths.begin(), paths.end(), p) == paths.end()) paths.push_back(p);
  };
  for (const ImageProperty& p : after) note(p.path);
  for (const ImageProperty& p : before) note(p.path);
  auto valuesOf = [](const std::vector<ImageProperty>& list, const std::wstring& path) {
    std::vector<std::wstring> values;
    for (const ImageProperty& p : list)
      if (p.path == path) values.push_back(p.value);
    return values;
  };
  std::vector<PropertyChange> changes;
  for (const std::wstring& path : paths) {
    std::vector<std::wstring> was = valuesOf(before, path);
    std::vector<std::wstring> now = valuesOf(after, path);
    if (was == now) continue;
    now.erase(std::remove(now.begin(), now.end(), std::wstring()), now.end());
    size_t common = std::min(was.size(), now.size());
    for (size_t k = 0; k < common; k++)
      if (was[k] != now[k]) changes.push_back({path, static_cast<int>(k + 1), now[k], false});
    for (size_t k = was.size(); k < now.size(); k++) changes.push_back({path, static_cast<int>(k + 1), now[k], false});
    for (size_t k = was.size(); k > now.size(); k--) changes.push_back({path, static_cast<int>(k), L"", true});
  }
  return changes;
}

std::wstring PropertyName(const PropertyChange& change) {
  return change.occurrence > 1 ? FormatStr(L"%s[%d]", change.path.c_str(), change.occurrence) : change.path;
}

bool ApplyPropertyChanges(std::wstring& xml, int index, const std::vector<PropertyChange>& changes) {
  std::wstring work = xml;
  for (const PropertyChange& change : changes)
    if (!ApplyOne(work, index, change)) return false;
  std::vector<XmlElement> elements;
  size_t imageClose = 0;
  if (!changes.empty() && !ImageElements(work, index, elements, imageClose)) return false;
  xml.swap(work);
  return true;
}

bool ValidPropertyPath(const std::wstring& path) {
  if (path.empty()) return false;
  bool start = true;
  for (wchar_t c : path) {
    if (c == L'/') {
      if (start) return false;
      start = true;
      continue;
    }
    bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_';
    bool other = (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
    if (!letter && !(other && !start)) return false;
    start = false;
  }
  return !start;
}

std::wstring ArchitectureName(const std::wstring& number) {
  if (number == L"0") return L"x86";
  if (number == L"5") return L"ARM";
  if (number == L"9") return L"x64";
  if (number == L"12") return L"ARM64";
  return std::wstring();
}

bool UndefinedValue(const std::wstring& value) {
  size_t first = value.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return true;
  size_t last = value.find_last_not_of(L" \t\r\n");
  std::wstring text = value.substr(first, last - first + 1);
  return text.size() == 11 && _wcsicmp(text.c_str(), L"<undefined>") == 0;
}

std::vector<ImageProperty> ImageXml::Properties(int index) const {
  auto found = images_.find(index);
  if (found == images_.end()) return {};
  // Only the image's own element is read, so that a look-up in a text of
  // thousands of images costs what that image holds.
  const Span& span = found->second;
  const size_t start = span.begin - ImageElementStart(index).size();
  const size_t stop = span.end == std::wstring::npos ? text_.size() : span.end + wcslen(kImageEnd);
  return ReadImageProperties(text_.substr(start, stop - start), index);
}
