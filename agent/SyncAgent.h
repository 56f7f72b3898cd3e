// What keeps the web service in step with the workshop database: the catch-up pass at start,
// the five live uploads that database events trigger, and the budget-state poll. The main
// window owns one and routes its creation handler, event handlers, timer and show handler here.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "agent/SyncMarkers.h"
#include "base/FormatSettings.h"
#include "base/TextKinds.h"
#include "database/Datamodule.h"

namespace fesko {

// What the sync needs of the window that owns it.
class SyncHost {
 public:
  // The account number box: its text is converted to an integer at every call.
  virtual AnsiString AccountText() = 0;
  virtual void SetAccountText(const AnsiString& text) = 0;
  virtual void SetPollInterval(int milliseconds) = 0;
  virtual void ShowBalloon(const WideString& title, const WideString& text) = 0;
  // The web service has failed since now (true) or answers again (false).
  virtual void SetWebFailing(bool failing) = 0;

 protected:
  ~SyncHost() = default;
};

class TSyncAgent {
 public:
  TSyncAgent(db::TDataModule1& data, SyncHost& host) : data_(data), host_(host) {}

  // Account number, base URL and poll interval from parametros (a database error is shown and
  // the rest goes on).
  void ReadSettings();
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
  void ReadPollSettings();

  const WideString& BaseUrl() const { return base_url_; }
  // A pass or the poll is under way.
  bool Running() const { return busy_ > 0; }

 private:
  // For each code of one changed kind, a digest of its documents in the order they went out.
  using Digests = std::map<int, std::size_t>;

  void CatchUpPass();
  void SendNewRows(ChangeKind kind);
  void SendChangedRows(ChangeKind kind);
  void Send(ChangeKind kind, const WideString& document);
  // Runs a pass; while the web service keeps failing, only the first failure goes on to its
  // box, the others, of any kind, to standard error until a call succeeds.
  void ReportingOnce(const std::function<void()>& pass);
  // A web call succeeded: a trouble noted before is over.
  void WebAnswered();
  int AccountNumber();
  void SetPollMinutes(int minutes);
  DateAndTime WindowStart(const DateAndTime& marker) const;

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
  SyncHost& host_;
  int busy_ = 0;
  bool web_failing_ = false;
  bool send_failed_ = false;  // the error leaving a pass is a web call's
  WideString base_url_;
  // What each changed kind last sent for the codes still inside the late-commit window (by
  // kind; those of new rows stay empty), and the moment the markers were first seeded, if this
  // run did it.
  std::array<Digests, kChangeKinds.size()> sent_;
  std::optional<DateAndTime> seeded_;
};

}  // namespace fesko
