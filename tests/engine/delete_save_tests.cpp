// The save of the delete and edit page through WIMGAPI is all or nothing: a
// save that fails half way (the second of two deletions fails, after every
// image's new name was written) leaves the file byte for byte as it was,
// and the boot mark never lands on an image that was to be deleted.
#include <gtest/gtest.h>

#include "engine/failure_reason.h"
#include "engine_fixture.h"
#include "pages/page2_delete_save.h"
#include "recorder.h"

using namespace etest;

namespace {

// Whether the recorder saw a call `what` (e.g. "DeleteImage") whose last
// argument is `last`.
bool Called(const std::string& what, const std::string& last) {
  for (const std::string& line : rec::Lines(what + " "))
    if (line.size() > last.size() && line.compare(line.size() - last.size() - 1, std::string::npos, " " + last) == 0)
      return true;
  return false;
}

class WimgapiDeleteSave : public WimgapiEngineTest {
 protected:
  void SetUp() override {
    WimgapiEngineTest::SetUp();
    if (IsSkipped()) return;
    wim_ = dir_ + L"\\four.wim";
    for (const char* name : {"one", "two", "three", "four"})
      ASSERT_TRUE(OracleCapture(src_ + L"\\sub", wim_, name));
    ASSERT_EQ(Imagex("info " + Q(wim_) + " 1 --boot").exitCode, 0);
    before_ = qtest::ReadFileBytes(wim_);
    names_ = qtest::NamesIn(dir_);
    host_.quietErrors = true;
  }
  // Keeps images 1 and 4, renamed, with the boot mark on image 4; images 3
  // and 2 are deleted, in that order.
  std::vector<ImageRow> Rows() const {
    std::vector<ImageRow> rows(2);
    rows[0].index = 1;
    rows[0].info.name = L"first kept";
    rows[1].index = 4;
    rows[1].info.name = L"last kept";
    rows[1].boot = true;
    return rows;
  }
  std::wstring wim_;
  std::string before_;
  std::vector<std::wstring> names_;
};

TEST_F(WimgapiDeleteSave, ASaveThatFailsHalfWayLeavesTheFileAsItWas) {
  SaveJob job;
  job.wimPath = wim_;
  job.destination = wim_;
  job.rows = Rows();
  job.loaded = CurrentStamp(wim_);
  job.backends = &host_.backends;
  job.choice = host_.Choice(kBackendWimgapi);
  StartRecorder(kBackendWimgapi);
  rec::failingDeletion = 2;
  bool copied = false;
  ClearFailure();
  EXPECT_EQ(SaveChanges(job, host_.Context(), copied), kResultFailed);
  EXPECT_TRUE(Called("DeleteImage", "3")) << rec::Joined() << "the first deletion was not made";
  EXPECT_TRUE(qtest::ReadFileBytes(wim_) == before_) << "the file was changed half way";
  EXPECT_TRUE(OracleVerify(wim_));
  EXPECT_EQ(qtest::NamesIn(dir_), names_) << "something was left beside the file";
  EXPECT_FALSE(FailureText().empty()) << "no reason given";

  // Without the failure the same save does all of it.
  StartRecorder(kBackendWimgapi);
  job.loaded = CurrentStamp(wim_);
  ASSERT_EQ(SaveChanges(job, host_.Context(), copied), kResultSuccess) << qtest::Utf8(FailureText());
  EXPECT_EQ(ImageCount(wim_), 2);
  EXPECT_EQ(InfoField(wim_, 1, "Name"), "first kept");
  EXPECT_EQ(InfoField(wim_, 2, "Name"), "last kept");
  EXPECT_EQ(InfoField(wim_, 0, "Boot Index"), "2");
  EXPECT_TRUE(OracleVerify(wim_));
  EXPECT_EQ(qtest::NamesIn(dir_), names_);
}

TEST_F(WimgapiDeleteSave, AFailedDeletionNeverMovesTheBootMarkOntoAnImageThatWasToGo) {
  // The engine's edit written straight into the file: after the failed
  // deletion of image 2, the mark that was meant for the last kept image
  // (position 2) must not go to image 2.
  StartRecorder(kBackendWimgapi);
  rec::failingDeletion = 2;
  DeleteRequest request;
  request.wimPath = wim_;
  request.rows = Rows();
  request.imageCount = 4;
  EXPECT_EQ(Make()->Delete(request), kResultFailed);
  EXPECT_TRUE(OracleVerify(wim_));
  ASSERT_EQ(ImageCount(wim_), 3);
  EXPECT_NE(InfoField(wim_, 0, "Boot Index"), "2") << "the boot mark is on \"" << InfoField(wim_, 2, "Name") << "\"";
  EXPECT_FALSE(Called("SetBootImage", "2")) << rec::Joined();
}

}  // namespace
