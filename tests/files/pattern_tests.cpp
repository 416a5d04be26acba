// The capture pattern matcher, rule by rule.
#include <gtest/gtest.h>

#include "config/capture_lists.h"
#include "harness.h"

namespace {

struct Case {
  const wchar_t* pattern;
  const wchar_t* path;
  bool matches;
};

void ExpectCases(const char* group, std::initializer_list<Case> cases) {
  for (const Case& c : cases)
    EXPECT_EQ(MatchCapturePattern(c.pattern, c.path), c.matches)
        << group << ": \"" << qtest::Utf8(c.pattern) << "\" on \"" << qtest::Utf8(c.path) << "\"";
}

TEST(CapturePattern, ComponentOrWholePath) {
  // Without a leading backslash: the last component only, at any depth.
  ExpectCases("component", {{L"*.ZIP", L"\\Data\\Setup.zip", true},
                            {L"*.ZIP", L"\\a\\b\\c\\x.zip", true},
                            {L"*.ZIP", L"\\Setup.zip.txt", false},
                            {L"CSC", L"\\Data\\Windows\\CSC", true},
                            {L"CSC", L"\\CSC\\file", false},
                            {L"CSC", L"\\CSCX", false},
                            {L"ab", L"\\xab", false},
                            {L"ab", L"\\abx", false}});
  // An inner backslash without a leading one is compared with one name: never.
  ExpectCases("inner separator", {{L"Windows\\CSC", L"\\Windows\\CSC", false}, {L"*\\CSC", L"\\Windows\\CSC", false}});
  // With a leading backslash: the whole relative path; "/" and "\" alike.
  ExpectCases("whole path", {{L"\\Windows\\CSC", L"\\Windows\\CSC", true},
                             {L"\\Windows\\CSC", L"\\Data\\Windows\\CSC", false},
                             {L"\\Windows\\CSC", L"\\Windows\\CSC\\cache", false},
                             {L"/Windows/CSC", L"\\Windows\\CSC", true},
                             {L"\\Windows\\CSC", L"/Windows/CSC", true},
                             {L"\\pagefile.sys", L"\\sub\\pagefile.sys", false},
                             {L"\\*\\CSC", L"\\a\\b\\CSC", true},
                             {L"\\Windows\\*", L"\\Windows\\System32\\x.sys", true},
                             {L"\\Windows\\*", L"\\Windows", false}});
}

TEST(CapturePattern, StarsAndQuestionMarks) {
  ExpectCases("stars", {{L"*", L"\\any.thing", true},
                        {L"*", L"\\", true},
                        {L"*.zip", L"\\.zip", true},
                        {L"**.zip", L"\\a.zip", true},
                        {L"a***b", L"\\ab", true},
                        {L"a***b", L"\\aXYZb", true},
                        {L"*a*b*", L"\\xaybz", true},
                        {L"*ab", L"\\aab", true},
                        {L"a*a*a", L"\\aaa", true},
                        {L"a*a*a", L"\\aa", false},
                        {L"a*", L"\\a", true},
                        {L"*x", L"\\abc", false},
                        {L"*.*", L"\\noext", false}});
  ExpectCases("question marks", {{L"?", L"\\a", true},
                                 {L"?", L"\\", false},
                                 {L"??", L"\\a", false},
                                 {L"a?c", L"\\abc", true},
                                 {L"a?c", L"\\ac", false},
                                 {L"\\a?b", L"\\a\\b", true}});  // any character, a separator too
}

TEST(CapturePattern, Sets) {
  ExpectCases("sets", {{L"[abc]x", L"\\bx", true},
                       {L"[abc]x", L"\\dx", false},
                       {L"[abc]x", L"\\x", false},
                       {L"[^abc]x", L"\\dx", true},
                       {L"[^abc]x", L"\\ax", false},
                       {L"[a-c]", L"\\d", false},
                       {L"[0-9][0-9].log", L"\\42.log", true},
                       {L"[0-9][0-9].log", L"\\4x.log", false},
                       {L"[a-]", L"\\-", true},
                       {L"[-a]", L"\\-", true},
                       {L"[]a", L"\\a", false},
                       {L"[^]", L"\\x", true},
                       {L"x[*]", L"\\x*", true},
                       {L"x[*]", L"\\xy", false}});
  ExpectCases("reversed ranges", {{L"[c-a]", L"\\b", true},
                                  {L"[c-a]", L"\\a", true},
                                  {L"[c-a]", L"\\c", true},
                                  {L"[c-a]", L"\\d", false},
                                  {L"[9-0]", L"\\5", true},
                                  {L"[^z-x]", L"\\y", false}});
  ExpectCases("unclosed sets", {{L"[abc", L"\\b", true},
                                {L"x[abc", L"\\xc", true},
                                {L"x[abc", L"\\x", false},
                                {L"x[abc", L"\\xcc", false},
                                {L"[a-c", L"\\b", true},
                                {L"[^a", L"\\b", true},
                                {L"[^a", L"\\a", false},
                                {L"[", L"\\a", false},
                                {L"[", L"\\", false}});
}

TEST(CapturePattern, CaseAndEmptyTexts) {
  // Only A-Z fold; other letters compare as they are.
  ExpectCases("case", {{L"*.zip", L"\\SETUP.ZIP", true},
                       {L"\\WINDOWS\\csc", L"\\Windows\\CSC", true},
                       {L"[A-C]", L"\\b", true},
                       {L"[a-c]", L"\\B", true},
                       {L"[^A-C]", L"\\b", false},
                       {L"\u00C9t\u00E9", L"\\\u00E9t\u00E9", false},
                       {L"\u6587\u4EF6", L"\\\u6587\u4EF6", true}});
  ExpectCases("empty", {{L"", L"", true},
                        {L"", L"\\a", false},
                        {L"", L"\\", true},
                        {L"*", L"", true},
                        {L"?", L"", false},
                        {L"\\", L"\\", true},
                        {L"\\", L"\\a", false}});
}

TEST(CapturePattern, CharactersOutsideTheBasicPlaneCountAsOne) {
  // U+1F600 and U+20000 take two UTF-16 units each; a user sees one
  // character, and "?" and sets take one character.
  ExpectCases("supplementary", {{L"?.txt", L"\\\U0001F600.txt", true},
                                {L"??.txt", L"\\\U0001F600.txt", false},
                                {L"a?b", L"\\a\U00020000b", true},
                                {L"\\?\\x", L"\\\U0001F600\\x", true},
                                {L"[\U0001F600]", L"\\\U0001F600", true},
                                {L"[\U0001F600]", L"\\\U0001F601", false},
                                {L"[^\U0001F600]", L"\\\U0001F601", true},
                                {L"[^\U0001F600]", L"\\\U0001F600", false},
                                {L"[\U0001F600-\U0001F64F].png", L"\\\U0001F610.png", true},
                                {L"[\U0001F64F-\U0001F600].png", L"\\\U0001F610.png", true},
                                {L"[\U0001F600-\U0001F64F].png", L"\\\U0001F650.png", false},
                                {L"[a-z]", L"\\\U0001F600", false},
                                {L"*\U00020000", L"\\x\U00020000", true},
                                {L"\U00020000*", L"\\\U00020000\U00020001", true},
                                {L"\U00020000", L"\\\U00020001", false}});
}

TEST(CapturePattern, DefaultListsOnTypicalPaths) {
  // The default lists, consulted in stored order as a capture does.
  StoredCaptureLists defaults = DefaultCaptureLists();
  EXPECT_EQ(defaults.entries[kListExclude].size(), 7u);
  EXPECT_EQ(defaults.entries[kListNoCompress].size(), 5u);
  CaptureLists lists;
  for (int i = 0; i < kCaptureListCount; ++i)
    for (const CaptureListEntry& e : defaults.entries[i]) {
      EXPECT_TRUE(e.enabled);
      lists.patterns[i].push_back(e.pattern);
    }
  for (const wchar_t* p : {L"\\pagefile.sys", L"\\hiberfil.sys", L"\\$ntfs.log", L"\\System Volume Information",
                           L"\\RECYCLER", L"\\$RECYCLE.BIN", L"\\Windows\\CSC"})
    EXPECT_TRUE(lists.AnyMatch(kListExclude, p)) << qtest::Utf8(p);
  for (const wchar_t* p : {L"\\Data\\Windows\\CSC", L"\\Data\\pagefile.sys", L"\\Windows\\System32"})
    EXPECT_FALSE(lists.AnyMatch(kListExclude, p)) << qtest::Utf8(p);
  for (const wchar_t* p : {L"\\Data\\Setup.zip", L"\\a\\b\\folder.zip", L"\\x.cab", L"\\m.Mp3", L"\\inf\\a.pnf",
                           L"\\sources\\install.wim"})
    EXPECT_TRUE(lists.AnyMatch(kListNoCompress, p)) << qtest::Utf8(p);
  EXPECT_FALSE(lists.AnyMatch(kListNoCompress, L"\\readme.txt"));
  EXPECT_FALSE(lists.AnyMatch(kListAlignment, L"\\anything"));
  EXPECT_FALSE(lists.AnyMatch(kListException, L"\\anything"));
}

}  // namespace
