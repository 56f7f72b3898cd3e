#include "database/IBEvents.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "base/ApplicationErrors.h"
#include "base/Errors.h"
#include "base/TextHelpers.h"
#include "base/UiThread.h"
#include "database/Handles.h"
#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

int CompareText(const AnsiString& a, const AnsiString& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(LowerAnsi(a[i]));
    auto y = static_cast<unsigned char>(LowerAnsi(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// What the client library's callback touches. It is kept apart from the thread so that it can
// outlive the thread when a wait could not be cancelled and a late completion may still come.
struct WakeUp {
  std::mutex mutex;
  std::condition_variable signal;
  bool signaled = false;
  bool new_counts = false;
  bool lost = false;  // a completion without counts: the attachment is gone
  bool stop = false;
  std::vector<ISC_UCHAR> updated;
};

// Called by the client library on its own thread, and synchronously by isc_cancel_events on
// the cancelling thread (with no block). It only copies and signals: it never waits for the UI
// thread nor takes a lock that code calling the client library holds.
void EventCallback(void* arg, ISC_USHORT length, const ISC_UCHAR* updated) {
  auto* wake = static_cast<WakeUp*>(arg);
  if (!wake) return;
  std::lock_guard lock(wake->mutex);
  if (!updated) {
    // A cancel (the stop request is set before it) or a server that went away.
    if (wake->stop) return;
    wake->lost = true;
    wake->signaled = true;
    wake->signal.notify_all();
    return;
  }
  wake->updated.assign(updated, updated + length);
  wake->new_counts = true;
  wake->signaled = true;
  wake->signal.notify_all();
}

// Wake-ups of waits that could not be cancelled, kept for the rest of the run. Never freed, not
// even at exit: the client library's threads may still complete such a wait while the process
// ends, after static objects are gone.
struct Orphans {
  std::mutex mutex;
  std::vector<std::unique_ptr<WakeUp>> wake_ups;
};
Orphans& TheOrphans() {
  static Orphans* orphans = new Orphans;
  return *orphans;
}

constexpr std::u16string_view kUnknownError = u"Unknown exception";

static_assert(static_cast<std::size_t>(TIBEvents::kEventsPerBlock) == EventBlocks::kMaxNames);

}  // namespace

// One block of up to 15 names and the thread that waits for them.
class TIBEvents::Thread {
 public:
  Thread(TIBEvents& owner, std::vector<AnsiString> names)
      : owner_(owner), names_(std::move(names)) {}

  ~Thread() {
    if (thread_.joinable()) {
      RequestStop();
      thread_.join();
    }
    if (queued_on_) KeepWakeUpForLateCompletions();
    blocks_.Free();
    // A completion that came after the thread's last look at the wake-up was delivered under
    // its lock; taking the lock once orders that delivery before the memory is freed.
    std::lock_guard lock(wake_->mutex);
  }

  void Start() { thread_ = std::thread(&Thread::Run, this); }

  // Sets the stop request and the wake-up signal; the thread ends at its next check.
  void RequestStop() {
    std::lock_guard lock(wake_->mutex);
    wake_->stop = true;
    wake_->signaled = true;
    wake_->signal.notify_all();
  }

  bool Finished() const { return finished_.load(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  // On the UI thread, once the thread has ended: cancels the queued wait and releases both
  // blocks. A failed cancel is raised after the blocks are released.
  void Release() {
    std::exception_ptr error;
    if (queued_on_) {
      TIBDatabase* database = std::exchange(queued_on_, nullptr);
      try {
        CheckStatus(FB_CALL(isc_cancel_events)(StatusVector(), database->Handle(), &event_id_),
                    ErrorSide::kEvents);
      } catch (...) {
        error = std::current_exception();
        KeepWakeUpForLateCompletions();
      }
    }
    blocks_.Free();
    if (error) std::rethrow_exception(error);
  }

 private:
  enum class Wake { kStop, kNewCounts, kLost, kNothing };

  // A wait that was not cancelled may still complete: its callback must find live memory.
  void KeepWakeUpForLateCompletions() {
    Orphans& orphans = TheOrphans();
    std::lock_guard lock(orphans.mutex);
    orphans.wake_ups.push_back(std::move(wake_));
    wake_ = std::make_unique<WakeUp>();
  }

  void Run() {
    bool reported = false;
    try {
      blocks_.Build(names_);
      first_ = true;
      QueueEvents();
      for (;;) {
        Wake wake = WaitForSignal();
        if (wake == Wake::kStop) break;
        if (wake == Wake::kNothing) continue;
        if (wake == Wake::kLost) {
          // Told once; the thread sleeps until it is stopped, as after a wait that failed.
          ReportLost();
          continue;
        }
        ProcessEvents();
        QueueEvents();
      }
    } catch (...) {
      reported = Report(std::current_exception());
    }
    if (!StopRequested()) {
      try {
        RunOnUiThread([this, reported] { owner_.ThreadEnded(this, reported); });
      } catch (...) {
        // The listener drops the thread either way; nothing is left to tell.
      }
    }
    finished_.store(true);
    NotifyUiThreadWaiters();
  }

  bool StopRequested() {
    std::lock_guard lock(wake_->mutex);
    return wake_->stop;
  }

  Wake WaitForSignal() {
    std::unique_lock lock(wake_->mutex);
    wake_->signal.wait(lock, [this] { return wake_->signaled || wake_->stop; });
    if (wake_->stop) return Wake::kStop;
    if (wake_->new_counts) return Wake::kNewCounts;
    wake_->signaled = false;
    return std::exchange(wake_->lost, false) ? Wake::kLost : Wake::kNothing;
  }

  void ReportLost() {
    RunOnUiThread([this] {
      if (StopRequested() || !owner_.OnError) return;
      try {
        owner_.OnError(owner_, isc_lost_db_connection);
      } catch (...) {
        // The handler's own trouble is its to report; the thread must not end on it.
      }
    });
  }

  // The client library's attachment belongs to the UI thread, so the wait is queued there. A
  // failure goes to OnError (or nowhere) and leaves this thread asleep until it is stopped.
  void QueueEvents() {
    {
      std::lock_guard lock(wake_->mutex);
      wake_->new_counts = false;
      wake_->signaled = false;
    }
    RunOnUiThread([this] {
      if (StopRequested()) return;
      // Taken before OnError, whose box may run a nested loop: after it only the listener is used.
      TIBEvents& owner = owner_;
      const bool first = std::exchange(first_queue_, false);
      try {
        TIBDatabase* database = owner.database_;
        if (!database) RaiseClientError(ErrorSide::kEvents, ibDatabaseNameMissing);
        ISC_LONG id = 0;
        CheckStatus(
            FB_CALL(isc_que_events)(StatusVector(), database->Handle(), &id, blocks_.Length(),
                                    blocks_.Events(), &EventCallback, wake_.get()),
            ErrorSide::kEvents);
        event_id_ = id;
        queued_on_ = database;
      } catch (const EFbError& error) {
        if (owner.OnError) owner.OnError(owner, error.FirebirdCode);
      } catch (const std::exception&) {
        if (owner.OnError) owner.OnError(owner, 0);
      }
      if (first && owner.OnFirstWait) owner.OnFirstWait(owner);
    });
  }

  void ProcessEvents() {
    ISC_ULONG counts[kEventsPerBlock] = {};
    {
      std::lock_guard lock(wake_->mutex);
      size_t n = std::min(wake_->updated.size(), static_cast<size_t>(blocks_.Length()));
      std::memcpy(blocks_.Results(), wake_->updated.data(), n);
    }
    FB_CALL(isc_event_counts)(counts, blocks_.Length(), blocks_.Events(), blocks_.Results());
    // The first completion carries the counts at the moment the wait was queued: a baseline.
    if (std::exchange(first_, false)) return;
    bool cancel_alerts = false;
    for (size_t i = 0; i < names_.size(); ++i) {
      if (counts[i] == 0) continue;
      try {
        RunOnUiThread([&] {
          // A listener being unregistered calls no more handlers.
          if (StopRequested() || !owner_.OnEventAlert) return;
          owner_.OnEventAlert(owner_, names_[i], static_cast<int>(counts[i]), cancel_alerts);
        });
      } catch (...) {
        // Reported, and the listener goes on listening: a failure of one upload must not
        // silence this event for the rest of the run.
        Report(std::current_exception());
      }
    }
  }

  bool Report(const std::exception_ptr& error) {
    bool reported = false;
    RunOnUiThread([&] { reported = owner_.ReportError(error); });
    return reported;
  }

  TIBEvents& owner_;
  const std::vector<AnsiString> names_;  // this block's names, as they were at registration
  std::unique_ptr<WakeUp> wake_ = std::make_unique<WakeUp>();
  EventBlocks blocks_;
  bool first_ = true;
  bool first_queue_ = true;  // on the UI thread: OnFirstWait not yet called
  // Set on the UI thread when a wait is queued; the connection it was queued on.
  ISC_LONG event_id_ = 0;
  TIBDatabase* queued_on_ = nullptr;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

// ---- TEventNames

int TEventNames::IndexOf(const AnsiString& name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (CompareText(names_[i], name) == 0) return static_cast<int>(i);
  }
  return -1;
}

void TEventNames::Add(const AnsiString& name) {
  if (!name.empty() && name.size() <= TIBEvents::kMaxNameLength && IndexOf(name) >= 0) return;
  Changing();
  bool invalid = name.empty() || name.size() > TIBEvents::kMaxNameLength;
  AnsiString kept = name.substr(0, TIBEvents::kMaxNameLength);
  // A cut name that equals one already there is not added twice.
  if (!kept.empty() && IndexOf(kept) < 0) {
    auto at = std::lower_bound(
        names_.begin(), names_.end(), kept,
        [](const AnsiString& a, const AnsiString& b) { return CompareText(a, b) < 0; });
    names_.insert(at, kept);
  }
  Changed();
  if (invalid) RaiseClientError(ErrorSide::kEvents, ibInvalidEvent);
}

void TEventNames::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  Changing();
  names_.erase(names_.begin() + index);
  Changed();
}

void TEventNames::Clear() {
  Changing();
  names_.clear();
  Changed();
}

void TEventNames::Changing() {
  if (owner_.registered_) owner_.UnRegisterEvents();
}

void TEventNames::Changed() {
  if (owner_.registered_) owner_.RegisterEvents();
}

// ---- TIBEvents

TIBEvents::TIBEvents(TIBDatabase* database) {
  SetDatabase(database);
}

TIBEvents::~TIBEvents() {
  try {
    UnRegisterEvents();
  } catch (...) {
  }
  if (database_) database_->RemoveEventsClient(this);
}

void TIBEvents::SetDatabase(TIBDatabase* database) {
  if (database == database_) return;
  if (database_) {
    UnRegisterEvents();
    database_->RemoveEventsClient(this);
  }
  database_ = database;
  if (database_) database_->AddEventsClient(this);
}

void TIBEvents::RegisterEvents() {
  if (!database_) RaiseClientError(ErrorSide::kEvents, ibDatabaseNameMissing);
  FinishRetired();
  if (!threads_.empty()) RaiseClientError(ErrorSide::kEvents, ibEventsRegistered);
  const int count = Events.Count();
  for (int g = 0; g * kEventsPerBlock < count; ++g) {
    auto first = Events.names_.begin() + g * kEventsPerBlock;
    auto last = Events.names_.begin() + std::min(count, (g + 1) * kEventsPerBlock);
    threads_.push_back(std::make_unique<Thread>(*this, std::vector<AnsiString>(first, last)));
    threads_.back()->Start();
  }
}

void TIBEvents::UnRegisterEvents() {
  std::exception_ptr error;
  while (!threads_.empty()) {
    std::unique_ptr<Thread> thread = std::move(threads_.back());
    threads_.pop_back();
    thread->RequestStop();
    ServeUiThreadRequestsUntil([&] { return thread->Finished(); });
    thread->Join();
    try {
      thread->Release();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  FinishRetired();
  if (error) std::rethrow_exception(error);
}

void TIBEvents::SetRegistered(bool registered) {
  if (registered == registered_) return;
  registered_ = registered;
  if (registered) {
    RegisterEvents();
  } else {
    UnRegisterEvents();
  }
}

bool TIBEvents::ReportError(const std::exception_ptr& error) {
  if (reporting_) return false;
  reporting_ = true;
  try {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      ShowFatalError(e);
    } catch (...) {
      ShowFatalError(Exception(WideString(kUnknownError)));
    }
  } catch (...) {
    // A box that cannot be shown must not take the listener down with it.
  }
  reporting_ = false;
  return true;
}

void TIBEvents::ThreadEnded(Thread* thread, bool reported) {
  auto it = std::find_if(threads_.begin(), threads_.end(),
                         [thread](const std::unique_ptr<Thread>& t) { return t.get() == thread; });
  if (it == threads_.end()) return;
  std::unique_ptr<Thread> ended = std::move(*it);
  threads_.erase(it);
  if (reported) {
    reporting_ = false;
    if (registered_) {
      try {
        UnRegisterEvents();
      } catch (...) {
      }
    }
  }
  retired_.push_back(std::move(ended));
}

void TIBEvents::FinishRetired() {
  while (!retired_.empty()) {
    std::unique_ptr<Thread> thread = std::move(retired_.back());
    retired_.pop_back();
    ServeUiThreadRequestsUntil([&] { return thread->Finished(); });
    thread->Join();
    try {
      thread->Release();
    } catch (...) {
      // The thread has already had its say; its wait's cancel is of no more interest.
    }
  }
}

}  // namespace fesko::db
