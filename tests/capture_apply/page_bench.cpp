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
  // Runs the queue (one row) and returns the seconds it took.
  double RunQueue() {
    SendCommand(main_, ID_SHOW_TASK_QUEUE);
    EXPECT_TRUE(WaitUntil([&] { return ItemVisible(main_, IDD_PAGE_TASK_QUEUE) && Idle(); }, 20000));
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    Press(queue(), IDC_TASK_START);
    EXPECT_TRUE(WaitUntil([&] { return !ItemEnabled(queue(), IDC_TASK_START); }, 20000));
    EXPECT_TRUE(WaitUntil([&] { return Idle(); }, 3600000));
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
  double applySeconds = RunQueue();
  printf("quarry-pages capture %.3f apply %.3f\n", captureSeconds, applySeconds);
}

}  // namespace
