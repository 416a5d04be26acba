#include "win/window_thread.h"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "win/messages.h"
#include "win/window.h"

namespace {

// The work posted to each window and not run yet, in the order of the
// posts. Each piece has its own message in the window's queue; the message
// carries nothing, it only says that the next piece is due. A piece thus
// never sits in a message queue, where a window's destruction would lose
// it without freeing it.
class PostedWork {
 public:
  // Keeps `work` for `window` and posts its message, both while the lock
  // is held, so the window's going (which takes the lock too) comes
  // either before (nothing kept) or after (the work is dropped).
  bool Post(HWND window, std::function<void()>& work) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!Window::FromHandle(window)) return false;
    auto& queue = queues_[window];
    queue.push_back(std::move(work));
    if (PostMessageW(window, UM_RUN_POSTED_WORK, 0, 0)) return true;
    work = std::move(queue.back());  // the message queue is full: freed by the caller
    queue.pop_back();
    if (queue.empty()) queues_.erase(window);
    return false;
  }

  // The next piece due for `window`; empty when none is left.
  std::function<void()> Next(HWND window) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = queues_.find(window);
    if (it == queues_.end()) return nullptr;
    std::function<void()> work = std::move(it->second.front());
    it->second.pop_front();
    if (it->second.empty()) queues_.erase(it);
    return work;
  }

  // What `window` still had waiting; freed by the caller, outside the lock.
  std::deque<std::function<void()>> Take(HWND window) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = queues_.find(window);
    if (it == queues_.end()) return {};
    std::deque<std::function<void()>> left = std::move(it->second);
    queues_.erase(it);
    return left;
  }

 private:
  std::mutex lock_;
  std::unordered_map<HWND, std::deque<std::function<void()>>> queues_;
};

PostedWork& Posted() {
  static PostedWork* posted = new PostedWork;  // lives as long as any window may
  return *posted;
}

DWORD WINAPI RunThreadBody(void* param) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(param));
  (*body)();
  return 0;
}

}  // namespace

UniqueHandle StartThread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  UniqueHandle thread(CreateThread(nullptr, 0, RunThreadBody, owned.get(), 0, nullptr));
  if (thread) owned.release();  // the thread's now
  return thread;
}

bool RunOnWindowThread(HWND window, const std::function<void()>& work) {
  if (!window || !IsWindow(window)) return false;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    work();
    return true;
  }
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, UM_RUN_ON_WINDOW_THREAD, 0, reinterpret_cast<LPARAM>(&work), SMTO_NORMAL,
                             INFINITE, &answer) != 0 &&
         answer == 1;
}

bool PostToWindowThread(HWND window, std::function<void()> work) {
  if (!window || !work) return false;
  std::function<void()> refused = std::move(work);
  return Posted().Post(window, refused);
}  // a refused piece is freed here, outside the lock

bool RunHandedWork(HWND window, UINT msg, LPARAM lParam, LRESULT& result) {
  if (msg == UM_RUN_ON_WINDOW_THREAD && lParam) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    result = 1;
    return true;
  }
  if (msg == UM_RUN_POSTED_WORK) {
    if (std::function<void()> work = Posted().Next(window)) work();
    result = 0;
    return true;
  }
  return false;
}

void DropPostedWork(HWND window) {
  if (window) Posted().Take(window);
}
