// The comparison of real images made to differ in known ways: exactly those
// differences, none between two captures of one tree, times ignorable, and
// 100,000 files compared well within the time a user waits.
#include "compare_fixture.h"

namespace {
using namespace cmp;

const DiffRow* Row(const std::vector<DiffRow>& rows, const std::wstring& path) {
  for (const DiffRow& row : rows)
    if (row.path == path) return &row;
  return nullptr;
}

class DiffTest : public CompareTest {};

TEST_F(DiffTest, TheKnownChangesOfAnNtfsVolumeAndNothingElse) {
  NtfsPair pair;
  if (!NeedNtfsPair(pair)) GTEST_SKIP() << "no NTFS volume tools";
  ImageTree before = Read(pair.before), after = Read(pair.after);
  ASSERT_FALSE(HasFailure());

  std::vector<DiffRow> rows = CompareTrees(before, after, DiffOptions{true});
  const std::set<std::string> expected = {
      RowKey(L"\\new.txt", kDiffAdded),          RowKey(L"\\gone.txt", kDiffRemoved),
      RowKey(L"\\d\\change.txt", kDiffContent),  RowKey(L"\\moved.txt", kDiffMoved),
      RowKey(L"\\attr.txt", kDiffAttributes),    RowKey(L"\\sec.txt", kDiffSecurity),
  };
  EXPECT_EQ(RowKeys(rows), expected);
  ASSERT_EQ(rows.size(), expected.size());
  const DiffRow* moved = Row(rows, L"\\moved.txt");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->fromPath, L"\\d\\mover.txt");
  EXPECT_EQ(moved->sizeBefore, 14u);
  EXPECT_EQ(moved->sizeAfter, 14u);
  const DiffRow* changed = Row(rows, L"\\d\\change.txt");
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->sizeBefore, 6u);
  EXPECT_EQ(changed->sizeAfter, 6u);
  const DiffRow* gone = Row(rows, L"\\gone.txt");
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->hasBefore);
  EXPECT_FALSE(gone->hasAfter);

  DiffSummary summary = Summarize(rows);
  EXPECT_EQ(summary.bytesAdded, 9u);    // "brand new"
  EXPECT_EQ(summary.bytesRemoved, 3u);  // "one"
  for (int k = 0; k < kDiffKindCount; k++) EXPECT_EQ(summary.counts[k], k == DiffKindIndex(kDiffTimes) ? 0u : 1u);

  // With times: the file whose time was set, the changed file, and the two
  // folders whose contents changed (their last-write times move with it).
  std::vector<DiffRow> timed = CompareTrees(before, after);
  std::set<std::string> withTimes = expected;
  withTimes.erase(RowKey(L"\\d\\change.txt", kDiffContent));
  withTimes.insert(RowKey(L"\\d\\change.txt", kDiffContent | kDiffTimes));
  withTimes.insert(RowKey(L"\\times.txt", kDiffTimes));
  withTimes.insert(RowKey(L"\\", kDiffTimes));
  withTimes.insert(RowKey(L"\\d", kDiffTimes));
  EXPECT_EQ(RowKeys(timed), withTimes);
}

TEST_F(DiffTest, TwoCapturesOfOneTreeDoNotDiffer) {
  NtfsPair pair;
  if (!NeedNtfsPair(pair)) GTEST_SKIP() << "no NTFS volume tools";
  EXPECT_TRUE(CompareTrees(Read(pair.before), Read(pair.same)).empty());

  // The same of a folder captured twice through the Linux file system.
  std::wstring src = dir_ + L"\\src";
  qtest::MakeSampleTree(src);
  std::wstring a = dir_ + L"\\a.wim", b = dir_ + L"\\b.wim";
  ASSERT_TRUE(look::Capture(src, a, "A"));
  ASSERT_TRUE(look::Capture(src, b, "B"));
  std::vector<DiffRow> rows = CompareTrees(Read(a), Read(b));
  EXPECT_TRUE(rows.empty()) << (rows.empty() ? "" : qtest::Utf8(rows[0].path));
}

TEST_F(DiffTest, TwoImagesOfOneFile) {
  NtfsPair pair;
  if (!NeedNtfsPair(pair)) GTEST_SKIP() << "no NTFS volume tools";
  std::wstring both = dir_ + L"\\both.wim";
  ASSERT_EQ(look::Imagex("export " + look::Q(pair.before) + " 1 " + look::Q(both)).exitCode, 0);
  ASSERT_EQ(look::Imagex("export " + look::Q(pair.after) + " 1 " + look::Q(both) + " After").exitCode, 0);
  EXPECT_EQ(RowKeys(CompareTrees(Read(both, 1), Read(both, 2), DiffOptions{true})),
            RowKeys(CompareTrees(Read(pair.before), Read(pair.after), DiffOptions{true})));
}

// A tree of `files` files in folders of 100, each with its own content.
ImageTree SyntheticTree(size_t files, uint32_t salt) {
  ImageTree tree;
  tree.entries.reserve(files + files / 100 + 1);
  TreeEntry root;
  root.path = L"\\";
  root.attributes = 0x10;
  tree.entries.push_back(root);
  for (size_t i = 0; i < files; i++) {
    if (i % 100 == 0) {
      TreeEntry folder;
      folder.path = L"\\Windows\\folder" + std::to_wstring(i / 100);
      folder.attributes = 0x10;
      tree.entries.push_back(folder);
    }
    TreeEntry file;
    file.path = L"\\Windows\\folder" + std::to_wstring(i / 100) + L"\\file" + std::to_wstring(i) + L".dll";
    file.attributes = 0x20;
    file.size = 1000 + i;
    file.hasSecurity = true;
    file.securitySize = 100;
    file.securityDigest = 7;
    TreeStream stream;
    stream.size = file.size;
    uint64_t content = i * 2654435761u + ((i % 1000 == 0) ? salt : 0);
    memcpy(stream.sha1, &content, sizeof(content));
    file.streams.push_back(stream);
    tree.entries.push_back(std::move(file));
  }
  return tree;
}

TEST_F(DiffTest, AHundredThousandFilesCompareWithoutAQuadraticStep) {
  ImageTree before = SyntheticTree(100000, 0), after = SyntheticTree(100000, 1);
  // Every 1000th file changes content (100); 200 others are renamed.
  for (size_t i = 250; i < 100000; i += 500) after.entries[2 + i + i / 100].path += L".renamed";
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  std::vector<DiffRow> rows = CompareTrees(before, after);
  QueryPerformanceCounter(&end);
  double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  printf("100,000 files compared in %.3f s\n", seconds);
  EXPECT_LT(seconds, 10.0);  // a hang guard: the machine is shared
  DiffSummary summary = Summarize(rows);
  EXPECT_EQ(rows.size(), 300u);
  EXPECT_EQ(summary.counts[DiffKindIndex(kDiffContent)], 100u);
  EXPECT_EQ(summary.counts[DiffKindIndex(kDiffMoved)], 200u);
  EXPECT_EQ(FilterRows(rows, kDiffAllKinds, L"").size(), rows.size());
  EXPECT_EQ(FilterRows(rows, kDiffMoved, L"\\FOLDER2\\").size(), 1u);
  EXPECT_EQ(FilterRows(rows, kDiffContent, L"\\folder0\\").size(), 1u);
}

}  // namespace

// The driver of bench/compare.sh (not run as a test): reads the trees of
// QUARRY_BENCH_FIRST and QUARRY_BENCH_SECOND through the wimlib engine as
// the comparison window does, compares them, and prints the times.
TEST(CompareBench, DISABLED_TwoImages) {
  wchar_t first[1024] = {}, second[1024] = {};
  if (!GetEnvironmentVariableW(L"QUARRY_BENCH_FIRST", first, 1024) ||
      !GetEnvironmentVariableW(L"QUARRY_BENCH_SECOND", second, 1024))
    GTEST_SKIP() << "QUARRY_BENCH_FIRST and QUARRY_BENCH_SECOND name the images";
  LARGE_INTEGER frequency, start, read, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Backends backends;
  BindBackends(backends);
  ASSERT_TRUE(backends.WimlibAvailable());
  BackendChoice wimlib;
  wimlib.backend = kBackendWimlib;
  ImageTree a, b;
  ASSERT_EQ(MakeEngine(backends, wimlib)->ReadTree(TreeRequest{first, 1}, a), kResultSuccess);
  ASSERT_EQ(MakeEngine(backends, wimlib)->ReadTree(TreeRequest{second, 1}, b), kResultSuccess);
  QueryPerformanceCounter(&read);
  std::vector<DiffRow> rows = CompareTrees(a, b);
  QueryPerformanceCounter(&end);
  auto seconds = [&](const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
  };
  printf("quarry-compare entries %zu %zu rows %zu read %.3f compare %.3f total %.3f\n", a.entries.size(),
         b.entries.size(), rows.size(), seconds(start, read), seconds(read, end), seconds(start, end));
}
