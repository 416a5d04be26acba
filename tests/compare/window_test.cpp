// The comparison window driven as a person would: opened from the
// information page with its file, the second file dropped, the list read
// back from the real list view, its filters, the commands of a row, and the
// CSV report read back with Python's csv module.
#include <shlobj.h>

#include "compare_fixture.h"
#include "controls/drag_drop.h"
#include "held_operation.h"
#include "pages/browser_extract.h"
#include "pages/compare_dlg.h"
#include "resources/ids_compare.h"
#include "resources/resource.h"
#include "win/pickers.h"

namespace {
using namespace cmp;
using qtest::WaitUntil;

class CompareWindowTest : public CompareTest {
 protected:
  void TearDown() override {
    SetPickerHandler(PickerHandler());
    if (CCompareDlg* compare = CCompareDlg::Instance()) DestroyWindow(compare->hwnd());
    CompareTest::TearDown();
  }
  HWND Window() { return CCompareDlg::Instance() ? CCompareDlg::Instance()->hwnd() : nullptr; }
  HWND List() { return GetDlgItem(Window(), IDC_COMPARE_LIST); }
  // "path|kinds" of every row the list shows, read from the list itself.
  std::set<std::string> ListedRows() {
    std::set<std::string> rows;
    HWND list = List();
    for (int i = 0; i < ListView_GetItemCount(list); i++)
      rows.insert(qtest::Utf8(look::Cell(list, i, 0) + L"|" + look::Cell(list, i, 1)));
    return rows;
  }
  int RowOf(const std::wstring& path) { return look::FindRow(List(), 0, path); }
  void Compare() {
    qtest::ClickButton(Window(), IDC_COMPARE_RUN);
    CCompareDlg* compare = CCompareDlg::Instance();
    ASSERT_TRUE(WaitUntil([&] { return !compare->reading() && !dialog_->runner().Busy(); }, 60000));
  }
  // A menu command to a window of this thread, handled before it returns.
  static void Command(HWND window, int id) {
    qtest::SendCommand(window, id);
    qtest::Flush();
  }
  // Answers the next save picker with `path`.
  void AnswerSaveWith(const std::wstring& path) {
    SetPickerHandler([path](const PickerRequest& request, std::vector<std::wstring>& paths) {
      if (request.kind != PickerKind::kSave) return false;
      paths = {path};
      return true;
    });
  }
};

std::string Line(const wchar_t* path, const wchar_t* kinds) { return qtest::Utf8(std::wstring(path) + L"|" + kinds); }

TEST_F(CompareWindowTest, FromTheInformationPageToACsvReport) {
  NtfsPair pair;
  if (!NeedNtfsPair(pair)) GTEST_SKIP() << "no NTFS volume tools";
  // The information page shows the first file; its "比较..." opens the window with it.
  dialog_->JumpTo(ID_JUMP_INFO, pair.before);
  HWND info = dialog_->infoPage().hwnd();
  look::SelectRows(dialog_->infoPage().Item(IDC_INFO_LIST), {0});
  qtest::SendCommand(info, ID_COMPARE_IMAGES);
  ASSERT_TRUE(WaitUntil([&] { return Window() && IsWindowVisible(Window()); }));
  EXPECT_EQ(qtest::WindowText(Window()), L"比较映像");
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_FILE1)), pair.before);

  // The second file is dropped onto the list.
  ComPtr<CMyOleSource> data = CMyOleSource::Create();
  data->CacheGlobalData(CF_HDROP, MakeFileDropData({pair.after}));
  RECT r;
  GetWindowRect(List(), &r);
  CCompareDlg::Instance()->OnOleDrop(data.get(), DROPEFFECT_LINK, POINTL{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_FILE2)), pair.after);
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_FILE1)), pair.before);

  Compare();
  const std::set<std::string> all = {
      Line(L"\\new.txt", L"新增"),
      Line(L"\\gone.txt", L"删除"),
      Line(L"\\d\\change.txt", L"内容已更改、时间已更改"),
      Line(L"\\moved.txt", L"移动或重命名"),
      Line(L"\\attr.txt", L"属性已更改"),
      Line(L"\\sec.txt", L"安全描述符已更改"),
      Line(L"\\times.txt", L"时间已更改"),
      Line(L"\\", L"时间已更改"),
      Line(L"\\d", L"时间已更改"),
  };
  EXPECT_EQ(ListedRows(), all);
  int moved = RowOf(L"\\moved.txt");
  ASSERT_GE(moved, 0);
  EXPECT_EQ(look::Cell(List(), moved, 4), L"\\d\\mover.txt");
  EXPECT_EQ(look::Cell(List(), moved, 2), L"14");
  EXPECT_EQ(look::Cell(List(), RowOf(L"\\new.txt"), 2), L"");
  EXPECT_EQ(look::Cell(List(), RowOf(L"\\new.txt"), 3), L"9");
  std::wstring summary = qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_SUMMARY));
  EXPECT_NE(summary.find(L"新增 1 个, 删除 1 个, 内容 1 个, 属性 1 个, 安全 1 个, 时间 4 个, 移动 1 个; 增加 9 字节, 减少 3 字节"),
            std::wstring::npos)
      << qtest::Utf8(summary);

  // The kind filter: without "时间", rows that changed only their times go.
  qtest::ClickButton(Window(), IDC_COMPARE_SHOW_TIMES);
  EXPECT_EQ(ListView_GetItemCount(List()), 6);
  qtest::ClickButton(Window(), IDC_COMPARE_SHOW_TIMES);
  EXPECT_EQ(ListView_GetItemCount(List()), 9);
  // The text filter, on the path or the path a file moved from.
  qtest::TypeText(GetDlgItem(Window(), IDC_COMPARE_TEXT), L"MOVER");
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetItemCount(List()) == 1; }));
  EXPECT_EQ(look::Cell(List(), 0, 0), L"\\moved.txt");
  qtest::TypeText(GetDlgItem(Window(), IDC_COMPARE_TEXT), L"");
  ASSERT_TRUE(WaitUntil([&] { return ListView_GetItemCount(List()) == 9; }));
  // "忽略时间": times are no change at all.
  qtest::ClickButton(Window(), IDC_COMPARE_IGNORE_TIMES);
  std::set<std::string> timeless = {
      Line(L"\\new.txt", L"新增"),       Line(L"\\gone.txt", L"删除"),          Line(L"\\d\\change.txt", L"内容已更改"),
      Line(L"\\moved.txt", L"移动或重命名"), Line(L"\\attr.txt", L"属性已更改"), Line(L"\\sec.txt", L"安全描述符已更改"),
  };
  EXPECT_EQ(ListedRows(), timeless);

  // From a row: copy the path; open the folder in the browser page.
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }
  look::SelectRows(List(), {RowOf(L"\\sec.txt")});
  Command(Window(), ID_COMPARE_COPY_PATH);
  EXPECT_EQ(look::ClipboardText(), L"\\sec.txt");
  // The clipboard is the desktop's: what this test put there goes again.
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    CloseClipboard();
  }
  look::SelectRows(List(), {RowOf(L"\\d\\change.txt")});
  Command(Window(), ID_COMPARE_BROWSE_SECOND);
  CPage_Browser& browser = dialog_->browserPage();
  EXPECT_EQ(browser.mode(), CPage_Browser::kInsideImage);
  EXPECT_EQ(browser.wimPath(), pair.after);
  EXPECT_EQ(browser.pathInImage(), L"\\d");
  look::SelectRows(List(), {RowOf(L"\\moved.txt")});
  Command(Window(), ID_COMPARE_BROWSE_FIRST);  // where it was: \d of the first image
  EXPECT_EQ(browser.wimPath(), pair.before);
  EXPECT_EQ(browser.pathInImage(), L"\\d");

  // Both versions of a file, each in a temporary folder of its own, opened
  // (text files open in Wine's notepad; a fresh prefix may lack the key).
  HKEY key = nullptr;
  bool added = false;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".txt", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    RegCloseKey(key);
  } else {
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, L"txtfile", 7), ERROR_SUCCESS);
    added = true;
  }
  struct Restore {
    bool added;
    ~Restore() {
      if (added) RegDeleteKeyW(HKEY_CLASSES_ROOT, L".txt");
    }
  } restore{added};
  app_->tempFolder = dir_ + L"\\temp";
  ASSERT_TRUE(qtest::MakeDirs(app_->tempFolder));
  look::SelectRows(List(), {RowOf(L"\\d\\change.txt")});
  Command(Window(), ID_COMPARE_OPEN_BOTH);
  std::set<std::string> versions;
  EXPECT_TRUE(WaitUntil(
      [&] {
        versions.clear();
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((app_->tempFolder + L"\\QuarryOpen-*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return false;
        do versions.insert(qtest::ReadFileBytes(app_->tempFolder + L"\\" + found.cFileName + L"\\change.txt"));
        while (FindNextFileW(find, &found));
        FindClose(find);
        return versions == std::set<std::string>{"before", "after!"};
      },
      30000));
  EXPECT_TRUE(WaitUntil([&] { return OpenWorkersRunning() == 0; }, 30000));
  // Both are shown (Wine's notepad names the file in its title), then closed.
  auto viewers = [] {
    std::vector<HWND> found;
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
          if (IsWindowVisible(hwnd) && qtest::WindowText(hwnd).find(L"change") != std::wstring::npos)
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  };
  EXPECT_TRUE(WaitUntil([&] { return viewers().size() == 2; }, 30000));
  for (HWND viewer : viewers()) PostMessageW(viewer, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return viewers().empty(); }, 30000));

  // The report: a CSV with a header row, read back by a CSV parser.
  std::wstring csv = dir_ + L"\\报告 1.csv";
  AnswerSaveWith(csv);
  qtest::ClickButton(Window(), IDC_COMPARE_SAVE);
  qtest::UnixResult read = qtest::RunUnix(
      "python3 -c 'import csv,sys\n"
      "rows = list(csv.reader(open(sys.argv[1], encoding=\"utf-8-sig\", newline=\"\")))\n"
      "for r in rows: print(\"|\".join(r))' " +
      qtest::ShQuote(qtest::UnixPath(csv)));
  ASSERT_EQ(read.exitCode, 0) << read.output;
  std::set<std::string> lines;
  std::string header;
  size_t at = 0;
  while (at < read.output.size()) {
    size_t end = read.output.find('\n', at);
    std::string line = read.output.substr(at, end - at);
    at = end == std::string::npos ? read.output.size() : end + 1;
    if (header.empty()) header = line;
    else lines.insert(line);
  }
  EXPECT_EQ(header, qtest::Utf8(L"路径|变化|原路径|之前大小|之后大小"));
  const std::set<std::string> expected = {
      qtest::Utf8(L"\\new.txt|新增|||9"),           qtest::Utf8(L"\\gone.txt|删除||3|"),
      qtest::Utf8(L"\\d\\change.txt|内容已更改||6|6"), qtest::Utf8(L"\\moved.txt|移动或重命名|\\d\\mover.txt|14|14"),
      qtest::Utf8(L"\\attr.txt|属性已更改||3|3"),     qtest::Utf8(L"\\sec.txt|安全描述符已更改||5|5"),
  };
  EXPECT_EQ(lines, expected);

  // The text report names both images and lists the same rows.
  std::wstring text = dir_ + L"\\report.txt";
  ASSERT_TRUE(CCompareDlg::Instance()->SaveReport(text));
  std::string bytes = qtest::ReadFileBytes(text);
  EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_NE(bytes.find(qtest::Utf8(L"移动或重命名\t\\moved.txt\t原: \\d\\mover.txt")), std::string::npos);
  EXPECT_NE(bytes.find(qtest::Utf8(pair.after)), std::string::npos);

  ShotIfAsked("compare");
  Command(Window(), IDCANCEL);
  EXPECT_EQ(CCompareDlg::Instance(), nullptr);
}

TEST_F(CompareWindowTest, TheMainMenuAndTheBrowserOpenIt) {
  std::wstring src = dir_ + L"\\src";
  qtest::MakeSampleTree(src);
  std::wstring wim = dir_ + L"\\two.wim";
  ASSERT_TRUE(look::Capture(src, wim, "First"));
  ASSERT_TRUE(qtest::WriteFileBytes(src + L"\\extra.txt", "extra"));
  ASSERT_TRUE(look::Capture(src, wim, "Second"));

  // The main menu opens it empty.
  Command(main_, ID_COMPARE_IMAGES);
  ASSERT_TRUE(WaitUntil([&] { return Window() != nullptr; }));
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_FILE1)), L"");
  Command(Window(), IDCANCEL);
  ASSERT_EQ(Window(), nullptr);

  // The browser's "比较..." inside an image: both images of its file.
  dialog_->JumpTo(ID_JUMP_BROWSER, wim);
  Command(dialog_->browserPage().hwnd(), ID_COMPARE_IMAGES);
  ASSERT_TRUE(WaitUntil([&] { return Window() != nullptr; }));
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_FILE1)), wim);
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_FILE2)), wim);
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_IMAGE1)), L"映像 1");
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_IMAGE2)), L"映像 2");
  {
    // While another operation runs, nothing starts and the window says why.
    qtest::HeldOperation other(dialog_->runner(), false);
    ASSERT_TRUE(other.started());
    qtest::ClickButton(Window(), IDC_COMPARE_RUN);
    EXPECT_FALSE(CCompareDlg::Instance()->reading());
    EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_STATUS)), L"另一个操作正在进行, 请在它结束后再比较。");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(Window(), IDC_COMPARE_RUN)));
  }
  // "中止" pressed before the read has got anywhere: it stops, says so and
  // lists nothing. (The worker cannot begin before this thread lets it.)
  qtest::ClickButton(Window(), IDC_COMPARE_RUN);
  ASSERT_TRUE(CCompareDlg::Instance()->reading());
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Window(), IDC_COMPARE_RUN)));
  qtest::ClickButton(Window(), IDC_COMPARE_ABORT);
  ASSERT_TRUE(WaitUntil([&] { return !CCompareDlg::Instance()->reading() && !dialog_->runner().Busy(); }));
  EXPECT_EQ(qtest::WindowText(GetDlgItem(Window(), IDC_COMPARE_STATUS)), L"读取已中止。");
  EXPECT_EQ(ListView_GetItemCount(List()), 0);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(Window(), IDC_COMPARE_SAVE)));
  Compare();
  EXPECT_EQ(ListedRows(), (std::set<std::string>{Line(L"\\extra.txt", L"新增"), Line(L"\\", L"时间已更改")}));

  // Closed while a read runs: the window hides, the read stops, and the
  // window goes once the read has ended.
  qtest::ClickButton(Window(), IDC_COMPARE_RUN);
  ASSERT_TRUE(CCompareDlg::Instance()->reading());
  SendMessageW(Window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_FALSE(IsWindowVisible(Window()));
  ASSERT_TRUE(WaitUntil([&] { return CCompareDlg::Instance() == nullptr && !dialog_->runner().Busy(); }));
}

}  // namespace
