// wimgapi.dll: reading and replacing the XML information.
#include <gtest/gtest.h>

#include "harness.h"
#include "wimgapi_client.h"

using namespace wgt;

namespace {

class WimgapiXml : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(W().module, nullptr);
    dir_ = qtest::TempDir();
    src_ = dir_ + L"\\src";
    qtest::MakeSampleTree(src_);
    wim_ = dir_ + L"\\a.wim";
    ASSERT_EQ(Capture(src_, wim_), 1);
    ASSERT_EQ(Capture(src_ + L"\\sub", wim_, WIM_COMPRESS_XPRESS, true), 2);
  }
  // WIMGetImageInformation as text; the BOM is checked and dropped.
  std::wstring Get(HANDLE object) {
    PVOID buffer = nullptr;
    DWORD bytes = 0;
    EXPECT_TRUE(W().GetImageInformation(object, &buffer, &bytes)) << GetLastError();
    if (!buffer) return {};
    const wchar_t* text = static_cast<const wchar_t*>(buffer);
    EXPECT_EQ(bytes % 2, 0u);
    EXPECT_EQ(text[0], L'\xFEFF');
    std::wstring out(text + 1, bytes / 2 - 1);
    EXPECT_EQ(LocalFree(buffer), nullptr);
    return out;
  }
  BOOL Set(HANDLE image, const std::wstring& xml) {
    std::wstring text = L"\xFEFF" + xml;
    return W().SetImageInformation(image, &text[0], static_cast<DWORD>(text.size() * 2));
  }
  std::wstring dir_, src_, wim_;
};

TEST_F(WimgapiXml, FileAndImageInformation) {
  Handle file = Open(wim_, WIM_GENERIC_READ, WIM_OPEN_EXISTING);
  std::wstring all = Get(file.get());
  EXPECT_EQ(all.find(L"<WIM>"), 0u);
  EXPECT_NE(all.find(L"<IMAGE INDEX=\"1\""), std::wstring::npos);
  EXPECT_NE(all.find(L"<IMAGE INDEX=\"2\""), std::wstring::npos);
  EXPECT_EQ(all.rfind(L"</WIM>"), all.size() - 6);

  Handle image(W().LoadImage(file.get(), 2));
  std::wstring one = Get(image.get());
  EXPECT_EQ(one.find(L"<IMAGE INDEX=\"2\">"), 0u);
  EXPECT_EQ(one.rfind(L"</IMAGE>"), one.size() - 8);
  EXPECT_EQ(one.find(L"<IMAGE INDEX=\"1\""), std::wstring::npos);
  EXPECT_NE(one.find(L"<FILECOUNT>"), std::wstring::npos);
  // Exactly the element the whole document holds.
  EXPECT_NE(all.find(one), std::wstring::npos);

  PVOID buffer = nullptr;
  DWORD bytes = 0;
  EXPECT_FALSE(W().GetImageInformation(file.get(), nullptr, &bytes));
  EXPECT_FALSE(W().GetImageInformation(file.get(), &buffer, nullptr));
  EXPECT_FALSE(W().GetImageInformation(nullptr, &buffer, &bytes));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // A file created but not written yet has an empty document.
  Handle fresh = Open(dir_ + L"\\new.wim", WIM_GENERIC_WRITE, WIM_CREATE_NEW);
  EXPECT_EQ(Get(fresh.get()), L"<WIM><TOTALBYTES>0</TOTALBYTES></WIM>");
}

TEST_F(WimgapiXml, SetReplacesTheEditableElementsAndKeepsTheRest) {
  {
    Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    Handle image(W().LoadImage(file.get(), 1));
    std::wstring before = Get(image.get());
    // The way the program writes: the old text with the new elements at
    // the end, field texts escaped.
    std::wstring xml = before.substr(0, before.size() - 8) +
                       L"\n<NAME>Base &amp; Co</NAME>\n<DESCRIPTION>First &lt;one&gt;</DESCRIPTION>"
                       L"\n<DISPLAYNAME>\u663e\u793a</DISPLAYNAME>\n<DISPLAYDESCRIPTION>dd</DISPLAYDESCRIPTION>"
                       L"\n<FLAGS>Professional</FLAGS>\n</IMAGE>";
    ASSERT_TRUE(Set(image.get(), xml)) << GetLastError();
    std::wstring after = Get(image.get());
    EXPECT_NE(after.find(L"<FLAGS>Professional</FLAGS>"), std::wstring::npos);
    EXPECT_NE(after.find(L"<NAME>Base &amp; Co</NAME>"), std::wstring::npos);
  }
  std::string info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Name", 1), "Base & Co");
  EXPECT_EQ(InfoField(info, "Description", 1), "First <one>");
  EXPECT_EQ(InfoField(info, "Display Name", 1), "\xe6\x98\xbe\xe7\xa4\xba");
  EXPECT_EQ(InfoField(info, "Display Description", 1), "dd");
  EXPECT_EQ(InfoField(info, "Flags", 1), "Professional");
  EXPECT_EQ(InfoField(info, "Directory Count", 1), "4");   // counts kept
  EXPECT_EQ(InfoField(info, "Name", 2), "");                // other image untouched

  // Absent elements are removed, changed ones replaced.
  {
    Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    Handle image(W().LoadImage(file.get(), 1));
    ASSERT_TRUE(Set(image.get(), L"<IMAGE INDEX=\"1\"><NAME>Renamed</NAME><FLAGS>Core</FLAGS></IMAGE>"));
  }
  info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Name", 1), "Renamed");
  EXPECT_EQ(InfoField(info, "Flags", 1), "Core");
  EXPECT_EQ(InfoField(info, "Description", 1), "");
  EXPECT_EQ(InfoField(info, "Display Name", 1), "<missing>");

  // Given a whole document, the element of the handle's own image counts.
  {
    Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
    Handle image(W().LoadImage(file.get(), 2));
    ASSERT_TRUE(Set(image.get(), L"<WIM><IMAGE INDEX=\"1\"><NAME>One</NAME></IMAGE>"
                                 L"<IMAGE INDEX=\"2\"><NAME>Two</NAME></IMAGE></WIM>"));
  }
  info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Name", 1), "Renamed");
  EXPECT_EQ(InfoField(info, "Name", 2), "Two");
  Imagex("verify " + Q(wim_));
}

TEST_F(WimgapiXml, SetRefusesBadTextAndDuplicateNames) {
  Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  Handle one(W().LoadImage(file.get(), 1)), two(W().LoadImage(file.get(), 2));
  ASSERT_TRUE(Set(one.get(), L"<IMAGE INDEX=\"1\"><NAME>Same</NAME></IMAGE>"));
  EXPECT_FALSE(Set(two.get(), L"<IMAGE INDEX=\"2\"><NAME>Same</NAME></IMAGE>"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  const std::string before = qtest::ReadFileBytes(wim_);
  EXPECT_FALSE(Set(two.get(), L"no xml at all"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_FALSE(W().SetImageInformation(two.get(), nullptr, 10));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  wchar_t odd[] = L"\xFEFF<IMAGE><NAME>x";
  EXPECT_FALSE(W().SetImageInformation(two.get(), odd, 7));   // cut in the middle
  EXPECT_FALSE(W().SetImageInformation(file.get(), odd, sizeof odd));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(qtest::ReadFileBytes(wim_), before);
}

TEST_F(WimgapiXml, SetReadsTheTextAsAnyXmlReaderDoes) {
  Handle file = Open(wim_, WIM_GENERIC_READ | WIM_GENERIC_WRITE, WIM_OPEN_EXISTING);
  Handle one(W().LoadImage(file.get(), 1)), two(W().LoadImage(file.get(), 2));
  // Entities of the document's own DTD, character references (one beyond
  // the 16-bit range), CDATA, comments and attributes in any quoting.
  ASSERT_TRUE(Set(one.get(),
                  L"<?xml version=\"1.0\"?>\n<!DOCTYPE WIM [<!ENTITY co \"Contoso &amp; Co\">]>\n"
                  L"<WIM><IMAGE INDEX='2' NOTE=\"x\"><NAME>Wrong</NAME></IMAGE>"
                  L"<IMAGE NOTE=\"&lt;&gt;\" INDEX = \"1\"><NAME>&co; OS</NAME>"
                  L"<DESCRIPTION><![CDATA[a <b> & c]]></DESCRIPTION>"
                  L"<DISPLAYNAME>&#x4E2D;&#25991;&#x1F600;</DISPLAYNAME>"
                  L"<DISPLAYDESCRIPTION>x<!-- note -->y</DISPLAYDESCRIPTION></IMAGE></WIM>"))
      << GetLastError();
  std::string info = Imagex("info " + Q(wim_));
  EXPECT_EQ(InfoField(info, "Name", 1), "Contoso & Co OS");
  EXPECT_EQ(InfoField(info, "Description", 1), "a <b> & c");
  EXPECT_EQ(InfoField(info, "Display Name", 1), "\xe4\xb8\xad\xe6\x96\x87\xf0\x9f\x98\x80");
  EXPECT_EQ(InfoField(info, "Display Description", 1), "xy");
  EXPECT_EQ(InfoField(info, "Name", 2), "");

  // Text that is not well-formed XML is refused, and nothing changes.
  const std::string before = qtest::ReadFileBytes(wim_);
  for (const wchar_t* bad : {L"<IMAGE><NAME>A & B</NAME></IMAGE>", L"<IMAGE><NAME>x</DESCRIPTION></IMAGE>",
                             L"<IMAGE><NAME>&undefined;</NAME></IMAGE>", L"<IMAGE INDEX=1><NAME>x</NAME></IMAGE>",
                             L"<IMAGE><NAME>open</NAME>", L"<IMAGE><NAME>x</NAME></IMAGE><IMAGE/>"}) {
    SetLastError(0);
    EXPECT_FALSE(Set(two.get(), bad)) << qtest::Utf8(bad);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA) << qtest::Utf8(bad);
  }
  EXPECT_EQ(qtest::ReadFileBytes(wim_), before);

  // Nothing is read from outside the text.
  ASSERT_TRUE(qtest::WriteFileBytes(dir_ + L"\\secret.txt", "secret"));
  std::wstring external = L"<!DOCTYPE IMAGE [<!ENTITY s SYSTEM \"" + qtest::Wide(qtest::UnixPath(dir_ + L"\\secret.txt")) +
                          L"\">]><IMAGE><NAME>n&s;</NAME></IMAGE>";
  Set(two.get(), external);
  EXPECT_EQ(InfoField(Imagex("info " + Q(wim_)), "Name", 2).find("secret"), std::string::npos);
}

}  // namespace
