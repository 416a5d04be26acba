// The merge and export page: rows of several files with their ticks, the
// export into a new file through the capture options and into an existing
// file, WIMBoot, and a cancel in the middle of several exports, on both
// back ends, judged with wimlib-imagex.
#include <gtest/gtest.h>

#include <atomic>

#include "advanced_fixture.h"
#include "pages/page2_merge.h"
#include "resources/resource.h"

using namespace qtest;

namespace {
constexpr int kTicked = 1, kUnticked = 2;
}

class MergeTest : public AdvancedTest, public ::testing::WithParamInterface<BackendKind> {
 protected:
  HWND List() { return GetDlgItem(mergeWnd(), IDC_MERGE_LIST); }
  void OpenMergePage() {
    ShowAdvancedTab();
    ClickRadio(IDC_ADVANCED_MERGE);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(mergeWnd()); }, 20000));
  }
  // "添加文件..." with the files answered in the dialog.
  void AddFiles(const std::vector<std::wstring>& files, int rowsAfter) {
    QueueFileAnswer(files);
    Click(mergeWnd(), IDC_MERGE_ADD);
    ASSERT_TRUE(WaitUntil([&] { return Rows(List()) == rowsAfter; }, 30000)) << Rows(List());
  }
  void Untick(int row) {
    ASSERT_EQ(RowImage(List(), row), kTicked);
    ClickCell(List(), row, 0);
    ASSERT_TRUE(WaitUntil([&] { return RowImage(List(), row) == kUnticked; }, 20000));
  }
  // Answers the capture options dialog for a new destination.
  void AnswerOptions(bool wimBoot, int compressionId = 0) {
    HWND options = WaitForDialog(L"捕获选项", 60000);
    ASSERT_TRUE(options);
    HWND editions = GetDlgItem(options, 1065);
    EXPECT_EQ(SendMessageW(editions, CB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(WindowText(editions).empty() ? std::wstring(L"默认") : WindowText(editions), L"默认");
    EXPECT_FALSE(IsWindowEnabled(editions));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, 1066)));
    if (wimBoot) Click(options, 1067);
    if (compressionId) Click(options, compressionId);
    Click(options, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(options) || !IsWindowVisible(options); }, 20000));
  }
  std::vector<std::string> Names(const std::wstring& wim) {
    std::vector<std::string> names;
    int count = ImageCount(wim);
    for (int i = 1; i <= count; i++) names.push_back(InfoField(wim, i, "Name"));
    return names;
  }
};

// Files are read into the list in the background. Held before the second
// of two files is read: clearing the list stops the loading, and "导出"
// waits for a whole list instead of exporting part of it.
TEST_F(MergeTest, ClearingStopsTheLoadingAndExportWaitsForAWholeList) {
  std::wstring first = MakeWim(L"first.wim", 2), second = MakeWim(L"second.wim", 3);
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> held{0};
  SetMergeLoadHook([&](const std::wstring& path) {
    if (path != second) return;
    held++;
    WaitForSingleObject(go, 60000);
  });
  struct Unhook {
    HANDLE go;
    ~Unhook() {
      SetEvent(go);
      SetMergeLoadHook(nullptr);
    }
  } unhook{go};
  OpenMergePage();
  auto addBoth = [&](int heldBefore) {
    AddFiles({first, second}, 2);
    ASSERT_TRUE(WaitUntil([&] { return held == heldBefore + 1; }, 20000));
  };
  auto finishLoading = [&] {
    SetEvent(go);
    ASSERT_TRUE(WaitUntil([&] { return !host().mergePage().IsLoading(); }, 20000));
    SendMessageTimeoutW(mergeWnd(), WM_NULL, 0, 0, SMTO_NORMAL, 20000, nullptr);
    ResetEvent(go);
  };

  addBoth(0);
  SendMessageW(mergeWnd(), WM_COMMAND, ID_MERGE_REMOVE_ALL, 0);
  finishLoading();
  EXPECT_EQ(Rows(List()), 0) << "the second file's rows came back";

  addBoth(1);
  SelectRows(List(), {0, 1});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  finishLoading();
  EXPECT_EQ(Rows(List()), 0);

  addBoth(2);
  ClearMessages();
  const int dialogs = FileDialogsShown();
  std::wstring out = dir_ + L"\\out.wim";
  QueueFileAnswer({out});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  EXPECT_TRUE(WaitForMessage(L"列表中的文件仍在读取"));
  EXPECT_EQ(FileDialogsShown(), dialogs);
  finishLoading();
  ASSERT_EQ(Rows(List()), 5);
  EXPECT_EQ(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MergeTest, AddingAFileTwiceListsItsImagesTwiceAndTicksSteerTheExportButton) {
  std::wstring wim = MakeWim(L"two.wim", 2);
  OpenMergePage();
  EXPECT_FALSE(ItemEnabled(mergeWnd(), IDC_MERGE_EXPORT));
  AddFiles({wim}, 2);
  AddFiles({wim}, 4);
  EXPECT_TRUE(ItemEnabled(mergeWnd(), IDC_MERGE_EXPORT));
  for (int r = 0; r < 4; r++) {
    EXPECT_EQ(RowImage(List(), r), kTicked);
    EXPECT_EQ(Cell(List(), r, 1), wim);
    EXPECT_EQ(Cell(List(), r, 2), r % 2 ? L"2" : L"1");
    EXPECT_EQ(Cell(List(), r, 6), r % 2 ? L"Image 2" : L"Image 1");
    EXPECT_EQ(Cell(List(), r, 7), r % 2 ? L"Description 2" : L"Description 1");
  }
  EXPECT_NE(Cell(List(), 0, 5).find(L" Bytes"), std::wstring::npos);
  for (int r = 0; r < 4; r++) Untick(r);
  EXPECT_FALSE(ItemEnabled(mergeWnd(), IDC_MERGE_EXPORT));
  ClickCell(List(), 2, 0);
  EXPECT_TRUE(WaitUntil([&] { return ItemEnabled(mergeWnd(), IDC_MERGE_EXPORT); }, 20000));
  // A click on another column changes nothing.
  ClickCell(List(), 1, 6);
  Flush();
  EXPECT_EQ(RowImage(List(), 1), kUnticked);

  // Not a WIM file, and a later part of a split set: no rows.
  std::wstring text = dir_ + L"\\note.wim";
  ASSERT_TRUE(WriteFileBytes(text, "not an image"));
  std::wstring split = dir_ + L"\\set.swm";
  ASSERT_EQ(RunUnix("wimlib-imagex split " + ShQuote(UnixPath(MakeNoiseWim(L"noise.wim", 3, 100000))) + " " + ShQuote(UnixPath(split)) + " 0.15").exitCode, 0);
  ASSERT_NE(GetFileAttributesW((dir_ + L"\\set2.swm").c_str()), INVALID_FILE_ATTRIBUTES);
  QueueFileAnswer({text, dir_ + L"\\set2.swm"});
  Click(mergeWnd(), IDC_MERGE_ADD);
  EXPECT_TRUE(WaitUntil([&] { return !host().mergePage().IsLoading(); }, 20000));
  EXPECT_EQ(Rows(List()), 4);

  // Delete key on selected rows, then "删除全部项目".
  SelectRows(List(), {0, 3});
  SendMessageW(List(), WM_KEYDOWN, VK_DELETE, 0);
  EXPECT_EQ(Rows(List()), 2);
  SendMessageW(mergeWnd(), WM_COMMAND, ID_MERGE_REMOVE_ALL, 0);
  EXPECT_EQ(Rows(List()), 0);
  EXPECT_FALSE(ItemEnabled(mergeWnd(), IDC_MERGE_EXPORT));
}

TEST_P(MergeTest, ExportIntoANewFileThenMergeIntoIt) {
  UseBackend(GetParam());
  std::wstring a = MakeWim(L"a.wim", 2);
  std::wstring b = dir_ + L"\\b.wim";
  ASSERT_EQ(RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(SourceTree() + L"\\sub")) + " " + ShQuote(UnixPath(b)) +
                    " 'Other A' && wimlib-imagex append " + ShQuote(UnixPath(SourceTree() + L"\\sub")) + " " +
                    ShQuote(UnixPath(b)) + " 'Other B'")
                .exitCode,
            0);
  OpenMergePage();
  AddFiles({a, b}, 4);
  Untick(1);  // a.wim image 2 stays out
  std::wstring target = dir_ + L"\\merged.wim";
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  AnswerOptions(false);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_EQ(Names(target), (std::vector<std::string>{"Image 1", "Other A", "Other B"}));
  UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(target)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;

  // Into the existing file: asked, then added with the file's compression.
  ClearMessages();
  for (int r = 0; r < 4; r++)
    if (r != 1) Untick(r);
  ClickCell(List(), 1, 0);
  ASSERT_TRUE(WaitUntil([&] { return RowImage(List(), 1) == kTicked; }, 20000));
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  std::vector<ShownMessage> shown = Messages();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown[0].text, target + L" 已存在.\n是否要将选定的卷合并到其中 ?");
  EXPECT_EQ(shown[0].caption, L"确认导出/合并");
  EXPECT_EQ(ImageCount(target), 4);
  EXPECT_EQ(Names(target).back(), "Image 2");
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(target))).exitCode, 0);

  // A destination that is one of the sources is refused.
  ClearMessages();
  QueueFileAnswer({a});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  EXPECT_TRUE(WaitForMessage(L"目标文件不能是列表中的源文件之一!"));
  EXPECT_EQ(ImageCount(a), 2);
}

TEST_F(MergeTest, WimBootExportWithWimlib) {
  UseBackend(kBackendWimlib);
  std::wstring a = MakeWim(L"a.wim", 1);
  OpenMergePage();
  AddFiles({a}, 1);
  std::wstring target = dir_ + L"\\wimboot.wim";
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  AnswerOptions(true);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_EQ(InfoField(target, 1, "WIMBoot compatible"), "yes");
  EXPECT_EQ(InfoField(target, 0, "Compression"), "XPRESS");
  EXPECT_EQ(InfoField(target, 0, "Chunk Size"), "4096 bytes");
}

TEST_P(MergeTest, CancelDuringThreeExportsStopsAndLeavesAValidFile) {
  UseBackend(GetParam());
  // Enough incompressible data that each export takes a moment.
  std::wstring data = TempDir();
  std::string noise(6000000, '\0');
  uint32_t x = 99;
  for (char& c : noise) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  std::wstring wims[3];
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(WriteFileBytes(data + L"\\n.bin", noise.substr(i * 1000, 5000000)));
    wims[i] = dir_ + L"\\src" + std::to_wstring(i) + L".wim";
    ASSERT_EQ(RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(data)) + " " + ShQuote(UnixPath(wims[i])) +
                      " Src" + std::to_string(i))
                  .exitCode,
              0);
  }
  OpenMergePage();
  AddFiles({wims[0], wims[1], wims[2]}, 3);
  std::wstring target = dir_ + L"\\cancelled.wim";
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  AnswerOptions(false);
  HWND progress = progressWnd();
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(progress); }, 20000));
  // The description tells which image of how many, and nothing more.
  std::wstring title;
  EXPECT_TRUE(WaitUntil([&] {
    title = WindowText(GetDlgItem(progress, IDC_PROGRESS_TITLE));
    return title == L"正在导出镜像 1/3" || title == L"正在导出镜像 2/3" || title == L"正在导出镜像 3/3";
  }, 20000)) << Utf8(title);
  Click(progress, IDC_PROGRESS_ABORT);
  EXPECT_EQ(WaitForResult(), L"操作被取消.");
  EXPECT_TRUE(WaitForMessage(L"是否要中止当前操作?"));
  int count = GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES ? 0 : ImageCount(target);
  EXPECT_LT(count, 3);
  if (count > 0) {
    UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(target)));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
  }
}

TEST_P(MergeTest, ExportIntoANewSolidEsdAndThenIntoIt) {
  UseBackend(GetParam());
  std::wstring a = MakeWim(L"a.wim", 2);
  OpenMergePage();
  AddFiles({a}, 2);
  std::wstring target = dir_ + L"\\out.esd";
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  AnswerOptions(false, IDC_OPT_COMP_LZMS);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_EQ(ImageCount(target), 2);
  EXPECT_EQ(InfoField(target, 0, "Compression"), "LZMS");
  EXPECT_TRUE(FileDataIsSolid(target));
  UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(target)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  // The images come back as they went in.
  std::wstring out = TempDir();
  ASSERT_EQ(RunUnix("wimlib-imagex apply " + ShQuote(UnixPath(target)) + " 2 " + ShQuote(UnixPath(out + L"\\x")))
                .exitCode, 0);
  UnixResult diff = RunUnix("diff -r " + ShQuote(UnixPath(SourceTree())) + " " + ShQuote(UnixPath(out + L"\\x")));
  EXPECT_EQ(diff.exitCode, 0) << diff.output;

  // Exporting into the existing ESD adds solid data to it.
  std::wstring b = MakeNoiseWim(L"b.wim", 3, 300000);
  AddFiles({b}, 3);
  Untick(0);
  Untick(1);
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_EQ(ImageCount(target), 3);
  EXPECT_TRUE(FileDataIsSolid(target));
  verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(target)));
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
}

TEST_P(MergeTest, AFailedExportIsNotHiddenByALaterSuccess) {
  UseBackend(GetParam());
  std::wstring a = MakeWim(L"a.wim", 1);
  std::wstring gone = MakeWim(L"gone.wim", 1);
  OpenMergePage();
  AddFiles({gone, a}, 2);
  ASSERT_TRUE(DeleteFileW(gone.c_str()));
  std::wstring target = dir_ + L"\\partly.wim";
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  AnswerOptions(false);
  EXPECT_EQ(WaitForResult(), L"操作失败!");
  // The image that could be exported is there.
  EXPECT_EQ(ImageCount(target), 1);
}

TEST_F(MergeTest, LongPathsStayWholeInTheListAndTheExport) {
  std::wstring wim = MakeWim(L"short.wim", 1);
  std::wstring deep = dir_;
  for (int i = 0; i < 4; i++) deep += L"\\" + std::wstring(70, static_cast<wchar_t>(L'a' + i));
  ASSERT_TRUE(MakeDirs(deep));
  std::wstring longWim = deep + L"\\source-image.wim";
  ASSERT_GT(longWim.size(), 300u);
  ASSERT_TRUE(CopyFileW(wim.c_str(), longWim.c_str(), FALSE));
  OpenMergePage();
  AddFiles({longWim}, 1);
  EXPECT_EQ(Cell(List(), 0, 1), longWim);
  std::wstring target = deep + L"\\exported-copy.wim";
  QueueFileAnswer({target});
  PostClick(mergeWnd(), IDC_MERGE_EXPORT);
  AnswerOptions(false);
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_NE(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
}

// The preferences may replace the temporary folder while an export runs:
// the export goes on with the folder it started with. The change is made
// on the window's thread at once after the click, before the worker has
// passed its first step.
TEST_F(MergeTest, AnExportKeepsTheTemporaryFolderItStartedWith) {
  UseBackend(kBackendWimgapi);
  std::wstring a = MakeWim(L"a.wim", 1);
  std::wstring target = MakeWim(L"target.wim", 1);
  OpenMergePage();
  AddFiles({a}, 1);
  app_->tempFolder = TempDir();
  QueueFileAnswer({target});
  OnUiThread([&] {
    SendMessageW(mergeWnd(), WM_COMMAND, MAKEWPARAM(IDC_MERGE_EXPORT, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(mergeWnd(), IDC_MERGE_EXPORT)));
    app_->tempFolder = dir_ + L"\\no-such-folder";
  });
  EXPECT_EQ(WaitForResult(), L"操作成功完成!");
  EXPECT_EQ(ImageCount(target), 2);
  for (const ShownMessage& m : Messages()) EXPECT_EQ(m.text.find(L"WIMSetTemporaryPath"), std::wstring::npos);
}

INSTANTIATE_TEST_SUITE_P(Backends, MergeTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });
