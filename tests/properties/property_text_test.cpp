// The image XML that the WIMGAPI save hands back to the library: the
// properties the user changed are changed in the text, and every other
// character of it stays where and what it was.
#include <gtest/gtest.h>

#include "engine/image_xml.h"

namespace {

const wchar_t kText[] =
    L"\xFEFF<IMAGE INDEX=\"2\"><DIRCOUNT>3</DIRCOUNT><NAME>Two</NAME>"
    L"<WINDOWS><ARCH>9</ARCH><PRODUCTNAME>Microsoft Windows</PRODUCTNAME>"
    L"<LANGUAGES><LANGUAGE>en-US</LANGUAGE><FALLBACK LANGUAGE=\"en-US\">en-GB</FALLBACK>"
    L"<DEFAULT>en-US</DEFAULT></LANGUAGES><VERSION><MAJOR>10</MAJOR><BUILD>19045</BUILD></VERSION>"
    L"<HAL/></WINDOWS></IMAGE>";

TEST(PropertyTextTest, OnlyTheChangedElementsOfTheTextChange) {
  std::wstring text = kText;
  std::vector<ImageProperty> before = ReadImageProperties(text, 2);
  std::vector<ImageProperty> after = before;
  for (ImageProperty& p : after) {
    if (p.path == L"WINDOWS/VERSION/BUILD") p.value = L"22631";
    if (p.path == L"WINDOWS/PRODUCTNAME") p.value.clear();  // to go
    if (p.path == L"WINDOWS/HAL") p.value = L"acpi & <x64>";
  }
  after.push_back({L"WINDOWS/LANGUAGES/LANGUAGE", L"zh-CN"});
  after.push_back({L"WINDOWS/SERVICING/NOTE", L"new"});
  after.push_back({L"WINDOWS/VERSION/SPBUILD", L"2965"});
  std::vector<PropertyChange> changes = PropertyChanges(before, after);
  ASSERT_EQ(changes.size(), 6u);
  ASSERT_TRUE(ApplyPropertyChanges(text, 2, changes));
  EXPECT_EQ(text,
            L"\xFEFF<IMAGE INDEX=\"2\"><DIRCOUNT>3</DIRCOUNT><NAME>Two</NAME>"
            L"<WINDOWS><ARCH>9</ARCH>"
            L"<LANGUAGES><LANGUAGE>en-US</LANGUAGE><LANGUAGE>zh-CN</LANGUAGE><FALLBACK LANGUAGE=\"en-US\">en-GB</FALLBACK>"
            L"<DEFAULT>en-US</DEFAULT></LANGUAGES><VERSION><MAJOR>10</MAJOR><BUILD>22631</BUILD>"
            L"<SPBUILD>2965</SPBUILD></VERSION>"
            L"<HAL>acpi &amp; &lt;x64&gt;</HAL><SERVICING><NOTE>new</NOTE></SERVICING></WINDOWS></IMAGE>");
  // Read back, the properties are the edited ones.
  std::vector<ImageProperty> read = ReadImageProperties(text, 2);
  EXPECT_EQ(PropertyChanges(read, after).size(), 0u);
}

TEST(PropertyTextTest, ChangesThatCannotBePlacedLeaveTheTextAlone) {
  std::wstring text = kText;
  // An element that holds others is no property; an occurrence two past
  // the last has no place; another image's element is never reached.
  EXPECT_FALSE(ApplyPropertyChanges(text, 2, {{L"WINDOWS/VERSION", 1, L"10", false}}));
  EXPECT_FALSE(ApplyPropertyChanges(text, 2, {{L"WINDOWS/ARCH", 1, L"12", false}, {L"WINDOWS/ARCH", 3, L"5", false}}));
  EXPECT_FALSE(ApplyPropertyChanges(text, 1, {{L"WINDOWS/ARCH", 1, L"12", false}}));
  EXPECT_EQ(text, kText);
}

TEST(PropertyTextTest, PropertiesOfTheDisplayFormHaveNoLineBreaksForText) {
  std::wstring display = XmlDisplayForm(L"<WIM><IMAGE INDEX=\"1\"><NAME></NAME><WINDOWS><ARCH>0</ARCH></WINDOWS></IMAGE></WIM>");
  std::vector<ImageProperty> properties = ReadImageProperties(display, 1);
  ASSERT_EQ(properties.size(), 2u);
  EXPECT_EQ(properties[0].path, L"NAME");
  EXPECT_EQ(properties[0].value, L"");
  EXPECT_EQ(properties[1].path, L"WINDOWS/ARCH");
  EXPECT_EQ(properties[1].value, L"0");
}

}  // namespace
