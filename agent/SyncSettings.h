// The sync's settings from the table parametros: the account number (kept in the main window's
// box), the web service's base URL and the poll interval.
#pragma once

#include "agent/SyncHost.h"
#include "database/Datamodule.h"

namespace fesko {

class TSyncSettings {
 public:
  TSyncSettings(db::TDataModule1& data, SyncHost& host) : data_(data), host_(host) {}

  // Account number, base URL and poll interval, at start (a database error is shown and the
  // rest goes on).
  void Read();
  // Account number and poll interval again, each time the main window is shown.
  void ReadForPoll();

  // The integer value of the account box's text at the moment of the call.
  int AccountNumber() const;
  const WideString& BaseUrl() const { return base_url_; }

 private:
  void SetPollMinutes(int minutes);

  db::TDataModule1& data_;
  SyncHost& host_;
  WideString base_url_;
};

}  // namespace fesko
