#include "win/notices.h"

#include <map>
#include <mutex>
#include <utility>

#include "win/window_thread.h"

namespace {
struct Listener {
  HWND window = nullptr;
  std::function<void()> answer;
};

std::mutex& ListenersLock() {
  static std::mutex* lock = new std::mutex;  // answers may be given until the process ends
  return *lock;
}

std::map<Notice, Listener>& Listeners() {
  static auto* listeners = new std::map<Notice, Listener>;
  return *listeners;
}
}  // namespace

void ListenFor(Notice notice, HWND window, std::function<void()> answer) {
  Listener replaced;
  std::lock_guard<std::mutex> hold(ListenersLock());
  Listener& listener = Listeners()[notice];
  replaced = std::exchange(listener, Listener{window, std::move(answer)});
}

void StopListening(Notice notice, HWND window) {
  Listener removed;
  std::lock_guard<std::mutex> hold(ListenersLock());
  auto it = Listeners().find(notice);
  if (it == Listeners().end() || it->second.window != window) return;
  removed = std::move(it->second);
  Listeners().erase(it);
}

bool GiveNotice(Notice notice) {
  Listener listener;
  {
    std::lock_guard<std::mutex> hold(ListenersLock());
    auto it = Listeners().find(notice);
    if (it == Listeners().end()) return false;
    listener = it->second;
  }
  return PostToWindowThread(listener.window, std::move(listener.answer));
}
