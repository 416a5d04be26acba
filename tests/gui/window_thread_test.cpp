// Work a worker thread leaves for a window: it runs on the window's thread,
// in the order it was left, and never once the window is gone; what a
// window that went did not run is freed, with everything it held.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "gui.h"
#include "win/window.h"
#include "win/window_thread.h"

namespace {
using namespace qtest;

class PlainWindow : public Window {
 public:
  PlainWindow() {
    RegisterClassOnce(L"QuarryWindowThreadTest");
    CreateEx(0, L"QuarryWindowThreadTest", L"posts", WS_OVERLAPPEDWINDOW, 20, 20, 200, 120, nullptr, nullptr);
  }
};

// What a piece of work holds: the test sees when the last copy is freed.
struct Held {
  std::atomic<int>* freed;
  explicit Held(std::atomic<int>* f) : freed(f) {}
  ~Held() { ++*freed; }
};

class WindowThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<PlainWindow>();
    ASSERT_NE(window_->hwnd(), nullptr);
  }
  // Posts `count` pieces from a worker thread and returns once the worker
  // has ended; each piece holds a Held and notes its number when it runs.
  void PostFromWorker(HWND target, int count) {
    std::thread worker([this, target, count] {
      for (int i = 0; i < count; i++) {
        auto held = std::make_shared<Held>(&freed_);
        bool kept = PostToWindowThread(target, [this, i, held] {
          ran_.push_back(i);
          threads_.push_back(GetCurrentThreadId());
        });
        if (kept) kept_++;
      }
    });
    worker.join();
  }

  std::unique_ptr<PlainWindow> window_;
  std::atomic<int> freed_{0};
  int kept_ = 0;
  std::vector<int> ran_;  // touched on the window's thread only
  std::vector<DWORD> threads_;
};

TEST_F(WindowThreadTest, WorkFromAWorkerRunsOnTheWindowsThreadInTheOrderItWasPosted) {
  PostFromWorker(window_->hwnd(), 500);
  EXPECT_EQ(kept_, 500);
  EXPECT_TRUE(ran_.empty());  // nothing ran while this thread did not take its messages
  ASSERT_TRUE(WaitUntil([&] { return ran_.size() == 500; }));
  for (int i = 0; i < 500; i++) ASSERT_EQ(ran_[i], i);
  for (DWORD thread : threads_) ASSERT_EQ(thread, GetCurrentThreadId());
  EXPECT_TRUE(WaitUntil([&] { return freed_ == 500; }));  // each piece freed once it ran
}

TEST_F(WindowThreadTest, WorkLeftForAWindowThatIsDestroyedFirstIsFreedAndNeverRuns) {
  PostFromWorker(window_->hwnd(), 20);
  ASSERT_EQ(kept_, 20);
  EXPECT_EQ(freed_, 0);  // kept until its turn
  HWND gone = window_->hwnd();
  DestroyWindow(gone);
  EXPECT_EQ(freed_, 20);  // freed as the window went, on its thread
  Flush();  // every message this thread still had is handled
  EXPECT_TRUE(ran_.empty());

  // A post to a window that no longer exists is refused and freed at once.
  PostFromWorker(gone, 3);
  EXPECT_EQ(kept_, 20);
  EXPECT_EQ(freed_, 23);
  Flush();
  EXPECT_TRUE(ran_.empty());
}

TEST_F(WindowThreadTest, WorkAfterAPieceThatClosesTheWindowDoesNotRun) {
  HWND hwnd = window_->hwnd();
  bool closed = false;
  std::thread worker([&] {
    PostToWindowThread(hwnd, [&] {
      DestroyWindow(hwnd);
      closed = true;
    });
  });
  worker.join();
  PostFromWorker(hwnd, 5);
  ASSERT_TRUE(WaitUntil([&] { return closed; }));
  EXPECT_EQ(freed_, 5);
  Flush();
  EXPECT_TRUE(ran_.empty());
}
}  // namespace
