// Writes that run out of space on a small volume (a tmpfs of a few MB): the
// operation fails with a reason that names the lack of space, every file
// that was there is byte for byte as it was and still verifies, and
// nothing new is left in the folder.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/failure_reason.h"
#include "engine_fixture.h"
#include "pages/page2_delete_save.h"
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
    host_.quietErrors = true;
  }
  void TearDown() override {
    if (mounted_) qtest::RunUnix("umount -l " + Q(small_));
    BackendTest::TearDown();
  }
  void ExpectFullAndUnharmed(EngineResult result) {
    EXPECT_EQ(result, kResultFailed);
    std::wstring reason = FailureText();
    EXPECT_NE(reason.find(LoadStr(IDS_REASON_DISK_FULL)), std::wstring::npos) << qtest::Utf8(reason);
    std::vector<std::wstring> names{L"old.wim"};
    if (!two_.empty()) names.push_back(L"two.wim");
    EXPECT_EQ(qtest::NamesIn(small_), names);
    EXPECT_TRUE(qtest::ReadFileBytes(old_) == oldBytes_) << "changed";
    EXPECT_TRUE(OracleVerify(old_));
    if (!two_.empty()) {
      EXPECT_TRUE(qtest::ReadFileBytes(two_) == twoBytes_) << "the edited file changed";
      EXPECT_TRUE(OracleVerify(two_));
    }
    ClearFailure();
  }
  // A file "two.wim" on the small volume of two images of `size` bytes each
  // that do not compress.
  void MakeTwoImages(ULONGLONG size) {
    const std::wstring made = dir_ + L"\\two-" + std::to_wstring(size) + L".wim";
    for (int i = 0; i < 2; i++) {
      std::wstring folder = dir_ + L"\\image" + std::to_wstring(i);
      ASSERT_TRUE(qtest::MakeDirs(folder));
      ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\data.bin", RandomBytes(static_cast<size_t>(size), 40 + i)));
      ASSERT_TRUE(OracleCapture(folder, made, i ? "second" : "first"));
    }
    two_ = small_ + L"\\two.wim";
    ASSERT_TRUE(CopyFileW(made.c_str(), two_.c_str(), TRUE));
    twoBytes_ = qtest::ReadFileBytes(two_);
  }
  ULONGLONG FreeBytes() const {
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExW((small_ + L"\\").c_str(), &free, nullptr, nullptr);
    return free.QuadPart;
  }

  std::wstring small_, noise_, noiseWim_, old_, two_;
  std::string oldBytes_, twoBytes_;
  bool mounted_ = false;
};

TEST_P(DiskFullTest, EveryWriteThatRunsOutOfSpaceSaysSoAndLeavesTheVolumeAsItWas) {
  ClearFailure();
  CaptureRequest capture;
  capture.source = noise_;
  capture.wimPath = small_ + L"\\new.wim";
  capture.compression = 1;
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

TEST_P(DiskFullTest, ADeleteAndEditSaveThatRunsOutOfSpaceSaysSoAndLeavesTheFileAsItWas) {
  // The save keeps the first image, renamed, and deletes the second. Both
  // back ends write the file anew for a deletion; WIMGAPI's save first
  // copies the file beside itself. The images are sized so that what the
  // save must write beside the file does not fit into what is left: for
  // WIMGAPI once the copy itself, once the file written anew from the copy.
  const ULONGLONG free = FreeBytes();
  std::vector<ULONGLONG> sizes{free * 2 / 5};
  if (IsWimgapi()) sizes.push_back(free * 2 / 9);
  for (ULONGLONG size : sizes) {
    SCOPED_TRACE(size);
    ASSERT_NO_FATAL_FAILURE(MakeTwoImages(size));
    ClearFailure();
    SaveJob job;
    job.wimPath = two_;
    job.destination = two_;
    job.rows.resize(1);
    job.rows[0].index = 1;
    job.rows[0].info.name = L"kept";
    job.loaded = CurrentStamp(two_);
    job.backends = &host_.backends;
    job.choice = host_.Choice(GetParam());
    bool copied = false;
    ExpectFullAndUnharmed(SaveChanges(job, host_.Context(), copied));
    ASSERT_TRUE(DeleteFileW(two_.c_str()));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, DiskFullTest, ::testing::Values(kBackendWimgapi, kBackendWimlib), BackendName);

}  // namespace
