// What a killed write leaves beside its target: named as this program's and
// whose, removed by the next write into the folder or the next start when
// its process has ended, never when it still runs; and a temporary name
// that cannot be made says why.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "engine/engine.h"
#include "engine/failure_reason.h"
#include "engine/leftovers.h"
#include "engine_fixture.h"
#include "resources/ids_failure.h"
#include "win/long_path.h"
#include "win/strings.h"

using namespace etest;

namespace {

// A process that exists (started suspended) or has ended: its id and start.
struct Owner {
  DWORD pid = 0;
  ULONGLONG start = 0;
  HANDLE process = nullptr;
  std::wstring Prefix() const {
    return FormatStr(L"~quarry-%lx-%I64x-", static_cast<unsigned long>(pid), start);
  }
};

Owner StartProcess() {
  Owner owner;
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring line = std::wstring(L"\"") + system + L"\\cmd.exe\" /c exit";
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
    return owner;
  CloseHandle(pi.hThread);
  FILETIME created, exited, kernel, user;
  GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user);
  owner.pid = pi.dwProcessId;
  owner.start = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  owner.process = pi.hProcess;
  return owner;
}

void End(Owner& owner) {
  TerminateProcess(owner.process, 1);
  WaitForSingleObject(owner.process, 30000);
  CloseHandle(owner.process);
  owner.process = nullptr;
}

class LeftoversTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    live_ = StartProcess();
    ended_ = StartProcess();
    ASSERT_TRUE(live_.process && ended_.process);
    End(ended_);
  }
  void TearDown() override {
    if (live_.process) End(live_);
    EngineTest::TearDown();
  }
  // The files a killed write of `owner` leaves: a whole new file, a
  // split's parts, and a file it had moved aside.
  void Leave(const std::wstring& folder, const Owner& owner) {
    for (const wchar_t* tail : {L"1.tmp", L"2-split.wim", L"2-split2.WIM", L"2-split.wim.old"})
      ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\" + owner.Prefix() + tail, "left"));
  }
  Owner live_, ended_;
};

TEST_F(LeftoversTest, TheNextWriteIntoTheFolderRemovesOnlyWhatEndedProcessesLeft) {
  std::wstring folder = dir_ + L"\\out";
  ASSERT_TRUE(qtest::MakeDirs(folder));
  Leave(folder, ended_);
  Leave(folder, live_);
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\~qr12.tmp", "someone's"));
  ASSERT_TRUE(qtest::WriteFileBytes(folder + L"\\keep.wim", "user's"));

  std::wstring temp = TempFileBeside(folder + L"\\new.wim");
  ASSERT_FALSE(temp.empty());
  std::wstring mine = temp.substr(temp.rfind(L'\\') + 1);
  EXPECT_EQ(mine.rfind(LeftoverPrefix(), 0), 0u) << qtest::Utf8(mine);

  std::vector<std::wstring> expected = {L"keep.wim", L"~qr12.tmp", ended_.Prefix() + L"2-split.wim.old", mine};
  for (const wchar_t* tail : {L"1.tmp", L"2-split.wim", L"2-split2.WIM", L"2-split.wim.old"})
    expected.push_back(live_.Prefix() + tail);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(qtest::NamesIn(folder), expected);
  DeleteFileW(temp.c_str());
}

TEST_F(LeftoversTest, TheNextStartClearsTheFoldersAnEndedProcessWroteInto) {
  std::wstring folder = dir_ + L"\\elsewhere";
  ASSERT_TRUE(qtest::MakeDirs(folder));
  Leave(folder, ended_);
  wchar_t tempPath[MAX_PATH + 1];
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, tempPath), 0u);
  std::wstring list = std::wstring(tempPath) + ended_.Prefix() + L"folders.lst";
  std::wstring line = folder + L"\\\n";
  ASSERT_TRUE(qtest::WriteFileBytes(list, std::string(reinterpret_cast<const char*>(line.data()),
                                                      line.size() * sizeof(wchar_t))));
  ClearLeftoversOfEndedRuns();
  EXPECT_EQ(qtest::NamesIn(folder), std::vector<std::wstring>{ended_.Prefix() + L"2-split.wim.old"});
  EXPECT_EQ(GetFileAttributesW(list.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LeftoversTest, ATemporaryNameThatCannotBeMadeSaysWhyAndALongFolderTakesOne) {
  ClearFailure();
  EXPECT_TRUE(TempFileBeside(dir_ + L"\\missing\\new.wim").empty());
  EXPECT_EQ(FailureText(), LoadStr(IDS_REASON_PATH_NOT_FOUND));

  // A folder longer than a short path allows for a temporary name in it.
  std::wstring deep = dir_;
  while (deep.size() < MAX_PATH) {
    deep += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(CreateDirectoryW(LongPathForm(deep).c_str(), nullptr)) << GetLastError();
  }
  ClearFailure();
  std::wstring temp = TempFileBeside(deep + L"\\new.wim");
  ASSERT_FALSE(temp.empty()) << qtest::Utf8(FailureText());
  EXPECT_NE(GetFileAttributesW(LongPathForm(temp).c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileW(LongPathForm(temp).c_str());
}

}  // namespace
