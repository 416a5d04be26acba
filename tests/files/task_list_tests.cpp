// Task records, their captions and task-list files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "config/settings.h"
#include "files_test_util.h"
#include "tasks/task_list_file.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

TaskListRow ApplyRow() {
  TaskListRow row;
  row.srcPath = L"D:\\images\\install.wim";
  row.desPath = L"E:\\target";
  row.record.TaskType = kTaskApply;
  row.record.ImageIndex = 3;
  row.record.Verify = 1;
  return row;
}

TaskListRow CaptureRow(BYTE type, const std::wstring& name) {
  TaskListRow row;
  row.srcPath = L"C:\\\u6E90\u6587\u4EF6\u5939";
  row.desPath = L"D:\\\u955C\u50CF\\" + name + L".wim";
  TaskRecord& r = row.record;
  r.TaskType = type;
  r.CompressType = 2;
  r.BootIndex = 1;
  r.Verify = 1;
  r.DisableACL = 1;
  SetTaskText(r.Name, name);
  SetTaskText(r.DsipName, L"\u663E\u793A " + name);
  SetTaskText(r.Description, L"desc " + name);
  SetTaskText(r.DispDescription, L"disp desc");
  SetTaskText(r.SKUFlag, L"Professional");
  return row;
}

TaskListRow MountRow() {
  TaskListRow row;
  row.srcPath = L"D:\\x.wim";
  row.desPath = L"C:\\mnt";
  row.record.TaskType = kTaskMount;
  row.record.ImageIndex = 2;
  row.record.Writable = 1;
  return row;
}

void ExpectSameRow(const TaskListRow& a, const TaskListRow& b) {
  EXPECT_EQ(a.srcPath, b.srcPath);
  EXPECT_EQ(a.desPath, b.desPath);
  const TaskRecord &x = a.record, &y = b.record;
  EXPECT_EQ(x.TaskType, y.TaskType);
  EXPECT_EQ(x.CompressType, y.CompressType);
  EXPECT_EQ(x.ImageIndex, y.ImageIndex);
  EXPECT_EQ(x.BootIndex, y.BootIndex);
  EXPECT_EQ(x.Writable, y.Writable);
  EXPECT_EQ(x.Verify, y.Verify);
  EXPECT_EQ(x.DisableACL, y.DisableACL);
  EXPECT_STREQ(x.Name, y.Name);
  EXPECT_STREQ(x.DsipName, y.DsipName);
  EXPECT_STREQ(x.Description, y.Description);
  EXPECT_STREQ(x.DispDescription, y.DispDescription);
  EXPECT_STREQ(x.SKUFlag, y.SKUFlag);
}

void WriteUtf16(const std::wstring& path, const std::wstring& text) {
  std::string bytes("\xFF\xFE", 2);
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  ASSERT_TRUE(qtest::WriteFileBytes(path, bytes));
}

TEST(TaskRecord, CaptionsOfTheTaskTypes) {
  EXPECT_EQ(TaskTypeCaption(kTaskCaptureNew), L"\u521B\u5EFA\u65B0\u955C\u50CF");     // 创建新镜像
  EXPECT_EQ(TaskTypeCaption(kTaskCaptureAppend), L"\u8FFD\u52A0\u955C\u50CF\u5377");  // 追加镜像卷
  EXPECT_EQ(TaskTypeCaption(kTaskApply), L"\u89E3\u5F00\u955C\u50CF");                // 解开镜像
  EXPECT_EQ(TaskTypeCaption(kTaskMount), L"\u6302\u8F7D");                            // 挂载
  EXPECT_EQ(TaskTypeCaption(4), L"4");
  EXPECT_EQ(TaskTypeCaption(11), L"11");
  EXPECT_EQ(TaskTypeCaption(255), L"255");
}

TEST(TaskListFile, ExampleQueueIsWrittenInExactlyThisForm) {
  std::wstring dir = qtest::TempDir();
  std::wstring file = dir + L"\\queue.Task";
  ASSERT_TRUE(SaveTaskList(file, {ApplyRow()}));
  EXPECT_EQ(filetest::ReadUtf16File(file),
            L"[TASKLIST]\r\nCount=1\r\n[TASK0]\r\nSrcPath=D:\\images\\install.wim\r\nDesPath=E:\\target\r\n"
            L"TaskType=2\r\nCompressType=0\r\nImageIndex=3\r\nVerify=1\r\nWritable=0\r\nBootIndex=0\r\n"
            L"DisableACL=0\r\nName=\r\nDescription=\r\nDsipName=\r\nDispDescription=\r\nSKUFlag=\r\n");
  EXPECT_THAT(qtest::NamesIn(dir), ElementsAre(L"queue.Task")) << "nothing written beside the target";
}

TEST(TaskListFile, SaveThenLoadGivesTheSameRows) {
  std::wstring file = qtest::TempDir() + L"\\\u961F\u5217.Task";
  std::vector<TaskListRow> rows = {CaptureRow(kTaskCaptureNew, L"\u7B2C\u4E00"), ApplyRow(),
                                   CaptureRow(kTaskCaptureAppend, L"second"), MountRow()};
  ASSERT_TRUE(SaveTaskList(file, rows));
  std::vector<TaskListRow> back = LoadTaskList(file);
  ASSERT_EQ(back.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectSameRow(back[i], rows[i]);
  }
}

TEST(TaskListFile, SavingIntoALongerQueueLeavesItsSections) {
  std::wstring file = qtest::TempDir() + L"\\q.Task";
  std::vector<TaskListRow> five(5, MountRow());
  ASSERT_TRUE(SaveTaskList(file, five));
  std::vector<TaskListRow> three = {ApplyRow(), CaptureRow(kTaskCaptureNew, L"n"), ApplyRow()};
  ASSERT_TRUE(SaveTaskList(file, three));

  EXPECT_THAT(filetest::ProfileSectionNames(file),
              ElementsAre(L"TASKLIST", L"TASK0", L"TASK1", L"TASK2", L"TASK3", L"TASK4"));
  std::vector<TaskListRow> back = LoadTaskList(file);
  ASSERT_EQ(back.size(), 3u);
  ExpectSameRow(back[1], three[1]);
}

TEST(TaskListFile, EmptyQueue) {
  std::wstring file = qtest::TempDir() + L"\\empty.Task";
  ASSERT_TRUE(SaveTaskList(file, {}));
  EXPECT_THAT(filetest::NonBlankLines(filetest::ReadUtf16File(file)), ElementsAre(L"[TASKLIST]", L"Count=0"));
  EXPECT_THAT(LoadTaskList(file), IsEmpty());
}

TEST(TaskListFile, LoadingHandFilesWithGapsAndOddValues) {
  std::wstring file = qtest::TempDir() + L"\\hand.Task";
  std::wstring longText(300, L'x');
  WriteUtf16(file,
             L"[TASKLIST]\r\nCount=4\r\n"
             L"[TASK0]\r\nTaskType=7\r\nSrcPath=" +
                 longText + L"\r\nName=" + longText +
                 L"\r\n"
                 L"[TASK1]\r\nTaskType=258\r\nImageIndex=abc\r\nVerify=1\r\n"
                 L"[TASK3]\r\nTaskType=3\r\nWritable=1\r\nDesPath=C:\\\u6302\u8F7D\r\n");
  std::vector<TaskListRow> rows = LoadTaskList(file);
  // Every row up to the last section keeps its number: the one whose
  // section is missing comes back with the defaults of all its keys.
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].record.TaskType, 7) << "an unknown type is kept";
  EXPECT_EQ(rows[0].srcPath, longText) << "paths are never cut";
  EXPECT_EQ(std::wstring(rows[0].record.Name), std::wstring(259, L'x'));
  EXPECT_EQ(rows[0].desPath, L"");
  EXPECT_EQ(rows[1].record.TaskType, 2) << "only the lowest 8 bits of the type";
  EXPECT_EQ(rows[1].record.ImageIndex, 0);
  EXPECT_EQ(rows[1].record.Verify, 1);
  ExpectSameRow(rows[2], TaskListRow());
  EXPECT_EQ(rows[3].record.TaskType, kTaskMount);
  EXPECT_EQ(rows[3].record.Writable, 1);
  EXPECT_EQ(rows[3].desPath, L"C:\\\u6302\u8F7D");
}

TEST(TaskListFile, LongPathsAndTextsOutsideTheBasicPlaneSurviveSaveAndLoad) {
  std::wstring dir = qtest::TempDir();
  std::wstring file = dir + L"\\long.Task";
  TaskListRow row = CaptureRow(kTaskCaptureNew, L"n");
  row.srcPath = L"C:\\" + std::wstring(300, L's') + L"\\\U0001F600";
  row.desPath = L"D:\\" + std::wstring(120, L'd') + L"\\" + std::wstring(200, L'e') + L".wim";
  // 258 units and one character of two units: the cut at 259 units would
  // leave half of it.
  std::wstring name = std::wstring(258, L'n') + L"\U00020000";
  SetTaskText(row.record.Name, name);
  EXPECT_EQ(std::wstring(row.record.Name), std::wstring(258, L'n')) << "no lone half of a pair";
  SetTaskText(row.record.Description, std::wstring(257, L'd') + L"\U00020000");
  EXPECT_EQ(std::wstring(row.record.Description), std::wstring(257, L'd') + L"\U00020000");
  ASSERT_TRUE(SaveTaskList(file, {row, ApplyRow()}));
  std::vector<TaskListRow> back = LoadTaskList(file);
  ASSERT_EQ(back.size(), 2u);
  ExpectSameRow(back[0], row);
  EXPECT_EQ(back[0].srcPath.size(), 306u);

  // A hand-made file whose texts are longer than a record field.
  WriteUtf16(file, L"[TASKLIST]\r\nCount=1\r\n[TASK0]\r\nSKUFlag=" + std::wstring(258, L'f') +
                       L"\U0001F600tail\r\nDesPath=" + row.desPath + L"\r\n");
  back = LoadTaskList(file);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(std::wstring(back[0].record.SKUFlag), std::wstring(258, L'f'));
  EXPECT_EQ(back[0].desPath, row.desPath);
}

TEST(TaskListFile, BadCountsGiveOnlyWhatTheFileHolds) {
  std::wstring dir = qtest::TempDir();
  struct {
    const wchar_t* text;
    size_t rows;
  } cases[] = {
      {L"[TASK0]\r\nTaskType=2\r\n", 0},                                               // no Count
      {L"[TASKLIST]\r\nCount=0\r\n[TASK0]\r\nTaskType=2\r\n", 0},                      // Count 0
      {L"[TASKLIST]\r\nCount=-3\r\n[TASK0]\r\nTaskType=2\r\n", 0},                     // negative
      {L"[TASKLIST]\r\nCount=junk\r\n[TASK0]\r\nTaskType=2\r\n", 0},                   // not a number
      {L"[TASKLIST]\r\nCount=2000000000\r\n[TASK0]\r\n[TASK1]\r\n", 2},                // huge
      {L"[TASKLIST]\r\nCount=2147483647\r\n[TASK0]\r\n[TASK99999999999]\r\n", 1},      // huge, odd name
      {L"[TASKLIST]\r\nCount=2000000000\r\n[TASK0]\r\n[TASK2]\r\n", 3},                // huge, a gap
      {L"[TASKLIST]\r\nCount=3\r\n[TASK0]\r\n[TASK01]\r\n[TASKX]\r\n[TASK7]\r\n", 1},  // no TASK1, TASK2
      {L"[TASKLIST]\r\nCount=5\r\n[TASK1]\r\n", 2},                                    // up to the last section
      {L"[TASKLIST]\r\nCount=3\r\n[task2]\r\n", 3},                                    // names ignore case
  };
  int n = 0;
  for (const auto& c : cases) {
    std::wstring file = dir + L"\\case" + std::to_wstring(n++) + L".Task";
    WriteUtf16(file, c.text);
    EXPECT_EQ(LoadTaskList(file).size(), c.rows) << qtest::Utf8(c.text);
  }
  EXPECT_THAT(LoadTaskList(dir + L"\\missing.Task"), IsEmpty());
  EXPECT_THAT(LoadTaskList(dir), IsEmpty());
}

double Seconds(LARGE_INTEGER from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - from.QuadPart) / frequency.QuadPart;
}

TEST(TaskListFile, LoadingCostsWhatTheFileHoldsNotWhatItClaims) {
  std::wstring dir = qtest::TempDir();
  std::wstring file = dir + L"\\claims.Task";
  // A gap of thousands of rows is still filled; a lone section numbered in
  // the billions claims more rows than any queue holds and gives only itself.
  struct {
    std::wstring text;
    unsigned char type;
    size_t rows;
  } cases[] = {
      {L"[TASKLIST]\r\nCount=5000\r\n[TASK4999]\r\nTaskType=2\r\nSrcPath=D:\\a.wim\r\n", 2, 5000},
      {L"[TASKLIST]\r\nCount=2000000000\r\n[TASK1999999999]\r\nTaskType=3\r\nSrcPath=D:\\a.wim\r\n", 3, 1},
  };
  for (const auto& c : cases) {
    WriteUtf16(file, c.text);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    std::vector<TaskListRow> rows = LoadTaskList(file);
    double took = Seconds(start);
    ASSERT_EQ(rows.size(), c.rows) << qtest::Utf8(c.text);
    EXPECT_EQ(rows.back().record.TaskType, c.type);
    EXPECT_EQ(rows.back().srcPath, L"D:\\a.wim");
    if (c.rows > 1) ExpectSameRow(rows.front(), TaskListRow());
    ASSERT_LT(took, 1.0) << qtest::Utf8(c.text);
  }
}

TEST(TaskListFile, AThousandRowsLoadWellUnderASecond) {
  std::wstring file = qtest::TempDir() + L"\\big.Task";
  std::vector<TaskListRow> rows;
  for (int i = 0; i < 1000; ++i) {
    TaskListRow row = i % 2 ? ApplyRow() : CaptureRow(kTaskCaptureNew, L"\u540D" + std::to_wstring(i));
    row.srcPath += std::to_wstring(i);
    row.record.ImageIndex = i;
    rows.push_back(row);
  }
  ASSERT_TRUE(SaveTaskList(file, rows));
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  std::vector<TaskListRow> back = LoadTaskList(file);
  double took = Seconds(start);
  ASSERT_EQ(back.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectSameRow(back[i], rows[i]);
  }
  EXPECT_LT(took, 0.5);
}

// A row read key by key with the private-profile functions themselves.
TaskListRow RowByProfileFunctions(const std::wstring& file, const std::wstring& section) {
  const wchar_t* s = section.c_str();
  TaskListRow row;
  TaskRecord& r = row.record;
  r.TaskType = static_cast<BYTE>(filetest::ProfileInt(file, s, L"TaskType"));
  r.ImageIndex = filetest::ProfileInt(file, s, L"ImageIndex");
  r.CompressType = filetest::ProfileInt(file, s, L"CompressType");
  r.BootIndex = filetest::ProfileInt(file, s, L"BootIndex");
  r.Verify = filetest::ProfileInt(file, s, L"Verify");
  r.Writable = filetest::ProfileInt(file, s, L"Writable");
  r.DisableACL = filetest::ProfileInt(file, s, L"DisableACL");
  SetTaskText(r.Name, filetest::ProfileText(file, s, L"Name"));
  SetTaskText(r.Description, filetest::ProfileText(file, s, L"Description"));
  SetTaskText(r.DsipName, filetest::ProfileText(file, s, L"DsipName"));
  SetTaskText(r.DispDescription, filetest::ProfileText(file, s, L"DispDescription"));
  SetTaskText(r.SKUFlag, filetest::ProfileText(file, s, L"SKUFlag"));
  row.desPath = filetest::ProfileText(file, s, L"DesPath", 100000);
  row.srcPath = filetest::ProfileText(file, s, L"SrcPath", 100000);
  return row;
}

TEST(TaskListFile, LoadReadsWhatTheProfileFunctionsRead) {
  std::wstring dir = qtest::TempDir();
  const std::wstring text =
      L"loose line\r\nkey=before any section\r\n"
      L"  [TASKLIST]  \r\n Count = 4 \r\nCount=9\r\n"
      L"[TASK0]\r\n  SrcPath =   C:\\a b\\c  \r\nDesPath=\"D:\\quoted\"\r\nTaskType=0x2\r\nImageIndex= -4\r\n"
      L"Verify=+1\r\nWritable=12abc\r\nBootIndex=\t7\r\nDisableACL\r\nname=lower-case key\r\n"
      L"Name=second name\r\nDescription='single'\r\nDsipName=\"\r\nDispDescription=\"\"\r\nSKUFlag=a=b\r\n"
      L"\r\n\n[TASK1] trailing\r\nTaskType=3\r\nSrcPath=\u6E90\u6587\u4EF6\r\nCompressType=99999999999\r\n"
      L"[TASK0]\r\nTaskType=1\r\nSrcPath=the second TASK0 is not read\r\n"
      L"[task2]\r\r\nTASKTYPE=2\rImageIndex=5\nVERIFY = 1\r\n"
      L"[TASK3\r\nTaskType=1\r\n"
      L"[TASK3]]\r\nTaskType=2\r\nDesPath=x]\r\n";
  // Once as UTF-16, once as ANSI text in the system code page.
  std::wstring unicode = dir + L"\\u.Task", ansi = dir + L"\\a.Task";
  WriteUtf16(unicode, text);
  std::string narrow;
  for (wchar_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
  ASSERT_TRUE(qtest::WriteFileBytes(ansi, narrow));

  for (const std::wstring& file : {unicode, ansi}) {
    SCOPED_TRACE(qtest::Utf8(file));
    int count = filetest::ProfileInt(file, L"TASKLIST", L"Count");
    ASSERT_EQ(count, 4);
    // Rows up to the last TASKn section present below Count.
    int end = 0;
    for (const std::wstring& name : filetest::ProfileSectionNames(file))
      for (int j = 0; j < count; ++j)
        if (_wcsicmp(name.c_str(), (L"TASK" + std::to_wstring(j)).c_str()) == 0) end = std::max(end, j + 1);
    ASSERT_EQ(end, 3);
    std::vector<TaskListRow> expected;
    for (int j = 0; j < end; ++j) expected.push_back(RowByProfileFunctions(file, L"TASK" + std::to_wstring(j)));
    std::vector<TaskListRow> rows = LoadTaskList(file);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(i);
      ExpectSameRow(rows[i], expected[i]);
    }

    // Saved into the same file, the rows read back through the profile
    // functions as they were, and the lines of other sections stay.
    ASSERT_TRUE(SaveTaskList(file, rows));
    EXPECT_EQ(filetest::ProfileInt(file, L"TASKLIST", L"Count"), static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(i);
      ExpectSameRow(RowByProfileFunctions(file, L"TASK" + std::to_wstring(i)), rows[i]);
    }
    EXPECT_EQ(filetest::ProfileText(file, L"TASK3]", L"DesPath"), L"x]");
    EXPECT_EQ(LoadTaskList(file).size(), rows.size());
  }
}

TEST(TaskListFile, ExistingAnsiFileKeepsItsLinesAndTakesChinesePaths) {
  std::wstring dir = qtest::TempDir();
  std::wstring file = dir + L"\\old.Task";
  ASSERT_TRUE(qtest::WriteFileBytes(file, "[NOTES]\r\nkept=yes\r\n[TASKLIST]\r\nCount=9\r\n"));
  std::vector<TaskListRow> rows = {CaptureRow(kTaskCaptureNew, L"\u4E2D\u6587")};
  ASSERT_TRUE(SaveTaskList(file, rows));
  std::vector<TaskListRow> back = LoadTaskList(file);
  ASSERT_EQ(back.size(), 1u);
  ExpectSameRow(back[0], rows[0]);
  EXPECT_EQ(filetest::ProfileText(file, L"NOTES", L"kept"), L"yes");
  EXPECT_THAT(qtest::NamesIn(dir), ElementsAre(L"old.Task"));
}

TEST(TaskListFile, ANameWithoutFolderMeansTheCurrentFolder) {
  std::wstring dir = qtest::TempDir();
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
  bool saved = SaveTaskList(L"relative.Task", {ApplyRow()});
  size_t loaded = LoadTaskList(L"relative.Task").size();
  SetCurrentDirectoryW(previous);
  EXPECT_TRUE(saved);
  EXPECT_EQ(loaded, 1u);
  EXPECT_THAT(qtest::NamesIn(dir), ElementsAre(L"relative.Task"));
}

TEST(TaskListFile, UnwritableTargetsFailAndWriteNothing) {
  std::wstring dir = qtest::TempDir();
  EXPECT_FALSE(SaveTaskList(dir + L"\\no\\such\\folder\\q.Task", {ApplyRow()}));
  EXPECT_FALSE(SaveTaskList(dir, {ApplyRow()})) << "a folder";
  EXPECT_THAT(qtest::NamesIn(dir), IsEmpty());

  // A file another program holds open without sharing is left as it is.
  std::wstring held = dir + L"\\held.Task";
  ASSERT_TRUE(qtest::WriteFileBytes(held, "[NOTES]\r\nkept=yes\r\n"));
  HANDLE h = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(SaveTaskList(held, {ApplyRow()}));
  CloseHandle(h);
  EXPECT_EQ(qtest::ReadFileBytes(held), "[NOTES]\r\nkept=yes\r\n");
  EXPECT_THAT(qtest::NamesIn(dir), ElementsAre(L"held.Task"));
}

}  // namespace

namespace {

// A queued capture and a queued mount as the pages make them: the rows they
// become carry every option, and the tasks read back from those rows (and
// from a saved and loaded file) ask for exactly the same.
TEST(TaskListFile, AQueuedTaskComesBackAsTheSameRequest) {
  TaskRequest capture;
  capture.type = kTaskCaptureAppend;
  capture.capture.source = L"C:\\\u6E90";
  capture.capture.wimPath = L"D:\\out.wim";
  capture.capture.compression = 2;
  capture.capture.append = true;
  capture.capture.verify = true;
  capture.capture.noSecurity = true;
  capture.capture.info.name = L"\u540D";
  capture.capture.info.displayName = L"shown";
  capture.capture.info.description = L"desc";
  capture.capture.info.displayDescription = L"shown desc";
  capture.capture.info.flags = L"Professional";
  capture.capture.info.bootIndex = 2;
  TaskRequest mount;
  mount.type = kTaskMount;
  mount.image = MountRequest{L"D:\\in.wim", L"E:\\mnt", 3, true, false, true};

  const std::wstring file = qtest::TempDir() + L"\\requests.Task";
  ASSERT_TRUE(SaveTaskList(file, {RowOfTask(capture), RowOfTask(mount)}));
  std::vector<TaskListRow> rows = LoadTaskList(file);
  ASSERT_EQ(rows.size(), 2u);

  TaskRequest c = TaskOfRow(rows[0]);
  EXPECT_EQ(c.type, kTaskCaptureAppend);
  EXPECT_EQ(c.capture.source, capture.capture.source);
  EXPECT_EQ(c.capture.wimPath, capture.capture.wimPath);
  EXPECT_EQ(c.capture.compression, 2);
  EXPECT_TRUE(c.capture.append);
  EXPECT_TRUE(c.capture.verify);
  EXPECT_TRUE(c.capture.noSecurity);
  EXPECT_EQ(c.capture.info.name, capture.capture.info.name);
  EXPECT_EQ(c.capture.info.displayName, L"shown");
  EXPECT_EQ(c.capture.info.description, L"desc");
  EXPECT_EQ(c.capture.info.displayDescription, L"shown desc");
  EXPECT_EQ(c.capture.info.flags, L"Professional");
  EXPECT_EQ(c.capture.info.bootIndex, 2);

  TaskRequest m = TaskOfRow(rows[1]);
  EXPECT_EQ(m.type, kTaskMount);
  EXPECT_EQ(m.image.wimPath, L"D:\\in.wim");
  EXPECT_EQ(m.image.folder, L"E:\\mnt");
  EXPECT_EQ(m.image.index, 3);
  EXPECT_TRUE(m.image.verify);
  EXPECT_FALSE(m.image.noSecurity);
  EXPECT_TRUE(m.image.writable);

  // An apply keeps no "writable", whatever the request held.
  mount.type = kTaskApply;
  EXPECT_EQ(RowOfTask(mount).record.Writable, 0);
}

}  // namespace
