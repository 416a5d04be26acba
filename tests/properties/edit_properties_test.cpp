// The edit dialog of the delete and edit page shows an image's Windows
// properties and every other element of its XML, marks what is not
// defined, and saves what the user changed on both back ends: read back
// with Python's XML parser from wimlib-imagex's XML, the edited elements
// hold the new values and every other element is as it was.
#include <gtest/gtest.h>

#include "properties_fixture.h"
#include "resources/ids_properties.h"
#include "resources/resource.h"

using namespace qtest;

namespace {

const std::vector<std::string> kWindows = {
    "WINDOWS/ARCH=9",
    "WINDOWS/PRODUCTNAME=Microsoft Windows Operating System",
    "WINDOWS/EDITIONID=Professional",
    "WINDOWS/INSTALLATIONTYPE=Client",
    "WINDOWS/PRODUCTTYPE=WinNT",
    "WINDOWS/LANGUAGES/LANGUAGE=en-US",
    "WINDOWS/LANGUAGES/LANGUAGE[2]=zh-CN",
    "WINDOWS/LANGUAGES/DEFAULT=en-US",
    "WINDOWS/VERSION/MAJOR=10",
    "WINDOWS/VERSION/MINOR=0",
    "WINDOWS/VERSION/BUILD=19045",
    "WINDOWS/VERSION/SPBUILD=2965",
    "WINDOWS/SYSTEMROOT=WINDOWS",
};

class EditPropertiesTest : public PropertiesTest, public ::testing::WithParamInterface<BackendKind> {
 protected:
  HWND List() { return GetDlgItem(deleteWnd(), IDC_DELETE_LIST); }
  void OpenDeletePage(const std::wstring& wim, int rows) {
    OpenOnDeletePage(wim);
    ASSERT_EQ(Rows(List()), rows);
  }
  // Double-clicks a row and waits for "编辑信息".
  HWND OpenEditDialog(int row) {
    SelectRows(List(), {row});
    ClickCell(List(), row, 5, WM_LBUTTONDBLCLK);
    return WaitForDialog(L"编辑信息");
  }
  void CloseWith(HWND dialog, int button) {
    Click(dialog, button);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 20000));
  }
  void SaveInPlace() {
    ClearMessages();
    Click(deleteWnd(), IDC_DELETE_SAVE);
    ASSERT_TRUE(WaitUntil([&] { return !host().deletePage().IsSaving() && !runner().Busy(); }, 120000));
    for (const ShownMessage& m : Messages()) EXPECT_EQ(m.text.find(L"是否要保存对"), 0u) << Utf8(m.text);
  }
  static void Pick(HWND dialog, int id, int entry) {
    HWND combo = GetDlgItem(dialog, id);
    SendMessageW(combo, CB_SETCURSEL, entry, 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  }
  static std::wstring ComboText(HWND dialog, int id) {
    HWND combo = GetDlgItem(dialog, id);
    int selected = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (selected < 0) return L"";
    wchar_t text[128] = {};
    SendMessageW(combo, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(text));
    return text;
  }
  // The row of the dialog's property list with this path, or -1.
  int PropertyRow(HWND dialog, const std::wstring& path) {
    HWND rows = GetDlgItem(dialog, IDC_PROPS_LIST);
    for (int r = 0; r < Rows(rows); r++)
      if (Cell(rows, r, 0) == path) return r;
    return -1;
  }
  void SelectProperty(HWND dialog, const std::wstring& path) {
    int row = PropertyRow(dialog, path);
    ASSERT_GE(row, 0) << Utf8(path);
    SelectRows(GetDlgItem(dialog, IDC_PROPS_LIST), {row});
    Flush(dialog);
  }
};

TEST_P(EditPropertiesTest, EditedWindowsPropertiesAreSavedAndEveryOtherElementStaysAsItWas) {
  UseBackend(GetParam());
  std::wstring wim = MakeWim(L"windows.wim", 2, "");
  SetProperties(wim, 1, kWindows);
  SetProperties(wim, 2, {"WINDOWS/EDITIONID=Core", "WINDOWS/ARCH=0"});
  const std::vector<std::string> before = Leaves(wim, 1);
  const std::string secondBefore = ImageText(wim, 2);
  ASSERT_FALSE(before.empty());
  OpenDeletePage(wim, 2);

  HWND dialog = OpenEditDialog(0);
  ASSERT_TRUE(dialog);
  // What the file holds, shown in the fields: the architecture by its name.
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_EDIT_NAME)), L"Image 1");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_EDITION)), L"Professional");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_INSTALLATION)), L"Client");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_PRODUCT)), L"WinNT");
  EXPECT_EQ(ComboText(dialog, IDC_PROPS_ARCH), L"x64");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_MAJOR)), L"10");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_MINOR)), L"0");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_BUILD)), L"19045");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_SPBUILD)), L"2965");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_LANGUAGES)), L"en-US, zh-CN");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_DEFAULT_LANGUAGE)), L"en-US");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_UNDEFINED)), L"Windows 属性均已定义");
  // Every other element is a row, counts and times included.
  HWND rows = GetDlgItem(dialog, IDC_PROPS_LIST);
  int root = PropertyRow(dialog, L"WINDOWS/SYSTEMROOT");
  ASSERT_GE(root, 0);
  EXPECT_EQ(Cell(rows, root, 1), L"WINDOWS");
  EXPECT_GE(PropertyRow(dialog, L"FILECOUNT"), 0);
  EXPECT_GE(PropertyRow(dialog, L"CREATIONTIME/HIGHPART"), 0);
  EXPECT_LT(PropertyRow(dialog, L"NAME"), 0);
  EXPECT_LT(PropertyRow(dialog, L"WINDOWS/EDITIONID"), 0);

  TypeText(GetDlgItem(dialog, IDC_PROPS_EDITION), L"Enterprise");
  Pick(dialog, IDC_PROPS_ARCH, 4);  // ARM64
  TypeText(GetDlgItem(dialog, IDC_PROPS_BUILD), L"22631");
  TypeText(GetDlgItem(dialog, IDC_PROPS_LANGUAGES), L"zh-CN, en-US, fr-FR");
  TypeText(GetDlgItem(dialog, IDC_PROPS_DEFAULT_LANGUAGE), L"zh-CN");
  // A row changed, a row removed, a row added under a parent the image
  // does not have yet.
  SelectProperty(dialog, L"WINDOWS/SYSTEMROOT");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_PATH)), L"WINDOWS/SYSTEMROOT");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_VALUE)), L"WINDOWS");
  TypeText(GetDlgItem(dialog, IDC_PROPS_VALUE), L"Win & <Root>");
  Click(dialog, IDC_PROPS_SET);
  EXPECT_EQ(Cell(rows, PropertyRow(dialog, L"WINDOWS/SYSTEMROOT"), 1), L"Win & <Root>");
  SelectProperty(dialog, L"WINDOWS/PRODUCTNAME");
  Click(dialog, IDC_PROPS_REMOVE);
  EXPECT_LT(PropertyRow(dialog, L"WINDOWS/PRODUCTNAME"), 0);
  TypeText(GetDlgItem(dialog, IDC_PROPS_PATH), L"WINDOWS/SERVICING/NOTE");
  TypeText(GetDlgItem(dialog, IDC_PROPS_VALUE), L"来自 Quarry");
  Click(dialog, IDC_PROPS_SET);
  EXPECT_GE(PropertyRow(dialog, L"WINDOWS/SERVICING/NOTE"), 0);
  // A path that names a field's element, or holds other elements, is refused.
  TypeText(GetDlgItem(dialog, IDC_PROPS_PATH), L"WINDOWS/VERSION");
  Click(dialog, IDC_PROPS_SET);
  EXPECT_TRUE(WaitForMessage(L"该路径与已有属性的层级冲突."));
  EXPECT_LT(PropertyRow(dialog, L"WINDOWS/VERSION"), 0);
  if (const char* folder = getenv("QUARRY_SCREENSHOTS")) {
    Flush(dialog);
    Screenshot(std::string(folder) + "/edit_properties.png");
  }
  CloseWith(dialog, IDOK);
  EXPECT_TRUE(ItemEnabled(deleteWnd(), IDC_DELETE_SAVE));

  SaveInPlace();
  const std::vector<std::string> after = Leaves(wim, 1);
  EXPECT_EQ(ValuesOf(after, "WINDOWS/EDITIONID"), std::vector<std::string>{"Enterprise"});
  EXPECT_EQ(ValuesOf(after, "WINDOWS/ARCH"), std::vector<std::string>{"12"});
  EXPECT_EQ(ValuesOf(after, "WINDOWS/VERSION/BUILD"), std::vector<std::string>{"22631"});
  EXPECT_EQ(ValuesOf(after, "WINDOWS/LANGUAGES/LANGUAGE"), (std::vector<std::string>{"zh-CN", "en-US", "fr-FR"}));
  EXPECT_EQ(ValuesOf(after, "WINDOWS/LANGUAGES/DEFAULT"), std::vector<std::string>{"zh-CN"});
  EXPECT_EQ(ValuesOf(after, "WINDOWS/SYSTEMROOT"), std::vector<std::string>{"Win & <Root>"});
  EXPECT_TRUE(ValuesOf(after, "WINDOWS/PRODUCTNAME").empty());
  EXPECT_EQ(ValuesOf(after, "WINDOWS/SERVICING/NOTE"), std::vector<std::string>{"来自 Quarry"});
  // Everything the user did not edit, in the same order with the same text.
  const std::vector<std::string> edited = {
      "WINDOWS/EDITIONID",        "WINDOWS/ARCH",       "WINDOWS/VERSION/BUILD",  "WINDOWS/LANGUAGES/LANGUAGE",
      "WINDOWS/LANGUAGES/DEFAULT", "WINDOWS/SYSTEMROOT", "WINDOWS/PRODUCTNAME", "WINDOWS/SERVICING/NOTE"};
  EXPECT_EQ(Without(after, edited), Without(before, edited));
  // The other image is byte for byte what it was.
  EXPECT_EQ(ImageText(wim, 2), secondBefore);
  UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;

  // The dialog opened again shows the file as it is now.
  dialog = OpenEditDialog(0);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_EDITION)), L"Enterprise");
  EXPECT_EQ(ComboText(dialog, IDC_PROPS_ARCH), L"ARM64");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_LANGUAGES)), L"zh-CN, en-US, fr-FR");
  CloseWith(dialog, IDCANCEL);
}

TEST_P(EditPropertiesTest, UndefinedAndEmptyPropertiesAreMarkedAndAnUntouchedDialogWritesNothingOfThem) {
  UseBackend(GetParam());
  std::wstring wim = MakeWim(L"undefined.wim", 1, "");
  SetProperties(wim, 1, {"WINDOWS/EDITIONID=<undefined>", "WINDOWS/LANGUAGES/LANGUAGE=<undefined>",
                         "WINDOWS/VERSION/MAJOR=10", "WINDOWS/HAL=<undefined>", "WINDOWS/PRODUCTTYPE=WinNT",
                         "WINDOWS/INSTALLATIONTYPE=Client", "WINDOWS/LANGUAGES/DEFAULT=en-US"});
  const std::vector<std::string> before = Leaves(wim, 1);
  OpenDeletePage(wim, 1);

  HWND dialog = OpenEditDialog(0);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_EDITION)), L"<undefined>");
  EXPECT_EQ(ComboText(dialog, IDC_PROPS_ARCH), L"");
  // The edition ("<undefined>"), the architecture (missing), the version
  // (only its major number) and the languages are named as not defined.
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_UNDEFINED)), L"未定义或为空: 版本类型, 体系结构, 版本, 语言");
  HWND rows = GetDlgItem(dialog, IDC_PROPS_LIST);
  int hal = PropertyRow(dialog, L"WINDOWS/HAL");
  ASSERT_GE(hal, 0);
  EXPECT_EQ(Cell(rows, hal, 2), L"未定义");
  int files = PropertyRow(dialog, L"FILECOUNT");
  ASSERT_GE(files, 0);
  EXPECT_EQ(Cell(rows, files, 2), L"");
  // Filling a field takes its name off the line.
  TypeText(GetDlgItem(dialog, IDC_PROPS_EDITION), L"Professional");
  EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_PROPS_UNDEFINED)), L"未定义或为空: 体系结构, 版本, 语言");
  TypeText(GetDlgItem(dialog, IDC_PROPS_EDITION), L"<undefined>");
  CloseWith(dialog, IDOK);

  // Only the name is changed: the properties the dialog showed stay as
  // they were, "<undefined>" texts included.
  SelectRows(List(), {0});
  dialog = OpenEditDialog(0);
  ASSERT_TRUE(dialog);
  TypeText(GetDlgItem(dialog, IDC_EDIT_NAME), L"Renamed");
  CloseWith(dialog, IDOK);
  SaveInPlace();
  const std::vector<std::string> after = Leaves(wim, 1);
  EXPECT_EQ(ValuesOf(after, "NAME"), std::vector<std::string>{"Renamed"});
  EXPECT_EQ(Without(after, {"NAME"}), Without(before, {"NAME"}));
}

INSTANTIATE_TEST_SUITE_P(BothBackends, EditPropertiesTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimgapi ? "Wimgapi" : "Wimlib");
                         });

}  // namespace
