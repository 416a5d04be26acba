// Not a test: the timing driver of bench/run.sh. It queues one capture and
// then one apply through the pages of a Quarry.exe and times each run of
// the queue from the press of "开始执行" to the end of the run. Run with
//   --gtest_also_run_disabled_tests --gtest_filter=*PageBench*
// and QUARRY_BENCH_TREE, QUARRY_BENCH_WIM (Windows paths; the WIM is applied),
// QUARRY_BENCH_OUT (a folder) and QUARRY_BENCH_BACKEND (0 or 1) set.
#include <cstdio>
#include <cstdlib>

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <set>
#include <vector>

#include "capture_apply_fixture.h"
#include "resources/resource.h"

using namespace qtest;
using namespace catest;

namespace {

class PageBench : public QuarryPages {
 protected:
  HWND queue() const { return Page(IDD_PAGE_TASK_QUEUE); }
  HWND list() const { return GetDlgItem(queue(), IDC_TASK_LIST); }
  bool Idle() { return ItemEnabled(queue(), IDC_TASK_START) && !ItemEnabled(queue(), IDC_TASK_ABORT); }
  // The Windows threads of the Quarry process.
  std::set<DWORD> QuarryThreads() const {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry = {sizeof(entry)};
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry))
      if (entry.th32OwnerProcessID == quarry_.Pid()) ids.insert(entry.th32ThreadID);
    CloseHandle(snap);
    return ids;
  }
  // Waits for the end of the run without polling the window all along:
  // polling costs the machine CPU that the operation itself needs. The
  // run's worker is a thread that did not exist before the press; its end
  // is the end of the run. Falls back to polling if no such thread shows.
  void WaitForRunEnd(const std::set<DWORD>& before) {
    std::vector<HANDLE> started;
    WaitUntil(
        [&] {
          for (DWORD id : QuarryThreads())
            if (!before.count(id))
              if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) started.push_back(thread);
          return !started.empty();
        },
        20000);
    while (!started.empty() && !Idle()) {
      DWORD r = WaitForMultipleObjects(static_cast<DWORD>(started.size()), started.data(), FALSE, 3600000);
      if (r >= WAIT_OBJECT_0 + started.size()) break;
      CloseHandle(started[r - WAIT_OBJECT_0]);
      started.erase(started.begin() + (r - WAIT_OBJECT_0));
    }
    for (HANDLE thread : started) CloseHandle(thread);
    EXPECT_TRUE(WaitUntil([&] { return Idle(); }, 3600000));
  }
  // Runs the queue (one row) and returns the seconds it took.
  double RunQueue() {
    SendCommand(main_, ID_SHOW_TASK_QUEUE);
    EXPECT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE) && Idle(); }, 20000));
    std::set<DWORD> before = QuarryThreads();
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    Press(queue(), IDC_TASK_START);
    WaitForRunEnd(before);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(RowImage(list(), 0), 1) << "the task failed";
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
  }
  void RemoveRow() {
    SetRowState(list(), 0, LVIS_SELECTED);
    PostMessageW(list(), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_TRUE(WaitUntil([&] { return RowCount(list()) == 0; }, 20000));
  }
};

std::wstring Env(const char* name) {
  const char* value = getenv(name);
  return value ? Wide(value) : L"";
}

TEST_F(PageBench, DISABLED_QueuedCaptureThenApply) {
  std::wstring tree = Env("QUARRY_BENCH_TREE"), wim = Env("QUARRY_BENCH_WIM"), out = Env("QUARRY_BENCH_OUT");
  ASSERT_FALSE(tree.empty() || wim.empty() || out.empty());
  StartQuarry(_wtoi(Env("QUARRY_BENCH_BACKEND").c_str()));
  HWND capture = Page(IDD_PAGE_CAPTURE);
  std::wstring made = out + L"\\quarry.wim";
  DeleteFileW(made.c_str());
  SetCheck(capture, IDC_CAP_QUEUE, true);
  SetText(capture, IDC_CAP_SOURCE, tree);
  SetText(capture, IDC_CAP_WIM, made);
  SetText(capture, IDC_CAP_NAME, L"bench");
  Press(capture, IDC_CAP_CREATE);
  AcceptOptions(IDC_OPT_COMP_LZX);
  double captureSeconds = RunQueue();
  RemoveRow();

  ClickWindow(GetDlgItem(main_, IDC_TAB_APPLY));
  ASSERT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_APPLY); }, 20000));
  HWND apply = Page(IDD_PAGE_APPLY);
  std::wstring target = out + L"\\applied";
  ASSERT_TRUE(MakeDirs(target));
  SetCheck(apply, IDC_APPLY_QUEUE, true);
  SetText(apply, IDC_APPLY_WIM, wim);
  ASSERT_TRUE(WaitUntil([&] { return RowCount(GetDlgItem(apply, IDC_APPLY_LIST)) > 0; }, 20000));
  SetText(apply, IDC_APPLY_TARGET, target);
  Press(apply, IDC_APPLY_APPLY);
  // As before every timed run of the benchmark: the capture's output is
  // written out before the apply is timed.
  RunUnix("sync");
  double applySeconds = RunQueue();
  printf("quarry-pages capture %.3f apply %.3f\n", captureSeconds, applySeconds);
}

}  // namespace
