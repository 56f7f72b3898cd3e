// Running work on the UI thread from a background thread: the caller hands over a request and
// blocks until the UI thread has run it; an error it raises comes back to the caller. The UI
// thread runs requests whenever it processes messages, and also while it waits for a background
// thread to end, so waiting for a thread that is itself waiting to run here cannot deadlock.
// The platform layer supplies the wake-up (agent/QtUiThread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace fesko {

// Makes the calling thread the UI thread. `wake` is called from any thread each time a request
// is queued; it must make the UI thread call ProcessUiThreadRequests soon, and must never block
// or wait for the UI thread. An empty `wake` leaves the draining to explicit calls.
void InstallUiThread(std::function<void()> wake);

bool IsUiThread();

// Runs `request` on the UI thread and returns when it has run; an error that escapes it is
// raised again here. On the UI thread itself it simply runs.
void RunOnUiThread(const std::function<void()>& request);

// On the UI thread: runs every pending request, oldest first, including those queued while it
// runs. May be entered again from inside a request (a modal box processes messages).
void ProcessUiThreadRequests();

// On the UI thread: runs requests as they arrive until `done` returns true. `done` is checked
// after every request and whenever NotifyUiThreadWaiters is called.
void ServeUiThreadRequestsUntil(const std::function<bool()>& done);

// Tells a UI thread inside ServeUiThreadRequestsUntil to look at its condition again; call it
// after making that condition true (a background thread that is about to end calls it last).
void NotifyUiThreadWaiters();

// For tests and benchmarks: requests waiting to run, and requests run since the start.
size_t PendingUiThreadRequests();
uint64_t UiThreadRequestsRun();

}  // namespace fesko
