// The property page itself: a real sheet built from dialog 107 showing the
// header rows of real WIM files made by wimlib-imagex.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "harness.h"
#include "tessel_test_util.h"

using tesseltest::Dll;
using tesseltest::kLabels;

namespace {

// Shows the page for `path` and returns the rows of its tree. The sheet is
// left to the caller through `sheet`.
std::vector<std::wstring> ShowPage(const std::wstring& path, tesseltest::SheetHost* sheet) {
  size_t slash = path.find_last_of(L'\\');
  IDataObject* data = tesseltest::ShellDataObject(path.substr(0, slash), {path.substr(slash + 1)});
  EXPECT_NE(nullptr, data);
  if (!data) return {};
  IShellPropSheetExt* ext = nullptr;
  EXPECT_EQ(S_OK, tesseltest::CreateObject(IID_IShellPropSheetExt, (void**)&ext));
  IShellExtInit* init = nullptr;
  ext->QueryInterface(IID_IShellExtInit, (void**)&init);
  EXPECT_EQ(S_OK, init->Initialize(nullptr, data, nullptr));
  EXPECT_EQ(S_OK, sheet->AddPagesFrom(ext));
  // Explorer may drop the object while the page lives on.
  init->Release();
  ext->Release();
  data->Release();
  EXPECT_EQ(1u, sheet->PageCount());
  if (!sheet->Show()) {
    ADD_FAILURE() << "property sheet not created";
    return {};
  }
  HWND tree = GetDlgItem(sheet->Page(), 210);
  EXPECT_NE(nullptr, tree);
  return tesseltest::TreeRows(tree);
}

std::vector<std::wstring> RowsOf(const std::wstring& path) {
  tesseltest::SheetHost sheet;
  return ShowPage(path, &sheet);
}

std::wstring Row(int i, const wchar_t* value) { return std::wstring(kLabels[i]) + L" " + value; }

}  // namespace

TEST(propsheetPage, SheetPageFromDialog107WithTitleAndFittedTree) {
  std::wstring wim = tesseltest::WimDir() + L"\\lzx.wim";
  tesseltest::SheetHost sheet;
  std::vector<std::wstring> rows = ShowPage(wim, &sheet);
  ASSERT_EQ(6u, rows.size());
  EXPECT_EQ(S_FALSE, Dll().canUnloadNow()) << "a live page keeps the module loaded";

  HWND tab = PropSheet_GetTabControl(sheet.Sheet());
  ASSERT_NE(nullptr, tab);
  wchar_t title[64] = {};
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = title;
  item.cchTextMax = 64;
  ASSERT_TRUE(SendMessageW(tab, TCM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_STREQ(L"WIM\u4fe1\u606f", title);

  // The tree sits at (10, 18) of the page and takes the tab's client size
  // less 30 by 70 pixels.
  HWND page = sheet.Page();
  HWND tree = GetDlgItem(page, 210);
  RECT tabClient, treeRect;
  GetClientRect(tab, &tabClient);
  GetWindowRect(tree, &treeRect);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&treeRect), 2);
  EXPECT_EQ(10, treeRect.left);
  EXPECT_EQ(18, treeRect.top);
  EXPECT_EQ(tabClient.right - 30, treeRect.right - treeRect.left);
  EXPECT_EQ(tabClient.bottom - 70, treeRect.bottom - treeRect.top);
  LONG style = GetWindowLongW(tree, GWL_STYLE);
  EXPECT_TRUE(style & WS_TABSTOP);
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_EQ(0, style & (TVS_HASLINES | TVS_LINESATROOT | TVS_HASBUTTONS | TVS_EDITLABELS | TVS_CHECKBOXES));

  sheet.Close();
  EXPECT_EQ(S_OK, Dll().canUnloadNow()) << "closing the sheet releases the page";
}

TEST(propsheetPage, RowsMatchWimlibForEachCompression) {
  std::wstring dir = tesseltest::WimDir();
  struct Case {
    const wchar_t* file;
    const wchar_t* version;
    const wchar_t* compression;
  } cases[] = {
      {L"none.wim", L"1.13", L"None"},
      {L"xpress.wim", L"1.13", L"Xpress"},
      {L"lzx.wim", L"1.13", L"LZX"},
      {L"lzms.wim", L"0.14", L"LZMS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(qtest::Utf8(c.file));
    std::wstring path = dir + L"\\" + c.file;
    std::vector<std::wstring> rows = RowsOf(path);
    EXPECT_EQ(tesseltest::OracleRows(path), rows);
    ASSERT_EQ(6u, rows.size());
    EXPECT_EQ(Row(0, c.version), rows[0]);
    EXPECT_EQ(38u + 6u, rows[1].size()) << "\"GUID: \" and 38 characters";
    EXPECT_EQ(Row(2, L"1"), rows[2]);
    EXPECT_EQ(Row(3, c.compression), rows[3]);
    EXPECT_EQ(Row(4, L"1/1"), rows[4]);
    EXPECT_EQ(Row(5, L"0"), rows[5]);
  }
}

TEST(propsheetPage, SplitPartAndBootIndex) {
  std::wstring dir = tesseltest::WimDir();
  std::vector<std::wstring> part2 = RowsOf(dir + L"\\part2.swm");
  EXPECT_EQ(tesseltest::OracleRows(dir + L"\\part2.swm"), part2);
  ASSERT_EQ(6u, part2.size());
  EXPECT_EQ(Row(4, L"2/3"), part2[4]);
  EXPECT_EQ(RowsOf(dir + L"\\part.swm")[1], part2[1]) << "the parts of a set share one GUID";

  std::vector<std::wstring> boot = RowsOf(dir + L"\\boot.wim");
  EXPECT_EQ(tesseltest::OracleRows(dir + L"\\boot.wim"), boot);
  ASSERT_EQ(6u, boot.size());
  EXPECT_EQ(Row(2, L"2"), boot[2]);
  EXPECT_EQ(Row(5, L"2"), boot[5]);
}

TEST(propsheetPage, UnreadableOrShortFilesShowAnEmptyList) {
  std::wstring dir = qtest::TempDir();
  // Shorter than a WIM header.
  std::wstring shortFile = dir + L"\\short.wim";
  qtest::WriteFileBytes(shortFile, std::string(207, 'M'));
  EXPECT_TRUE(RowsOf(shortFile).empty());

  // A whole header of zeros is read as such: the tag is not examined.
  std::wstring zeros = dir + L"\\zeros.wim";
  qtest::WriteFileBytes(zeros, std::string(208, '\0'));
  std::vector<std::wstring> rows = RowsOf(zeros);
  std::vector<std::wstring> expected = {Row(0, L"0.0"), Row(1, L"{00000000-0000-0000-0000-000000000000}"),
                                        Row(2, L"0"),   Row(3, L"None"),
                                        Row(4, L"0/0"), Row(5, L"0")};
  EXPECT_EQ(expected, rows);

  // Open elsewhere (as while mounted): no rows, nothing reported.
  std::wstring wim = tesseltest::WimDir() + L"\\none.wim";
  HANDLE held = CreateFileW(wim.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_TRUE(RowsOf(wim).empty());
  CloseHandle(held);
  EXPECT_EQ(6u, RowsOf(wim).size());
}

TEST(propsheetPage, FileIsNeverWritten) {
  std::wstring wim = tesseltest::WimDir() + L"\\xpress.wim";
  std::string before = qtest::ReadFileBytes(wim);
  WIN32_FILE_ATTRIBUTE_DATA a1 = {}, a2 = {};
  GetFileAttributesExW(wim.c_str(), GetFileExInfoStandard, &a1);
  EXPECT_EQ(6u, RowsOf(wim).size());
  GetFileAttributesExW(wim.c_str(), GetFileExInfoStandard, &a2);
  EXPECT_EQ(before, qtest::ReadFileBytes(wim));
  EXPECT_EQ(0, CompareFileTime(&a1.ftLastWriteTime, &a2.ftLastWriteTime));
  // A read-only file is shown all the same.
  SetFileAttributesW(wim.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(6u, RowsOf(wim).size());
  SetFileAttributesW(wim.c_str(), FILE_ATTRIBUTE_NORMAL);
}
