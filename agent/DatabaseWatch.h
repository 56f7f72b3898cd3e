// Watches the two connections of the data module and, once the database is lost, attaches both
// again by itself: after 5 s, then at doubling intervals up to a minute, with the settings read
// at start. One timer drives it all; every other piece of the program only tells it what it met.
#pragma once

#include <cstdint>

#include "agent/Timer.h"
#include "database/Datamodule.h"

namespace fesko {

class TDatabaseWatch {
 public:
  // What the watch needs of the window that owns it.
  class Host {
   public:
    // A pass, the poll, a box or a dialog is under way: the watch waits for its next turn.
    virtual bool SomethingRuns() = 0;
    // The tray says whether the database is lost, and since when.
    virtual void SetDatabaseLost(bool lost) = 0;
    // The event waits cannot be queued; live delivery is the sweep's from now on.
    virtual void EventWaitsFailed(int error_code) = 0;
    // Both connections are back and connection_lost is cleared: the listeners, the catch-up,
    // the balloon, and on as after start-up.
    virtual void DatabaseBack() = 0;

   protected:
    ~Host() = default;
  };

  TDatabaseWatch(db::TDataModule1& data, Host& host, QObject* parent);
  TDatabaseWatch(const TDatabaseWatch&) = delete;
  TDatabaseWatch& operator=(const TDatabaseWatch&) = delete;

  // A unit of work met the loss and showed its box.
  void LostByUnit();
  // A listener's wait failed with a network or shutdown code, or came back without counts.
  void ListenerLost(int error_code);
  bool Away() const { return away_; }

 private:
  void Tick();
  // The liveness check of both attachments.
  void Check();
  // Reports a loss the watch found first: one database error box with the server's message.
  void Report(const db::EFbError& error);
  // Ends the transaction, closes both attachments and starts the tries to attach again.
  void Drop();
  void TryAttach();
  void GiveUpEventWaits(int error_code);

  db::TDataModule1& data_;
  Host& host_;
  TTimer* timer_;
  bool away_ = false;
  bool ticking_ = false;
  bool event_waits_given_up_ = false;
  bool check_posted_ = false;
  int retry_ms_ = 0;
  int listener_code_ = 0;  // the first lost-connection code a listener told since the last check
};

}  // namespace fesko
