// Writes that run out of space on a small volume (a tmpfs of a few MB): the
// operation fails with a reason that names the lack of space, every file
// that was there is byte for byte as it was and still verifies, and
// nothing new is left in the folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/failure_reason.h"
#include "engine_fixture.h"
#include "resources/ids_failure.h"
#include "win/strings.h"

using namespace etest;

namespace {

class DiskFullTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    small_ = dir_ + L"\\small";
    ASSERT_TRUE(qtest::MakeDirs(small_));
    if (qtest::RunUnix("mount -t tmpfs -o size=6m tmpfs " + Q(small_)).exitCode != 0)
      GTEST_SKIP() << "cannot mount a small volume here (not root?)";
    mounted_ = true;
    // Ten megabytes that do not compress: more than the volume holds.
    noise_ = dir_ + L"\\noise";
    ASSERT_TRUE(qtest::MakeDirs(noise_));
    for (int i = 0; i < 5; i++)
      ASSERT_TRUE(qtest::WriteFileBytes(noise_ + L"\\n" + std::to_wstring(i) + L".bin", RandomBytes(2 << 20, i + 7)));
    noiseWim_ = dir_ + L"\\noise.wim";
    ASSERT_TRUE(OracleCapture(noise_, noiseWim_, "noise"));
    old_ = small_ + L"\\old.wim";
    ASSERT_TRUE(OracleCapture(src_, old_, "old"));
    oldBytes_ = qtest::ReadFileBytes(old_);
    host_.quietErrors = 1;
  }
  void TearDown() override {
    if (mounted_) qtest::RunUnix("umount -l " + Q(small_));
    BackendTest::TearDown();
  }
  void ExpectFullAndUnharmed(EngineResult result) {
    EXPECT_EQ(result, kResultFailed);
    std::wstring reason = FailureText();
    EXPECT_NE(reason.find(LoadStr(IDS_REASON_DISK_FULL)), std::wstring::npos) << qtest::Utf8(reason);
    EXPECT_EQ(qtest::NamesIn(small_), std::vector<std::wstring>{L"old.wim"});
    EXPECT_TRUE(qtest::ReadFileBytes(old_) == oldBytes_) << "changed";
    EXPECT_TRUE(OracleVerify(old_));
    ClearFailure();
  }

  std::wstring small_, noise_, noiseWim_, old_;
  std::string oldBytes_;
  bool mounted_ = false;
};

TEST_P(DiskFullTest, EveryWriteThatRunsOutOfSpaceSaysSoAndLeavesTheVolumeAsItWas) {
  ClearFailure();
  CaptureRequest capture;
  capture.source = noise_;
  capture.wimPath = small_ + L"\\new.wim";
  capture.compression = 1;
  capture.lists = SnapshotCaptureLists();
  {
    SCOPED_TRACE("capture into a new file");
    ExpectFullAndUnharmed(Make()->Capture(capture));
  }
  {
    SCOPED_TRACE("append");
    capture.wimPath = old_;
    capture.append = true;
    ExpectFullAndUnharmed(Make()->Capture(capture));
  }
  ExportRequest exportRequest;
  exportRequest.source = noiseWim_;
  exportRequest.index = 1;
  exportRequest.compression = 1;
  {
    SCOPED_TRACE("export into the existing file");
    exportRequest.destination = old_;
    ExpectFullAndUnharmed(Make()->Export(exportRequest));
  }
  {
    SCOPED_TRACE("export into a new file");
    exportRequest.destination = small_ + L"\\exported.wim";
    ExpectFullAndUnharmed(Make()->Export(exportRequest));
  }
  {
    SCOPED_TRACE("split");
    SplitRequest split;
    split.source = noiseWim_;
    split.firstPart = small_ + L"\\part.wim";
    split.partSize = 3 << 20;
    ExpectFullAndUnharmed(Make()->Split(split));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DiskFullTest, ::testing::Values(kBackendWimgapi, kBackendWimlib), BackendName);

}  // namespace
