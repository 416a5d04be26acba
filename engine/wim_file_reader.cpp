#include "engine/wim_file_reader.h"

#include <cstring>
#include <cwchar>

#include "engine/image_xml.h"
#include "win/handles.h"

namespace {

const BYTE kImageTag[8] = {'M', 'S', 'W', 'I', 'M', 0, 0, 0};

// The reader's form of the XML text: the display form; of a text that lacks
// "</WIM>" (a damaged resource) only the first five characters remain, so
// no image values are taken from it.
std::wstring ReaderXmlText(const std::wstring& raw) {
  std::wstring text = XmlDisplayForm(raw);
  if (text.find(L"</WIM>") == std::wstring::npos && text.size() > 5) text.resize(5);
  return text;
}

}  // namespace

bool WimFileReader::HasImageTag() const { return memcmp(header, kImageTag, sizeof kImageTag) == 0; }

uint16_t WimFileReader::U16(size_t offset) const {
  return static_cast<uint16_t>(header[offset] | header[offset + 1] << 8);
}

uint32_t WimFileReader::U32(size_t offset) const { return U16(offset) | static_cast<uint32_t>(U16(offset + 2)) << 16; }

uint64_t WimFileReader::U64(size_t offset) const { return U32(offset) | static_cast<uint64_t>(U32(offset + 4)) << 32; }

GUID WimFileReader::FileGuid() const {
  GUID guid;
  guid.Data1 = U32(24);
  guid.Data2 = U16(28);
  guid.Data3 = U16(30);
  memcpy(guid.Data4, header + 32, sizeof guid.Data4);
  return guid;
}

int WimFileReader::CompressionType() const {
  uint32_t flags = Flags();
  if (!(flags & kWimHeaderCompressed)) return 0;
  if (flags & (kWimHeaderXpress | kWimHeaderXpress2)) return 1;
  if (flags & kWimHeaderLzx) return 2;
  if (flags & kWimHeaderLzms) return 3;
  return 0;
}

// Reads the XML resource that the header points to. The resource must lie
// wholly inside the file; otherwise the text stays empty. An offset of 0
// means the text follows the header bytes just read.
void WimFileReader::ReadXml(HANDLE file, uint64_t fileSize, uint64_t headerEnd) {
  uint64_t size = XmlSize();
  uint64_t start = XmlOffset() ? XmlOffset() : headerEnd;
  if (size > kWimMaxXmlBytes || start > fileSize || size > fileSize - start) return;

  if (XmlOffset()) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(start);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return;
  }
  // One unit more than the bytes need, so the text always ends in a zero.
  std::wstring raw(static_cast<size_t>(size / 2 + 1), L'\0');
  DWORD got = 0;
  if (size && !ReadFile(file, &raw[0], static_cast<DWORD>(size), &got, nullptr)) return;
  raw.resize(wcslen(raw.c_str()));
  xmlText = ReaderXmlText(raw);
}

bool WimFileReader::Read(const std::wstring& path) { return ReadFrom(path, true); }

bool WimFileReader::ReadHeader(const std::wstring& path) { return ReadFrom(path, false); }

bool WimFileReader::ReadFrom(const std::wstring& path, bool withXml) {
  memset(header, 0, sizeof header);
  xmlText.clear();
  images_ = ImageXml();
  listed_ = 0;

  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER fileSize;
  DWORD got = 0;
  if (!file || !GetFileSizeEx(file.get(), &fileSize) || !ReadFile(file.get(), header, sizeof header, &got, nullptr) ||
      got < kWimHeaderMinimum) {
    memset(header, 0, sizeof header);
    return false;
  }
  if (withXml) {
    ReadXml(file.get(), static_cast<uint64_t>(fileSize.QuadPart), got);
    images_ = ImageXml(xmlText);
    listed_ = CountListedImages();
  }
  return HasImageTag();
}

uint32_t WimFileReader::CountListedImages() const {
  uint32_t limit = ImageCount() < kWimMaxListedImages ? ImageCount() : kWimMaxListedImages;
  uint32_t elements = 0;
  for (size_t at = xmlText.find(L"<IMAGE"); at != std::wstring::npos && elements < limit;
       at = xmlText.find(L"<IMAGE", at + 6)) {
    wchar_t next = at + 6 < xmlText.size() ? xmlText[at + 6] : L'\0';
    if (next == L' ' || next == L'>' || next == L'\t' || next == L'\r' || next == L'\n') elements++;
  }
  return elements;
}
