// The WIMGAPI capture callback on its own: which list decides what for a
// path relative to the capture root, and the abort question.
#include <gtest/gtest.h>

#include "engine/wimgapi_engine.h"
#include "engine_fixture.h"

namespace {

class CaptureCallbackTest : public etest::EngineTest {
 protected:
  // The answer the callback leaves for a message about `path`.
  BOOL Ask(DWORD msg, const wchar_t* path, BOOL proposed, DWORD* result = nullptr) {
    // The capture's own context: its cancel and the host that asks.
    const OperationContext operation = host_.Context();
    ctx_.operation = &operation;
    BOOL answer = proposed;
    DWORD r = CaptureMessageCallback(msg, reinterpret_cast<WPARAM>(path), reinterpret_cast<LPARAM>(&answer), &ctx_);
    ctx_.operation = nullptr;
    if (result) *result = r;
    else EXPECT_EQ(r, 0u) << "message " << msg;
    return answer;
  }
  CaptureContext ctx_;
};

TEST_F(CaptureCallbackTest, DriveRootSeesThePageFileAtRootOnly) {
  ctx_.rootLength = CaptureRootLength(L"D:\\");
  EXPECT_EQ(ctx_.rootLength, 2u);
  ctx_.lists.patterns[kListExclude] = {L"\\pagefile.sys", L"\\Windows\\CSC", L"*.tmp"};
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\pagefile.sys", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_PROCESS, L"D:\\sub\\pagefile.sys", TRUE));
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\Windows\\CSC", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_PROCESS, L"D:\\Data\\Windows\\CSC", TRUE));
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\a\\b\\x.TMP", TRUE));
  // No match leaves what the library proposed.
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\other", FALSE));
}

TEST_F(CaptureCallbackTest, FolderRootWithTrailingBackslash) {
  ctx_.rootLength = CaptureRootLength(L"C:\\src\\");
  EXPECT_EQ(ctx_.rootLength, 6u);
  EXPECT_EQ(CaptureRootLength(L"C:\\src"), 6u);
  ctx_.lists.patterns[kListExclude] = {L"\\pagefile.sys"};
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"C:\\src\\pagefile.sys", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_PROCESS, L"C:\\src\\sub\\pagefile.sys", TRUE));
}

TEST_F(CaptureCallbackTest, ExceptionWinsAndFileQuestions) {
  ctx_.rootLength = 2;
  ctx_.lists.patterns[kListExclude] = {L"*.log"};
  ctx_.lists.patterns[kListException] = {L"\\keep\\*"};
  ctx_.lists.patterns[kListNoCompress] = {L"*.ZIP", L"*.CAB"};
  ctx_.lists.patterns[kListAlignment] = {L"*.vhd"};
  EXPECT_TRUE(Ask(WIM_MSG_PROCESS, L"D:\\keep\\x.log", TRUE));
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\y.log", TRUE));

  EXPECT_FALSE(Ask(WIM_MSG_COMPRESS, L"D:\\Data\\Setup.zip", TRUE));
  EXPECT_FALSE(Ask(WIM_MSG_COMPRESS, L"D:\\a.zip\\inner.cab", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_COMPRESS, L"D:\\Data\\Setup.txt", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_ALIGNMENT, L"D:\\disk.VHD", FALSE));
  EXPECT_FALSE(Ask(WIM_MSG_ALIGNMENT, L"D:\\disk.txt", FALSE));
  // The lists answer only their own message.
  EXPECT_TRUE(Ask(WIM_MSG_PROCESS, L"D:\\Data\\Setup.zip", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_COMPRESS, L"D:\\y.log", TRUE));
  EXPECT_TRUE(Ask(WIM_MSG_SCANNING, L"D:\\y.log", TRUE));
  // Malformed messages are answered without touching anything.
  EXPECT_EQ(CaptureMessageCallback(WIM_MSG_PROCESS, 0, 0, &ctx_), 0u);
  EXPECT_EQ(CaptureMessageCallback(WIM_MSG_COMPRESS, reinterpret_cast<WPARAM>(L"D:\\a.zip"), 0, &ctx_), 0u);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(CaptureCallbackTest, AbortQuestionComesBeforeTheLists) {
  ctx_.rootLength = 2;
  ctx_.lists.patterns[kListExclude] = {L"*.log"};
  DWORD r = 0;
  host_.cancel.Request();
  abortAnswer_ = IDYES;
  Ask(WIM_MSG_PROCESS, L"D:\\y.log", TRUE, &r);
  EXPECT_EQ(r, WIM_MSG_ABORT_IMAGE);
  EXPECT_FALSE(host_.cancel.Requested());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].kind, etest::Box::kAbortQuestion);

  // "No" goes on as if nothing had been asked; the next file asks nothing.
  host_.cancel.Request();
  abortAnswer_ = IDNO;
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\y.log", TRUE, &r));
  EXPECT_EQ(r, 0u);
  EXPECT_FALSE(Ask(WIM_MSG_PROCESS, L"D:\\z.log", TRUE, &r));
  EXPECT_EQ(boxes_.size(), 2u);
}

}  // namespace
