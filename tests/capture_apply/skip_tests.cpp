// A capture never leaves an item out without saying so: a Linux name with no
// Windows form, a FIFO and files the library cannot read (mount points of a
// file system whose process has died: every look at them fails with
// "Transport endpoint is not connected"), captured through the capture page
// on both back ends and through the task queue. The result counts what was
// left out, the list names each item with its reason and can be saved; the
// user decides once about unreadable files, and "stop" leaves every file as
// it was.
#include <algorithm>
#include <cstdlib>

#include "capture_apply_fixture.h"
#include "resources/ids_skip.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

const wchar_t kQuestionCaption[] = L"无法读取文件";
const wchar_t kListCaption[] = L"未捕获的项目";
const wchar_t kForeignReason[] = L"名称不是有效的 UTF-8, 无法转换为 Windows 文件名";
const wchar_t kSpecialReason[] = L"特殊文件 (管道、套接字或设备), 无法捕获";
const wchar_t kUnreadablePrefix[] = L"无法读取, 已跳过: ";

bool Has(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The line of the list for the item whose path ends with `tail`.
std::wstring LineFor(const std::vector<std::wstring>& lines, const std::wstring& tail) {
  for (const std::wstring& line : lines) {
    size_t tab = line.find(L'\t');
    if (tab != std::wstring::npos && tab >= tail.size() && line.compare(tab - tail.size(), tail.size(), tail) == 0)
      return line;
  }
  return std::wstring();
}

// A source folder holding the sample tree and what no capture can take:
// a file named with the bytes FF FE (no UTF-8, so no Windows name), a FIFO
// and `dead` mount points whose FUSE process has been killed. `clean` holds
// the sample tree alone, which is what the image must hold.
class LeftOutTree {
 public:
  LeftOutTree(const std::wstring& dir, int dead)
      : source(dir + L"\\src"), clean(dir + L"\\clean"), unixDir_(UnixPath(dir)) {
    // What an earlier run left (Windows cannot delete a FIFO or a name
    // without a Windows form) goes first.
    Clear();
    MakeSampleTree(source);
    MakeSampleTree(clean);
    std::string src = ShQuote(UnixPath(source));
    UnixResult r = RunUnix("cd " + src + " && printf x > \"bad$(printf '\\377\\376')name.txt\" && mkfifo pipe 2>&1");
    ok_ = r.exitCode == 0;
    why_ = r.output;
    std::wstring small = dir + L"\\small";
    MakeDirs(small);
    WriteFileBytes(small + L"\\inside.txt", "inside");
    std::string wim = ShQuote(UnixPath(dir + L"\\small.wim"));
    r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(small)) + " " + wim + " 2>&1");
    ok_ = ok_ && r.exitCode == 0;
    for (int i = 1; ok_ && i <= dead; i++) {
      std::string point = UnixPath(source) + "/dead" + std::to_string(i);
      // The file system runs in the foreground; killed, it leaves its
      // mount point behind, which nobody can look at any more.
      r = RunUnix("mkdir " + ShQuote(point) + " && { wimlib-imagex mount " + wim + " 1 " + ShQuote(point) +
                  " --debug </dev/null >/dev/null 2>&1 & pid=$!; }; n=0; "
                  "while ! mountpoint -q " + ShQuote(point) + " && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done; "
                  "kill -9 $pid; wait $pid 2>/dev/null; stat " + ShQuote(point) + " 2>&1");
      if (r.output.find("Transport endpoint is not connected") == std::string::npos) {
        ok_ = false;
        why_ = r.output;
      } else {
        mounts_.push_back(point);
      }
    }
  }
  ~LeftOutTree() { Clear(); }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

  std::wstring source, clean;

 private:
  void Clear() {
    std::string dir = ShQuote(unixDir_);
    RunUnix("for d in " + dir + "/src/dead*; do mountpoint -q \"$d\" 2>/dev/null; umount -l \"$d\" 2>/dev/null; done; "
            "rm -rf " + dir + "/src " + dir + "/clean " + dir + "/small " + dir + "/small.wim");
  }

  std::string unixDir_;
  bool ok_ = false;
  std::string why_;
  std::vector<std::string> mounts_;
};

class LeftOutItems : public QuarryPages {
 protected:
  HWND capture() const { return Page(IDD_PAGE_CAPTURE); }
  HWND progress() const { return Page(IDD_PAGE_PROGRESS); }
  HWND queue() const { return Page(IDD_PAGE_TASK_QUEUE); }
  HWND queueList() const { return GetDlgItem(queue(), IDC_TASK_LIST); }

  void StartCapture(const std::wstring& source, const std::wstring& wim, bool append) {
    SetText(capture(), IDC_CAP_SOURCE, source);
    SetText(capture(), IDC_CAP_WIM, wim);
    Press(capture(), append ? IDC_CAP_APPEND : IDC_CAP_CREATE);
    AcceptOptions();
  }

  // The question about an unreadable file: names the file; answered.
  std::wstring AnswerQuestion(int answer) {
    HWND box = WaitDialog(kQuestionCaption, 60000);
    if (!box) return L"(no question)";
    std::wstring text = MessageBoxText(box);
    AnswerDialog(box, answer);
    WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return text;
  }

  // The result once "确定" shows, without pressing it.
  std::wstring WaitResultShown() {
    if (!WaitUntil([&] { return ItemVisible(progress(), IDC_PROGRESS_OK); }, 120000)) return L"(no result)";
    return WindowText(GetDlgItem(progress(), IDC_PROGRESS_TEXT));
  }

  void CloseResult() {
    Press(progress(), IDC_PROGRESS_OK);
    WaitUntil([&] { return !ItemVisible(main_, IDD_PAGE_PROGRESS); }, 20000);
  }

  // The save dialog opened over the list: a dialog of Quarry's other than
  // the list itself, with a visible edit field for the name.
  void AnswerSaveDialog(HWND list, const std::wstring& path) {
    HWND dialog = nullptr;
    auto editOf = [](HWND window) {
      HWND found = nullptr;
      EnumChildWindows(
          window,
          [](HWND child, LPARAM out) -> BOOL {
            if (ClassName(child) == L"Edit" && IsWindowVisible(child)) {
              *reinterpret_cast<HWND*>(out) = child;
              return FALSE;
            }
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&found));
      return found;
    };
    ASSERT_TRUE(WaitUntil(
        [&] {
          for (HWND hwnd : TopWindows(quarry_.Pid(), L"#32770"))
            if (hwnd != main_ && hwnd != list && IsWindowVisible(hwnd) && GetDlgItem(hwnd, IDOK) && editOf(hwnd))
              dialog = hwnd;
          return dialog != nullptr;
        },
        60000))
        << "no save dialog";
    SendMessageTimeoutW(editOf(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, 5000,
                        nullptr);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 20000));
  }

  // The capture of a tree with three unreadable mount points through the
  // page: the user skips the first one asked about with `first`; "skip"
  // asks again at the next one (answered "skip all"), "skip all" asks no
  // more. Then the result, the list, its saved copy and the image.
  void CaptureAndCheckTheList(int backend, int first) {
    LeftOutTree tree(TempDir(), 3);
    if (!tree.ok()) GTEST_SKIP() << "no dead mount point can be made here: " << tree.why();
    StartQuarry(backend);
    std::wstring wim = TempDir() + L"\\left-out.wim";
    StartCapture(tree.source, wim, false);

    std::wstring question = AnswerQuestion(first);
    EXPECT_TRUE(Has(question, tree.source + L"\\dead")) << Utf8(question);
    EXPECT_TRUE(Has(question, L"是: 跳过此文件")) << Utf8(question);
    if (first == IDYES) {
      question = AnswerQuestion(IDNO);
      EXPECT_TRUE(Has(question, tree.source + L"\\dead")) << Utf8(question);
    }
    // Every other unreadable file is skipped without a question.
    EXPECT_EQ(WaitResultShown(), L"操作成功完成! 5 个项目未捕获");
    EXPECT_TRUE(ItemVisible(progress(), IDC_PROGRESS_SKIPPED));

    Press(progress(), IDC_PROGRESS_SKIPPED);
    HWND list = WaitDialog(kListCaption);
    ASSERT_TRUE(list) << "no list of what was left out";
    EXPECT_EQ(WindowText(GetDlgItem(list, IDC_SKIP_HEADER)), L"以下 5 个项目未被捕获 (路径与原因):");
    std::wstring text = WindowText(GetDlgItem(list, IDC_SKIP_LIST));
    std::vector<std::wstring> lines = Lines(text);
    EXPECT_EQ(lines.size(), 5u) << Utf8(text);
    EXPECT_EQ(LineFor(lines, tree.source + L"\\pipe"), tree.source + L"\\pipe\t" + kSpecialReason) << Utf8(text);
    for (int i = 1; i <= 3; i++) {
      std::wstring line = LineFor(lines, tree.source + L"\\dead" + std::to_wstring(i));
      EXPECT_TRUE(Has(line, std::wstring(L"\t") + kUnreadablePrefix)) << i << ": " << Utf8(text);
    }
    std::wstring foreign;
    for (const std::wstring& line : lines)
      if (Has(line, L"name.txt\t")) foreign = line;
    EXPECT_TRUE(Has(foreign, tree.source + L"\\bad")) << Utf8(text);
    EXPECT_TRUE(Has(foreign, std::wstring(L"\t") + kForeignReason)) << Utf8(text);
    if (const char* shots = backend == 0 ? getenv("QUARRY_SHOTS") : nullptr) {
      Flush(list);
      PaintNow(list);
      Screenshot(std::string(shots) + "/capture_skipped.png");
    }

    // Saved as UTF-8 text, the same lines.
    std::wstring saved = TempDir() + L"\\未捕获.txt";
    Press(list, IDC_SKIP_SAVE);
    AnswerSaveDialog(list, saved);
    ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    EXPECT_EQ(ReadFileBytes(saved), "\xEF\xBB\xBF" + Utf8(text));
    AnswerDialog(list, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(list); }));
    CloseResult();

    // The image holds everything else, and only that.
    EXPECT_EQ(InfoValue(WimInfo(wim), "Image Count"), "1");
    EXPECT_EQ(DiffAppliedImage(wim, 1, tree.clean), "");
    UnixResult verify = RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim)) + " 2>&1");
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
  }

  // "中止" at the question: a new file is not made (nothing is left beside
  // it), an appended-to file keeps every byte.
  void StopLeavesEveryFileAsItWas(int backend) {
    SCOPED_TRACE(backend ? "wimlib" : "WIMGAPI");
    std::wstring dir = TempDir() + (backend ? L"\\lib" : L"\\api");
    MakeDirs(dir);
    LeftOutTree tree(dir, 1);
    if (!tree.ok()) GTEST_SKIP() << "no dead mount point can be made here: " << tree.why();
    std::wstring out = dir + L"\\out";
    MakeDirs(out);
    std::wstring existing = out + L"\\existing.wim";
    UnixResult r = RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(tree.clean)) + " " +
                           ShQuote(UnixPath(existing)) + " first 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string before = ReadFileBytes(existing);
    StartQuarry(backend);

    std::wstring fresh = out + L"\\new.wim";
    StartCapture(tree.source, fresh, false);
    EXPECT_TRUE(Has(AnswerQuestion(IDCANCEL), tree.source + L"\\dead1"));
    EXPECT_EQ(WaitResultShown(), L"操作被取消.");
    EXPECT_FALSE(ItemVisible(progress(), IDC_PROGRESS_SKIPPED));
    CloseResult();
    EXPECT_EQ(RunUnix("ls -A " + ShQuote(UnixPath(out))).output, "existing.wim\n");

    StartCapture(tree.source, existing, true);
    EXPECT_TRUE(Has(AnswerQuestion(IDCANCEL), tree.source + L"\\dead1"));
    EXPECT_EQ(WaitResultShown(), L"操作被取消.");
    CloseResult();
    EXPECT_TRUE(ReadFileBytes(existing) == before) << "the appended-to file is byte-identical";
    EXPECT_EQ(RunUnix("ls -A " + ShQuote(UnixPath(out))).output, "existing.wim\n");
    EXPECT_TRUE(NoDialogShown());
    TearDown();
  }

  // Queues a capture of `source` into a new `wim` and runs the queue;
  // returns the row's picture once the run has ended.
  int RunQueuedCapture(const std::wstring& source, const std::wstring& wim) {
    SetCheck(capture(), IDC_CAP_QUEUE, true);
    StartCapture(source, wim, false);
    WaitUntil([&] { return NoDialogShown(); }, 20000);
    SendCommand(main_, ID_SHOW_TASK_QUEUE);
    WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE); }, 20000);
    WaitUntil([&] { return RowCount(queueList()) == 1; }, 20000);
    Press(queue(), IDC_TASK_START);
    int picture = 0;
    WaitUntil(
        [&] {
          picture = RowImage(queueList(), 0);
          return (picture == 1 || picture == 4) && ItemEnabled(queue(), IDC_TASK_START);
        },
        120000);
    return picture;
  }
};

TEST_F(LeftOutItems, WimgapiCaptureCountsAndNamesEveryItemLeftOutAndSavesTheList) {
  CaptureAndCheckTheList(0, IDYES);
}

TEST_F(LeftOutItems, WimlibCaptureCountsAndNamesEveryItemLeftOutAndSavesTheList) {
  CaptureAndCheckTheList(1, IDNO);
}

TEST_F(LeftOutItems, StopAtAnUnreadableFileLeavesEveryFileAsItWasOnBothBackEnds) {
  StopLeavesEveryFileAsItWas(0);
  StopLeavesEveryFileAsItWas(1);
}

TEST_F(LeftOutItems, AQueueRunAsksNothingSkipsOnlyWhenTheSettingsSaySoAndNamesWhatItSkipped) {
  LeftOutTree tree(TempDir(), 1);
  if (!tree.ok()) GTEST_SKIP() << "no dead mount point can be made here: " << tree.why();

  // [MISC] SkipUnreadable=1: the unreadable file is skipped, and the row
  // names all three items left out.
  StartQuarry(1, "[MISC]\r\nSkipUnreadable=1\r\n");
  std::wstring skipped = TempDir() + L"\\skipped.wim";
  EXPECT_EQ(RunQueuedCapture(tree.source, skipped), 1);
  std::wstring row = CellText(queueList(), 0, 4);
  EXPECT_EQ(row.rfind(L"3 个项目未捕获: ", 0), 0u) << Utf8(row);
  EXPECT_TRUE(Has(row, tree.source + L"\\pipe (" + kSpecialReason + L")")) << Utf8(row);
  EXPECT_TRUE(Has(row, tree.source + L"\\dead1 (" + kUnreadablePrefix)) << Utf8(row);
  EXPECT_TRUE(Has(row, std::wstring(L"name.txt (") + kForeignReason + L")")) << Utf8(row);
  EXPECT_TRUE(NoDialogShown()) << "a queue run asks nothing";
  EXPECT_EQ(DiffAppliedImage(skipped, 1, tree.clean), "");
  TearDown();

  // Without the setting the task stops at the file and fails, naming it;
  // no file is made.
  StartQuarry(0);
  std::wstring stopped = TempDir() + L"\\stopped.wim";
  EXPECT_EQ(RunQueuedCapture(tree.source, stopped), 4);
  row = CellText(queueList(), 0, 4);
  EXPECT_EQ(row.rfind(L"无法读取, 捕获已停止: ", 0), 0u) << Utf8(row);
  EXPECT_TRUE(Has(row, L"; 文件: " + tree.source + L"\\dead1")) << Utf8(row);
  EXPECT_TRUE(NoDialogShown()) << "a queue run asks nothing";
  EXPECT_EQ(GetFileAttributesW(stopped.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
