// WimFileReader on WIM files made by wimlib-imagex, checked against
// "wimlib-imagex info --header" and "--xml", and on damaged files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>

#include "engine/wim_file_reader.h"
#include "files_test_util.h"

namespace {

using HeaderFacts = std::map<std::string, std::string>;

// "Name   = value" lines of "wimlib-imagex info --header".
HeaderFacts ParseHeaderInfo(const std::string& output) {
  HeaderFacts facts;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    start = end + 1;
    size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, line.find_last_not_of(' ', eq) + 1);
    facts[key] = line.substr(eq + 3);
  }
  return facts;
}

uint64_t Number(const HeaderFacts& facts, const char* key) {
  auto it = facts.find(key);
  if (it == facts.end()) {
    ADD_FAILURE() << "no \"" << key << "\" in the header listing";
    return 0;
  }
  return std::stoull(it->second, nullptr, 0);
}

// The registry form of a GUID whose 16 bytes are listed in file order.
std::wstring RegistryGuid(const std::string& hex) {
  std::string h;
  for (char c : hex) h += static_cast<char>(toupper(c));
  auto pair = [&](int byte) { return h.substr(byte * 2, 2); };
  std::string s = "{" + pair(3) + pair(2) + pair(1) + pair(0) + "-" + pair(5) + pair(4) + "-" + pair(7) + pair(6) +
                  "-" + h.substr(16, 4) + "-" + h.substr(20, 12) + "}";
  return qtest::Wide(s);
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return text;
}

std::wstring Utf16Bytes(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  if (!text.empty()) memcpy(&text[0], bytes.data(), text.size() * 2);
  return text;
}

std::string BytesOf(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void Put32(std::string& b, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<char>(v >> (8 * i));
}
void Put64(std::string& b, size_t offset, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[offset + i] = static_cast<char>(v >> (8 * i));
}

// A 216-byte header with the image tag and the XML resource at offset/size.
std::string MakeHeader(uint64_t xmlOffset, uint64_t xmlSize) {
  std::string h(kWimHeaderBytes, '\0');
  h.replace(0, 8, std::string("MSWIM\0\0\0", 8));
  Put32(h, 8, 208);
  Put32(h, 44, 1);
  Put64(h, 80, xmlOffset);
  Put64(h, 88, xmlSize);
  return h;
}

class WimFileReaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::wstring(qtest::TempDir());
    qtest::MakeSampleTree(*dir_ + L"\\src");
    std::string d = qtest::ShQuote(qtest::UnixPath(*dir_));
    std::string script = "set -e; cd " + d +
                         "; W=wimlib-imagex"
                         "; $W capture src none.wim '\xE4\xB8\x80' --compress=none >/dev/null"
                         "; $W capture src xpress.wim x --compress=XPRESS --check >/dev/null"
                         "; $W capture src lzx.wim '\xE4\xB8\x80' --compress=LZX >/dev/null"
                         "; $W append src lzx.wim '\xE4\xBA\x8C' --boot >/dev/null"
                         "; $W append src lzx.wim three >/dev/null"
                         "; $W capture src solid.esd e --solid >/dev/null"
                         "; $W split none.wim part.swm 0.1 >/dev/null"
                         "; for f in none.wim xpress.wim lzx.wim solid.esd part.swm part2.swm; do"
                         "   $W info --header $f > $f.header; $W info --xml $f > $f.xml; done";
    qtest::UnixResult r = qtest::RunUnix(script);
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::wstring Path(const std::wstring& name) { return *dir_ + L"\\" + name; }
  static HeaderFacts Oracle(const std::wstring& name) {
    return ParseHeaderInfo(qtest::ReadFileBytes(Path(name + L".header")));
  }
  static std::wstring OracleXml(const std::wstring& name) {
    return Utf16Bytes(qtest::ReadFileBytes(Path(name + L".xml")));
  }

  // Compares every fact the reader exposes with wimlib-imagex's listing.
  static void ExpectFactsOf(const std::wstring& name, int compression) {
    SCOPED_TRACE(qtest::Utf8(name));
    WimFileReader reader;
    ASSERT_TRUE(reader.Read(Path(name)));
    HeaderFacts facts = Oracle(name);
    ASSERT_FALSE(facts.empty());
    EXPECT_EQ(facts["Magic Characters"], "MSWIM\\0\\0\\0");
    EXPECT_EQ(reader.HeaderSize(), Number(facts, "Header Size"));
    EXPECT_EQ(reader.Version(), Number(facts, "Version"));
    EXPECT_EQ(reader.Flags(), Number(facts, "Flags"));
    EXPECT_EQ(reader.ChunkSize(), Number(facts, "Chunk Size"));
    EXPECT_EQ(GuidText(reader.FileGuid()), RegistryGuid(facts["GUID"]));
    EXPECT_EQ(reader.PartNumber(), Number(facts, "Part Number"));
    EXPECT_EQ(reader.TotalParts(), Number(facts, "Total Parts"));
    EXPECT_EQ(reader.ImageCount(), Number(facts, "Image Count"));
    EXPECT_EQ(reader.BootIndex(), Number(facts, "Boot Index"));
    EXPECT_EQ(reader.XmlOffset(), Number(facts, "XML Data Offset"));
    EXPECT_EQ(reader.XmlSize(), Number(facts, "XML Data Original Size"));
    EXPECT_EQ(reader.CompressionType(), compression);

    // The display form is the stored XML with a line break between
    // elements and nothing after "</WIM>".
    std::wstring xml = OracleXml(name);
    ASSERT_GE(xml.size(), 6u);
    xml.resize(xml.find(L"</WIM>") + 6);
    std::wstring joined = reader.xmlText;
    for (size_t p; (p = joined.find(L">\r\n<")) != std::wstring::npos;) joined.erase(p + 1, 2);
    EXPECT_EQ(joined, xml);
    EXPECT_EQ(reader.xmlText.find(L"><"), std::wstring::npos);
    EXPECT_EQ(reader.xmlText.compare(0, 8, L"\uFEFF<WIM>\r\n"), 0);
  }

  static std::string Bytes(const std::wstring& name) { return qtest::ReadFileBytes(Path(name)); }

  // Reads a damaged copy of a file made from `bytes`.
  static WimFileReader ReadBytes(const std::string& bytes, bool* result = nullptr) {
    std::wstring path = qtest::TempDir() + L"\\damaged.wim";
    EXPECT_TRUE(qtest::WriteFileBytes(path, bytes));
    WimFileReader reader;
    bool ok = reader.Read(path);
    if (result) *result = ok;
    return reader;
  }

  static std::wstring* dir_;
};

std::wstring* WimFileReaderTest::dir_ = nullptr;

TEST_F(WimFileReaderTest, HeaderFactsMatchWimlibForEveryCompression) {
  ExpectFactsOf(L"none.wim", 0);
  ExpectFactsOf(L"xpress.wim", 1);  // with an integrity table after the XML
  ExpectFactsOf(L"lzx.wim", 2);
  ExpectFactsOf(L"solid.esd", 3);
}

TEST_F(WimFileReaderTest, ThreeImagesWithBootIndexAndChineseNames) {
  WimFileReader reader;
  ASSERT_TRUE(reader.Read(Path(L"lzx.wim")));
  EXPECT_EQ(reader.ImageCount(), 3u);
  EXPECT_EQ(reader.BootIndex(), 2u);
  EXPECT_EQ(reader.MajorVersion(), 1u);
  EXPECT_EQ(reader.MinorVersion(), 13u);
  size_t last = 0;
  for (const wchar_t* image :
       {L"\r\n<IMAGE INDEX=\"1\">\r\n<", L"\r\n<IMAGE INDEX=\"2\">\r\n<", L"\r\n<IMAGE INDEX=\"3\">\r\n<"}) {
    size_t at = reader.xmlText.find(image);
    ASSERT_NE(at, std::wstring::npos) << qtest::Utf8(image);
    EXPECT_GT(at, last);
    last = at;
  }
  EXPECT_NE(reader.xmlText.find(L"<NAME>\u4E00</NAME>"), std::wstring::npos);
  EXPECT_NE(reader.xmlText.find(L"<NAME>\u4E8C</NAME>"), std::wstring::npos);
}

TEST_F(WimFileReaderTest, PartsOfASplitSet) {
  ExpectFactsOf(L"part.swm", 0);
  ExpectFactsOf(L"part2.swm", 0);
  WimFileReader reader;
  ASSERT_TRUE(reader.Read(Path(L"part2.swm")));
  EXPECT_EQ(reader.PartNumber(), 2);
  EXPECT_GE(reader.TotalParts(), 2);
}

TEST_F(WimFileReaderTest, FilesThatAreNotWims) {
  std::wstring dir = qtest::TempDir();
  struct {
    const wchar_t* name;
    std::string bytes;
  } files[] = {
      {L"text.wim", std::string(1000, 'x') + "\r\nsome text that happens to be named .wim\r\n"},
      {L"empty.wim", ""},
      {L"short.wim", std::string("MSWIM\0\0\0", 8) + std::string(92, '\x01')},
      {L"binary.wim", std::string(300000, '\xFF')},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(qtest::Utf8(f.name));
    ASSERT_TRUE(qtest::WriteFileBytes(dir + L"\\" + f.name, f.bytes));
    WimFileReader reader;
    EXPECT_FALSE(reader.Read(dir + L"\\" + f.name));
    EXPECT_TRUE(reader.xmlText.empty());
  }
  WimFileReader reader;
  EXPECT_FALSE(reader.Read(dir + L"\\short.wim"));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reader.header), sizeof reader.header),
            std::string(kWimHeaderBytes, '\0'))
      << "a file shorter than the header leaves the header zeroed";
}

TEST_F(WimFileReaderTest, MissingFoldersAndLockedFiles) {
  WimFileReader reader;
  ASSERT_TRUE(reader.Read(Path(L"none.wim")));
  EXPECT_FALSE(reader.Read(Path(L"no such file.wim")));
  EXPECT_EQ(reader.ImageCount(), 0u);
  EXPECT_FALSE(reader.HasImageTag());
  EXPECT_TRUE(reader.xmlText.empty()) << "a failed read leaves nothing of the previous file";
  EXPECT_FALSE(reader.Read(*dir_));

  std::wstring copy = qtest::TempDir() + L"\\locked.wim";
  ASSERT_TRUE(CopyFileW(Path(L"none.wim").c_str(), copy.c_str(), FALSE));
  HANDLE lock = CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(reader.Read(copy));
  EXPECT_EQ(reader.ImageCount(), 0u);
  EXPECT_TRUE(reader.xmlText.empty());
  CloseHandle(lock);

  // Open for writing by someone else, but shared: readable.
  HANDLE shared = CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(reader.Read(copy));
  EXPECT_FALSE(reader.xmlText.empty());
  CloseHandle(shared);
}

TEST_F(WimFileReaderTest, TruncatedWims) {
  std::string wim = Bytes(L"none.wim");
  WimFileReader good;
  ASSERT_TRUE(good.Read(Path(L"none.wim")));
  size_t xmlEnd = static_cast<size_t>(good.XmlOffset() + good.XmlSize());
  ASSERT_EQ(xmlEnd, wim.size());

  struct {
    size_t length;
    bool result;
  } cuts[] = {{0, false},  {100, false},           {207, false},      {208, true},
              {216, true}, {wim.size() / 2, true}, {xmlEnd - 1, true}};
  for (const auto& c : cuts) {
    SCOPED_TRACE(c.length);
    bool result = !c.result;
    WimFileReader r = ReadBytes(wim.substr(0, c.length), &result);
    EXPECT_EQ(result, c.result);
    EXPECT_TRUE(r.xmlText.empty());
    if (c.result) EXPECT_EQ(r.ImageCount(), good.ImageCount());
  }
}

// Pages list images one by one: a damaged count must not make them loop
// beyond the images the XML describes.
TEST_F(WimFileReaderTest, ListedImagesNeverExceedTheXmlImages) {
  std::string wim = Bytes(L"lzx.wim");
  for (uint32_t count : {0xFFFFFFFFu, 3u, 1u, 0u}) {
    std::string damaged = wim;
    Put32(damaged, 44, count);
    bool result = false;
    WimFileReader r = ReadBytes(damaged, &result);
    ASSERT_TRUE(result);
    EXPECT_EQ(r.ListedImageCount(), count < 3 ? count : 3u) << count;
  }
  std::string noXml = wim;
  Put64(noXml, 88, 0);
  Put32(noXml, 44, 0xFFFFFFFFu);
  bool result = false;
  EXPECT_EQ(ReadBytes(noXml, &result).ListedImageCount(), 0u);
}

TEST_F(WimFileReaderTest, CorruptedXmlLocations) {
  std::string wim = Bytes(L"none.wim");
  const uint64_t size = wim.size();
  struct {
    const char* what;
    uint64_t offset;
    uint64_t length;
  } cases[] = {
      {"size near 4 GiB", 0x1000, 0xFFFFFFF0ull},
      {"size of 4 GiB and a little (low 32 bits small)", 0x1000, 0x100000010ull},
      {"size of all 64 bits", 0x1000, ~0ull},
      {"offset past the end", size + 10, 16},
      {"offset at the very end", size, 2},
      {"offset of all 64 bits", ~0ull, 16},
      {"offset and size adding past 2^64", ~0ull - 8, 64},
      {"resource running past the end", size - 10, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string damaged = wim;
    Put64(damaged, 80, c.offset);
    Put64(damaged, 88, c.length);
    bool result = false;
    WimFileReader r = ReadBytes(damaged, &result);
    EXPECT_TRUE(result) << "the header is still a WIM header";
    EXPECT_TRUE(r.xmlText.empty());
  }

  // Pointing into binary data: whatever text that makes, never past five
  // characters without a "</WIM>".
  std::string damaged = wim;
  Put64(damaged, 80, 208);
  Put64(damaged, 88, 4096);
  WimFileReader r = ReadBytes(damaged);
  EXPECT_LE(r.xmlText.size(), 5u);

  // A wrong tag: false, but the XML is still read as the header says.
  damaged = wim;
  damaged[3] = 'X';
  bool result = true;
  r = ReadBytes(damaged, &result);
  EXPECT_FALSE(result);
  EXPECT_FALSE(r.xmlText.empty());
}

TEST_F(WimFileReaderTest, DisplayFormOfHandMadeXml) {
  auto fileWithXml = [](const std::wstring& xml, uint64_t sizeDelta = 0) {
    std::string bytes = BytesOf(xml);
    return MakeHeader(kWimHeaderBytes, bytes.size() + sizeDelta) + bytes;
  };
  const std::wstring xml = L"\uFEFF<WIM><TOTALBYTES>5</TOTALBYTES><IMAGE INDEX=\"1\"><NAME>a b</NAME></IMAGE></WIM>";
  const std::wstring shown =
      L"\uFEFF<WIM>\r\n<TOTALBYTES>5</TOTALBYTES>\r\n<IMAGE INDEX=\"1\">\r\n<NAME>a b</NAME>\r\n</IMAGE>\r\n</WIM>";

  EXPECT_EQ(ReadBytes(fileWithXml(xml)).xmlText, shown);
  // Anything after "</WIM>" is cut.
  EXPECT_EQ(ReadBytes(fileWithXml(xml + L"<WIM>junk</WIM>")).xmlText, shown);
  // The text ends at the first zero unit.
  EXPECT_EQ(ReadBytes(fileWithXml(xml + std::wstring(1, L'\0') + L"more")).xmlText, shown);
  // Without "</WIM>" only the first five characters stay.
  EXPECT_EQ(ReadBytes(fileWithXml(L"\uFEFF<WIM><IMAGE INDEX=\"1\"></IMAGE>")).xmlText, L"\uFEFF<WIM");
  EXPECT_EQ(ReadBytes(fileWithXml(L"<WI")).xmlText, L"<WI");
  // An odd byte count leaves half a unit, which reads as far as it goes.
  EXPECT_EQ(ReadBytes(fileWithXml(xml + L"!", static_cast<uint64_t>(-1))).xmlText, shown);
  // An empty resource gives an empty text.
  EXPECT_EQ(ReadBytes(fileWithXml(L"")).xmlText, L"");

  // An offset of 0 reads on from the end of the header bytes.
  std::string zeroOffset = MakeHeader(0, xml.size() * 2) + BytesOf(xml);
  EXPECT_EQ(ReadBytes(zeroOffset).xmlText, shown);
}

TEST_F(WimFileReaderTest, XmlFarIntoAHugeFileIsReadDirectly) {
  // A sparse file of 6 GiB whose XML sits beyond 4 GiB: the reader seeks
  // there with the full 64-bit offset and reads only the two pieces.
  const uint64_t offset = 6ull << 30;
  const std::wstring xml = L"\uFEFF<WIM><IMAGE INDEX=\"1\"></IMAGE></WIM>";
  std::wstring path = qtest::TempDir() + L"\\huge.wim";
  {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    std::string header = MakeHeader(offset, xml.size() * 2);
    WriteFile(h, header.data(), static_cast<DWORD>(header.size()), &done, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
    std::string body = BytesOf(xml);
    ASSERT_TRUE(WriteFile(h, body.data(), static_cast<DWORD>(body.size()), &done, nullptr));
    CloseHandle(h);
  }
  WimFileReader reader;
  EXPECT_TRUE(reader.Read(path));
  EXPECT_EQ(reader.xmlText, L"\uFEFF<WIM>\r\n<IMAGE INDEX=\"1\">\r\n</IMAGE>\r\n</WIM>");
  DeleteFileW(path.c_str());
}

}  // namespace
