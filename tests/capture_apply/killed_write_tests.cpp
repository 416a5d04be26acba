// Quarry killed in the middle of a write: a quick capture replacing an
// existing image is held at its abort question (so the new file is half
// made, deterministically) and the process is killed. The old file must be
// byte for byte as it was and verify; what the write left beside it is
// named as Quarry's own, and the next start of Quarry removes it, but never
// a file of a process that still runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui.h"
#include "harness.h"
#include "resources/ids_shell.h"

using namespace qtest;

namespace {

std::vector<std::wstring> NamesIn(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileW(find, &data));
  FindClose(find);
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

class KilledWriteTest : public ::testing::TestWithParam<int> {};

TEST_P(KilledWriteTest, TheOldFileStaysWholeAndTheNextStartClearsWhatTheWriteLeft) {
  std::wstring folder = PrepareQuarryCopy(true);
  ASSERT_TRUE(WriteFileBytes(folder + L"\\Quarry.ini", "[API]\r\nType=" + std::to_string(GetParam()) + "\r\n"));
  std::wstring base = TempDir();
  std::wstring data = base + L"\\data";
  ASSERT_TRUE(MakeDirs(data));
  std::string bytes(24 << 20, '\0');
  unsigned state = 99;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
  ASSERT_TRUE(WriteFileBytes(data + L"\\big.bin", bytes));
  std::wstring wim = data + L".WIM";
  ASSERT_EQ(RunUnix("wimlib-imagex capture " + ShQuote(UnixPath(data)) + " " + ShQuote(UnixPath(wim)) + " old")
                .exitCode,
            0);
  const std::string before = ReadFileBytes(wim);
  // A file of a process that runs (this one): never taken away.
  const std::wstring live = base + L"\\" + LiveOwnerName();
  ASSERT_TRUE(WriteFileBytes(live, "mine"));

  {
    QuarryProcess quarry;
    quarry.Start(folder, L"/Q " + data, 1);
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
    HWND tip = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (tip = DialogWithItem(pid, IDC_SHELL_TIP_TASK)) != nullptr; }, 30000))
        << Shown(pid);
    // "中止": the write stops at its next progress call to ask, half done.
    PostMessageW(tip, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    HWND question = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
      question = DialogWithItem(pid, 0xFFFF);
      return question && MessageBoxText(question).find(L"中止") != std::wstring::npos;
    }, 60000)) << "the capture ended before it asked";
    Kill(pid);
  }
  EXPECT_TRUE(ReadFileBytes(wim) == before) << "changed";
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  std::vector<std::wstring> left = NamesIn(base, L"~quarry-*");
  left.erase(std::remove(left.begin(), left.end(), LiveOwnerName()), left.end());
  std::vector<std::wstring> library = NamesIn(base, L".wimgapi-*");
  // wimlib writes the new file beside the old one from the start; the
  // WIMGAPI library may still have it all in memory when it asks.
  if (GetParam() == 1) EXPECT_FALSE(left.empty()) << "the write was killed before it made anything";

  // The next start, writing into the same folder, clears it and writes.
  {
    QuarryProcess quarry;
    quarry.Start(folder, L"/Q " + data, 1);
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
    EXPECT_EQ(quarry.WaitExit(120000), 0);
  }
  std::vector<std::wstring> now = NamesIn(base, L"~quarry-*");
  EXPECT_EQ(now, std::vector<std::wstring>{LiveOwnerName()}) << Utf8(now.empty() ? L"" : now[0]);
  EXPECT_TRUE(NamesIn(base, L".wimgapi-*").empty());
  EXPECT_EQ(ReadFileBytes(live), "mine");
  EXPECT_EQ(RunUnix("wimlib-imagex verify " + ShQuote(UnixPath(wim))).exitCode, 0);
  EXPECT_FALSE(ReadFileBytes(wim) == before) << "the new capture took the old one's place";
}

// wimlib: the new file is written beside the old one while the capture
// runs, so the kill finds it half made.
INSTANTIATE_TEST_SUITE_P(Backends, KilledWriteTest, ::testing::Values(1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 0 ? "Wimgapi" : "Wimlib");
                         });

}  // namespace
