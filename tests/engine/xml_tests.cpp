// The XML text forms: look-up of image values, the display form, the
// WIMGAPI rewrite of an image's editable elements, and split-part names.
#include <gtest/gtest.h>

#include "engine/image_xml.h"
#include "engine/split_parts.h"

namespace {

const wchar_t kTwoImages[] =
    L"\uFEFF<WIM>\r\n<TOTALBYTES>1</TOTALBYTES>\r\n<IMAGE INDEX=\"1\">\r\n<DIRCOUNT>2</DIRCOUNT>\r\n"
    L"<NAME>\u4e00</NAME>\r\n</IMAGE>\r\n<IMAGE INDEX=\"2\">\r\n<NAME> two &amp; more </NAME>\r\n"
    L"<DESCRIPTION>x</DESCRIPTION>\r\n</IMAGE>\r\n</WIM>";

TEST(ImageXml, ValueLookupStaysInsideItsImage) {
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 1, L"<NAME>"), L"\u4e00");
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 1, L"<DIRCOUNT>"), L"2");
  // Spaces stay; entities are decoded into what the user wrote.
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 2, L"<NAME>"), L" two & more ");
  // DESCRIPTION exists only in image 2: image 1 has none.
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 1, L"<DESCRIPTION>"), L"");
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 2, L"<DESCRIPTION>"), L"x");
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 3, L"<NAME>"), L"");
  EXPECT_EQ(GetImageXmlValue(kTwoImages, 0, L"<NAME>"), L"");
  EXPECT_EQ(GetImageXmlValue(L"", 1, L"<NAME>"), L"");
}

TEST(ImageXml, ValueLookupEdgeCases) {
  // Image 10 is not image 1.
  EXPECT_EQ(GetImageXmlValue(L"<WIM><IMAGE INDEX=\"10\"><NAME>ten</NAME></IMAGE></WIM>", 1, L"<NAME>"), L"");
  EXPECT_EQ(GetImageXmlValue(L"<WIM><IMAGE INDEX=\"10\"><NAME>ten</NAME></IMAGE></WIM>", 10, L"<NAME>"), L"ten");
  // No closing "</IMAGE>" or no "<" after the value: nothing.
  EXPECT_EQ(GetImageXmlValue(L"<IMAGE INDEX=\"1\"><NAME>abc</NAME>", 1, L"<NAME>"), L"");
  EXPECT_EQ(GetImageXmlValue(L"<IMAGE INDEX=\"1\"></IMAGE><NAME>abc", 1, L"<NAME>"), L"");
  // Raw text without line breaks works the same.
  EXPECT_EQ(GetImageXmlValue(L"<WIM><IMAGE INDEX=\"1\"><FLAGS>Pro</FLAGS></IMAGE></WIM>", 1, L"<FLAGS>"), L"Pro");
}

TEST(ImageXml, DisplayForm) {
  EXPECT_EQ(XmlDisplayForm(L"\uFEFF<WIM><IMAGE INDEX=\"1\"><NAME>a</NAME></IMAGE></WIM>junk<X>"),
            L"\uFEFF<WIM>\r\n<IMAGE INDEX=\"1\">\r\n<NAME>a</NAME>\r\n</IMAGE>\r\n</WIM>");
  EXPECT_EQ(XmlDisplayForm(L"<A><B>x</B>"), L"<A>\r\n<B>x</B>");
  EXPECT_EQ(XmlDisplayForm(L""), L"");
  const wchar_t bytes[] = L"<WIM></WIM>\0rest";
  EXPECT_EQ(XmlTextFromBytes(bytes, sizeof bytes), L"<WIM></WIM>");
  EXPECT_EQ(XmlTextFromBytes(L"<WIM>", 5), L"<W");  // an odd byte is dropped
  EXPECT_EQ(XmlTextFromBytes(nullptr, 10), L"");
}

TEST(ImageXml, RewriteReplacesEditableElementsInOrder) {
  std::wstring xml =
      L"\uFEFF<IMAGE INDEX=\"2\"><DIRCOUNT>3</DIRCOUNT><NAME>old</NAME><FILECOUNT>5</FILECOUNT>"
      L"<DESCRIPTION>d</DESCRIPTION><DISPLAYNAME>dn</DISPLAYNAME></IMAGE>";
  ImageInfo info;
  info.name = L"\u65b0\u540d\u5b57";
  info.flags = L"Professional";
  info.displayDescription = L"a<b>&c";  // markup characters go in escaped
  ASSERT_TRUE(RewriteImageXml(xml, 2, info));
  EXPECT_EQ(xml,
            L"\uFEFF<IMAGE INDEX=\"2\"><DIRCOUNT>3</DIRCOUNT><FILECOUNT>5</FILECOUNT>"
            L"\n<NAME>\u65b0\u540d\u5b57</NAME>\n<DISPLAYDESCRIPTION>a&lt;b&gt;&amp;c</DISPLAYDESCRIPTION>"
            L"\n<FLAGS>Professional</FLAGS>\n</IMAGE>");
  EXPECT_EQ(GetImageXmlValue(xml, 2, L"<DISPLAYDESCRIPTION>"), L"a<b>&c");

  // All fields empty: every editable element goes, one line feed stays.
  std::wstring plain = L"\uFEFF<IMAGE INDEX=\"1\"><NAME>n</NAME><FLAGS>f</FLAGS><TOTALBYTES>9</TOTALBYTES></IMAGE>";
  ASSERT_TRUE(RewriteImageXml(plain, 1, ImageInfo()));
  EXPECT_EQ(plain, L"\uFEFF<IMAGE INDEX=\"1\"><TOTALBYTES>9</TOTALBYTES>\n</IMAGE>");

  ImageInfo all;
  all.name = L"N";
  all.description = L"D";
  all.displayName = L"DN";
  all.displayDescription = L"DD";
  all.flags = L"F";
  EXPECT_EQ(ImageInfoFragment(all),
            L"\n<NAME>N</NAME>\n<DESCRIPTION>D</DESCRIPTION>\n<DISPLAYNAME>DN</DISPLAYNAME>"
            L"\n<DISPLAYDESCRIPTION>DD</DISPLAYDESCRIPTION>\n<FLAGS>F</FLAGS>\n");
}

TEST(ImageXml, RewriteNeverTouchesAnotherImage) {
  std::wstring xml =
      L"<WIM><IMAGE INDEX=\"1\"><DIRCOUNT>1</DIRCOUNT></IMAGE>"
      L"<IMAGE INDEX=\"2\"><NAME>keep</NAME><DESCRIPTION>me</DESCRIPTION></IMAGE></WIM>";
  ImageInfo info;
  info.name = L"one";
  ASSERT_TRUE(RewriteImageXml(xml, 1, info));
  EXPECT_EQ(xml,
            L"<WIM><IMAGE INDEX=\"1\"><DIRCOUNT>1</DIRCOUNT>\n<NAME>one</NAME>\n</IMAGE>"
            L"<IMAGE INDEX=\"2\"><NAME>keep</NAME><DESCRIPTION>me</DESCRIPTION></IMAGE></WIM>");

  // No element for the index, or one that never closes: left alone.
  std::wstring before = xml;
  EXPECT_FALSE(RewriteImageXml(xml, 3, info));
  EXPECT_EQ(xml, before);
  std::wstring open = L"<IMAGE INDEX=\"1\"><NAME>x</NAME>";
  EXPECT_FALSE(RewriteImageXml(open, 1, info));
  EXPECT_EQ(open, L"<IMAGE INDEX=\"1\"><NAME>x</NAME>");
  // A closing tag before its opening tag is not an element.
  std::wstring odd = L"<IMAGE INDEX=\"1\"></NAME><NAME>x</IMAGE>";
  ASSERT_TRUE(RewriteImageXml(odd, 1, ImageInfo()));
  EXPECT_EQ(odd, L"<IMAGE INDEX=\"1\"></NAME><NAME>x\n</IMAGE>");
}

TEST(ImageXml, EscapingAndDecodingAreExactInverses) {
  EXPECT_EQ(EscapeXmlText(L"A & B <1> \"q\" 'a'"), L"A &amp; B &lt;1&gt; \"q\" 'a'");
  EXPECT_EQ(EscapeXmlText(L""), L"");
  EXPECT_EQ(DecodeXmlText(L"&lt;&gt;&amp;&quot;&apos;"), L"<>&\"'");
  EXPECT_EQ(DecodeXmlText(L"&#65;&#x4e2d;&#x1F600;&#20013;"), L"A\u4e2d\U0001F600\u4e2d");
  // What is no reference stays as it is.
  EXPECT_EQ(DecodeXmlText(L"R&D &nbsp; &#; &#x; &#xD800; &#0; &#1a; & ;&amp"), L"R&D &nbsp; &#; &#x; &#xD800; &#0; &#1a; & ;&amp");
  EXPECT_EQ(DecodeXmlText(L"&amp;amp;"), L"&amp;") << "decoded once";
  for (const wchar_t* text : {L"a&b", L"&amp;", L"<NAME>", L"x > y & \U00020000", L"&#65;"})
    EXPECT_EQ(DecodeXmlText(EscapeXmlText(text)), text);
}

TEST(SplitParts, NamesAndGlob) {
  // Further parts keep the first part's extension: "set.swm" goes on with
  // "set2.swm", not "set2.WIM".
  EXPECT_EQ(SplitPartPath(L"C:\\x\\install.wim", 2), L"C:\\x\\install2.wim");
  EXPECT_EQ(SplitPartPath(L"C:\\x\\a.swm", 12), L"C:\\x\\a12.swm");
  EXPECT_EQ(SplitPartPath(L"C:\\x\\a.SWM", 3), L"C:\\x\\a3.SWM");
  EXPECT_EQ(SplitPartPath(L"ab", 2), L"2.WIM");
  EXPECT_EQ(SplitPartPath(L"C:\\x\\image", 2), L"C:\\x\\i2.WIM");
  EXPECT_EQ(SplitPartGlob(L"C:\\x\\install.wim"), L"C:\\x\\install*.wim");
  EXPECT_EQ(SplitPartGlob(L"C:\\x\\in.stall.swm"), L"C:\\x\\in.stall*.swm");
  // A dot in a folder name is not the file's extension.
  EXPECT_EQ(SplitPartGlob(L"D:\\my.folder\\install"), L"D:\\my.folder\\install*.WIM");
  EXPECT_EQ(SplitPartGlob(L"D:\\my.folder/install"), L"D:\\my.folder/install*.WIM");
  EXPECT_EQ(SplitPartGlob(L"install"), L"install*.WIM");
  EXPECT_EQ(SplitPartGlob(L"D:install.WIM"), L"D:install*.WIM");
  // Never cut, however long.
  std::wstring longBase = L"C:\\" + std::wstring(300, L'a') + L"\\" + std::wstring(100, L'b');
  EXPECT_EQ(SplitPartGlob(longBase + L".wim"), longBase + L"*.wim");
}

}  // namespace
