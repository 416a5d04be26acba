// The details of the information page and of the apply page show the
// Windows facts of each image (what DISM shows for one index), read from
// the file's XML without a back end: edition, version.build, architecture,
// languages with the default first, installation type, files and folders,
// total size, created and modified times; what the XML does not define is
// marked.
#include <gtest/gtest.h>

#include "properties_fixture.h"

#include <commctrl.h>

#include "resources/ids_properties.h"
#include "resources/resource.h"

using namespace qtest;

namespace {

class WindowsFactsTest : public PropertiesTest {
 protected:
  void SetUp() override {
    PropertiesTest::SetUp();
    wim_ = MakeWim(L"facts.wim", 2, "");
    // Image 1 defines little; image 2 what a Windows image carries, its
    // creation time 2020-01-02 12:00:00 UTC.
    SetProperties(wim_, 1, {"WINDOWS/EDITIONID=<undefined>"});
    SetProperties(wim_, 2,
                  {"WINDOWS/ARCH=9", "WINDOWS/EDITIONID=Professional", "WINDOWS/INSTALLATIONTYPE=Client",
                   "WINDOWS/LANGUAGES/LANGUAGE=en-US", "WINDOWS/LANGUAGES/LANGUAGE[2]=zh-CN",
                   "WINDOWS/LANGUAGES/DEFAULT=zh-CN", "WINDOWS/VERSION/MAJOR=10", "WINDOWS/VERSION/MINOR=0",
                   "WINDOWS/VERSION/BUILD=19045", "WINDOWS/VERSION/SPBUILD=2965",
                   "CREATIONTIME/HIGHPART=0x01D5C164", "CREATIONTIME/LOWPART=0x28A3A000"});
  }
  // "1234567" as the facts group it: "1,234,567".
  static std::string Grouped(const std::string& digits) {
    std::string out;
    for (size_t i = 0; i < digits.size(); i++) {
      if (i && (digits.size() - i) % 3 == 0) out += ',';
      out += digits[i];
    }
    return out;
  }
  // The facts image 2 must show, from wimlib-imagex's own reading.
  void ExpectFactsOfImage2(const std::wstring& text) {
    std::string files = InfoField(wim_, 2, "File Count");
    std::string folders = InfoField(wim_, 2, "Directory Count");
    std::string bytes = InfoField(wim_, 2, "Total Bytes");
    ASSERT_FALSE(files.empty());
    std::wstring expected = L"版本类型: Professional\r\n"
                            L"版本: 10.0.19045.2965\r\n"
                            L"体系结构: x64\r\n"
                            L"语言: zh-CN, en-US\r\n"
                            L"安装类型: Client\r\n"
                            L"文件和文件夹: " + Wide(Grouped(files)) + L" 个文件, " + Wide(Grouped(folders)) +
                            L" 个文件夹\r\n"
                            L"总大小: " + Wide(Grouped(bytes)) + L" Bytes\r\n"
                            L"创建时间: 2020-01-0";
    EXPECT_EQ(text.compare(0, expected.size(), expected), 0) << Utf8(text);
    EXPECT_NE(text.find(L"\r\n修改时间: 20"), std::wstring::npos) << Utf8(text);
    // The whole XML of the image follows the facts.
    EXPECT_NE(text.find(L"NAME = Image 2\r\n"), std::wstring::npos) << Utf8(text);
  }
  HWND WaitForDetails() {
    HWND details = nullptr;
    WaitUntil([&] { return (details = FindTopWindow(L"facts.wim   GUID:{")) != nullptr; }, 20000);
    return details;
  }
  void Close(HWND details) {
    SendMessageW(details, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(details); }, 20000));
  }
  std::wstring wim_;
};

TEST_F(WindowsFactsTest, TheInformationPageDetailsShowEachImagesWindowsFacts) {
  OnUiThread([&] { dialog_->JumpTo(ID_JUMP_INFO, wim_); });
  HWND list = dialog_->infoPage().Item(IDC_INFO_LIST);
  ASSERT_TRUE(WaitUntil([&] { return Rows(list) > 0; }, 20000));
  SelectRows(list, {0});
  SendCommand(dialog_->infoPage().hwnd(), ID_INFO_DETAILS);
  HWND details = WaitForDetails();
  ASSERT_TRUE(details);
  HWND edit = GetDlgItem(details, IDC_WIMINFO_EDIT);
  // Image 1: what its XML does not define is marked, not left out.
  std::wstring first = WindowText(edit);
  EXPECT_EQ(first.find(L"版本类型: 未定义\r\n版本: 未定义\r\n体系结构: 未定义\r\n语言: 未定义\r\n安装类型: 未定义\r\n"), 0u)
      << Utf8(first);
  EXPECT_NE(first.find(L"文件和文件夹: "), std::wstring::npos);
  TabCtrl_SetCurFocus(GetDlgItem(details, IDC_WIMINFO_TAB), 1);
  ASSERT_TRUE(WaitUntil([&] { return WindowText(edit).find(L"Professional") != std::wstring::npos; }, 20000));
  ExpectFactsOfImage2(WindowText(edit));
  Close(details);
}

TEST_F(WindowsFactsTest, TheApplyPageDetailsOpenAtTheSelectedImageWithItsFacts) {
  OnUiThread([&] { dialog_->JumpTo(ID_JUMP_APPLY, wim_); });
  HWND list = dialog_->applyPage().Item(IDC_APPLY_LIST);
  ASSERT_TRUE(WaitUntil([&] { return Rows(list) == 2; }, 20000));
  SelectRows(list, {1});
  SendCommand(dialog_->applyPage().hwnd(), ID_APPLY_DETAILS);
  HWND details = WaitForDetails();
  ASSERT_TRUE(details);
  EXPECT_EQ(TabCtrl_GetCurSel(GetDlgItem(details, IDC_WIMINFO_TAB)), 1);
  ExpectFactsOfImage2(WindowText(GetDlgItem(details, IDC_WIMINFO_EDIT)));
  Close(details);
}

}  // namespace
