// How the arguments of a start are read: the switches in either case,
// paths with quotes and line feeds, and texts that only look like switches.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/shell_task.h"

TEST(CommandLineTest, SwitchesInEitherCaseTakeThePathAfterThem) {
  CommandLine quick = ParseCommandLine(L"/q D:\\data");
  EXPECT_EQ(quick.kind, CommandKind::kQuickCapture);
  EXPECT_EQ(quick.path, L"D:\\data");
  EXPECT_EQ(ParseCommandLine(L"/A C:\\x.wim").kind, CommandKind::kApply);
  EXPECT_EQ(ParseCommandLine(L"/m C:\\x.wim").kind, CommandKind::kMount);
  EXPECT_EQ(ParseCommandLine(L"/C C:\\dir").kind, CommandKind::kCapture);
  EXPECT_EQ(ParseCommandLine(L"/i C:\\x.wim").kind, CommandKind::kInformation);
  CommandLine edit = ParseCommandLine(L"/E C:\\images\\a\n.wim");
  EXPECT_EQ(edit.kind, CommandKind::kEdit);
  EXPECT_EQ(edit.path, L"C:\\images\\a.wim");
}

TEST(CommandLineTest, QuotedPathsWorkAndPathsWithSlashesAreNoSwitch) {
  // Explorer's verbs and files dropped on the program bring quoted paths.
  EXPECT_EQ(ParseCommandLine(L"/A \"C:\\my images\\a b.wim\"").path, L"C:\\my images\\a b.wim");
  CommandLine dropped = ParseCommandLine(L"\"C:\\no such folder\\x y.wim\"");
  EXPECT_EQ(dropped.kind, CommandKind::kOpen);
  EXPECT_EQ(dropped.path, L"C:\\no such folder\\x y.wim");
  // "C:/..." holds a "/": its first two characters are read as a switch.
  EXPECT_EQ(ParseCommandLine(L"C:/images/a.wim").kind, CommandKind::kNone);
  EXPECT_EQ(ParseCommandLine(L"").kind, CommandKind::kNone);
  // A switch without its path is a task with nothing to work on.
  CommandLine bare = ParseCommandLine(L"/A");
  EXPECT_EQ(bare.kind, CommandKind::kApply);
  EXPECT_TRUE(bare.path.empty());
}

TEST(CommandLineTest, AQuotedPathFollowedByAnotherArgumentIsThePathAlone) {
  // A file manager may start the program with a further argument after the
  // quoted file: the path ends at its closing quote.
  CommandLine open = ParseCommandLine(L"\"C:\\my images\\a b.wim\" --new-window");
  EXPECT_EQ(open.kind, CommandKind::kOpen);
  EXPECT_EQ(open.path, L"C:\\my images\\a b.wim");
  EXPECT_EQ(ParseCommandLine(L"\"C:\\x.wim\" extra").path, L"C:\\x.wim");
  EXPECT_EQ(ParseCommandLine(L"/A \"C:\\my images\\a.wim\" more").path, L"C:\\my images\\a.wim");
  // A quote never closed runs to the end of the line.
  EXPECT_EQ(ParseCommandLine(L"\"C:\\x y.wim").path, L"C:\\x y.wim");
}

TEST(CommandLineTest, CaptureTargetsInsideTheSourceAndDriveRootsAreRecognised) {
  EXPECT_TRUE(IsDriveRoot(L"D:\\"));
  EXPECT_TRUE(IsDriveRoot(L"D:"));
  EXPECT_FALSE(IsDriveRoot(L"D:\\data"));
  EXPECT_TRUE(IsInsideFolder(L"C:\\Data\\x.wim", L"c:\\data"));
  EXPECT_TRUE(IsInsideFolder(L"C:\\data\\.WIM", L"C:\\data\\"));
  EXPECT_FALSE(IsInsideFolder(L"C:\\data.WIM", L"C:\\data"));
  EXPECT_FALSE(IsInsideFolder(L"C:\\database\\x.wim", L"C:\\data"));
  EXPECT_EQ(LastComponent(L"C:\\a\\data.WIM"), L"data.WIM");
}
