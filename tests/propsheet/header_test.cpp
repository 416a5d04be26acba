// Formatting of the header values and the row labels, on made-up headers
// that real files rarely carry.
#include <windows.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "resource.h"
#include "tessel_test_util.h"
#include "wim_header.h"

namespace {

struct Header {
  BYTE bytes[tessel::kHeaderReadSize] = {};
  void Put32(size_t off, DWORD v) {
    for (int i = 0; i < 4; ++i) bytes[off + i] = BYTE(v >> (8 * i));
  }
  void Put16(size_t off, WORD v) {
    bytes[off] = BYTE(v);
    bytes[off + 1] = BYTE(v >> 8);
  }
};

std::wstring Compression(DWORD flags) {
  Header h;
  h.Put32(16, flags);
  return tessel::FormatHeaderValues(h.bytes)[3];
}

}  // namespace

TEST(propsheetHeader, CompressionText) {
  EXPECT_EQ(L"None", Compression(0));
  EXPECT_EQ(L"None", Compression(0x00020000 | 0x00040000 | 0x80)) << "uncompressed whatever the other bits";
  EXPECT_EQ(L"Xpress", Compression(0x00020002));
  EXPECT_EQ(L"LZX", Compression(0x00040002));
  EXPECT_EQ(L"XpressLZX", Compression(0x00060002));
  EXPECT_EQ(L"LZMS", Compression(0x00080002)) << "an LZMS file says so";
  EXPECT_EQ(L"", Compression(0x00200002)) << "the second XPRESS bit is not tested";
}

TEST(propsheetHeader, VersionGuidCountsAndParts) {
  Header h;
  h.Put32(12, 0x00010D00);
  const BYTE guid[16] = {0x3e, 0xfb, 0x35, 0xed, 0xe4, 0xba, 0x54, 0x36,
                         0xda, 0xea, 0xdc, 0x59, 0xa8, 0x2c, 0xa2, 0x3d};
  memcpy(h.bytes + 24, guid, 16);
  h.Put16(40, 7);
  h.Put16(42, 65535);
  h.Put32(44, 0xFFFFFFFF);
  h.Put32(120, 3);
  std::vector<std::wstring> v = tessel::FormatHeaderValues(h.bytes);
  ASSERT_EQ(6u, v.size());
  EXPECT_EQ(L"1.13", v[0]);
  EXPECT_EQ(L"{ED35FB3E-BAE4-3654-DAEA-DC59A82CA23D}", v[1]);
  EXPECT_EQ(L"4294967295", v[2]) << "an unsigned count";
  EXPECT_EQ(L"7/65535", v[4]);
  EXPECT_EQ(L"3", v[5]);

  h.Put32(12, 0xFFFF0E11);
  EXPECT_EQ(L"65535.14", tessel::FormatHeaderValues(h.bytes)[0]) << "bits 0-7 are not part of the version";
}

TEST(propsheetHeader, LabelsFromTheStringResource) {
  wchar_t text[256] = {};
  ASSERT_GT(LoadStringW(tesseltest::Dll().module, IDS_ROW_LABELS, text, 256), 0);
  std::vector<std::wstring> labels = tessel::SplitRowLabels(text, tessel::kRowCount);
  ASSERT_EQ(6u, labels.size());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tesseltest::kLabels[i], labels[i]);

  // Fewer labels than rows: the missing ones are empty.
  std::vector<std::wstring> few = tessel::SplitRowLabels(L"A:B", 4);
  EXPECT_EQ((std::vector<std::wstring>{L"A:", L"B", L"", L""}), few);
}
