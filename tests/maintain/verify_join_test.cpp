// Verifying a file or a whole split set on demand (sound, damaged, stopped
// at the user's abort, greyed without wimlib), and joining a split set into
// one file on both back ends, judged against wimlib-imagex verify and join.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "engine/engine.h"
#include "maintain_fixture.h"

using namespace qtest;

namespace {

class JoinTest : public MaintainTest, public ::testing::WithParamInterface<BackendKind> {
 protected:
  // A set of `noise` parts: set.wim, set2.wim, ... (wimlib-imagex split).
  std::wstring MakeSet(int files) {
    std::wstring whole = MakeNoiseWim(L"whole.wim", files, 300 * 1024);
    std::wstring first = dir_ + L"\\set.wim";
    UnixResult r = RunUnix("wimlib-imagex split " + ShQuote(UnixPath(whole)) + " " + ShQuote(UnixPath(first)) + " 0.4");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return first;
  }
  std::string SetArgs(const std::wstring& first) {
    int parts = std::stoi(InfoField(first, 0, "Part Number").substr(2));
    std::string args = ShQuote(UnixPath(first));
    for (int n = 2; n <= parts; n++) args += " " + ShQuote(UnixPath(dir_ + L"\\set" + std::to_wstring(n) + L".wim"));
    return args;
  }
};

// Stands for the person who presses "中止" as soon as the verification
// shows its first percentage.
class AbortAtFirstPercent : public ProgressTarget {
 public:
  AbortAtFirstPercent(HWND window, CancelToken& cancel) : window_(window), cancel_(cancel) {}
  HWND Hwnd() const override { return window_; }
  void SetPercent(float) override {
    if (requestedAt_ == 0) {
      requestedAt_ = GetTickCount();
      cancel_.Request(true);
    }
  }
  DWORD requestedAt() const { return requestedAt_; }

 private:
  HWND window_;
  CancelToken& cancel_;
  std::atomic<DWORD> requestedAt_{0};
};

void FlipByte(const std::wstring& path, size_t at) {
  std::string bytes = ReadFileBytes(path);
  ASSERT_GT(bytes.size(), at);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
  ASSERT_TRUE(WriteFileBytes(path, bytes));
}

}  // namespace

TEST_F(MaintainTest, VerifyCallsASoundFileSoundAndADamagedOneDamaged) {
  // Verification is wimlib's whichever back end is chosen.
  ShowMaintainPage(kBackendWimgapi);
  std::wstring sound = MakeNoiseWim(L"sound.wim", 2, 512 * 1024);
  SetFile(sound);
  EXPECT_EQ(RunJob(IDC_MAINTAIN_VERIFY), L"操作成功完成!");
  EXPECT_NE(Status().find(L"文件完好"), std::wstring::npos) << Utf8(Status());
  if (const char* shots = getenv("QUARRY_SHOTS")) {
    PaintNow(main_);
    Screenshot(std::string(shots) + "/maintain_page.png");
  }

  std::wstring damaged = dir_ + L"\\damaged.wim";
  ASSERT_TRUE(CopyFileW(sound.c_str(), damaged.c_str(), FALSE));
  FlipByte(damaged, 300 * 1024);  // inside the first noise file's data
  ASSERT_NE(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(damaged))).exitCode, 0) << "the oracle sees the damage";
  std::string bytes = ReadFileBytes(damaged);
  SetFile(damaged);
  std::wstring result = RunJob(IDC_MAINTAIN_VERIFY);
  EXPECT_NE(result, L"操作成功完成!");
  EXPECT_NE(Status().find(L"文件已损坏"), std::wstring::npos) << Utf8(Status());
  EXPECT_NE(Status().find(L"镜像已损坏"), std::wstring::npos) << Utf8(Status());
  EXPECT_TRUE(ReadFileBytes(damaged) == bytes) << "verifying writes nothing";
}

TEST_F(MaintainTest, VerifyChecksEveryPartOfASplitSetAndTheIntegrityTable) {
  ShowMaintainPage(kBackendWimlib);
  std::wstring whole = MakeNoiseWim(L"whole.wim", 3, 300 * 1024);
  std::wstring first = dir_ + L"\\set.wim";
  ASSERT_EQ(RunUnix("wimlib-imagex split " + ShQuote(UnixPath(whole)) + " " + ShQuote(UnixPath(first)) + " 0.4").exitCode,
            0);
  SetFile(first);
  EXPECT_EQ(RunJob(IDC_MAINTAIN_VERIFY), L"操作成功完成!");
  // A damaged later part makes the set damaged.
  std::wstring second = dir_ + L"\\set2.wim";
  FlipByte(second, 250 * 1024);
  EXPECT_NE(RunJob(IDC_MAINTAIN_VERIFY), L"操作成功完成!");
  EXPECT_NE(Status().find(L"文件已损坏"), std::wstring::npos) << Utf8(Status());

  // A file with an integrity table is checked against it as well: sound
  // when it matches, damaged once a byte it covers has changed.
  std::wstring checked = MakeWim(L"checked.wim", 1, "--check");
  ASSERT_TRUE(HasIntegrityTable(checked));
  SetFile(checked);
  EXPECT_EQ(RunJob(IDC_MAINTAIN_VERIFY), L"操作成功完成!");
  FlipByte(checked, 260);  // just after the header, where the first resource begins
  ASSERT_NE(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(checked))).exitCode, 0);
  EXPECT_NE(RunJob(IDC_MAINTAIN_VERIFY), L"操作成功完成!");
  EXPECT_NE(Status().find(L"文件已损坏"), std::wstring::npos) << Utf8(Status());
}

TEST_F(MaintainTest, VerifyStopsAtTheAbortWellWithinTwoSeconds) {
  std::wstring wim = MakeNoiseWim(L"long.wim", 16, 2 * 1024 * 1024);
  CancelToken cancel;
  AbortAtFirstPercent target(main_, cancel);
  OperationContext context;
  context.cancel = &cancel;
  context.progress = &target;
  VerifyRequest request{wim};
  EngineResult result = MakeEngine(app_->backends, app_->Choice(kBackendWimlib), context)->Verify(request);
  DWORD stopped = GetTickCount();
  ASSERT_NE(target.requestedAt(), 0u) << "the verification showed no percentage";
  EXPECT_EQ(result, kResultAborted);
  EXPECT_LT(stopped - target.requestedAt(), 2000u);
}

TEST_F(MaintainTest, VerifyIsGreyedWithItsReasonWhenWimlibIsNotLoaded) {
  ShowMaintainPage(kBackendWimgapi);
  EXPECT_TRUE(ItemEnabled(maintainWnd(), IDC_MAINTAIN_VERIFY));
  EXPECT_EQ(Text(maintainWnd(), IDC_MAINTAIN_VERIFY_NOTE), L"");
  WimlibTable bound = app_->backends.wimlib;
  OnUiThread([&] { app_->backends.wimlib = WimlibTable(); });
  ClickRadio(IDC_ADVANCED_SPLIT);
  ClickRadio(IDC_ADVANCED_MAINTAIN);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(maintainWnd()); }, 20000));
  EXPECT_FALSE(ItemEnabled(maintainWnd(), IDC_MAINTAIN_VERIFY));
  EXPECT_NE(Text(maintainWnd(), IDC_MAINTAIN_VERIFY_NOTE).find(L"wimlib"), std::wstring::npos);
  OnUiThread([&] { app_->backends.wimlib = bound; });
}

TEST_P(JoinTest, ASplitSetJoinsIntoTheFileWimlibImagexJoinMakes) {
  ShowMaintainPage(GetParam());
  std::wstring first = MakeSet(4);
  std::wstring reference = dir_ + L"\\reference.wim";
  UnixResult join = RunUnix("wimlib-imagex join " + ShQuote(UnixPath(reference)) + " " + SetArgs(first));
  ASSERT_EQ(join.exitCode, 0) << join.output;

  std::wstring target = dir_ + L"\\joined.wim";
  SetFile(first);
  Type(maintainWnd(), IDC_MAINTAIN_JOIN_TARGET, target);
  EXPECT_EQ(RunJob(IDC_MAINTAIN_JOIN), L"操作成功完成!");
  EXPECT_EQ(InfoField(target, 0, "Part Number"), "1/1");
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(target))).exitCode, 0);
  EXPECT_EQ(ImageXml(target), ImageXml(reference));
  EXPECT_EQ(InfoField(target, 0, "Boot Index"), InfoField(reference, 0, "Boot Index"));
  EXPECT_TRUE(SameTrees(target, reference));
  EXPECT_NE(Status().find(target), std::wstring::npos) << Utf8(Status());

  // An existing target is replaced only after the question.
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ClearMessages();
  answer = [](const ShownMessage& m) { return (m.style & 0xF) == MB_YESNO ? IDNO : IDOK; };
  Click(maintainWnd(), IDC_MAINTAIN_JOIN);
  EXPECT_TRUE(WaitUntil([&] { return !Messages().empty(); }));
  EXPECT_EQ(ReadFileBytes(target), "old");
  answer = nullptr;
  EXPECT_EQ(RunJob(IDC_MAINTAIN_JOIN), L"操作成功完成!");
  EXPECT_TRUE(SameTrees(target, reference));
}

TEST_P(JoinTest, AMissingPartFailsTheJoinAndLeavesNoFile) {
  ShowMaintainPage(GetParam());
  std::wstring first = MakeSet(4);
  ASSERT_TRUE(DeleteFileW((dir_ + L"\\set3.wim").c_str()));
  std::wstring target = dir_ + L"\\joined.wim";
  SetFile(first);
  Type(maintainWnd(), IDC_MAINTAIN_JOIN_TARGET, target);
  EXPECT_NE(RunJob(IDC_MAINTAIN_JOIN), L"操作成功完成!");
  EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES);
  for (const std::wstring& name : NamesIn(dir_)) EXPECT_EQ(name.find(L".tmp"), std::wstring::npos) << Utf8(name);
}

INSTANTIATE_TEST_SUITE_P(BothBackends, JoinTest, ::testing::Values(kBackendWimgapi, kBackendWimlib),
                         [](const ::testing::TestParamInfo<BackendKind>& info) {
                           return std::string(info.param == kBackendWimlib ? "Wimlib" : "Wimgapi");
                         });
