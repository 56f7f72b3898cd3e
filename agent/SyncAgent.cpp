#include "agent/SyncAgent.h"

#include "agent/StopSignals.h"

namespace fesko {

TSyncAgent::TSyncAgent(db::TDataModule1& data, SyncHost& host)
    : data_(data),
      settings_(data, host),
      web_(host, settings_),
      catch_up_(data, host, web_, window_),
      live_(data, host, web_, window_),
      poll_(data, host, settings_, web_) {}

void TSyncAgent::CatchUp() {
  Busy busy(busy_);
  web_.ReportingOnce(TWebTrouble::kCatchUpPass, [this] { catch_up_.Run(); });
}

void TSyncAgent::LivePass(ChangeKind kind) {
  Busy busy(busy_);
  web_.ReportingOnce(IndexOf(kind), [this, kind] { live_.Pass(kind); });
}

void TSyncAgent::Sweep() {
  // A lost database was reported by the pass that met it; asking again would only fail again.
  if (busy_ > 0 || data_.connection_lost) return;
  for (ChangeKind kind : kChangeKinds) {
    if (StopRequested() || data_.connection_lost) return;
    LivePass(kind);
  }
}

void TSyncAgent::Poll() {
  // Budget states fetched while the database is lost could not be written, and the web
  // service hands each out only once.
  if (data_.connection_lost) return;
  Busy busy(busy_);
  poll_.Tick();
}

}  // namespace fesko
