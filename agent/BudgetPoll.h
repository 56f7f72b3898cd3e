// The budget-state poll: on each tick of the poll timer, the budget states decided on the web
// service are written into the workshop database and the repairs they belong to sent back.
#pragma once

#include "agent/SyncHost.h"
#include "agent/SyncSettings.h"
#include "agent/WebTrouble.h"
#include "database/Datamodule.h"

namespace fesko {

class TBudgetPoll {
 public:
  TBudgetPoll(db::TDataModule1& data, SyncHost& host, const TSyncSettings& settings,
              TWebTrouble& web)
      : data_(data), host_(host), settings_(settings), web_(web) {}

  // Asks for the states, applies them and reads the repairs in one unit of work, and once it
  // has committed sends the repairs as any pass sends. A repair whose send failed is not lost:
  // writing its state stamped its budgets, so the live pass of changed budgets, run by the
  // event the workshop's trigger posts, or else the sweep or the next catch-up, sends them.
  void Tick();

 private:
  db::TDataModule1& data_;
  SyncHost& host_;
  const TSyncSettings& settings_;
  TWebTrouble& web_;
};

}  // namespace fesko
