#include "pages/browser_lister.h"

#include <condition_variable>
#include <mutex>
#include <optional>

#include "win/window_thread.h"

struct FolderLister::State {
  struct Request {
    HWND page = nullptr;
    std::shared_ptr<BrowsedWim> wim;
    int image = 0;
    std::wstring folder;
    Prepare prepare;
    Done done;
    uint64_t generation = 0;
  };
  // A listing read, kept here (not in the work posted to the page) so that
  // a drop lets go of its file at once.
  struct Result {
    uint64_t generation = 0;
    bool listed = false;
    std::unique_ptr<FolderListing> listing = std::make_unique<FolderListing>();
    std::shared_ptr<BrowsedWim> wim;
    Done done;
  };
  mutable std::mutex lock;
  std::condition_variable idle;
  uint64_t generation = 0;  // of the newest request; raised by Drop too
  bool busy = false;        // the newest request is not handed back yet
  bool running = false;     // a worker is reading or about to
  std::optional<Request> next;
  std::optional<Result> result;
};

namespace {

using State = FolderLister::State;

std::mutex g_hookLock;
FolderReadHook g_hook;

void RunReadHook() {
  FolderReadHook hook;
  {
    std::lock_guard<std::mutex> hold(g_hookLock);
    hook = g_hook;
  }
  if (hook) hook();
}

// On the page's thread: the listing, when it is still the newest request's.
void HandBack(const std::shared_ptr<State>& state) {
  std::optional<State::Result> result;
  {
    std::lock_guard<std::mutex> hold(state->lock);
    if (!state->result || state->result->generation != state->generation) return;
    result = std::move(state->result);
    state->result.reset();
    state->busy = false;
  }
  result->done(result->listed, std::move(result->listing), std::move(result->wim));
}

void Work(const std::shared_ptr<State>& state) {
  for (;;) {
    std::optional<State::Request> request;
    {
      std::lock_guard<std::mutex> hold(state->lock);
      if (!state->next) {
        state->running = false;
        state->idle.notify_all();
        return;
      }
      request = std::move(state->next);
      state->next.reset();
    }
    RunReadHook();
    State::Result read;
    read.generation = request->generation;
    read.listed = request->wim->ListFolder(request->image, request->folder, *read.listing);
    if (read.listed && request->prepare) request->prepare(*read.listing);
    read.wim = std::move(request->wim);
    read.done = std::move(request->done);
    const HWND page = request->page;
    bool current = false;
    {
      std::lock_guard<std::mutex> hold(state->lock);
      if (read.generation == state->generation) {
        state->result = std::move(read);
        current = true;
      }
    }
    // A dropped request's listing and file are let go of with `read`, after the lock.
    if (current) PostToWindowThread(page, [state] { HandBack(state); });
  }
}

}  // namespace

FolderLister::FolderLister() : state_(std::make_shared<State>()) {}

FolderLister::~FolderLister() { Quiesce(); }

bool FolderLister::Start(HWND page, std::shared_ptr<BrowsedWim> wim, int image, const std::wstring& folder,
                         Prepare prepare, Done done) {
  std::optional<State::Request> replaced;  // let go of after the lock
  std::optional<State::Result> stale;
  bool start = false;
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    State::Request request;
    request.page = page;
    request.wim = std::move(wim);
    request.image = image;
    request.folder = folder;
    request.prepare = std::move(prepare);
    request.done = std::move(done);
    request.generation = ++state_->generation;
    replaced = std::move(state_->next);
    stale = std::move(state_->result);
    state_->result.reset();
    state_->next = std::move(request);
    state_->busy = true;
    start = !state_->running;
    if (start) state_->running = true;
  }
  if (!start) return true;
  std::shared_ptr<State> state = state_;
  if (StartThread([state] { Work(state); })) return true;
  std::optional<State::Request> unstarted;
  std::lock_guard<std::mutex> hold(state_->lock);
  unstarted = std::move(state_->next);
  state_->next.reset();
  state_->running = false;
  state_->busy = false;
  state_->idle.notify_all();
  return false;
}

void FolderLister::Drop() {
  std::optional<State::Request> request;  // let go of after the lock
  std::optional<State::Result> result;
  std::lock_guard<std::mutex> hold(state_->lock);
  state_->generation++;
  state_->busy = false;
  request = std::move(state_->next);
  state_->next.reset();
  result = std::move(state_->result);
  state_->result.reset();
}

void FolderLister::Quiesce() {
  Drop();
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->idle.wait(hold, [this] { return !state_->running; });
}

bool FolderLister::Busy() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->busy;
}

FolderReadHook SetFolderReadHook(FolderReadHook hook) {
  std::lock_guard<std::mutex> hold(g_hookLock);
  std::swap(g_hook, hook);
  return hook;
}
