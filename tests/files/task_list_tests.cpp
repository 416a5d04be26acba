// Task records, their captions and task-list files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/settings.h"
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
  EXPECT_THAT(filetest::FilesIn(dir), ElementsAre(L"queue.Task")) << "nothing written beside the target";
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

  EXPECT_THAT(ReadProfileSectionNames(file),
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
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].record.TaskType, 7) << "an unknown type is kept";
  EXPECT_EQ(rows[0].srcPath, longText) << "a path is never cut";
  EXPECT_EQ(std::wstring(rows[0].record.Name), std::wstring(259, L'x'));
  EXPECT_EQ(rows[0].desPath, L"");
  EXPECT_EQ(rows[1].record.TaskType, 2) << "only the lowest 8 bits of the type";
  EXPECT_EQ(rows[1].record.ImageIndex, 0);
  EXPECT_EQ(rows[1].record.Verify, 1);
  // A section missing between others reads as a zeroed record.
  EXPECT_EQ(rows[2].record.TaskType, 0);
  EXPECT_EQ(rows[2].srcPath, L"");
  EXPECT_STREQ(rows[2].record.SKUFlag, L"");
  EXPECT_EQ(rows[3].record.Writable, 1);
  EXPECT_EQ(rows[3].desPath, L"C:\\\u6302\u8F7D");
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
      {L"[TASKLIST]\r\nCount=3\r\n[TASK0]\r\n[TASK01]\r\n[TASKX]\r\n[TASK7]\r\n", 1},  // no TASK1, TASK2
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

TEST(TaskListFile, ExistingAnsiFileKeepsItsLinesAndTakesChinesePaths) {
  std::wstring dir = qtest::TempDir();
  std::wstring file = dir + L"\\old.Task";
  ASSERT_TRUE(qtest::WriteFileBytes(file, "[NOTES]\r\nkept=yes\r\n[TASKLIST]\r\nCount=9\r\n"));
  std::vector<TaskListRow> rows = {CaptureRow(kTaskCaptureNew, L"\u4E2D\u6587")};
  ASSERT_TRUE(SaveTaskList(file, rows));
  std::vector<TaskListRow> back = LoadTaskList(file);
  ASSERT_EQ(back.size(), 1u);
  ExpectSameRow(back[0], rows[0]);
  EXPECT_EQ(ReadProfileText(file, L"NOTES", L"kept"), L"yes");
  EXPECT_THAT(filetest::FilesIn(dir), ElementsAre(L"old.Task"));
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
  EXPECT_THAT(filetest::FilesIn(dir), ElementsAre(L"relative.Task"));
}

TEST(TaskListFile, UnwritableTargetsFailAndWriteNothing) {
  std::wstring dir = qtest::TempDir();
  EXPECT_FALSE(SaveTaskList(dir + L"\\no\\such\\folder\\q.Task", {ApplyRow()}));
  EXPECT_FALSE(SaveTaskList(dir, {ApplyRow()})) << "a folder";
  EXPECT_THAT(filetest::FilesIn(dir), IsEmpty());
}

}  // namespace
