// Quarry killed in the middle of a write. The write is held at its abort
// question, so it is half done when the process is killed: a quick capture
// replacing an existing file (wimlib writes the new file beside the old one
// from the start), and a further image appended through the capture page
// (WIMGAPI writes it into the file itself). The file that was there must
// verify and hold its old images; what the write left is named as Quarry's
// own, and the next start of Quarry removes it, but never a file of a
// process that still runs. The next start also removes the empty staging
// folders that mounts of programs which ended left, and keeps every other.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "capture_apply_fixture.h"
#include "gui.h"
#include "harness.h"
#include "resources/ids_shell.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

std::vector<std::wstring> NamesLike(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// A visible dialog of the process holding the control `id` (0xFFFF: the
// text of a message box).
HWND DialogWithItem(DWORD pid, int id) {
  for (HWND hwnd : TopWindows(pid, L"#32770"))
    if (IsWindowVisible(hwnd) && GetDlgItem(hwnd, id)) return hwnd;
  return nullptr;
}

// What the process shows, for a failure message.
std::string Shown(DWORD pid) {
  std::wstring text;
  for (HWND hwnd : TopWindows(pid, L"#32770"))
    if (IsWindowVisible(hwnd)) text += L"[" + WindowText(hwnd) + L": " + MessageBoxText(hwnd) + L"] ";
  return Utf8(text);
}

// The abort question of a write that was asked to stop ("中止").
bool AbortQuestionShown(DWORD pid) {
  HWND question = DialogWithItem(pid, 0xFFFF);
  return question && MessageBoxText(question).find(L"中止") != std::wstring::npos;
}

void Kill(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  ASSERT_TRUE(process);
  TerminateProcess(process, 9);
  EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
  CloseHandle(process);
}

std::wstring LiveOwnerName() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  ULONGLONG start = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  wchar_t name[96];
  swprintf(name, 96, L"~quarry-%lx-%I64x-1.tmp", static_cast<unsigned long>(GetCurrentProcessId()), start);
  return name;
}

LONGLONG FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Bytes that do not compress.
std::string Noise(size_t size, unsigned state) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
  return bytes;
}

// A folder `data` of one large file that does not compress, captured as
// image "old" of `data.WIM` by wimlib-imagex; and, beside it, a file named
// as a write's leftover of a process that runs (this one).
class KilledWrite : public QuarryPages {
 protected:
  void SetUp() override {
    base_ = TempDir();
    data_ = base_ + L"\\data";
    ASSERT_TRUE(MakeDirs(data_));
    ASSERT_TRUE(WriteFileBytes(data_ + L"\\big.bin", Noise(48 << 20, 99)));
    wim_ = data_ + L".WIM";
    // LZX: an append of the file's compression takes long enough to be
    // caught half written.
    ASSERT_EQ(RunUnix("wimlib-imagex capture --compress=LZX " + ShQuote(UnixPath(data_)) + " " +
                      ShQuote(UnixPath(wim_)) + " old")
                  .exitCode,
              0);
    before_ = ReadFileBytes(wim_);
    live_ = base_ + L"\\" + LiveOwnerName();
    ASSERT_TRUE(WriteFileBytes(live_, "mine"));
  }

  // Starts a quick capture of the data folder into data.WIM with `backend`,
  // answers the options with OK and the question whether to replace the
  // file with yes; the write then runs.
  void StartQuickCapture(QuarryProcess& quarry, int backend) {
    quick_ = PrepareQuarryCopy(true);
    ASSERT_TRUE(WriteFileBytes(quick_ + L"\\Quarry.ini", "[API]\r\nType=" + std::to_string(backend) + "\r\n"));
    quarry.Start(quick_, L"/Q " + data_, 1);
    const DWORD pid = quarry.Pid();
    HWND options = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      for (HWND hwnd : TopWindows(pid, L"#32770"))
        if (IsWindowVisible(hwnd) && WindowText(hwnd) == L"捕获选项") options = hwnd;
      return options != nullptr;
    }, 30000));
    PostMessageW(options, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(options, IDOK)));
    HWND replace = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (replace = DialogWithItem(pid, 0xFFFF)) != nullptr; }, 30000));
    AnswerDialog(replace, IDYES);
  }

  // Every file named as a write's leftover, but the one of this process.
  std::vector<std::wstring> Leftovers() const {
    std::vector<std::wstring> left = NamesLike(base_, L"~quarry-*");
    left.erase(std::remove(left.begin(), left.end(), LiveOwnerName()), left.end());
    for (const std::wstring& name : NamesLike(base_, L".wimgapi-*")) left.push_back(name);
    return left;
  }

  void ExpectOldFileWhole() {
    EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim_))).exitCode, 0);
    EXPECT_EQ(InfoValue(WimInfo(wim_), "Image Count"), "1");
    EXPECT_EQ(InfoValue(WimInfo(wim_, 1), "Name"), "old");
    UnixResult apply = RunUnix("d=$(mktemp -d) && wimlib-imagex apply " + ShQuote(UnixPath(wim_)) +
                               " 1 \"$d\" >/dev/null && cmp \"$d/big.bin\" " + ShQuote(UnixPath(data_) + "/big.bin") +
                               "; r=$?; rm -rf \"$d\"; exit $r");
    EXPECT_EQ(apply.exitCode, 0) << apply.output;
  }

  std::wstring base_, data_, wim_, live_, quick_;
  std::string before_;
};

TEST_F(KilledWrite, ACreateKilledHalfWayLeavesTheOldFileAndTheNextStartClearsWhatItLeft) {
  {
    QuarryProcess quarry;
    ASSERT_NO_FATAL_FAILURE(StartQuickCapture(quarry, 1));
    const DWORD pid = quarry.Pid();
    HWND tip = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (tip = DialogWithItem(pid, IDC_SHELL_TIP_TASK)) != nullptr; }, 30000))
        << Shown(pid);
    // "中止": the write stops at its next progress call to ask, half done.
    PostMessageW(tip, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return AbortQuestionShown(pid); }, 60000)) << "the capture ended before it asked";
    Kill(pid);
  }
  EXPECT_TRUE(ReadFileBytes(wim_) == before_) << "changed";
  ExpectOldFileWhole();
  // wimlib writes the new file beside the old one from the start.
  EXPECT_FALSE(Leftovers().empty()) << "the write was killed before it made anything";

  // The next start, writing into the same folder, clears it and writes.
  {
    QuarryProcess quarry;
    ASSERT_NO_FATAL_FAILURE(StartQuickCapture(quarry, 1));
    EXPECT_EQ(quarry.WaitExit(120000), 0);
  }
  EXPECT_EQ(Leftovers(), std::vector<std::wstring>{});
  EXPECT_EQ(ReadFileBytes(live_), "mine");
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim_))).exitCode, 0);
  EXPECT_FALSE(ReadFileBytes(wim_) == before_) << "the new capture took the old one's place";
}

TEST_F(KilledWrite, AWimgapiAppendKilledHalfWayLeavesTheOldImagesAndTheNextStartClearsWhatItLeft) {
  // Other data than the old image's, so that the new image's reach the file.
  const std::wstring more = base_ + L"\\more";
  ASSERT_TRUE(MakeDirs(more));
  ASSERT_TRUE(WriteFileBytes(more + L"\\other.bin", Noise(48 << 20, 7)));
  StartQuarry(0);
  HWND capture = Page(IDD_PAGE_CAPTURE);
  SetText(capture, IDC_CAP_SOURCE, more);
  SetText(capture, IDC_CAP_WIM, wim_);
  SetText(capture, IDC_CAP_NAME, L"new");
  Press(capture, IDC_CAP_APPEND);
  AcceptOptions();
  const DWORD pid = quarry_.Pid();
  // Once the new image's data reach the file, "中止" on the progress page:
  // the write stops at its next progress call to ask, half done.
  const LONGLONG oldSize = static_cast<LONGLONG>(before_.size());
  ASSERT_TRUE(WaitUntil([&] { return FileSize(wim_) > oldSize + (1 << 20) || !quarry_.Running(); }, 120000))
      << "the append wrote nothing " << Shown(pid);
  Press(Page(IDD_PAGE_PROGRESS), IDC_PROGRESS_ABORT);
  ASSERT_TRUE(WaitUntil([&] { return AbortQuestionShown(pid); }, 60000)) << "the append ended before it asked";
  EXPECT_GT(FileSize(wim_), oldSize) << "killed before anything of the new image was written";
  Kill(pid);

  ExpectOldFileWhole();

  // The next start clears what the write left, and a write into the file
  // works again.
  {
    QuarryProcess quarry;
    ASSERT_NO_FATAL_FAILURE(StartQuickCapture(quarry, 0));
    EXPECT_EQ(quarry.WaitExit(120000), 0) << Shown(quarry.Pid());
  }
  EXPECT_EQ(Leftovers(), std::vector<std::wstring>{});
  EXPECT_EQ(ReadFileBytes(live_), "mine");
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim_))).exitCode, 0);
}

// The staging folders of the library that serves WIMGAPI mounts here
// (%ProgramData%\WimgapiWine\staging), named after the Linux process that
// made them: "quarry-<pid>.<start>-<time>".
class StagingAtStart : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t base[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"ProgramData", base, MAX_PATH);
    staging_ = (n && n < MAX_PATH ? std::wstring(base) : std::wstring(L"C:\\ProgramData")) + L"\\WimgapiWine\\staging";
    ASSERT_TRUE(MakeDirs(staging_));
  }
  void TearDown() override {
    for (const std::wstring& name : made_) RemoveTree(staging_ + L"\\" + name);
    if (!sleeper_.empty()) RunUnix("kill " + sleeper_);
  }
  // A staging folder of the Linux process `pid` that started at `start`.
  std::wstring Make(const std::string& pid, const std::string& start) {
    static int n = 0;
    std::wstring name = Wide("quarry-" + pid + "." + start + "-1700000000.000000000." + std::to_string(++n));
    made_.push_back(name);
    EXPECT_TRUE(MakeDirs(staging_ + L"\\" + name));
    return name;
  }
  bool Exists(const std::wstring& name) const {
    return GetFileAttributesW((staging_ + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::wstring staging_;
  std::vector<std::wstring> made_;
  std::string sleeper_;
};

TEST_F(StagingAtStart, TheNextStartRemovesOnlyEmptyStagingFoldersOfProgramsThatEnded) {
  // A program that ended: a shell that has printed its id and gone.
  UnixResult ended = RunUnix("sh -c 'echo $$'");
  ASSERT_EQ(ended.exitCode, 0);
  std::string endedPid = ended.output.substr(0, ended.output.find('\n'));
  // A program that runs: a sleeping process, and its start as the kernel tells it.
  UnixResult live = RunUnix("sleep 600 </dev/null >/dev/null 2>&1 & p=$!; echo $p $(cut -d' ' -f22 /proc/$p/stat)");
  ASSERT_EQ(live.exitCode, 0);
  sleeper_ = live.output.substr(0, live.output.find(' '));
  std::string liveStart = live.output.substr(live.output.find(' ') + 1);
  liveStart = liveStart.substr(0, liveStart.find('\n'));
  ASSERT_FALSE(sleeper_.empty());
  ASSERT_FALSE(liveStart.empty());

  const std::wstring forgotten = Make(endedPid, "12345");
  const std::wstring kept = Make(endedPid, "12345");
  ASSERT_TRUE(WriteFileBytes(staging_ + L"\\" + kept + L"\\changed.txt", "changes the user kept"));
  const std::wstring running = Make(sleeper_, liveStart);

  {
    QuarryProcess quarry;
    ASSERT_TRUE(quarry.Start(PrepareQuarryCopy(true)));
    EXPECT_EQ(quarry.Close(), 0);
  }
  EXPECT_FALSE(Exists(forgotten)) << "an empty staging folder of a program that ended is still there";
  EXPECT_TRUE(Exists(kept)) << "kept changes were thrown away";
  EXPECT_EQ(ReadFileBytes(staging_ + L"\\" + kept + L"\\changed.txt"), "changes the user kept");
  EXPECT_TRUE(Exists(running)) << "the staging folder of a program that runs was taken";
}

}  // namespace
