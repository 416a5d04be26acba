// WimFileReader: a quick look at a WIM or ESD file without any back end.
//
// The reader takes the fixed header at the start of the file and the XML
// information resource the header points to, straight from the file, in two
// reads whatever the size of the file. The pages create a reader on the
// stack for one file, call Read, take what they need and drop the reader.
//
// The header layout (little-endian, all fields unsigned):
//
//   offset  width  field
//        0      8  image tag "MSWIM\0\0\0"
//        8      4  header size (208)
//       12      4  format version
//       16      4  header flags (compression bits below)
//       20      4  chunk size in bytes
//       24     16  file GUID
//       40      2  part number (1-based)
//       42      2  total number of parts
//       44      4  image count
//       48     24  resource header of the lookup table
//       72     24  resource header of the XML data
//       96     24  resource header of the boot metadata
//      120      4  boot image index (0 = none)
//      124     24  resource header of the integrity table
//      148     60  reserved
//
// A resource header is a 64-bit word of 7-byte compressed size and 1-byte
// flags, a 64-bit offset in the file and a 64-bit uncompressed size. The XML
// resource is always stored uncompressed as UTF-16 text.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/image_xml.h"

// Header flag bits.
constexpr uint32_t kWimHeaderCompressed = 0x00000002;
constexpr uint32_t kWimHeaderXpress = 0x00020000;
constexpr uint32_t kWimHeaderLzx = 0x00040000;
constexpr uint32_t kWimHeaderLzms = 0x00080000;
constexpr uint32_t kWimHeaderXpress2 = 0x00200000;  // a second XPRESS flag

// The 208-byte header and the 8 bytes after it.
constexpr size_t kWimHeaderBytes = 216;
constexpr size_t kWimHeaderMinimum = 208;

// The largest XML resource the reader accepts. Real files carry a few
// kilobytes per image; anything near this size is a damaged header, and
// reading it would only allocate a huge buffer.
constexpr uint64_t kWimMaxXmlBytes = 128u * 1024 * 1024;

// The most images a page lists for one file. A header count beyond the
// images a file can describe is damage; looping over it would hang.
constexpr uint32_t kWimMaxListedImages = 10000;

class WimFileReader {
 public:
  // Reads the header and the XML text of the file. True exactly when the
  // file starts with the WIM image tag; the XML text is filled on its own
  // terms (callers that need the images also test that it is not empty).
  //
  // A file that cannot be opened or is shorter than the header leaves the
  // header zeroed and the XML text empty and returns false. An XML resource
  // that does not lie wholly inside the file, or is absurdly large, leaves
  // the XML text empty. Nothing is ever read past the end of the file.
  bool Read(const std::wstring& path);
  // Reads the header alone (the XML text stays empty): for a caller that
  // only needs the header's facts of a file whose XML may be large.
  bool ReadHeader(const std::wstring& path);

  // The first 216 bytes of the file, zeroed before each Read.
  BYTE header[kWimHeaderBytes] = {};

  // The XML information in display form: every "><" broken into ">\r\n<"
  // and cut after the first "</WIM>" (a text without "</WIM>" keeps only
  // its first five characters). Starts with U+FEFF as stored.
  std::wstring xmlText;

  // The text of element openTag (such as "<NAME>") of image `index`, as
  // GetImageXmlValue gives it from xmlText. The text is prepared once by
  // Read, so a page may ask for every cell of every image.
  std::wstring ImageValue(int index, const wchar_t* openTag) const { return images_.Value(index, openTag); }
  // The prepared text itself, for a page that keeps it after the reader.
  const ImageXml& Images() const { return images_; }

  // Header facts, taken from `header`.
  bool HasImageTag() const;
  uint32_t HeaderSize() const { return U32(8); }
  uint32_t Version() const { return U32(12); }
  uint32_t MajorVersion() const { return Version() >> 16; }
  uint32_t MinorVersion() const { return (Version() >> 8) & 0xFF; }
  uint32_t Flags() const { return U32(16); }
  uint32_t ChunkSize() const { return U32(20); }
  GUID FileGuid() const;
  uint16_t PartNumber() const { return U16(40); }
  uint16_t TotalParts() const { return U16(42); }
  uint32_t ImageCount() const { return U32(44); }
  // The images a caller may list one by one: the header's count, but never
  // more than the XML text has IMAGE elements, nor kWimMaxListedImages.
  // Counted once by Read.
  uint32_t ListedImageCount() const { return listed_; }
  uint64_t XmlOffset() const { return U64(80); }
  uint64_t XmlSize() const { return U64(88); }
  uint32_t BootIndex() const { return U32(120); }

  // Compression type by the shared numbering (0 none, 1 XPRESS, 2 LZX,
  // 3 LZMS), from the header flags: the compressed bit clear gives 0, then
  // the XPRESS flags win over LZX, LZX over LZMS; no known bit gives 0.
  int CompressionType() const;

 private:
  // Read and ReadHeader: the header, then the XML text when asked for.
  bool ReadFrom(const std::wstring& path, bool withXml);
  uint16_t U16(size_t offset) const;
  uint32_t U32(size_t offset) const;
  uint64_t U64(size_t offset) const;
  void ReadXml(HANDLE file, uint64_t fileSize, uint64_t headerEnd);
  uint32_t CountListedImages() const;

  ImageXml images_;
  uint32_t listed_ = 0;
};
