#include "base/UiThread.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace fesko {
namespace {

// One hand-over. It lives on the caller's stack: the caller does not return before `done`.
struct Request {
  const std::function<void()>* work;
  std::exception_ptr error;
  bool done = false;
};

struct UiThreadState {
  std::mutex mutex;
  std::condition_variable ui_wakeup;     // the UI thread, inside ServeUiThreadRequestsUntil
  std::condition_variable request_done;  // callers waiting for their request
  std::deque<Request*> queue;
  std::function<void()> wake;
  std::thread::id ui_thread;
  uint64_t notifications = 0;
  uint64_t requests_run = 0;
};

UiThreadState& State() {
  static UiThreadState state;
  return state;
}

}  // namespace

void InstallUiThread(std::function<void()> wake) {
  UiThreadState& s = State();
  std::lock_guard lock(s.mutex);
  s.ui_thread = std::this_thread::get_id();
  s.wake = std::move(wake);
}

bool IsUiThread() {
  UiThreadState& s = State();
  std::lock_guard lock(s.mutex);
  return s.ui_thread == std::this_thread::get_id();
}

void RunOnUiThread(const std::function<void()>& request) {
  if (IsUiThread()) {
    request();
    return;
  }
  UiThreadState& s = State();
  Request r{&request, nullptr};
  std::function<void()> wake;
  {
    std::lock_guard lock(s.mutex);
    s.queue.push_back(&r);
    wake = s.wake;
  }
  s.ui_wakeup.notify_all();
  if (wake) wake();
  {
    std::unique_lock lock(s.mutex);
    s.request_done.wait(lock, [&r] { return r.done; });
  }
  if (r.error) std::rethrow_exception(r.error);
}

void ProcessUiThreadRequests() {
  if (!IsUiThread()) return;
  UiThreadState& s = State();
  for (;;) {
    Request* r;
    {
      std::lock_guard lock(s.mutex);
      if (s.queue.empty()) return;
      r = s.queue.front();
      s.queue.pop_front();
    }
    // Taken off the queue before it runs, so a nested drain (a modal box inside the request)
    // goes on with the next one instead of running this one twice.
    std::exception_ptr error;
    try {
      (*r->work)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(s.mutex);
      r->error = std::move(error);
      r->done = true;
      ++s.requests_run;
    }
    s.request_done.notify_all();
  }
}

void ServeUiThreadRequestsUntil(const std::function<bool()>& done) {
  UiThreadState& s = State();
  const bool ui = IsUiThread();
  for (;;) {
    ProcessUiThreadRequests();
    uint64_t seen;
    {
      std::lock_guard lock(s.mutex);
      seen = s.notifications;
    }
    // A notification after `seen` was read wakes the wait below, so none is lost.
    if (done()) return;
    std::unique_lock lock(s.mutex);
    s.ui_wakeup.wait(lock, [&] { return (ui && !s.queue.empty()) || s.notifications != seen; });
  }
}

void NotifyUiThreadWaiters() {
  UiThreadState& s = State();
  {
    std::lock_guard lock(s.mutex);
    ++s.notifications;
  }
  s.ui_wakeup.notify_all();
}

size_t PendingUiThreadRequests() {
  UiThreadState& s = State();
  std::lock_guard lock(s.mutex);
  return s.queue.size();
}

uint64_t UiThreadRequestsRun() {
  UiThreadState& s = State();
  std::lock_guard lock(s.mutex);
  return s.requests_run;
}

}  // namespace fesko
