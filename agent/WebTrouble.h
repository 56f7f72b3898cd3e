// The one send path of the sync, and how it reports web trouble: while the web service keeps
// failing, the operator sees one box for the whole outage and the tray says since when; the
// first call that succeeds again ends it.
#pragma once

#include <functional>

#include "agent/SyncHost.h"
#include "agent/SyncSettings.h"
#include "web/Services.h"

namespace fesko {

class TWebTrouble {
 public:
  TWebTrouble(SyncHost& host, const TSyncSettings& settings) : host_(host), settings_(settings) {}

  // Sends a document to the service with the account number of the moment.
  void Send(web::Service service, const WideString& document);
  // A web call succeeded: a trouble noted before is over.
  void Answered();
  // Runs a pass of sends. When a send's error leaves it, only the first of an outage goes on to
  // its box; the others, of any pass, go to standard error until a call succeeds.
  void ReportingOnce(const std::function<void()>& pass);

 private:
  SyncHost& host_;
  const TSyncSettings& settings_;
  bool failing_ = false;
  bool send_failed_ = false;  // the error leaving a pass is a web call's
};

}  // namespace fesko
