// Stopping the long operations of both engines at the user's request, on a
// tree of more than 100 MB: capture into a new file (over an old one) and as
// an appended image, apply, export into an existing file, and split; each
// stopped before it begins and while it runs. After every stop the result
// is "cancelled", each file that existed before is byte-identical (and so
// still verifies), nothing is left beside it, and the engine has returned
// within two seconds of the request.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>

#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"
#include "engine_fixture.h"

namespace {

enum class Op { kCaptureNew, kCaptureAppend, kApply, kExport, kSplit };
const Op kOps[] = {Op::kCaptureNew, Op::kCaptureAppend, Op::kApply, Op::kExport, Op::kSplit};
const int kBeforeStart = -1;  // the request is there before the operation begins

const char* OpName(Op op) {
  switch (op) {
    case Op::kCaptureNew: return "capture-new";
    case Op::kCaptureAppend: return "capture-append";
    case Op::kApply: return "apply";
    case Op::kExport: return "export";
    case Op::kSplit: return "split";
  }
  return "";
}

using Clock = std::chrono::steady_clock;

struct Outcome {
  EngineResult result = kResultSuccess;
  bool requested = false;    // the abort point was reached
  double secondsToStop = 0;  // from the request to the engine's return
  bool unchanged = true;     // the files that existed before are byte-identical
  bool verifies = true;      // and wimlib-imagex verifies the ones that could change
  std::vector<std::wstring> leftovers;  // names in the work folder that were not there before
};

std::string Sha1(const std::wstring& path) {
  return qtest::RunUnix("sha1sum " + etest::Q(path) + " | cut -c1-40").output;
}

std::set<std::wstring> Names(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.insert(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

class AbortTest : public etest::EngineTest {
 protected:
  // The tree, a file holding it as one image and a small file, made once.
  static void SetUpTestSuite() {
    std::wstring dir = qtest::TempDir();
    tree_ = new std::wstring(dir + L"\\tree");
    bigWim_ = new std::wstring(dir + L"\\big.wim");
    smallWim_ = new std::wstring(dir + L"\\small.wim");
    std::string t = etest::Q(*tree_);
    // 105 MiB of data that is quick to make, in files of several sizes,
    // and a few hundred small ones.
    qtest::RunUnix("mkdir -p " + t + "/d && head -c 110100480 /dev/urandom | split -b 7340032 - " + t +
                   "/part && for i in $(seq 300); do echo file $i > " + t + "/d/s$i.txt; done");
    std::wstring small = dir + L"\\smalltree";
    qtest::MakeSampleTree(small);
    etest::OracleCapture(*tree_, *bigWim_, "big", "--compress=none");
    etest::OracleCapture(small, *smallWim_, "small", "--compress=none");
    bigSha1_ = new std::string(Sha1(*bigWim_));
  }

  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(etest::OracleVerify(*bigWim_));
    ASSERT_TRUE(etest::OracleVerify(*smallWim_));
  }

  // Runs `op` on one back end with the abort requested when the operation
  // reaches `atPercent` (or before it begins), already confirmed as the
  // window that asked the user confirms it.
  Outcome Run(Op op, BackendKind backend, int atPercent) {
    Outcome out;
    std::wstring work = qtest::TempDir();
    std::wstring target = work + L"\\target.wim";
    bool writesTarget = op == Op::kCaptureNew || op == Op::kCaptureAppend || op == Op::kExport;
    if (writesTarget) CopyFileW(smallWim_->c_str(), target.c_str(), FALSE);
    std::string targetSha1 = writesTarget ? Sha1(target) : std::string();
    std::set<std::wstring> before = Names(work);
    if (op == Op::kApply) {
      qtest::MakeDirs(work + L"\\out");
      before.insert(L"out");  // the files written into it stay
    }

    Clock::time_point requestedAt;
    std::function<void(float)> request = [&](float percent) {
      if (out.requested || percent < atPercent) return;
      out.requested = true;
      requestedAt = Clock::now();
      host_.cancel.Request(true);
    };
    progress_.onPercent = request;
    if (atPercent == kBeforeStart) request(0.0f);
    // WIMGAPI tells export and split percentages only to the callbacks.
    g_request = &request;
    const WimgapiTable& wg = host_.backends.wimgapi;
    if (backend == kBackendWimgapi) wg.RegisterMessageCallback(nullptr, reinterpret_cast<FARPROC>(WatchPercent), nullptr);

    out.result = Start(op, backend, target, work);
    Clock::time_point returnedAt = Clock::now();

    if (backend == kBackendWimgapi) wg.UnregisterMessageCallback(nullptr, reinterpret_cast<FARPROC>(WatchPercent));
    g_request = nullptr;
    progress_.onPercent = nullptr;
    host_.cancel.Clear();

    if (out.requested) out.secondsToStop = std::chrono::duration<double>(returnedAt - requestedAt).count();
    out.unchanged = Sha1(*bigWim_) == *bigSha1_ && (!writesTarget || Sha1(target) == targetSha1);
    out.verifies = !writesTarget || etest::OracleVerify(target);
    for (const std::wstring& name : Names(work))
      if (!before.count(name)) out.leftovers.push_back(name);
    qtest::RemoveTree(work);
    return out;
  }

  EngineResult Start(Op op, BackendKind backend, const std::wstring& target, const std::wstring& work) {
    std::unique_ptr<Engine> engine = host_.Engine(backend, &progress_);
    switch (op) {
      case Op::kCaptureNew:
      case Op::kCaptureAppend: {
        CaptureRequest request;
        request.source = *tree_;
        request.wimPath = target;
        request.append = op == Op::kCaptureAppend;
        request.info.name = L"new";
        return engine->Capture(request);
      }
      case Op::kApply:
        return engine->Apply({*bigWim_, work + L"\\out", 1, false, true});
      case Op::kExport:
        return engine->Export({*bigWim_, 1, target, 0, 0});
      case Op::kSplit:
        return engine->Split({*bigWim_, work + L"\\set.wim", 30000000, {}});
    }
    return kResultFailed;
  }

  // Checks one stop as a user needs it; `what` names it in failures.
  void ExpectStopped(const Outcome& out, const std::string& what) {
    ASSERT_TRUE(out.requested) << what << ": the operation ended before the abort point";
    EXPECT_EQ(out.result, kResultAborted) << what;
    EXPECT_LT(out.secondsToStop, 2.0) << what;
    EXPECT_TRUE(out.unchanged) << what << ": a file that existed before has changed";
    EXPECT_TRUE(out.verifies) << what;
    for (const std::wstring& name : out.leftovers) ADD_FAILURE() << what << ": left behind: " << qtest::Utf8(name);
  }

  void StopEachOperation(BackendKind backend, const std::vector<int>& points) {
    for (Op op : kOps)
      for (int at : points)
        ExpectStopped(Run(op, backend, at), std::string(OpName(op)) + " at " + std::to_string(at));
    EXPECT_TRUE(boxes_.empty());  // confirmed requests ask nothing
  }

  static DWORD CALLBACK WatchPercent(DWORD msg, WPARAM wParam, LPARAM, PVOID) {
    if (msg == WIM_MSG_PROGRESS && g_request) (*g_request)(static_cast<float>(wParam));
    return WIM_MSG_SUCCESS;
  }

  static std::function<void(float)>* g_request;
  static std::wstring* tree_;
  static std::wstring* bigWim_;
  static std::wstring* smallWim_;
  static std::string* bigSha1_;
};

std::function<void(float)>* AbortTest::g_request = nullptr;
std::wstring* AbortTest::tree_ = nullptr;
std::wstring* AbortTest::bigWim_ = nullptr;
std::wstring* AbortTest::smallWim_ = nullptr;
std::string* AbortTest::bigSha1_ = nullptr;

TEST_F(AbortTest, WimlibStopsEveryOperation) {
  if (!NeedWimlib()) GTEST_SKIP() << "libwim-15.dll is not in bin\\wimlib";
  StopEachOperation(kBackendWimlib, {kBeforeStart, 40});
}

TEST_F(AbortTest, WimgapiStopsEveryOperation) {
  if (!NeedWimgapi()) GTEST_SKIP() << "the prefix has no full wimgapi.dll";
  StopEachOperation(kBackendWimgapi, {kBeforeStart, 40});
}

// The whole sweep, for both back ends: ten abort points spread over each
// operation. Prints one line per stop: operation, back end, abort point,
// seconds to stop and the state of the files.
TEST_F(AbortTest, DISABLED_FullSweep) {
  const int points[] = {kBeforeStart, 1, 10, 20, 35, 50, 65, 80, 90, 97};
  for (BackendKind backend : {kBackendWimlib, kBackendWimgapi}) {
    for (Op op : kOps) {
      for (int at : points) {
        Outcome out = Run(op, backend, at);
        std::string what = std::string(OpName(op)) + (backend == kBackendWimlib ? " wimlib" : " wimgapi") +
                           " at " + std::to_string(at);
        printf("| %-14s | %-7s | %6s | %5.2f s | %4d | %s%s%s |\n", OpName(op),
               backend == kBackendWimlib ? "wimlib" : "wimgapi",
               at == kBeforeStart ? "before" : (std::to_string(at) + "%").c_str(), out.secondsToStop, out.result,
               !out.requested ? "finished first; " : "", out.unchanged && out.verifies ? "files identical" : "CHANGED",
               out.leftovers.empty() ? "" : ", leftovers");
        fflush(stdout);
        if (out.requested) ExpectStopped(out, what);
      }
    }
  }
}

}  // namespace
