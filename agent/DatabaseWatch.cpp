#include "agent/DatabaseWatch.h"

#include <QTimer>
#include <algorithm>
#include <string>
#include <utility>

#include "agent/StopSignals.h"
#include "base/ApplicationErrors.h"
#include "base/MessageBox.h"
#include "database/MDOErrors.h"

namespace fesko {
namespace {

constexpr int kCheckInterval = 30000;
constexpr int kFirstRetry = 5000;
constexpr int kLastRetry = 60000;
// A unit of work met the loss: close the attachments as soon as its pass and box are over.
constexpr int kSoonAfterTheUnit = 1000;
constexpr std::u16string_view kLostContext = u"Se perdió la conexión con la base de datos";

}  // namespace

TDatabaseWatch::TDatabaseWatch(db::TDataModule1& data, Host& host, QObject* parent)
    : data_(data), host_(host), timer_(new TTimer(kCheckInterval, parent)) {
  timer_->OnTimer = [this] { RunHandler([this] { Tick(); }); };
}

void TDatabaseWatch::LostByUnit() {
  host_.SetDatabaseLost(true);
  timer_->SetInterval(kSoonAfterTheUnit);
}

void TDatabaseWatch::ListenerLost(int error_code) {
  if (away_ || event_waits_given_up_) return;
  // A wait the server refused says more than the completions its dropping ended.
  if (listener_code_ == 0 || error_code == isc_net_read_err) listener_code_ = error_code;
  // Checked on the next turn of the event loop, once for all the listeners that tell it: a
  // listener may be telling it from inside a cancel or a delivery, where nothing may be closed.
  if (std::exchange(check_posted_, true)) return;
  QTimer::singleShot(0, timer_, [this] {
    check_posted_ = false;
    if (!away_) RunHandler([this] { Tick(); });
  });
}

void TDatabaseWatch::Tick() {
  if (ticking_ || StopRequested() || host_.SomethingRuns()) return;
  ticking_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{ticking_};
  if (away_) {
    TryAttach();
  } else if (data_.connection_lost) {
    Drop();
  } else {
    Check();
  }
}

void TDatabaseWatch::Check() {
  const int listener_code = std::exchange(listener_code_, 0);
  try {
    data_.service.CheckAlive();
  } catch (const db::EFbError& error) {
    Report(error);
    Drop();
    return;
  }
  if (event_waits_given_up_) return;
  // On this server a wait that cannot get its auxiliary connection (a held or blocked event
  // port) makes it drop the whole event attachment. Attaching again would only fail the same
  // way, round and round: with the query attachment answering, live delivery is left to the
  // sweep until the database is next lost.
  if (listener_code == isc_net_read_err) {
    GiveUpEventWaits(listener_code);
    return;
  }
  try {
    data_.Service1.CheckAlive();
  } catch (const db::EFbError& error) {
    if (error.FirebirdCode == isc_net_read_err) {
      GiveUpEventWaits(error.FirebirdCode);
      return;
    }
    Report(error);
    Drop();
    return;
  }
  // A listener whose completion came without counts while both attachments answer: its thread
  // waits no more, so everything is registered again.
  if (listener_code != 0) {
    data_.connection_lost = true;
    Drop();
  }
  if (!away_) timer_->SetInterval(kCheckInterval);
}

void TDatabaseWatch::Report(const db::EFbError& error) {
  data_.connection_lost = true;
  host_.SetDatabaseLost(true);
  db::ShowDatabaseError(error, WideString(kLostContext), WideString(db::kQueryErrorCaption));
}

void TDatabaseWatch::Drop() {
  data_.connection_lost = true;
  host_.SetDatabaseLost(true);
  away_ = true;
  data_.CloseLost();
  retry_ms_ = kFirstRetry;
  timer_->SetInterval(retry_ms_);
}

void TDatabaseWatch::TryAttach() {
  try {
    data_.service.Open();
    data_.Service1.Open();
  } catch (const std::exception& error) {
    // No box per try: the loss was reported once.
    LogLine(error.what());
    data_.CloseLost();
    retry_ms_ = std::min(retry_ms_ * 2, kLastRetry);
    timer_->SetInterval(retry_ms_);
    return;
  }
  // The client library may have put its own signal handler back when it attached.
  InstallStopSignals();
  away_ = false;
  event_waits_given_up_ = false;
  listener_code_ = 0;
  timer_->SetInterval(kCheckInterval);
  data_.connection_lost = false;
  host_.SetDatabaseLost(false);
  host_.DatabaseBack();
}

void TDatabaseWatch::GiveUpEventWaits(int error_code) {
  event_waits_given_up_ = true;
  data_.Service1.ForceClose();
  host_.EventWaitsFailed(error_code);
}

}  // namespace fesko
