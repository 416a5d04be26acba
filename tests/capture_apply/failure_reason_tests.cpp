// A failed operation says why: a damaged image applied through either back
// end, an apply onto a volume that fills up, and a failed task of the queue.
#include "capture_apply_fixture.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

const char kMark[] = "QUARRY-DAMAGE-MARK-";

// The outcome shown on the progress page: the result line and the line
// under it that says why.
struct Outcome {
  std::wstring result;
  std::wstring reason;
  bool reasonShown = false;
};

class FailureReasons : public QuarryPages {
 protected:
  HWND apply() const { return Page(IDD_PAGE_APPLY); }
  HWND progress() const { return Page(IDD_PAGE_PROGRESS); }
  HWND queue() const { return Page(IDD_PAGE_TASK_QUEUE); }
  HWND queueList() const { return GetDlgItem(queue(), IDC_TASK_LIST); }

  // An uncompressed image whose file \Windows\System32\x.dll holds kMark
  // over and over; with `damage`, one byte of that file's data in the WIM
  // is changed, so its SHA-1 no longer matches.
  std::wstring MakeImage(const std::wstring& name, bool damage) {
    std::wstring source = TempDir() + L"\\src-" + name;
    MakeSampleTree(source);
    EXPECT_TRUE(MakeDirs(source + L"\\Windows\\System32"));
    std::string data;
    for (int i = 0; i < 2000; i++) data += kMark;
    EXPECT_TRUE(WriteFileBytes(source + L"\\Windows\\System32\\x.dll", data));
    std::wstring wim = TempDir() + L"\\" + name + L".wim";
    UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source)) + " " + ShQuote(UnixPath(wim)) +
                           " --compress=none 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    if (damage) {
      std::string bytes = ReadFileBytes(wim);
      size_t at = bytes.find(kMark);
      EXPECT_NE(at, std::string::npos);
      if (at != std::string::npos) bytes[at + 3] ^= 0x20;
      EXPECT_TRUE(WriteFileBytes(wim, bytes));
      r = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim)) + " 2>&1");
      EXPECT_NE(r.exitCode, 0) << "the damage is real: " << r.output;
    }
    return wim;
  }

  // An image holding 2 MB that does not compress.
  std::wstring MakeBigImage() {
    std::wstring source = TempDir() + L"\\big";
    EXPECT_TRUE(MakeDirs(source));
    std::string noise(2000000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    EXPECT_TRUE(WriteFileBytes(source + L"\\noise.bin", noise));
    std::wstring wim = TempDir() + L"\\big.wim";
    UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(source)) + " " + ShQuote(UnixPath(wim)) +
                           " --compress=none 2>&1");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return wim;
  }

  void OpenApplyTab() {
    ClickWindow(GetDlgItem(main_, IDC_TAB_APPLY));
    ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_APPLY); }, 20000));
  }

  // Fills the apply page with the file and the target and presses "应用".
  void StartApply(const std::wstring& wim, const std::wstring& target) {
    OpenApplyTab();
    SetText(apply(), IDC_APPLY_WIM, wim);
    ASSERT_TRUE(WaitUntil([&] { return RowCount(GetDlgItem(apply(), IDC_APPLY_LIST)) == 1; }));
    SetText(apply(), IDC_APPLY_TARGET, target);
    Press(apply(), IDC_APPLY_APPLY);
  }

  // WIMGAPI's failure box: the program's caption, the failed call first.
  void AnswerWimgapiErrorBox() {
    HWND box = WaitDialog(L"Quarry");
    ASSERT_TRUE(box) << "no error box captioned \"Quarry\"";
    EXPECT_EQ(MessageBoxText(box).rfind(L"WIMApplyImage() fails\nError Code: ", 0), 0u)
        << Utf8(MessageBoxText(box));
    AnswerDialog(box, IDOK);
  }

  // Waits for the result, reads it and the reason, then presses "确定".
  Outcome WaitOutcome() {
    Outcome outcome;
    if (!WaitUntil([&] { return ItemVisible(progress(), IDC_PROGRESS_OK); }, 120000)) {
      outcome.result = L"(no result)";
      return outcome;
    }
    outcome.result = WindowText(GetDlgItem(progress(), IDC_PROGRESS_TEXT));
    outcome.reason = WindowText(GetDlgItem(progress(), IDC_PROGRESS_REASON));
    outcome.reasonShown = ItemVisible(progress(), IDC_PROGRESS_REASON);
    Press(progress(), IDC_PROGRESS_OK);
    WaitUntil([&] { return !ItemVisible(main_, IDD_PAGE_PROGRESS); }, 20000);
    return outcome;
  }

  static bool Has(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }
};

// A small tmpfs mounted at a folder, taken away again at the end.
class SmallVolume {
 public:
  explicit SmallVolume(const std::wstring& folder) : unixPath_(UnixPath(folder)) {
    MakeDirs(folder);
    UnixResult r = RunUnix("mount -t tmpfs -o size=512k quarry-full " + ShQuote(unixPath_) + " 2>&1");
    mounted_ = r.exitCode == 0;
    why_ = r.output;
  }
  ~SmallVolume() {
    if (mounted_) RunUnix("umount -l " + ShQuote(unixPath_) + " 2>&1");
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string unixPath_;
  bool mounted_ = false;
  std::string why_;
};

TEST_F(FailureReasons, ADamagedImageOnWimlibSaysItsDataFailsItsCheck) {
  std::wstring wim = MakeImage(L"damaged", true);
  std::wstring target = TempDir() + L"\\out";
  ASSERT_TRUE(MakeDirs(target));
  StartQuarry(1);
  StartApply(wim, target);
  Outcome outcome = WaitOutcome();
  EXPECT_EQ(outcome.result, L"操作失败!");
  EXPECT_TRUE(outcome.reasonShown);
  EXPECT_EQ(outcome.reason, L"镜像已损坏: 数据校验 (SHA-1) 不符") << Utf8(outcome.reason);

  // A good image afterwards: success, and no reason left over.
  std::wstring good = MakeImage(L"good", false);
  std::wstring target2 = TempDir() + L"\\out2";
  ASSERT_TRUE(MakeDirs(target2));
  StartApply(good, target2);
  outcome = WaitOutcome();
  EXPECT_EQ(outcome.result, L"操作成功完成!");
  EXPECT_FALSE(outcome.reasonShown);
}

TEST_F(FailureReasons, ADamagedImageOnWimgapiSaysItIsDamagedUnderACaptionedBox) {
  std::wstring wim = MakeImage(L"damaged", true);
  std::wstring target = TempDir() + L"\\out";
  ASSERT_TRUE(MakeDirs(target));
  StartQuarry(0);
  StartApply(wim, target);
  AnswerWimgapiErrorBox();
  Outcome outcome = WaitOutcome();
  EXPECT_EQ(outcome.result, L"操作失败!");
  EXPECT_TRUE(outcome.reasonShown);
  EXPECT_TRUE(Has(outcome.reason, L"镜像已损坏")) << Utf8(outcome.reason);
}

TEST_F(FailureReasons, AFullVolumeSaysTheDiskIsFullOnBothBackEnds) {
  std::wstring wim = MakeBigImage();
  std::wstring target = TempDir() + L"\\full";
  SmallVolume volume(target);
  if (!volume.mounted()) GTEST_SKIP() << "no small volume can be mounted here: " << volume.why();

  StartQuarry(1);
  StartApply(wim, target);
  Outcome outcome = WaitOutcome();
  EXPECT_EQ(outcome.result, L"操作失败!");
  EXPECT_EQ(outcome.reason, L"磁盘空间不足") << Utf8(outcome.reason);
  TearDown();

  RunUnix("rm -rf " + ShQuote(UnixPath(target)) + "/*");
  StartQuarry(0);
  StartApply(wim, target);
  AnswerWimgapiErrorBox();
  outcome = WaitOutcome();
  EXPECT_EQ(outcome.result, L"操作失败!");
  EXPECT_EQ(outcome.reason, L"磁盘空间不足") << Utf8(outcome.reason);
}

TEST_F(FailureReasons, AFailedTaskOfTheQueueSaysWhyInItsRow) {
  std::wstring damaged = MakeImage(L"damaged", true);
  std::wstring good = MakeImage(L"good", false);
  std::wstring target1 = TempDir() + L"\\t1", target2 = TempDir() + L"\\t2";
  ASSERT_TRUE(MakeDirs(target1) && MakeDirs(target2));
  StartQuarry(1);
  OpenApplyTab();
  SetCheck(apply(), IDC_APPLY_QUEUE, true);
  StartApply(damaged, target1);
  ASSERT_TRUE(WaitUntil([&] { return NoDialogShown(); }, 20000));
  StartApply(good, target2);
  SendCommand(main_, ID_SHOW_TASK_QUEUE);
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }, 20000));
  ASSERT_TRUE(WaitUntil([&] { return RowCount(queueList()) == 2; }, 20000));
  Press(queue(), IDC_TASK_START);
  ASSERT_TRUE(WaitUntil(
      [&] {
        return RowImage(queueList(), 0) == 4 && RowImage(queueList(), 1) == 1 && ItemEnabled(queue(), IDC_TASK_START);
      },
      120000));
  EXPECT_EQ(CellText(queueList(), 0, 4), L"镜像已损坏: 数据校验 (SHA-1) 不符");
  EXPECT_EQ(CellText(queueList(), 1, 4), L"");
  EXPECT_TRUE(NoDialogShown()) << "failures stay quiet while the queue runs";
}

}  // namespace
