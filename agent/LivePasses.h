// The live passes: each database event runs the pass of its kind, and the sweep runs all five,
// so that what a failed upload, a missed event or a listener that cannot wait left behind goes
// out. A pass reads its rows in one unit of work, then sends them and moves its marker after
// each send that went.
#pragma once

#include "agent/SyncHost.h"
#include "agent/SyncRows.h"
#include "agent/WebTrouble.h"
#include "database/Datamodule.h"

namespace fesko {

class TLivePasses {
 public:
  TLivePasses(db::TDataModule1& data, SyncHost& host, TWebTrouble& web, LateCommitWindow& window)
      : data_(data), host_(host), web_(web), window_(window) {}

  // Every row the kind's marker has not covered goes out and the marker follows.
  void Pass(ChangeKind kind);

 private:
  void SendNewRows(ChangeKind kind);
  void SendChangedRows(ChangeKind kind);

  db::TDataModule1& data_;
  SyncHost& host_;
  TWebTrouble& web_;
  LateCommitWindow& window_;
};

}  // namespace fesko
