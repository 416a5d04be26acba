// Writes that replace a file the user named through a symbolic link (a new
// file, a further image, the delete and edit save): the link stays a link,
// and the file it names holds what was written.
#include <gtest/gtest.h>

#include "engine/failure_reason.h"
#include "engine_fixture.h"
#include "pages/page2_delete_save.h"

using namespace etest;

namespace {

class WriteThroughLinkTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    real_ = dir_ + L"\\real";
    ASSERT_TRUE(qtest::MakeDirs(real_));
    target_ = real_ + L"\\b.wim";
    ASSERT_TRUE(OracleCapture(src_ + L"\\sub", target_, "old"));
    link_ = dir_ + L"\\a.wim";
    // A link left by an earlier run, dangling once its folder was cleared,
    // is invisible to the Windows calls that clear the test's folder.
    ASSERT_EQ(qtest::RunUnix("rm -f " + Q(link_) + " && ln -s real/b.wim " + Q(link_)).exitCode, 0);
  }
  void TearDown() override {
    if (!link_.empty()) qtest::RunUnix("rm -f " + Q(link_));
    BackendTest::TearDown();
  }
  // Where the link points, as the system reads it; "" when it is no link.
  std::string LinkText() const {
    qtest::UnixResult r = qtest::RunUnix("readlink " + Q(link_));
    return r.exitCode == 0 ? r.output : "";
  }
  std::wstring real_, target_, link_;
};

TEST_P(WriteThroughLinkTest, WritesThroughALinkReplaceTheFileTheLinkNamesAndKeepTheLink) {
  ClearFailure();
  CaptureRequest capture;
  capture.source = src_;
  capture.wimPath = link_;
  capture.compression = 1;
  capture.info.name = L"new";
  ASSERT_EQ(Make()->Capture(capture), kResultSuccess) << qtest::Utf8(FailureText());
  EXPECT_EQ(LinkText(), "real/b.wim\n") << "the link was replaced";
  EXPECT_EQ(ImageCount(target_), 1);
  EXPECT_EQ(InfoField(target_, 1, "Name"), "new") << "the file the link names does not hold the new image";
  EXPECT_TRUE(OracleVerify(target_));
  EXPECT_TRUE(AppliesTo(target_, 1, src_));
  // Nothing of the write is left beside the link or beside the file.
  for (const std::wstring& name : qtest::NamesIn(dir_))
    EXPECT_TRUE(name == L"a.wim" || name == L"real" || src_ == dir_ + L"\\" + name) << qtest::Utf8(name);
  EXPECT_EQ(qtest::NamesIn(real_), std::vector<std::wstring>{L"b.wim"});

  // A further image through the link goes into the same file.
  capture.append = true;
  capture.info.name = L"more";
  ASSERT_EQ(Make()->Capture(capture), kResultSuccess) << qtest::Utf8(FailureText());
  EXPECT_EQ(LinkText(), "real/b.wim\n");
  EXPECT_EQ(ImageCount(target_), 2);
  EXPECT_TRUE(OracleVerify(target_));

  // The delete and edit save through the link: the second image goes, the
  // first is renamed; the file the link names is written anew.
  SaveJob job;
  job.wimPath = link_;
  job.destination = link_;
  job.rows.resize(1);
  job.rows[0].index = 1;
  job.rows[0].info.name = L"kept";
  job.loaded = CurrentStamp(link_);
  job.backends = &host_.backends;
  job.choice = host_.Choice(GetParam());
  bool copied = false;
  ASSERT_EQ(SaveChanges(job, host_.Context(), copied), kResultSuccess) << qtest::Utf8(FailureText());
  EXPECT_EQ(LinkText(), "real/b.wim\n") << "the link was replaced";
  EXPECT_EQ(ImageCount(target_), 1);
  EXPECT_EQ(InfoField(target_, 1, "Name"), "kept");
  EXPECT_TRUE(OracleVerify(target_));
  EXPECT_EQ(qtest::NamesIn(real_), std::vector<std::wstring>{L"b.wim"});
}

INSTANTIATE_TEST_SUITE_P(Backends, WriteThroughLinkTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         BackendName);

}  // namespace
