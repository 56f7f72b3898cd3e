// The database event listener TIBEvents: a list of event names on the event connection, waited
// for on background threads (one per block of 15 names) and delivered to OnEventAlert on the UI
// thread, one call per name whose count changed.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "base/TextKinds.h"
#include "database/MDODatabase.h"

namespace fesko::db {

class TIBEvents;

// The event names: sorted without regard to case, duplicates ignored. Positions in this order
// identify the events.
class TEventNames {
 public:
  TEventNames(const TEventNames&) = delete;
  TEventNames& operator=(const TEventNames&) = delete;

  // Adds a name unless one equal to it without regard to case is there. An empty name is not
  // kept and a name longer than 63 characters is kept cut to 63; both raise "Invalid Event".
  void Add(const AnsiString& name);
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(names_.size()); }
  const AnsiString& operator[](int index) const { return names_.at(index); }
  // The position of a name compared without regard to case, or -1.
  int IndexOf(const AnsiString& name) const;

 private:
  friend class TIBEvents;
  explicit TEventNames(TIBEvents& owner) : owner_(owner) {}
  void Changing();
  void Changed();

  TIBEvents& owner_;
  std::vector<AnsiString> names_;
};

// `cancel_alerts` may be set by the handler; it has no effect.
using TEventAlert = std::function<void(TIBEvents& sender, const AnsiString& event_name,
                                       int event_count, bool& cancel_alerts)>;
// `error_code` is the database error's Firebird code, 0 for other errors. A completion without
// counts (the server went away) comes as isc_lost_db_connection; that thread waits no more.
using TErrorEvent = std::function<void(TIBEvents& sender, int error_code)>;

class TIBEvents : public EventsClient {
 public:
  static constexpr int kEventsPerBlock = 15;
  static constexpr size_t kMaxNameLength = 63;

  explicit TIBEvents(TIBDatabase* database = nullptr);
  // Stops every listener thread; errors in doing so are dropped.
  ~TIBEvents();
  TIBEvents(const TIBEvents&) = delete;
  TIBEvents& operator=(const TIBEvents&) = delete;

  TIBDatabase* Database() const { return database_; }
  // Unregisters from the previous connection first.
  void SetDatabase(TIBDatabase* database);

  TEventNames Events{*this};
  TEventAlert OnEventAlert;
  TErrorEvent OnError;
  // On the UI thread, once per listener thread: its first wait is queued, or could not be and
  // OnError has been told. From then on a posting of its names is delivered. Must not raise.
  std::function<void(TIBEvents& sender)> OnFirstWait;

  // One listener thread per block of 15 names; nothing for no names. Client error 17 without a
  // connection, 118 while threads are present. The waits are queued when the UI thread next
  // processes its requests.
  void RegisterEvents();
  // Stops and discards every thread, last block first. On the UI thread, which keeps running
  // the threads' requests while it waits for them to end. A failed cancel of a wait is raised
  // once every thread is gone.
  void UnRegisterEvents() override;

  // The setter registers or unregisters; a name change while set re-registers around it.
  bool Registered() const { return registered_; }
  void SetRegistered(bool registered);

  // How many listener threads are running.
  int ThreadCount() const { return static_cast<int>(threads_.size()); }

 private:
  class Thread;
  friend class TEventNames;

  // On the UI thread: the report of an error that escaped a thread, at most one at a time.
  // Returns false when another report was already on screen.
  bool ReportError(const std::exception_ptr& error);
  // On the UI thread, for a thread that ended by itself; `reported` when the error that ended
  // it was shown.
  void ThreadEnded(Thread* thread, bool reported);
  void FinishRetired();

  TIBDatabase* database_ = nullptr;
  bool registered_ = false;
  bool reporting_ = false;
  std::vector<std::unique_ptr<Thread>> threads_;
  // Threads that ended by themselves, waiting to be joined and released.
  std::vector<std::unique_ptr<Thread>> retired_;
};

}  // namespace fesko::db
