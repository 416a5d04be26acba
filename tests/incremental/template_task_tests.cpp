// A queued append with a template: kept in the task-list file under its own
// key, read back from it, named in the row, and read as "no template" from
// a file written before the key existed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "harness.h"
#include "tasks/task_list_file.h"
#include "tasks/task_record.h"

namespace {

TaskRequest AppendTask(int templateImage) {
  TaskRequest task;
  task.type = kTaskCaptureAppend;
  task.capture.source = L"C:\\data\\\u6e90";
  task.capture.wimPath = L"D:\\backup\\\u5907\u4efd.wim";
  task.capture.compression = 2;
  task.capture.append = true;
  task.capture.templateImage = templateImage;
  task.capture.info.name = L"\u7b2c\u4e8c\u6b21";
  return task;
}

int KeyOf(const std::wstring& file, const wchar_t* section) {
  return static_cast<int>(GetPrivateProfileIntW(section, L"TemplateImage", 12345, file.c_str()));
}

void WriteUtf16(const std::wstring& path, const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  ASSERT_TRUE(qtest::WriteFileBytes(path, bytes));
}

TEST(TemplateTaskRow, AnAppendKeepsItsTemplateThroughTheFileAndItsRowSaysWhich) {
  std::wstring file = qtest::TempDir() + L"\\\u961f\u5217.Task";
  ASSERT_TRUE(SaveTaskList(file, {RowOfTask(AppendTask(2)), RowOfTask(AppendTask(kTemplateLastImage)),
                                  RowOfTask(AppendTask(kTemplateNone))}));
  EXPECT_EQ(KeyOf(file, L"TASK0"), 2);
  EXPECT_EQ(KeyOf(file, L"TASK1"), -1);
  EXPECT_EQ(KeyOf(file, L"TASK2"), 0);

  std::vector<TaskListRow> rows = LoadTaskList(file);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(TaskOfRow(rows[0]).capture.templateImage, 2);
  EXPECT_EQ(TaskOfRow(rows[1]).capture.templateImage, kTemplateLastImage);
  EXPECT_EQ(TaskOfRow(rows[2]).capture.templateImage, kTemplateNone);
  EXPECT_EQ(TaskOfRow(rows[0]).capture.wimPath, L"D:\\backup\\\u5907\u4efd.wim");
  // 追加镜像卷 (以映像 2 为模板), 追加镜像卷 (以最后一个映像为模板), 追加镜像卷
  EXPECT_EQ(TaskRowCaption(rows[0].record),
            L"\u8FFD\u52A0\u955C\u50CF\u5377 (\u4ee5\u6620\u50cf 2 \u4e3a\u6a21\u677f)");
  EXPECT_EQ(TaskRowCaption(rows[1].record),
            L"\u8FFD\u52A0\u955C\u50CF\u5377 (\u4ee5\u6700\u540e\u4e00\u4e2a\u6620\u50cf\u4e3a\u6a21\u677f)");
  EXPECT_EQ(TaskRowCaption(rows[2].record), L"\u8FFD\u52A0\u955C\u50CF\u5377");
}

TEST(TemplateTaskRow, AFileFromBeforeTheKeyReadsAsAFullAppend) {
  std::wstring file = qtest::TempDir() + L"\\old.Task";
  WriteUtf16(file,
             L"[TASKLIST]\r\nCount=1\r\n[TASK0]\r\nSrcPath=C:\\src\r\nDesPath=D:\\a.wim\r\nTaskType=1\r\n"
             L"CompressType=1\r\nImageIndex=0\r\nVerify=0\r\nWritable=0\r\nBootIndex=0\r\nDisableACL=0\r\n"
             L"Name=\r\nDescription=\r\nDsipName=\r\nDispDescription=\r\nSKUFlag=\r\n");
  std::vector<TaskListRow> rows = LoadTaskList(file);
  ASSERT_EQ(rows.size(), 1u);
  TaskRequest task = TaskOfRow(rows[0]);
  EXPECT_TRUE(task.capture.append);
  EXPECT_EQ(task.capture.templateImage, kTemplateNone);
  EXPECT_EQ(TaskRowCaption(rows[0].record), L"\u8FFD\u52A0\u955C\u50CF\u5377");
}

TEST(TemplateTaskRow, ARowSavedOverAnEarlierAppendDoesNotInheritItsTemplate) {
  std::wstring file = qtest::TempDir() + L"\\reused.Task";
  ASSERT_TRUE(SaveTaskList(file, {RowOfTask(AppendTask(3))}));
  ASSERT_EQ(KeyOf(file, L"TASK0"), 3);

  // The same section now holds an apply, then an append without a template.
  TaskRequest apply;
  apply.type = kTaskApply;
  apply.image.wimPath = L"D:\\a.wim";
  apply.image.folder = L"E:\\out";
  apply.image.index = 1;
  ASSERT_TRUE(SaveTaskList(file, {RowOfTask(apply)}));
  EXPECT_EQ(KeyOf(file, L"TASK0"), 0);
  ASSERT_TRUE(SaveTaskList(file, {RowOfTask(AppendTask(3)), RowOfTask(AppendTask(kTemplateNone))}));
  ASSERT_TRUE(SaveTaskList(file, {RowOfTask(AppendTask(kTemplateNone))}));
  std::vector<TaskListRow> rows = LoadTaskList(file);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(TaskOfRow(rows[0]).capture.templateImage, kTemplateNone);
}

TEST(TemplateTaskRow, OnlyAnAppendCarriesATemplate) {
  TaskRequest create = AppendTask(2);
  create.type = kTaskCaptureNew;
  create.capture.append = false;
  TaskListRow row = RowOfTask(create);
  EXPECT_EQ(row.record.TemplateImage, 0);
  EXPECT_EQ(TaskOfRow(row).capture.templateImage, kTemplateNone);
  EXPECT_EQ(TaskRowCaption(row.record), L"\u521B\u5EFA\u65B0\u955C\u50CF");  // 创建新镜像
}

}  // namespace
