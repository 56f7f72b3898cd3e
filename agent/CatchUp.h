// The catch-up pass at start and after the database comes back: seeds the markers on the first
// run, then sends what changed since them and moves them.
#pragma once

#include "agent/SyncHost.h"
#include "agent/SyncRows.h"
#include "agent/WebTrouble.h"
#include "database/Datamodule.h"

namespace fesko {

class TCatchUp {
 public:
  TCatchUp(db::TDataModule1& data, SyncHost& host, TWebTrouble& web, LateCommitWindow& window)
      : data_(data), host_(host), web_(web), window_(window) {}

  // One unit of work reads all five kinds; once it has committed, they go out kind by kind,
  // and the markers move only when all of them did.
  void Run();

 private:
  // The markers, seeded first where config.ini holds none.
  SyncMarkers ReadMarkers();

  db::TDataModule1& data_;
  SyncHost& host_;
  TWebTrouble& web_;
  LateCommitWindow& window_;
};

}  // namespace fesko
