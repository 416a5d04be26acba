// A file that claims 10,000 images and carries an XML text of tens of
// megabytes (a real WIM of wimlib-imagex whose XML resource was rewritten):
// the apply, delete, merge and information pages list every image of it
// within a bound that is a hang guard, stated with room for a loaded
// two-core machine, not a measurement.
#include "look_fixture.h"

#include <cstdio>
#include <cstdint>
#include <cstring>

#include "engine/image_xml.h"
#include "pages/page_advanced.h"
#include "resources/resource.h"

namespace {
using namespace look;
using qtest::WaitUntil;

constexpr int kImages = 10000;
// A user waits at most a couple of seconds for such a file to be listed;
// the bound is ten times that, for a loaded machine, and still catches a
// list that grows slower with every row.
constexpr ULONGLONG kListBoundMs = 20000;

uint64_t Get64(const std::string& b, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}
void Put64(std::string& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// Rewrites the XML resource of `wim` (one image made by wimlib-imagex) so
// that it describes `count` images named "Image n", each with a long
// description and image 1's other elements, and sets the header's image
// count to match. The new text goes after the file's data, where the header
// then points.
bool MakeManyImageXml(const std::wstring& wim, int count) {
  std::string bytes = qtest::ReadFileBytes(wim);
  if (bytes.size() < 216) return false;
  const uint64_t word = Get64(bytes, 72), offset = Get64(bytes, 80), size = Get64(bytes, 88);
  if (offset + size > bytes.size() || size % 2) return false;
  std::wstring xml(size / 2, L'\0');
  memcpy(&xml[0], bytes.data() + offset, size);
  const std::wstring open = L"<IMAGE INDEX=\"1\">", close = L"</IMAGE>";
  size_t s = xml.find(open), e = xml.find(close, s);
  if (s == std::wstring::npos || e == std::wstring::npos) return false;
  std::wstring body = xml.substr(s + open.size(), e - s - open.size());
  size_t a = body.find(L"<NAME>"), b = body.find(L"</NAME>");
  if (a == std::wstring::npos || b == std::wstring::npos) return false;
  body.erase(a, b + 7 - a);
  std::wstring pad = L"<DESCRIPTION>";
  for (int i = 0; i < 150; i++) pad += L"pad ";
  pad += L"</DESCRIPTION>";
  std::wstring images;
  for (int n = 1; n <= count; n++)
    images += L"<IMAGE INDEX=\"" + std::to_wstring(n) + L"\"><NAME>Image " + std::to_wstring(n) + L"</NAME>" + pad +
              body + close;
  std::wstring text = xml.substr(0, s) + images + xml.substr(e + close.size());
  const uint64_t newSize = text.size() * 2;
  Put64(bytes, 72, (word & ~((1ull << 56) - 1)) | newSize);
  Put64(bytes, 80, bytes.size());
  Put64(bytes, 88, newSize);
  for (int i = 0; i < 4; ++i) bytes[44 + i] = static_cast<char>(static_cast<uint32_t>(count) >> (8 * i));
  bytes.append(reinterpret_cast<const char*>(text.data()), newSize);
  return qtest::WriteFileBytes(wim, bytes);
}

class HugeXmlTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    std::wstring dir = qtest::TempDir();
    ASSERT_TRUE(qtest::MakeDirs(dir + L"\\src"));
    qtest::MakeSampleTree(dir + L"\\src");
    wim_ = dir + L"\\many.wim";
    ASSERT_TRUE(Capture(dir + L"\\src", wim_, "Image 1"));
    ASSERT_TRUE(MakeManyImageXml(wim_, kImages));
    ASSERT_GT(qtest::ReadFileBytes(wim_).size(), 16u * 1000 * 1000);  // a large XML text
  }
  // Jumps to the page with the file and waits for its list to hold `rows`
  // rows; the time that took, in ms.
  ULONGLONG ListIn(UINT jump, HWND list, int rows) {
    ULONGLONG start = GetTickCount64();
    dialog_->JumpTo(jump, wim_);
    EXPECT_TRUE(WaitUntil([&] { return ListView_GetItemCount(list) >= rows; }, 300000))
        << ListView_GetItemCount(list);
    ULONGLONG took = GetTickCount64() - start;
    std::printf("listed %d rows in %llu ms\n", rows, took);
    return took;
  }
  std::wstring wim_;
};

TEST_F(HugeXmlTest, TheApplyPageListsEveryImage) {
  HWND apply = dialog_->applyPage().Item(IDC_APPLY_LIST);
  EXPECT_LT(ListIn(ID_JUMP_APPLY, apply, kImages), kListBoundMs);
  ASSERT_EQ(ListView_GetItemCount(apply), kImages);
  EXPECT_EQ(Cell(apply, 0, 5), L"Image 1");
  EXPECT_EQ(Cell(apply, kImages - 1, 1), L"10000");
  EXPECT_EQ(Cell(apply, kImages - 1, 5), L"Image 10000");
  EXPECT_EQ(Cell(apply, kImages - 1, 6).compare(0, 8, L"pad pad "), 0);
}

TEST_F(HugeXmlTest, TheDeletePageListsEveryImage) {
  HWND del = dialog_->advancedPage().deletePage().Item(IDC_DELETE_LIST);
  EXPECT_LT(ListIn(ID_JUMP_DELETE, del, kImages), kListBoundMs);
  ASSERT_EQ(ListView_GetItemCount(del), kImages);
  EXPECT_EQ(Cell(del, kImages - 1, 5), L"Image 10000");
  EXPECT_EQ(Cell(del, 4999, 5), L"Image 5000");
}

TEST_F(HugeXmlTest, TheMergePageListsEveryImage) {
  HWND merge = dialog_->advancedPage().mergePage().Item(IDC_MERGE_LIST);
  EXPECT_LT(ListIn(ID_JUMP_MERGE, merge, kImages), kListBoundMs);
  ASSERT_EQ(ListView_GetItemCount(merge), kImages);
  EXPECT_EQ(Cell(merge, kImages - 1, 6), L"Image 10000");
}

// The file's facts, then a heading and its values for every image.
TEST_F(HugeXmlTest, TheInformationPageListsEveryImage) {
  HWND info = dialog_->infoPage().Item(IDC_INFO_LIST);
  EXPECT_LT(ListIn(ID_JUMP_INFO, info, kImages * 3), kListBoundMs);
  const int rows = ListView_GetItemCount(info);
  int last = -1;
  for (int r = rows - 1; r >= 0 && last < 0; r--)
    if (Cell(info, r, 0) == L"卷号 10000") last = r;
  ASSERT_GE(last, 0);
  EXPECT_EQ(Cell(info, last + 1, 0), L"名称: Image 10000");
}

// A damaged text whose first image lacks its "</IMAGE>": a value that image
// does not have is not taken from the image after it.
TEST(ImageXmlTest, AnImageWithoutItsEndTakesNoValueOfTheNext) {
  const std::wstring xml = L"<WIM><IMAGE INDEX=\"1\"><FLAGS>x</FLAGS><IMAGE INDEX=\"2\"><NAME>b</NAME></IMAGE></WIM>";
  EXPECT_EQ(GetImageXmlValue(xml, 1, L"<NAME>"), L"");
  EXPECT_EQ(GetImageXmlValue(xml, 1, L"<FLAGS>"), L"x");
  EXPECT_EQ(GetImageXmlValue(xml, 2, L"<NAME>"), L"b");
  ImageXml prepared(xml);
  EXPECT_EQ(prepared.Value(2, L"<NAME>"), L"b");
  EXPECT_EQ(prepared.Value(1, L"<NAME>"), L"");
  // "01" is not the way image 1 is written.
  EXPECT_EQ(ImageXml(L"<IMAGE INDEX=\"01\"><NAME>a</NAME></IMAGE>").Value(1, L"<NAME>"), L"");
}

}  // namespace
