// The browser page on a folder of some thousands of entries: every row is
// listed with the texts of what it shows, each column sorts in its order
// (names with digits and of either case, sizes as numbers, dates in time
// order, folders first), and what is selected after a sort is what is
// taken out. The image is made by wimlib-imagex from a generated tree.
#include "look_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <set>

#include "resources/resource.h"

namespace {
using namespace look;
using qtest::WaitUntil;

const int kFiles = 3000;
const int kFolders = 20;

struct Expected {
  bool folder = false;
  uint64_t size = 0;
  int64_t mtime = 0;  // Unix seconds
};

// The tree: files named with numbers and a few extensions, some names
// differing only in case of their first letter, sizes from 30 bytes to
// some KB (so that text order and number order differ), modification
// times spread over years (wimlib takes them as creation times), and a
// content that names the file.
const char* kMakeTree = R"PY(
import os, sys
root = sys.argv[1]
exts = [".txt", ".log", ".dll", ""]
first = ["a", "B", "c", "D"]
for i in range(3000):
    name = "%sfile%d%s" % (first[i % 4], i, exts[(i // 4) % 4])
    size = 30 + (i * 7919) % 5000
    head = ("content of %s\n" % name).encode()
    path = os.path.join(root, name)
    with open(path, "wb") as f:
        f.write((head + b"x" * size)[:size])
    t = 978307200 + ((i * 104729) % 3000) * 86400 * 3 + i * 61
    os.utime(path, (t, t))
for k in range(20):
    os.mkdir(os.path.join(root, "folder%d" % k))
)PY";

class BrowserBigFolderTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    dir_ = qtest::TempDir();
    source_ = dir_ + L"\\many";
    ASSERT_TRUE(qtest::MakeDirs(source_));
    ASSERT_EQ(qtest::RunUnix("python3 -c " + qtest::ShQuote(kMakeTree) + " " + Q(source_)).exitCode, 0);
    wim_ = dir_ + L"\\many.wim";
    ASSERT_TRUE(Capture(source_, wim_, "Many"));
    // What the folder holds, as the computer has it.
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((source_ + L"\\*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      Expected& e = expected_[name];
      e.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      e.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      ULARGE_INTEGER t;
      t.LowPart = found.ftLastWriteTime.dwLowDateTime;
      t.HighPart = found.ftLastWriteTime.dwHighDateTime;
      e.mtime = static_cast<int64_t>(t.QuadPart / 10000000ULL) - 11644473600LL;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    ASSERT_EQ(expected_.size(), static_cast<size_t>(kFiles + kFolders));
    dialog_->JumpTo(ID_JUMP_BROWSER, wim_);
    ASSERT_TRUE(WaitUntil([&] {
      return Page().mode() == CPage_Browser::kInsideImage && ListView_GetItemCount(List()) == kFiles + kFolders;
    }));
  }
  CPage_Browser& Page() { return dialog_->browserPage(); }
  HWND List() { return Page().Item(IDC_BROWSER_LIST); }
  void ClickHeader(int column) { ASSERT_TRUE(ClickListHeader(List(), column)); }
  // Sorts by a column by clicking its heading until the order is the one asked for.
  void SortBy(int column, bool ascending) {
    for (int clicks = 0; clicks < 2; clicks++) {
      if (Page().sortColumn() == column && Page().sortAscending() == ascending) return;
      const int beforeColumn = Page().sortColumn();
      const bool beforeAscending = Page().sortAscending();
      ClickHeader(column);
      ASSERT_TRUE(WaitUntil(
          [&] { return Page().sortColumn() != beforeColumn || Page().sortAscending() != beforeAscending; }));
    }
    ASSERT_EQ(Page().sortColumn(), column);
    ASSERT_EQ(Page().sortAscending(), ascending);
  }
  bool IsFolderRow(int row) { return expected_.at(Cell(List(), row, 0)).folder; }
  // The local time text of a Unix time, as a user of this machine reads it.
  static std::wstring LocalText(int64_t seconds) {
    ULARGE_INTEGER t;
    t.QuadPart = static_cast<ULONGLONG>((seconds + 11644473600LL) * 10000000LL);
    FILETIME utc = {t.LowPart, t.HighPart};
    SYSTEMTIME system, local;
    if (!FileTimeToSystemTime(&utc, &system) || !SystemTimeToTzSpecificLocalTime(nullptr, &system, &local))
      return L"?";
    wchar_t text[64];
    swprintf(text, 64, L"%d-%02d-%02d %02d:%02d", local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute);
    return text;
  }
  static uint64_t BytesOf(const std::wstring& cell) { return wcstoull(cell.c_str(), nullptr, 10); }

  std::wstring dir_, source_, wim_;
  std::map<std::wstring, Expected> expected_;
};

TEST_F(BrowserBigFolderTest, ListsEveryEntryWithItsTexts) {
  // The names are those wimlib-imagex lists in the image's root.
  qtest::UnixResult listed = Imagex("dir " + Q(wim_) + " 1");
  ASSERT_EQ(listed.exitCode, 0);
  std::set<std::wstring> imageNames;
  size_t at = 0;
  while (at < listed.output.size()) {
    size_t end = listed.output.find('\n', at);
    if (end == std::string::npos) end = listed.output.size();
    std::string line = listed.output.substr(at, end - at);
    at = end + 1;
    if (line.size() > 1 && line[0] == '/' && line.find('/', 1) == std::string::npos)
      imageNames.insert(qtest::Wide(line.substr(1)));
  }
  ASSERT_EQ(imageNames.size(), expected_.size());

  // The registry's name of the text file type, which every ".txt" row shows.
  wchar_t className[256] = {}, typeName[256] = {};
  LONG size = sizeof(className);
  RegQueryValueW(HKEY_CLASSES_ROOT, L".txt", className, &size);
  size = sizeof(typeName);
  if (className[0]) RegQueryValueW(HKEY_CLASSES_ROOT, className, typeName, &size);

  std::set<std::wstring> shown;
  std::map<std::wstring, std::wstring> typeOfExtension;
  for (int row = 0; row < kFiles + kFolders; row++) {
    const std::wstring name = Cell(List(), row, 0);
    ASSERT_TRUE(imageNames.count(name)) << qtest::Utf8(name);
    EXPECT_TRUE(shown.insert(name).second) << qtest::Utf8(name) << " shown twice";
    const Expected& e = expected_.at(name);
    const std::wstring type = Cell(List(), row, 1);
    if (e.folder) {
      EXPECT_EQ(type, L"文件夹") << qtest::Utf8(name);
      EXPECT_EQ(Cell(List(), row, 2), L"") << qtest::Utf8(name);
    } else {
      EXPECT_EQ(Cell(List(), row, 2), std::to_wstring(e.size) + L" Bytes") << qtest::Utf8(name);
      const std::wstring compressed = Cell(List(), row, 3);
      EXPECT_TRUE(compressed.size() > 6 && compressed.substr(compressed.size() - 6) == L" Bytes")
          << qtest::Utf8(name) << ": " << qtest::Utf8(compressed);
      EXPECT_EQ(Cell(List(), row, 4), LocalText(e.mtime)) << qtest::Utf8(name);
      size_t dot = name.rfind(L'.');
      std::wstring extension = dot == std::wstring::npos ? L"" : name.substr(dot);
      if (extension == L".txt") EXPECT_EQ(type, std::wstring(typeName)) << qtest::Utf8(name);
      auto known = typeOfExtension.emplace(extension, type);
      EXPECT_EQ(known.first->second, type) << "rows of " << qtest::Utf8(extension) << " differ in type";
    }
  }
  EXPECT_EQ(shown.size(), expected_.size());
}

TEST_F(BrowserBigFolderTest, EachColumnSortsInItsOrder) {
  const int rows = kFiles + kFolders;
  // Names: folders first, then in the system's order of texts, where case
  // does not count.
  SortBy(0, true);
  std::vector<std::wstring> names = Column(List(), 0);
  for (int row = 0; row < rows; row++) EXPECT_EQ(IsFolderRow(row), row < kFolders) << row;
  for (int row = 1; row < rows; row++) {
    if (row == kFolders) continue;
    EXPECT_LE(lstrcmpW(names[row - 1].c_str(), names[row].c_str()), 0)
        << qtest::Utf8(names[row - 1]) << " before " << qtest::Utf8(names[row]);
  }
  auto position = [&](const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) - names.begin();
  };
  // "afile0.txt", "Bfile1.txt", "cfile2.txt", "Dfile3.txt": a, B, c, D.
  EXPECT_LT(position(L"afile0.txt"), position(L"Bfile1.txt"));
  EXPECT_LT(position(L"Bfile1.txt"), position(L"cfile2.txt"));
  EXPECT_LT(position(L"cfile2.txt"), position(L"Dfile3.txt"));
  SortBy(0, false);
  std::vector<std::wstring> turned = Column(List(), 0);
  for (int row = 0; row < rows; row++) EXPECT_EQ(turned[row], names[rows - 1 - row]) << row;

  // Sizes as numbers: 900 bytes before 1000 bytes, though "1000" is the
  // smaller text; turned round, the files come before the folders.
  SortBy(2, true);
  for (int row = 0; row < rows; row++) ASSERT_EQ(IsFolderRow(row), row < kFolders) << row;
  for (int row = kFolders + 1; row < rows; row++)
    ASSERT_LE(BytesOf(Cell(List(), row - 1, 2)), BytesOf(Cell(List(), row, 2))) << row;
  EXPECT_LT(BytesOf(Cell(List(), kFolders, 2)), 1000u);
  EXPECT_GE(BytesOf(Cell(List(), rows - 1, 2)), 4000u);
  SortBy(2, false);
  for (int row = 0; row < rows; row++) ASSERT_EQ(IsFolderRow(row), row >= kFiles) << row;
  for (int row = 1; row < kFiles; row++)
    ASSERT_GE(BytesOf(Cell(List(), row - 1, 2)), BytesOf(Cell(List(), row, 2))) << row;

  // Dates in time order, to the minute shown.
  SortBy(4, true);
  for (int row = 0; row < rows; row++) ASSERT_EQ(IsFolderRow(row), row < kFolders) << row;
  for (int row = kFolders + 1; row < rows; row++) {
    const int64_t before = expected_.at(Cell(List(), row - 1, 0)).mtime / 60;
    const int64_t after = expected_.at(Cell(List(), row, 0)).mtime / 60;
    ASSERT_LE(before, after) << qtest::Utf8(Cell(List(), row - 1, 4)) << " before "
                             << qtest::Utf8(Cell(List(), row, 4));
  }

  // Types: rows of one type together, the types in the order of their texts.
  SortBy(1, true);
  std::vector<std::wstring> types = Column(List(), 1);
  for (int row = kFolders + 1; row < rows; row++)
    ASSERT_LE(lstrcmpW(types[row - 1].c_str(), types[row].c_str()), 0) << row;
  std::set<std::wstring> seen;
  for (int row = kFolders; row < rows; row++)
    if (row == kFolders || types[row] != types[row - 1]) EXPECT_TRUE(seen.insert(types[row]).second);
}

TEST_F(BrowserBigFolderTest, WhatIsSelectedAfterASortIsWhatIsExtracted) {
  SortBy(2, false);
  SortBy(4, true);
  const int rows[] = {kFolders, kFolders + 1234, kFolders + kFiles - 1};
  std::vector<std::wstring> chosen;
  for (int row : rows) chosen.push_back(Cell(List(), row, 0));
  SelectRows(List(), {rows[0], rows[1], rows[2]});
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Page().Item(IDC_BROWSER_EXTRACT)) != FALSE; }));
  std::wstring target = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(target));
  Page().ExtractTo(target);
  std::set<std::wstring> expectedNames(chosen.begin(), chosen.end());
  std::vector<std::wstring> landed = qtest::NamesIn(target);
  EXPECT_EQ(std::set<std::wstring>(landed.begin(), landed.end()), expectedNames);
  for (const std::wstring& name : chosen) {
    const std::string bytes = qtest::ReadFileBytes(target + L"\\" + name);
    EXPECT_EQ(bytes, qtest::ReadFileBytes(source_ + L"\\" + name)) << qtest::Utf8(name);
    EXPECT_EQ(bytes.rfind("content of " + qtest::Utf8(name), 0), 0u) << qtest::Utf8(name);
  }
}

}  // namespace
