// What keeps the web service in step with the workshop database: the catch-up pass at start,
// the five live uploads that database events trigger, and the budget-state poll. The main
// window owns one and routes its creation handler, event handlers, timer and show handler here.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

 protected:
  ~SyncHost() = default;
};

// One code/state pair of the download reply, trimmed, as the web service sent it.
struct BudgetStateChange {
  WideString code;
  WideString state;
};

// The pairs of a download reply, in order. Empty when the reply is empty, carries an error
// text, or holds no "<Orden>". The scan stops at the first pair whose tags are missing or out
// of order, so a malformed reply can never keep it going.
std::vector<BudgetStateChange> ScanDownloadReply(WideString reply);

class TSyncAgent {
 public:
  TSyncAgent(db::TDataModule1& data, SyncHost& host) : data_(data), host_(host) {}

  // Account number, base URL and poll interval from parametros (a database error is shown and
  // the rest goes on).
  void ReadSettings();
  // Seeds the markers on the first run, then uploads what changed since them and moves them.
  void CatchUp();

  // The live uploads, one per database event.
  void NewClients();
  void ChangedClients();
  void NewRepairs();
  void ChangedRepairs();
  void ChangedBudgets();

  // One tick of the poll timer, and the show handler's refresh of the account and interval.
  void Poll();
  void ReadPollSettings();

  const WideString& BaseUrl() const { return base_url_; }

 private:
  struct Upload {
    int code;
    WideString document;
  };
  // For each code of one changed kind, a digest of its documents in the order they went out.
  using Digests = std::map<int, std::size_t>;

  void SendNewRows(bool clients);
  void SendChangedRows(int kind);
  int AccountNumber();
  void SetPollMinutes(int minutes);
  DateAndTime WindowStart(const DateAndTime& marker) const;

  db::TDataModule1& data_;
  SyncHost& host_;
  WideString base_url_;
  // What each changed kind (clients, repairs, budgets) last sent for the codes still inside
  // the late-commit window, and the moment the markers were first seeded, if this run did it.
  std::array<Digests, 3> sent_;
  std::optional<DateAndTime> seeded_;
};

}  // namespace fesko
