// An append that takes an image of the file as its template: the image it
// makes applies back as a full append of the same folder does, an unchanged
// folder adds only its metadata, a changed file's new contents are taken,
// files whose path, size and times are unchanged come from the template as
// they do with `wimlib-imagex append --update-of`, and a template that
// cannot be used leaves the file as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine_fixture.h"
#include "harness.h"

using etest::AppliesTo;
using etest::ImageCount;
using etest::Imagex;
using etest::Q;

namespace {

class TemplateAppend : public etest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!NeedWimlib()) GTEST_SKIP() << "libwim-15.dll is not in bin\\wimlib";
    tree_ = dir_ + L"\\tree";
    ASSERT_TRUE(qtest::MakeDirs(tree_ + L"\\d"));
    ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\one.bin", etest::RandomBytes(300000, 1)));
    ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\two.bin", etest::RandomBytes(200000, 2)));
    ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\d\\three.bin", etest::RandomBytes(100000, 3)));
    ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\d\\\u4e2d\u6587.txt", "\xe4\xb8\xad\xe6\x96\x87\n"));
    ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\small.txt", "hello quarry\n"));
    base_ = dir_ + L"\\base.wim";
    ASSERT_EQ(Capture(base_, false, kTemplateNone), kResultSuccess);
    ASSERT_EQ(ImageCount(base_), 1);
  }

  // A capture of the tree as the capture page makes it.
  EngineResult Capture(const std::wstring& wim, bool append, int templateImage, BackendKind kind = kBackendWimlib) {
    CaptureRequest request;
    request.source = tree_;
    request.wimPath = wim;
    request.compression = 1;
    request.append = append;
    request.templateImage = templateImage;
    request.info.name = append ? L"second" : L"first";
    return host_.Engine(kind)->Capture(request);
  }

  // A copy of the file with the first capture, to append to.
  std::wstring CopyOfBase(const std::wstring& name) {
    std::wstring copy = dir_ + L"\\" + name;
    EXPECT_TRUE(CopyFileW(base_.c_str(), copy.c_str(), FALSE));
    return copy;
  }

  // The number of blobs (file data and metadata) the file holds.
  int Blobs(const std::wstring& wim) {
    qtest::UnixResult r = Imagex("info --blobs " + Q(wim) + " | grep -c '^Hash'");
    return r.exitCode == 0 ? std::stoi(r.output) : -1;
  }

  // Every fact `dir --detailed` prints of an image's files but the last
  // access times, which reading a file for a capture may move, and the
  // reference counts of their data, which count every image of the file.
  std::string Detailed(const std::wstring& wim, int image) {
    qtest::UnixResult r = Imagex("dir --detailed " + Q(wim) + " " + std::to_string(image) +
                                 " | grep -v -e 'Last Access Time' -e 'Reference Count'");
    return r.exitCode == 0 ? r.output : "<dir failed: " + r.output + ">";
  }

  // Rewrites a file of the tree with other bytes of the same size; its last
  // write time is then put back, or moved `laterSeconds` forward.
  void RewriteSameSize(const std::wstring& file, int laterSeconds) {
    qtest::UnixResult r = qtest::RunUnix(
        "python3 -c 'import os, sys\n"
        "p = sys.argv[1]; later = int(sys.argv[2]); st = os.stat(p)\n"
        "d = bytearray(open(p, \"rb\").read()); d[0] ^= 0xFF; d[-1] ^= 0xFF\n"
        "open(p, \"wb\").write(d)\n"
        "os.utime(p, ns=(st.st_atime_ns, st.st_mtime_ns + later * 1000000000))' " +
        Q(file) + " " + std::to_string(laterSeconds) + " 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
  }

  std::wstring tree_;
  std::wstring base_;
};

TEST_F(TemplateAppend, TheImageAppliesBackEqualToAFullAppendOfTheSameFolder) {
  // Between the two captures: one file grows, one is new, one is gone, and
  // one is rewritten in place with a later time.
  ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\two.bin", etest::RandomBytes(250000, 20)));
  ASSERT_TRUE(qtest::WriteFileBytes(tree_ + L"\\d\\new.txt", "added after the first capture\n"));
  ASSERT_TRUE(DeleteFileW((tree_ + L"\\small.txt").c_str()));
  RewriteSameSize(tree_ + L"\\d\\three.bin", 10);

  std::wstring withTemplate = CopyOfBase(L"template.wim"), full = CopyOfBase(L"full.wim");
  ASSERT_EQ(Capture(withTemplate, true, kTemplateLastImage), kResultSuccess);
  ASSERT_EQ(Capture(full, true, kTemplateNone), kResultSuccess);

  EXPECT_EQ(ImageCount(withTemplate), 2);
  EXPECT_TRUE(AppliesTo(withTemplate, 2, tree_));
  EXPECT_TRUE(AppliesTo(full, 2, tree_));
  EXPECT_EQ(Detailed(withTemplate, 2), Detailed(full, 2));
  // The first image is untouched and the whole file is sound.
  EXPECT_EQ(Detailed(withTemplate, 1), Detailed(base_, 1));
  EXPECT_TRUE(etest::OracleVerify(withTemplate));
  EXPECT_EQ(Blobs(withTemplate), Blobs(full));
}

TEST_F(TemplateAppend, AnUnchangedFolderAddsOnlyTheMetadataOfItsImage) {
  const int blobsBefore = Blobs(base_);
  ASSERT_GT(blobsBefore, 0);
  const uint64_t sizeBefore = qtest::ReadFileBytes(base_).size();

  ASSERT_EQ(Capture(base_, true, kTemplateLastImage), kResultSuccess);
  EXPECT_EQ(ImageCount(base_), 2);
  EXPECT_EQ(Blobs(base_), blobsBefore + 1) << "one metadata resource, no file data";
  // The tree holds 600 kB that do not compress; the new image adds a few
  // kilobytes of metadata and XML.
  const uint64_t sizeAfter = qtest::ReadFileBytes(base_).size();
  EXPECT_LT(sizeAfter - sizeBefore, 64u * 1024) << sizeBefore << " -> " << sizeAfter;
  EXPECT_TRUE(AppliesTo(base_, 2, tree_));
  EXPECT_EQ(Detailed(base_, 2), Detailed(base_, 1));
}

TEST_F(TemplateAppend, AFileRewrittenWithTheSameSizeAndALaterTimeIsTakenAnew) {
  const int blobsBefore = Blobs(base_);
  RewriteSameSize(tree_ + L"\\one.bin", 10);
  // The template chosen by its number.
  ASSERT_EQ(Capture(base_, true, 1), kResultSuccess);
  EXPECT_TRUE(AppliesTo(base_, 2, tree_)) << "the new contents are in the image";
  EXPECT_EQ(Blobs(base_), blobsBefore + 2) << "the metadata and the file's new data";
}

// A file whose path, size and times are those of the template is trusted to
// be unchanged and is not read: the new image holds what the template held,
// exactly as `wimlib-imagex append --update-of` makes it.
TEST_F(TemplateAppend, FilesThatLookUnchangedComeFromTheTemplateAsWithWimlibImagexUpdateOf) {
  RewriteSameSize(tree_ + L"\\one.bin", 0);
  std::wstring oracle = CopyOfBase(L"oracle.wim");
  qtest::UnixResult r = Imagex("append " + Q(tree_) + " " + Q(oracle) + " second --update-of=1 2>&1");
  ASSERT_EQ(r.exitCode, 0) << r.output;

  ASSERT_EQ(Capture(base_, true, kTemplateLastImage), kResultSuccess);
  EXPECT_EQ(Detailed(base_, 2), Detailed(oracle, 2));
  EXPECT_EQ(Blobs(base_), Blobs(oracle));
  EXPECT_EQ(Detailed(base_, 2), Detailed(base_, 1)) << "one.bin keeps the template's data";
}

TEST_F(TemplateAppend, ATemplateTheFileDoesNotHaveLeavesTheFileAsItWas) {
  const std::string before = qtest::ReadFileBytes(base_);
  host_.quietErrors = true;
  EXPECT_EQ(Capture(base_, true, 2), kResultFailed) << "the file holds one image";
  EXPECT_EQ(qtest::ReadFileBytes(base_), before);
  EXPECT_EQ(ImageCount(base_), 1);
}

TEST_F(TemplateAppend, WimgapiHasNoTemplateAndRefusesSuchAnAppendWithoutTouchingTheFile) {
  EXPECT_TRUE(host_.Engine(kBackendWimlib)->CapturesAgainstTemplate());
  EXPECT_FALSE(host_.Engine(kBackendWimgapi)->CapturesAgainstTemplate());
  if (!NeedWimgapi()) GTEST_SKIP() << "wimgapi.dll is not in the prefix";
  const std::string before = qtest::ReadFileBytes(base_);
  EXPECT_EQ(Capture(base_, true, kTemplateLastImage, kBackendWimgapi), kResultNotBound);
  EXPECT_EQ(qtest::ReadFileBytes(base_), before);
  // The same append without a template goes through.
  EXPECT_EQ(Capture(base_, true, kTemplateNone, kBackendWimgapi), kResultSuccess);
  EXPECT_EQ(ImageCount(base_), 2);
}

TEST_F(TemplateAppend, AWimlibWithoutTheCallRefusesATemplateBeforeWritingAnything) {
  host_.backends.wimlib.reference_template_image = nullptr;
  EXPECT_FALSE(host_.Engine(kBackendWimlib)->CapturesAgainstTemplate());
  const std::string before = qtest::ReadFileBytes(base_);
  EXPECT_EQ(Capture(base_, true, kTemplateLastImage), kResultNotBound);
  EXPECT_EQ(qtest::ReadFileBytes(base_), before);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
