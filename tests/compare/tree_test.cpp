// Reading an image's whole tree: every file with what wimlib-imagex says of
// it, split sets and solid files alike, and a cancel that stops the walk.
#include <cstdio>
#include <map>

#include "compare_fixture.h"

namespace {
using namespace cmp;

std::string Hex(const uint8_t* bytes, size_t n) {
  std::string text;
  char two[3];
  for (size_t i = 0; i < n; i++) {
    snprintf(two, sizeof(two), "%02x", bytes[i]);
    text += two;
  }
  return text;
}

// What `wimlib-imagex dir --detailed` says of each path: attributes, link
// count, and the hash and size of the unnamed data stream.
struct OracleEntry {
  std::string attributes;
  std::string hash;
  std::string size;
  std::string links;
};

std::map<std::string, OracleEntry> Oracle(const std::wstring& wim, int image) {
  std::map<std::string, OracleEntry> out;
  qtest::UnixResult r = qtest::RunUnix("wimlib-imagex dir " + qtest::ShQuote(qtest::UnixPath(wim)) + " " +
                                       std::to_string(image) + " --detailed");
  std::string path;
  bool unnamed = false;
  size_t at = 0;
  auto value = [](const std::string& line) {
    size_t eq = line.find("= ");
    return eq == std::string::npos ? std::string() : line.substr(eq + 2);
  };
  while (at < r.output.size()) {
    size_t end = r.output.find('\n', at);
    if (end == std::string::npos) end = r.output.size();
    std::string line = r.output.substr(at, end - at);
    at = end + 1;
    if (line.rfind("Full Path", 0) == 0) {
      std::string quoted = value(line);
      path = quoted.substr(1, quoted.size() - 2);
      unnamed = false;
    } else if (line.rfind("Attributes", 0) == 0) {
      out[path].attributes = value(line);
    } else if (line.rfind("Link Count", 0) == 0) {
      out[path].links = value(line);
    } else if (line.find("Unnamed data stream") != std::string::npos) {
      unnamed = true;
    } else if (line.find("data stream") != std::string::npos) {
      unnamed = false;
    } else if (unnamed && line.rfind("Hash", 0) == 0) {
      out[path].hash = value(line).substr(2);  // without "0x"
    } else if (unnamed && line.rfind("Uncompressed size", 0) == 0) {
      std::string v = value(line);
      out[path].size = v.substr(0, v.find(' '));
    }
  }
  return out;
}

std::string UnixStyle(const std::wstring& path) {
  std::string text = qtest::Utf8(path);
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

// Every entry agrees with the judge on attributes, size, hash and links.
void ExpectAsOracle(const ImageTree& tree, const std::wstring& wim, int image) {
  std::map<std::string, OracleEntry> oracle = Oracle(wim, image);
  ASSERT_FALSE(oracle.empty());
  ASSERT_EQ(tree.entries.size(), oracle.size());
  for (const TreeEntry& entry : tree.entries) {
    std::string path = UnixStyle(entry.path);
    auto it = oracle.find(path);
    ASSERT_NE(it, oracle.end()) << path;
    char attributes[16];
    snprintf(attributes, sizeof(attributes), "0x%08x", entry.attributes);
    EXPECT_EQ(it->second.attributes, attributes) << path;
    EXPECT_EQ(it->second.links, std::to_string(entry.links)) << path;
    if (!entry.IsFolder()) {
      ASSERT_FALSE(entry.streams.empty()) << path;
      EXPECT_EQ(entry.streams[0].name, L"") << path;
      if (!it->second.hash.empty()) EXPECT_EQ(it->second.hash, Hex(entry.streams[0].sha1, 20)) << path;
      if (!it->second.size.empty()) EXPECT_EQ(it->second.size, std::to_string(entry.size)) << path;
    }
  }
}

class TreeReadTest : public CompareTest {};

TEST_F(TreeReadTest, EveryFileOfAnImageWithWhatWimlibImagexSaysOfIt) {
  std::wstring src = dir_ + L"\\src";
  qtest::MakeSampleTree(src);
  std::wstring wim = dir_ + L"\\one.wim";
  ASSERT_TRUE(look::Capture(src, wim, "One"));
  ImageTree tree = Read(wim);
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(tree.entries[0].path, L"\\");
  ExpectAsOracle(tree, wim, 1);
}

TEST_F(TreeReadTest, SecurityDescriptorsOfAnNtfsCaptureAreRead) {
  NtfsPair pair;
  if (!NeedNtfsPair(pair)) GTEST_SKIP() << "no NTFS volume tools";
  ImageTree tree = Read(pair.before);
  ExpectAsOracle(tree, pair.before, 1);
  for (const TreeEntry& entry : tree.entries) {
    EXPECT_TRUE(entry.hasSecurity) << qtest::Utf8(entry.path);
    EXPECT_GT(entry.securitySize, 20u) << qtest::Utf8(entry.path);
  }
}

TEST_F(TreeReadTest, SplitSetsAndSolidFilesGiveTheSameTree) {
  std::wstring src = dir_ + L"\\src";
  ASSERT_TRUE(qtest::MakeDirs(src + L"\\big"));
  // Data that does not compress, so that a split makes several parts.
  ASSERT_EQ(qtest::RunUnix("set -e; cd " + qtest::ShQuote(qtest::UnixPath(src)) +
                           "; for i in 1 2 3; do head -c 700000 /dev/urandom > big/r$i.bin; done; "
                           "printf small > s.txt; ln s.txt hard.txt")
                .exitCode,
            0);
  std::wstring wim = dir_ + L"\\whole.wim", esd = dir_ + L"\\solid.esd", swm = dir_ + L"\\part.swm";
  ASSERT_TRUE(look::Capture(src, wim, "Whole"));
  ASSERT_TRUE(look::Capture(src, esd, "Solid", "--solid"));
  ASSERT_EQ(look::Imagex("split " + look::Q(wim) + " " + look::Q(swm) + " 1").exitCode, 0);
  ASSERT_EQ(qtest::RunUnix("ls " + qtest::ShQuote(qtest::UnixPath(dir_)) + " | grep -c swm").output.substr(0, 1), "3");

  ImageTree whole = Read(wim), solid = Read(esd), split = Read(swm);
  ASSERT_FALSE(HasFailure());
  ExpectAsOracle(whole, wim, 1);
  for (const ImageTree* other : {&solid, &split}) {
    ASSERT_EQ(other->entries.size(), whole.entries.size());
    EXPECT_TRUE(CompareTrees(whole, *other, DiffOptions{true}).empty());
  }
  // The sizes of data in the further parts are known too.
  for (const TreeEntry& entry : split.entries)
    if (entry.path.find(L"\\big\\r") == 0) EXPECT_EQ(entry.size, 700000u) << qtest::Utf8(entry.path);
  // The two names of one file share a hard-link group.
  uint64_t group = 0;
  for (const TreeEntry& entry : whole.entries) {
    if (entry.path != L"\\s.txt" && entry.path != L"\\hard.txt") continue;
    EXPECT_EQ(entry.links, 2u);
    EXPECT_NE(entry.linkGroup, 0u);
    if (group) EXPECT_EQ(entry.linkGroup, group);
    group = entry.linkGroup;
  }
}

// Stops the walk the first time it reports progress.
class CancelAtFirstPercent : public ProgressTarget {
 public:
  explicit CancelAtFirstPercent(CancelToken& cancel) : cancel_(cancel) {}
  HWND Hwnd() const override { return nullptr; }
  void SetPercent(float percent) override {
    percents++;
    if (percent < 100) cancel_.Request(true);
  }
  int percents = 0;

 private:
  CancelToken& cancel_;
};

TEST_F(TreeReadTest, ACancelStopsTheWalkAndLeavesNoTree) {
  std::wstring src = dir_ + L"\\many";
  ASSERT_EQ(qtest::RunUnix("set -e; mkdir -p " + qtest::ShQuote(qtest::UnixPath(src)) + "; cd " +
                           qtest::ShQuote(qtest::UnixPath(src)) + "; for i in $(seq 1 1500); do echo $i > f$i.txt; done")
                .exitCode,
            0);
  std::wstring wim = dir_ + L"\\many.wim";
  ASSERT_TRUE(look::Capture(src, wim, "Many"));

  CancelToken cancel;
  CancelAtFirstPercent progress(cancel);
  ImageTree tree;
  EXPECT_EQ(Read(wim, 1, tree, &cancel, &progress), kResultAborted);
  EXPECT_EQ(progress.percents, 1);
  EXPECT_TRUE(tree.entries.empty());

  // Asked before it starts, nothing is read at all.
  ImageTree untouched;
  EXPECT_EQ(Read(wim, 1, untouched, &cancel), kResultAborted);
  EXPECT_TRUE(untouched.entries.empty());

  // Without a cancel the same file reads whole, with progress to 100.
  ImageTree full;
  ASSERT_EQ(Read(wim, 1, full, nullptr, nullptr), kResultSuccess);
  EXPECT_EQ(full.entries.size(), 1501u);
}

TEST_F(TreeReadTest, AFileThatIsNoImageFailsAndWimgapiCannotWalk) {
  std::wstring junk = dir_ + L"\\junk.wim";
  ASSERT_TRUE(qtest::WriteFileBytes(junk, "not an image"));
  ImageTree tree;
  EXPECT_EQ(Read(junk, 1, tree), kResultFailed);
  EXPECT_TRUE(tree.entries.empty());

  TreeRequest request{junk, 1};
  EXPECT_EQ(MakeEngine(app_->backends, BackendChoice())->ReadTree(request, tree), kResultNotBound);
}

}  // namespace
