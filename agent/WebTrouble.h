// The one send path of the sync, and how the sync's troubles are told, each once and as itself:
// - the web service failing: one box for the whole outage and the tray says since when; the
//   first call that succeeds again ends it;
// - settings that cannot be used (the account number, the base URL): found before any call,
//   a box of their own and a tray line, until they are read again and are good;
// - a local fault that stays (an unreadable marker, a config.ini that cannot be written): the
//   box it always had once, then standard error until a pass of that kind gets past it, and a
//   tray line meanwhile.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "agent/ChangeKinds.h"
#include "agent/SyncHost.h"
#include "agent/SyncSettings.h"
#include "web/Services.h"

namespace fesko {

class TWebTrouble {
 public:
  // The passes whose local faults are told apart: one per change kind (by its index), then
  // the catch-up and the poll's sends.
  static constexpr std::size_t kCatchUpPass = kChangeKinds.size();
  static constexpr std::size_t kPollPass = kCatchUpPass + 1;

  TWebTrouble(SyncHost& host, const TSyncSettings& settings) : host_(host), settings_(settings) {}

  // Sends a document to the service with the account number of the moment; settings that
  // cannot be used raise before the call.
  void Send(web::Service service, const WideString& document);
  // A web call succeeded: a web trouble noted before is over.
  void Answered();
  // The settings were read again: a settings fault is over when they are good now.
  void SettingsRead();
  // Whether the settings can be used for a call of one's own (the poll's download); when they
  // cannot, their fault is told as any send would tell it.
  bool SettingsUsable();
  // Runs a pass of sends. Of the errors leaving it, the first of a web outage and the first of
  // a local fault go on to their box; a settings fault shows its own box once; the rest go to
  // standard error until the trouble is over.
  void ReportingOnce(std::size_t pass, const std::function<void()>& run);

 private:
  enum class Failure { None, Settings, Web };

  // Raises what makes the account number or the base URL unusable.
  void CheckSettings() const;
  // The settings served a call: a settings fault noted before is over.
  void SettingsFaultOver();
  void ReportSettingsFault(const std::exception& error);
  // Notes a local fault of the pass; true when its box is still to be shown.
  bool NewLocalFault(std::size_t pass, const std::string& text);
  // A pass went through: its local fault, and one of the catch-up that every kind has passed
  // since, are over.
  void PassWent(std::size_t pass);
  bool AnyLocalFault() const;

  SyncHost& host_;
  const TSyncSettings& settings_;
  bool failing_ = false;
  bool settings_fault_ = false;
  Failure failure_ = Failure::None;  // what the error leaving a pass is
  // The message of each pass's standing local fault.
  std::array<std::optional<std::string>, kPollPass + 1> local_;
  // The change kinds (as bits of their index) that passed since the catch-up's local fault.
  unsigned passed_since_catch_up_fault_ = 0;
};

}  // namespace fesko
