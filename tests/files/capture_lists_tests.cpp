// The four capture lists in the settings file, and the import file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/settings.h"
#include "config/capture_import.h"
#include "config/capture_lists.h"
#include "files_test_util.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

std::wstring NewIni() { return qtest::TempDir() + L"\\Quarry.ini"; }

// Writes sections of a settings file by hand, UTF-16 like the program's.
void WriteList(const std::wstring& ini, const wchar_t* section, const std::wstring& count, const std::wstring& list) {
  filetest::StartUtf16Ini(ini);
  WritePrivateProfileStringW(section, L"Count", count.c_str(), ini.c_str());
  WritePrivateProfileStringW(section, L"List", list.c_str(), ini.c_str());
}

TEST(CaptureLists, NoSectionsMeanEmptyLists) {
  std::wstring ini = NewIni();
  CaptureLists lists;
  lists.patterns[kListExclude] = {L"stale"};
  LoadCaptureLists(lists, ini);
  for (const auto& list : lists.patterns) EXPECT_THAT(list, IsEmpty());
  EXPECT_TRUE(ReadStoredCaptureLists(ini).Empty());
  EXPECT_FALSE(lists.AnyMatch(kListExclude, L"\\pagefile.sys")) << "a capture excludes nothing";
}

TEST(CaptureLists, EditorSaveWritesTheStoredFormAndLoadTakesEnabledOnly) {
  std::wstring ini = NewIni();
  StoredCaptureLists stored;
  stored.entries[kListExclude] = {{L"\\pagefile.sys", true}, {L"*.tmp", false}, {L"\u4E34\u65F6", true}};
  stored.entries[kListNoCompress] = {{L"*.ZIP", false}};
  stored.entries[kListException] = {{L"keep me.txt", true}};
  WriteStoredCaptureLists(stored, ini);

  EXPECT_THAT(filetest::NonBlankLines(filetest::ReadUtf16File(ini)),
              ElementsAre(L"[EXCLUDE]", L"Count=3", L"List=\\pagefile.sys:1|*.tmp:0|\u4E34\u65F6:1", L"[NOCOMPRESS]",
                          L"Count=1", L"List=*.ZIP:0", L"[ALIGNMENT]", L"Count=0", L"List=", L"[EXCEPTION]", L"Count=1",
                          L"List=keep me.txt:1"));

  StoredCaptureLists back = ReadStoredCaptureLists(ini);
  for (int i = 0; i < kCaptureListCount; ++i) EXPECT_EQ(back.entries[i], stored.entries[i]) << i;

  CaptureLists lists;
  LoadCaptureLists(lists, ini);
  EXPECT_THAT(lists.patterns[kListExclude], ElementsAre(L"\\pagefile.sys", L"\u4E34\u65F6"));
  EXPECT_THAT(lists.patterns[kListNoCompress], IsEmpty());
  EXPECT_THAT(lists.patterns[kListAlignment], IsEmpty());
  EXPECT_THAT(lists.patterns[kListException], ElementsAre(L"keep me.txt"));
}

TEST(CaptureLists, LoadRulesOnDamagedSections) {
  std::wstring ini = NewIni();
  std::wstring longPattern(300, L'p');
  // Count smaller than the entries: only Count of them.
  WriteList(ini, L"EXCLUDE", L"1", L"a:1|b:1");
  // Count larger than the entries: the missing ones are empty and skipped.
  WriteList(ini, L"NOCOMPRESS", L"4", L"a:1|b:0|c:1");
  // A pattern longer than any path buffer loads whole, still enabled.
  WriteList(ini, L"ALIGNMENT", L"1", longPattern + L":1");
  // Patterns holding ":" never load as enabled; flags other than exactly 1
  // do not enable; a field without ":" is not an entry that loads.
  WriteList(ini, L"EXCEPTION", L"7", L"C:\\x:1|d:1 |e: 1|f:11|g|:1|h:1");

  CaptureLists lists;
  LoadCaptureLists(lists, ini);
  EXPECT_THAT(lists.patterns[kListExclude], ElementsAre(L"a"));
  EXPECT_THAT(lists.patterns[kListNoCompress], ElementsAre(L"a", L"c"));
  EXPECT_THAT(lists.patterns[kListAlignment], ElementsAre(longPattern));
  EXPECT_THAT(lists.patterns[kListException], ElementsAre(L"", L"h"));

  // The editor shows every stored entry; a ":"-pattern shows disabled.
  StoredCaptureLists stored = ReadStoredCaptureLists(ini);
  EXPECT_THAT(stored.entries[kListNoCompress],
              ElementsAre(CaptureListEntry{L"a", true}, CaptureListEntry{L"b", false}, CaptureListEntry{L"c", true}));
  EXPECT_THAT(stored.entries[kListAlignment], ElementsAre(CaptureListEntry{longPattern, true}));
  EXPECT_THAT(stored.entries[kListException],
              ElementsAre(CaptureListEntry{L"C:\\x", false}, CaptureListEntry{L"d", false},
                          CaptureListEntry{L"e", false}, CaptureListEntry{L"f", false}, CaptureListEntry{L"g", false},
                          CaptureListEntry{L"", true}, CaptureListEntry{L"h", true}));
}

TEST(CaptureLists, BadCountsAreHarmless) {
  std::wstring ini = NewIni();
  WriteList(ini, L"EXCLUDE", L"2000000000", L"a:1|b:1");  // far more than stored
  WriteList(ini, L"NOCOMPRESS", L"-5", L"a:1");
  WriteList(ini, L"ALIGNMENT", L"many", L"a:1");
  WriteList(ini, L"EXCEPTION", L"", L"a:1");

  CaptureLists lists;
  LoadCaptureLists(lists, ini);
  EXPECT_THAT(lists.patterns[kListExclude], ElementsAre(L"a", L"b"));
  EXPECT_THAT(lists.patterns[kListNoCompress], IsEmpty());
  EXPECT_THAT(lists.patterns[kListAlignment], IsEmpty());
  EXPECT_THAT(lists.patterns[kListException], IsEmpty());
  EXPECT_EQ(ReadStoredCaptureLists(ini).entries[kListExclude].size(), 2u);
}

TEST(CaptureLists, ExitKeepsWhatTheEditorStoredAsDisabled) {
  std::wstring ini = NewIni();
  StoredCaptureLists stored;
  stored.entries[kListExclude] = {{L"\\pagefile.sys", true}, {L"*.tmp", false}, {L"\\hiberfil.sys", true}};
  stored.entries[kListNoCompress] = {{L"*.ZIP", false}};
  WriteStoredCaptureLists(stored, ini);
  std::string before = qtest::ReadFileBytes(ini);

  // Start-up load, then exit save with nothing changed in memory.
  CaptureLists lists;
  LoadCaptureLists(lists, ini);
  SaveCaptureLists(lists, ini);
  EXPECT_EQ(qtest::ReadFileBytes(ini), before) << "an unchanged list is not rewritten";
  StoredCaptureLists back = ReadStoredCaptureLists(ini);
  EXPECT_EQ(back.entries[kListExclude], stored.entries[kListExclude]);
  EXPECT_EQ(back.entries[kListNoCompress], stored.entries[kListNoCompress]);
}

TEST(CaptureLists, ExitWritesChangedListsAndStillKeepsDisabledEntries) {
  std::wstring dir = qtest::TempDir();
  std::wstring ini = dir + L"\\Quarry.ini";
  SaveCaptureLists(CaptureLists(), ini);
  EXPECT_THAT(qtest::NamesIn(dir), IsEmpty()) << "nothing to save, nothing written";

  StoredCaptureLists stored;
  stored.entries[kListExclude] = {{L"a", true}, {L"off", false}, {L"b", false}};
  WriteStoredCaptureLists(stored, ini);

  CaptureLists lists;
  lists.patterns[kListExclude] = {L"b", L"new"};  // differs from the file's enabled "a"
  lists.patterns[kListAlignment] = {L"\u5BF9\u9F50.bin"};
  SaveCaptureLists(lists, ini);

  EXPECT_EQ(filetest::ProfileText(ini, L"EXCLUDE", L"Count"), L"3");
  EXPECT_EQ(filetest::ProfileText(ini, L"EXCLUDE", L"List"), L"b:1|new:1|off:0");
  EXPECT_EQ(filetest::ProfileText(ini, L"ALIGNMENT", L"Count"), L"1");
  EXPECT_EQ(filetest::ProfileText(ini, L"ALIGNMENT", L"List"), L"\u5BF9\u9F50.bin:1");

  CaptureLists back;
  LoadCaptureLists(back, ini);
  for (int i = 0; i < kCaptureListCount; ++i) EXPECT_EQ(back.patterns[i], lists.patterns[i]) << i;
}

// ---- import file ----

TEST(CaptureImport, HeadersSelectListsAndLinesBecomeEntries) {
  StoredCaptureLists lists = ParseCaptureImport(
      L"ignored before any header\r\n"
      L"[exclusionlist]\r\n"
      L"\\pagefile.sys\r\n"
      L"   \r\n"
      L"  padded pattern  \r\n"
      L"\r\n"
      L"[CompressionExclusionList]\n"
      L"*.zip\n"
      L"[Unknown Section]\n"
      L"[ALIGNMENTLIST]\r\n"
      L"*.vhd\r\n"
      L"; not a comment\r\n"
      L"[ExclusionException]\r\n"
      L"\\keep\\this\r\n"
      L"[ExclusionList]\r\n"
      L"\\more\r\n"
      L" [ExclusionList]\r\n"
      L"tab\tinside");
  auto patterns = [&](int list) {
    std::vector<std::wstring> out;
    for (const auto& e : lists.entries[list]) {
      EXPECT_TRUE(e.enabled);
      out.push_back(e.pattern);
    }
    return out;
  };
  EXPECT_THAT(patterns(kListExclude),
              ElementsAre(L"\\pagefile.sys", L"  padded pattern  ", L"\\more", L" [ExclusionList]", L"tab\tinside"));
  EXPECT_THAT(patterns(kListNoCompress), ElementsAre(L"*.zip", L"[Unknown Section]"));
  EXPECT_THAT(patterns(kListAlignment), ElementsAre(L"*.vhd", L"; not a comment"));
  EXPECT_THAT(patterns(kListException), ElementsAre(L"\\keep\\this"));
}

TEST(CaptureImport, SeparatorsOfTheStoredFormNeverReachTheSettings) {
  // A pattern holding "|" or ":" would come back from the settings as other
  // entries (one turned disabled, the next lost): import skips such lines.
  std::wstring dir = qtest::TempDir();
  std::wstring file = dir + L"\\import.ini";
  ASSERT_TRUE(qtest::WriteFileBytes(file,
                                    "[ExclusionList]\r\n\\first\r\nC:\\drive\\path\r\na|b\r\n\\last\r\n"
                                    "[CompressionExclusionList]\r\n*.zip\r\nx:1\r\n*.cab\r\n"));
  StoredCaptureLists imported;
  ASSERT_TRUE(ImportCaptureFile(file, imported));
  EXPECT_THAT(imported.entries[kListExclude],
              ElementsAre(CaptureListEntry{L"\\first", true}, CaptureListEntry{L"\\last", true}));
  EXPECT_THAT(imported.entries[kListNoCompress],
              ElementsAre(CaptureListEntry{L"*.zip", true}, CaptureListEntry{L"*.cab", true}));

  // Stored through the editor or at exit, such entries are refused and the
  // others come back exactly, Count matching them.
  std::wstring ini = NewIni();
  StoredCaptureLists stored;
  stored.entries[kListExclude] = {{L"a|b", true}, {L"\\one", true}, {L"c:d", false}, {L"\\two", false},
                                  {L"e:1", true}};
  WriteStoredCaptureLists(stored, ini);
  EXPECT_EQ(filetest::ProfileText(ini, L"EXCLUDE", L"Count"), L"2");
  EXPECT_EQ(filetest::ProfileText(ini, L"EXCLUDE", L"List"), L"\\one:1|\\two:0");
  EXPECT_THAT(ReadStoredCaptureLists(ini).entries[kListExclude],
              ElementsAre(CaptureListEntry{L"\\one", true}, CaptureListEntry{L"\\two", false}));
  EXPECT_EQ(FormatStoredList({{L"|", true}, {L"\\x", true}}), L"\\x:1");

  CaptureLists memory;
  memory.patterns[kListExclude] = {L"\\one"};
  memory.patterns[kListAlignment] = {L"p|q", L"*.vhd", L"r:s"};
  SaveCaptureLists(memory, ini);
  CaptureLists back;
  LoadCaptureLists(back, ini);
  EXPECT_THAT(back.patterns[kListAlignment], ElementsAre(L"*.vhd"));
  EXPECT_THAT(back.patterns[kListExclude], ElementsAre(L"\\one"));
}

TEST(CaptureImport, TextWithoutHeadersGivesEmptyLists) {
  EXPECT_TRUE(ParseCaptureImport(L"a\r\nb\r\n[Exclusion List]\r\nc\r\n").Empty());
  EXPECT_TRUE(ParseCaptureImport(L"").Empty());
}

TEST(CaptureImport, FilesInTheirEncodings) {
  std::wstring dir = qtest::TempDir();
  const std::wstring expected = L"\\\u6587\u4EF6";
  struct {
    const wchar_t* name;
    std::string bytes;
  } files[] = {
      {L"utf8.ini", "[ExclusionList]\r\n\\\xE6\x96\x87\xE4\xBB\xB6\r\n"},
      {L"utf8bom.txt", "\xEF\xBB\xBF[ExclusionList]\n\\\xE6\x96\x87\xE4\xBB\xB6"},
      {L"utf16.ini", std::string("\xFF\xFE", 2)},
  };
  std::wstring utf16 = L"[ExclusionList]\r\n" + expected + L"\r\n";
  files[2].bytes.append(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
  for (const auto& f : files) {
    std::wstring path = dir + L"\\" + f.name;
    ASSERT_TRUE(qtest::WriteFileBytes(path, f.bytes));
    StoredCaptureLists lists;
    ASSERT_TRUE(ImportCaptureFile(path, lists)) << qtest::Utf8(f.name);
    EXPECT_THAT(lists.entries[kListExclude], ElementsAre(CaptureListEntry{expected, true})) << qtest::Utf8(f.name);
  }

  // Bytes that are not UTF-8 are taken in the ANSI code page.
  std::string ansi = "[ExclusionList]\r\n\\caf\xE9\r\n";
  std::wstring path = dir + L"\\ansi.ini";
  ASSERT_TRUE(qtest::WriteFileBytes(path, ansi));
  wchar_t e9[2] = {};
  MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, e9, 1);
  StoredCaptureLists lists;
  ASSERT_TRUE(ImportCaptureFile(path, lists));
  EXPECT_THAT(lists.entries[kListExclude], ElementsAre(CaptureListEntry{std::wstring(L"\\caf") + e9[0], true}));
}

TEST(CaptureImport, UnreadableFilesFailWithEmptyLists) {
  std::wstring dir = qtest::TempDir();
  StoredCaptureLists lists = DefaultCaptureLists();
  EXPECT_FALSE(ImportCaptureFile(dir + L"\\missing.ini", lists));
  EXPECT_TRUE(lists.Empty());
  EXPECT_FALSE(ImportCaptureFile(dir, lists)) << "a folder";

  std::wstring locked = dir + L"\\locked.ini";
  ASSERT_TRUE(qtest::WriteFileBytes(locked, "[ExclusionList]\r\nx\r\n"));
  HANDLE h = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ImportCaptureFile(locked, lists));
  CloseHandle(h);
  EXPECT_TRUE(ImportCaptureFile(locked, lists));
  EXPECT_THAT(lists.entries[kListExclude], ElementsAre(CaptureListEntry{L"x", true}));

  std::wstring empty = dir + L"\\empty.ini";
  ASSERT_TRUE(qtest::WriteFileBytes(empty, ""));
  EXPECT_TRUE(ImportCaptureFile(empty, lists));
  EXPECT_TRUE(lists.Empty());
}

}  // namespace
