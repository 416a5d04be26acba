// A WIMGAPI capture into a new file that fails after the file was created
// (the temporary folder removed while the program runs, a capture the
// library refuses) leaves the file the user asked to replace byte-identical
// and nothing beside it; a capture that succeeds replaces it.
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine_fixture.h"

using etest::WimgapiEngineTest;

namespace {

std::string FilesIn(const std::wstring& folder) {
  return qtest::RunUnix("ls -A " + etest::Q(folder)).output;
}

TEST_F(WimgapiEngineTest, AFailedCreateLeavesTheFileItWasToReplaceAsItWas) {
  std::wstring out = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(out));
  std::wstring wim = out + L"\\target.wim";
  ASSERT_TRUE(etest::OracleCapture(src_, wim, "old"));
  const std::string before = qtest::ReadFileBytes(wim);
  ASSERT_FALSE(before.empty());

  CaptureRequest request;
  request.source = src_;
  request.wimPath = wim;
  request.compression = 1;

  // The temporary folder the settings named is gone by the time of the capture.
  std::wstring temp = dir_ + L"\\temp";
  ASSERT_TRUE(qtest::MakeDirs(temp));
  host_.tempFolder = temp;
  std::unique_ptr<Engine> engine = host_.Engine(kBackendWimgapi);
  qtest::RemoveTree(temp);
  EXPECT_EQ(engine->Capture(request), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMSetTemporaryPath()\nError Code: ")) << boxes_.size();
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before) << "the existing file is byte-identical";
  EXPECT_EQ(FilesIn(out), "target.wim\n");
  EXPECT_TRUE(etest::OracleVerify(wim));

  // A capture the library refuses (the source is gone) after the file was made.
  boxes_.clear();
  host_.tempFolder = dir_;
  request.source = dir_ + L"\\missing";
  EXPECT_EQ(host_.Engine(kBackendWimgapi)->Capture(request), kResultFailed);
  EXPECT_TRUE(ErrorBoxStartsWith(L"WIMCaptureImage()\nError Code: "));
  EXPECT_TRUE(qtest::ReadFileBytes(wim) == before);
  EXPECT_EQ(FilesIn(out), "target.wim\n");

  // A capture that succeeds replaces the file with the new image alone.
  boxes_.clear();
  request.source = src_;
  request.info.name = L"new";
  EXPECT_EQ(host_.Engine(kBackendWimgapi)->Capture(request), kResultSuccess);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(etest::ImageCount(wim), 1);
  EXPECT_EQ(etest::InfoField(wim, 1, "Name"), "new");
  EXPECT_EQ(FilesIn(out), "target.wim\n");
  EXPECT_TRUE(etest::AppliesTo(wim, 1, src_));
}

}  // namespace
