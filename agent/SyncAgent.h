// What keeps the web service in step with the workshop database: the catch-up pass at start,
// the five live uploads that database events trigger, and the budget-state poll. The main
// window owns one and routes its creation handler, event handlers, timer and show handler here.
#pragma once

#include "agent/BudgetPoll.h"
#include "agent/CatchUp.h"
#include "agent/LivePasses.h"
#include "agent/SyncHost.h"
#include "agent/SyncMarkers.h"
#include "agent/SyncRows.h"
#include "agent/SyncSettings.h"
#include "agent/WebTrouble.h"
#include "database/Datamodule.h"

namespace fesko {

class TSyncAgent {
 public:
  TSyncAgent(db::TDataModule1& data, SyncHost& host);

  // Account number, base URL and poll interval from parametros (a database error is shown and
  // the rest goes on).
  void ReadSettings() {
    settings_.Read();
    web_.SettingsRead();
  }
  // Seeds the markers on the first run, then uploads what changed since them and moves them.
  void CatchUp();

  // The live pass of one kind: every row its marker has not covered goes out and the marker
  // follows. Each database event runs the pass of its kind.
  void LivePass(ChangeKind kind);
  void NewClients() { LivePass(ChangeKind::NewClients); }
  void ChangedClients() { LivePass(ChangeKind::ChangedClients); }
  void NewRepairs() { LivePass(ChangeKind::NewRepairs); }
  void ChangedRepairs() { LivePass(ChangeKind::ChangedRepairs); }
  void ChangedBudgets() { LivePass(ChangeKind::ChangedBudgets); }
  // The five live passes, as if each event had come: what a failed upload, a missed event or a
  // listener that cannot wait left behind goes out. Skipped while another pass or the poll runs
  // (a box of theirs lets the event loop run).
  void Sweep();

  // One tick of the poll timer, and the show handler's refresh of the account and interval.
  void Poll();
  void ReadPollSettings() {
    settings_.ReadForPoll();
    web_.SettingsRead();
  }

  const WideString& BaseUrl() const { return settings_.BaseUrl(); }
  // A pass or the poll is under way.
  bool Running() const { return busy_ > 0; }

 private:
  // Marks a pass or the poll as running for its scope.
  class Busy {
   public:
    explicit Busy(int& depth) : depth_(depth) { ++depth_; }
    ~Busy() { --depth_; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    int& depth_;
  };

  db::TDataModule1& data_;
  int busy_ = 0;
  TSyncSettings settings_;
  TWebTrouble web_;
  LateCommitWindow window_;
  TCatchUp catch_up_;
  TLivePasses live_;
  TBudgetPoll poll_;
};

}  // namespace fesko
