// The advanced host and the split page: which page shows when, the jumps
// that land on a sub-page, the unit button, the checks before a split and
// real splits on both back ends, judged by applying the parts back with
// wimlib-imagex.
#include <gtest/gtest.h>

#include <cstdlib>

#include "advanced_fixture.h"
#include "resources/resource.h"

using namespace qtest;

namespace {
const int kRadios[3] = {IDC_ADVANCED_SPLIT, IDC_ADVANCED_MERGE, IDC_ADVANCED_DELETE};

// A screenshot for a person to look at, into the folder named by
// QUARRY_SCREENSHOTS (a Linux path) when it is set.
void ShotIfAsked(const std::string& name) {
  if (const char* folder = getenv("QUARRY_SCREENSHOTS")) {
    Screenshot(std::string(folder) + "/" + name + ".png");
  }
}

bool Checked(HWND host, int id) { return IsDlgButtonChecked(host, id) == BST_CHECKED; }

std::vector<std::wstring> FilesMatching(const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

// Every entry of a folder but "." and "..".
size_t EntriesIn(const std::wstring& folder) {
  size_t count = 0;
  for (const std::wstring& name : FilesMatching(folder + L"\\*"))
    if (name != L"." && name != L"..") count++;
  return count;
}

uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
}  // namespace

TEST_F(AdvancedTest, HostStartsOnSplitAndEachRadioShowsItsPageAlone) {
  ShowAdvancedTab();
  EXPECT_TRUE(Checked(hostWnd(), IDC_ADVANCED_SPLIT));
  EXPECT_FALSE(Checked(hostWnd(), IDC_ADVANCED_MERGE));
  EXPECT_FALSE(Checked(hostWnd(), IDC_ADVANCED_DELETE));
  EXPECT_TRUE(IsWindowVisible(splitWnd()));
  EXPECT_FALSE(IsWindowVisible(mergeWnd()));
  EXPECT_FALSE(IsWindowVisible(deleteWnd()));
  EXPECT_EQ(WindowText(GetDlgItem(hostWnd(), IDC_ADVANCED_SPLIT)), L"分割 WIM 文件");

  HWND pages[3] = {splitWnd(), mergeWnd(), deleteWnd()};
  for (int i : {1, 2, 0}) {
    ClickRadio(kRadios[i]);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(pages[i]); }, 20000)) << i;
    ShotIfAsked("advanced_page_" + std::to_string(i));
    for (int j = 0; j < 3; j++)
      if (j != i) EXPECT_FALSE(IsWindowVisible(pages[j])) << i << " " << j;
  }
  // The pages fill the host below the buttons.
  RECT host, page;
  GetClientRect(hostWnd(), &host);
  GetWindowRect(splitWnd(), &page);
  MapWindowPoints(nullptr, hostWnd(), reinterpret_cast<POINT*>(&page), 2);
  EXPECT_EQ(page.top, 50);
  EXPECT_EQ(page.right - page.left, host.right);
}

TEST_F(AdvancedTest, JumpToMergeFromTheDeletePageMarksOnlyMergeAndListsTheFile) {
  std::wstring wim = MakeWim(L"two.wim", 2);
  ShowAdvancedTab();
  ClickRadio(IDC_ADVANCED_DELETE);
  OnUiThread([&] { host().deletePage().OpenWimFile(wim); });
  HWND list = GetDlgItem(deleteWnd(), IDC_DELETE_LIST);
  ASSERT_EQ(Rows(list), 2);
  // The context menu's "合并或导出" item.
  SendMessageW(deleteWnd(), WM_COMMAND, ID_JUMP_MERGE, 0);
  EXPECT_TRUE(Checked(hostWnd(), IDC_ADVANCED_MERGE));
  EXPECT_FALSE(Checked(hostWnd(), IDC_ADVANCED_SPLIT));
  EXPECT_FALSE(Checked(hostWnd(), IDC_ADVANCED_DELETE));
  EXPECT_TRUE(IsWindowVisible(mergeWnd()));
  EXPECT_FALSE(IsWindowVisible(deleteWnd()));
  EXPECT_FALSE(IsWindowVisible(splitWnd()));
  HWND mergeList = GetDlgItem(mergeWnd(), IDC_MERGE_LIST);
  EXPECT_TRUE(WaitUntil([&] { return Rows(mergeList) == 2; }, 20000));
  EXPECT_EQ(Cell(mergeList, 1, 1), wim);

  // And from the merge list to the split page with the row's file.
  SelectRows(mergeList, {1});
  SendMessageW(mergeWnd(), WM_COMMAND, ID_JUMP_SPLIT, 0);
  EXPECT_TRUE(Checked(hostWnd(), IDC_ADVANCED_SPLIT));
  EXPECT_FALSE(Checked(hostWnd(), IDC_ADVANCED_MERGE));
  EXPECT_TRUE(IsWindowVisible(splitWnd()));
  EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_SOURCE), wim);
}

TEST_F(AdvancedTest, UnitButtonCyclesKbMbGbAndBackToKb) {
  ShowAdvancedTab();
  EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_SIZE), L"1024");
  EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_UNIT), L"KB");
  for (const wchar_t* next : {L"MB", L"GB", L"KB", L"MB"}) {
    Click(splitWnd(), IDC_SPLIT_UNIT);
    EXPECT_EQ(Text(splitWnd(), IDC_SPLIT_UNIT), next);
  }
}

TEST_F(AdvancedTest, SplitRefusesBadInputBeforeAnythingIsWritten) {
  std::wstring wim = MakeWim(L"source.wim", 1);
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, wim);

  struct Case {
    std::wstring target, size, message;
  } cases[] = {
      {dir_ + L"\\part.swm", L"1024", L"路径无效!"},
      {dir_ + L"\\missing-source-check.wim", L"abc", L"Enter a positive integer."},
      {dir_ + L"\\zero.wim", L"0", L"Enter a positive integer."},
      {dir_ + L"\\huge.wim", L"99999999999999", L"分割大小超出范围"},  // in GB after the unit below
      {wim, L"1024", L"目标文件不能与源文件相同!"},
  };
  for (const Case& c : cases) {
    ClearMessages();
    if (c.size == L"99999999999999") {
      Click(page, IDC_SPLIT_UNIT);
      Click(page, IDC_SPLIT_UNIT);
      ASSERT_EQ(Text(page, IDC_SPLIT_UNIT), L"GB");
    }
    Type(page, IDC_SPLIT_TARGET, c.target);
    Type(page, IDC_SPLIT_SIZE, c.size);
    Click(page, IDC_SPLIT_START);
    EXPECT_TRUE(WaitForMessage(c.message)) << Utf8(c.message);
    EXPECT_TRUE(IsWindowVisible(page));
    EXPECT_FALSE(IsWindowVisible(progressWnd()));
  }
  EXPECT_TRUE(FilesMatching(dir_ + L"\\part*").empty());
  EXPECT_TRUE(FilesMatching(dir_ + L"\\huge*").empty());

  // A missing source is refused the same way as a bad destination.
  ClearMessages();
  Type(page, IDC_SPLIT_SOURCE, dir_ + L"\\nothing-here.wim");
  Type(page, IDC_SPLIT_TARGET, dir_ + L"\\out.wim");
  Type(page, IDC_SPLIT_SIZE, L"1");
  Click(page, IDC_SPLIT_START);
  EXPECT_TRUE(WaitForMessage(L"路径无效!"));
  EXPECT_TRUE(FilesMatching(dir_ + L"\\out*").empty());
}

TEST_F(AdvancedTest, SolidFileGetsAPlainMessageInsteadOfAnErrorNumber) {
  std::wstring esd = MakeWim(L"solid.wim", 1, "--solid");
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, esd);
  Type(page, IDC_SPLIT_TARGET, dir_ + L"\\solidpart.wim");
  // Declining the conversion it is offered leaves it at the message.
  answer = [](const ShownMessage& m) { return (m.style & 0xF) == MB_YESNO ? IDNO : IDOK; };
  Click(page, IDC_SPLIT_START);
  EXPECT_TRUE(WaitForMessage(L"无法分割"));
  EXPECT_FALSE(IsWindowVisible(progressWnd()));
  EXPECT_TRUE(FilesMatching(dir_ + L"\\solidpart*").empty());
}

TEST_F(AdvancedTest, ExistingDestinationIsReplacedOnlyWhenTheUserAgrees) {
  std::wstring wim = MakeWim(L"source.wim", 1);
  std::wstring target = dir_ + L"\\keep.wim";
  ASSERT_TRUE(WriteFileBytes(target, "precious"));
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, wim);
  Type(page, IDC_SPLIT_TARGET, target);
  answer = [](const ShownMessage& m) { return (m.style & 0xF) == MB_YESNO ? IDNO : IDOK; };
  Click(page, IDC_SPLIT_START);
  ASSERT_TRUE(WaitForMessage(L"已存在.\n你是否要替换他?"));
  std::vector<ShownMessage> shown = Messages();
  EXPECT_EQ(shown.back().text, target + L" 已存在.\n你是否要替换他?");
  EXPECT_EQ(shown.back().caption, L"确认创建新的Wim文件");
  EXPECT_EQ(ReadFileBytes(target), "precious");
  EXPECT_FALSE(IsWindowVisible(progressWnd()));
}

TEST_F(AdvancedTest, SplitIsRefusedWhileTheQueueRunsBeforeAnyQuestion) {
  std::wstring wim = MakeWim(L"source.wim", 1);
  std::wstring target = dir_ + L"\\keep.wim";
  ASSERT_TRUE(WriteFileBytes(target, "precious"));
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, wim);
  Type(page, IDC_SPLIT_TARGET, target);
  Type(page, IDC_SPLIT_SIZE, L"1");
  auto run = HoldRunner(true);
  Click(page, IDC_SPLIT_START);
  EndHeld(run);
  std::vector<ShownMessage> shown = Messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, L"任务队列正在执行, 请等待它完成或中止它.");
  EXPECT_TRUE(IsWindowVisible(page));
  EXPECT_FALSE(IsWindowVisible(progressWnd()));
  EXPECT_EQ(Text(page, IDC_SPLIT_TARGET), target);
  EXPECT_EQ(ReadFileBytes(target), "precious");
}

// "img2.wim" is the second part's name of a split to "img.wim": such a
// split would write over its own source, however the names are spelled.
TEST_F(AdvancedTest, ALaterPartNamedLikeTheSourceIsRefused) {
  std::wstring wim = MakeWim(L"img2.wim", 1);
  const std::string before = ReadFileBytes(wim);
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, wim);
  Type(page, IDC_SPLIT_TARGET, dir_ + L"\\IMG.WIM");
  Type(page, IDC_SPLIT_SIZE, L"1");
  Click(page, IDC_SPLIT_START);
  EXPECT_TRUE(WaitForMessage(L"是源文件本身"));
  EXPECT_FALSE(IsWindowVisible(progressWnd()));
  EXPECT_EQ(ReadFileBytes(wim), before);
  EXPECT_EQ(EntriesIn(dir_), 1u);
}

class SplitBothBackends : public AdvancedTest, public ::testing::WithParamInterface<BackendKind> {};

TEST_P(SplitBothBackends, PartsOfTheChosenSizeApplyBackToTheSourceTree) {
  UseBackend(GetParam());
  // Incompressible data, so that the parts really are of the part size.
  std::wstring data;
  std::wstring wim = MakeNoiseWim(L"big.wim", 4, 200000, &data);
  ShowAdvancedTab();
  HWND page = splitWnd();
  std::wstring first = dir_ + L"\\parts.wim";
  Type(page, IDC_SPLIT_SOURCE, wim);
  Type(page, IDC_SPLIT_TARGET, first);
  Type(page, IDC_SPLIT_SIZE, L"300");
  EXPECT_EQ(Text(page, IDC_SPLIT_UNIT), L"KB");
  PostClick(page, IDC_SPLIT_START);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_TRUE(Messages().empty());

  std::vector<std::wstring> parts = FilesMatching(dir_ + L"\\parts*.wim");
  EXPECT_GE(parts.size(), 3u);
  for (const std::wstring& part : parts) EXPECT_LE(FileSize(dir_ + L"\\" + part), 300u * 1024) << Utf8(part);
  EXPECT_EQ(InfoField(first, 0, "Part Number"), "1/" + std::to_string(parts.size()));

  std::wstring out = TempDir() + L"\\applied";
  UnixResult applied = RunUnix("wimlib-imagex apply " + ShQuote(UnixPath(first)) + " 1 " + ShQuote(UnixPath(out)) +
                               " --ref=" + ShQuote(UnixPath(dir_) + "/parts*.wim"));
  ASSERT_EQ(applied.exitCode, 0) << applied.output;
  UnixResult diff = RunUnix("diff -r " + ShQuote(UnixPath(data)) + " " + ShQuote(UnixPath(out)));
  EXPECT_EQ(diff.exitCode, 0) << diff.output;
  // The fields keep their values after a split.
  EXPECT_EQ(Text(page, IDC_SPLIT_SIZE), L"300");
  EXPECT_EQ(Text(page, IDC_SPLIT_SOURCE), wim);
}

TEST_P(SplitBothBackends, AFileAlreadySplitIsRefused) {
  UseBackend(GetParam());
  std::wstring wim = MakeNoiseWim(L"whole.wim", 3, 100000);
  std::wstring part = dir_ + L"\\set.swm";
  ASSERT_EQ(RunUnix("wimlib-imagex split " + ShQuote(UnixPath(wim)) + " " + ShQuote(UnixPath(part)) + " 0.15").exitCode, 0);
  std::wstring second = dir_ + L"\\set2.swm";
  ASSERT_TRUE(GetFileAttributesW(second.c_str()) != INVALID_FILE_ATTRIBUTES);
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, second);
  Type(page, IDC_SPLIT_TARGET, dir_ + L"\\again.wim");
  Click(page, IDC_SPLIT_START);
  EXPECT_TRUE(WaitForMessage(L"这个.WIM文件已经被分割过，无法再次分割此文件！"));
  EXPECT_FALSE(IsWindowVisible(progressWnd()));
}

INSTANTIATE_TEST_SUITE_P(Backends, SplitBothBackends, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });

// Existing parts, those of an earlier and longer set among them, are named
// in one question; a split that fails while putting its parts in place
// leaves every one of them as it was and no part of the new set behind.
TEST_P(SplitBothBackends, ExistingPartsAreAskedAboutOnceAndKeptUntilTheNewSetIsComplete) {
  UseBackend(GetParam());
  std::wstring wim = MakeNoiseWim(L"big.wim", 4, 200000);
  const std::wstring first = dir_ + L"\\parts.wim", second = dir_ + L"\\parts2.wim", ninth = dir_ + L"\\parts9.wim";
  for (const std::wstring& old : {first, second, ninth}) ASSERT_TRUE(WriteFileBytes(old, "old " + Utf8(old)));
  auto oldFilesKept = [&] {
    for (const std::wstring& old : {first, second, ninth})
      if (ReadFileBytes(old) != "old " + Utf8(old)) return false;
    return EntriesIn(dir_) == 4u;
  };
  ShowAdvancedTab();
  HWND page = splitWnd();
  Type(page, IDC_SPLIT_SOURCE, wim);
  Type(page, IDC_SPLIT_TARGET, first);
  Type(page, IDC_SPLIT_SIZE, L"300");

  answer = [](const ShownMessage& m) { return (m.style & 0xF) == MB_YESNO ? IDNO : IDOK; };
  Click(page, IDC_SPLIT_START);
  std::vector<ShownMessage> shown = Messages();
  ASSERT_EQ(shown.size(), 1u);
  for (const std::wstring& old : {first, second, ninth})
    EXPECT_NE(shown[0].text.find(old + L"\n"), std::wstring::npos) << Utf8(shown[0].text);
  EXPECT_TRUE(oldFilesKept());

  // Agreed, but one old part cannot be moved away while another program holds it open.
  answer = nullptr;
  ClearMessages();
  HANDLE held = CreateFileW(second.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  PostClick(page, IDC_SPLIT_START);
  EXPECT_EQ(WaitForResult(), L"操作失败!");
  CloseHandle(held);
  EXPECT_TRUE(oldFilesKept());

  // Agreed and free: the new set replaces the old one, the extra old part included.
  ClearMessages();
  PostClick(page, IDC_SPLIT_START);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  std::vector<std::wstring> parts = FilesMatching(dir_ + L"\\parts*.wim");
  EXPECT_GE(parts.size(), 3u);
  EXPECT_LT(parts.size(), 9u);
  EXPECT_EQ(GetFileAttributesW(ninth.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(InfoField(first, 0, "Part Number"), "1/" + std::to_string(parts.size()));
  EXPECT_EQ(EntriesIn(dir_), parts.size() + 1);
}
