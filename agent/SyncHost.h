// What the sync needs of the window that owns it.
#pragma once

#include "base/TextKinds.h"

namespace fesko {

class SyncHost {
 public:
  // The account number box: its text is converted to an integer at every call.
  virtual AnsiString AccountText() = 0;
  virtual void SetAccountText(const AnsiString& text) = 0;
  virtual void SetPollInterval(int milliseconds) = 0;
  virtual void ShowBalloon(const WideString& title, const WideString& text) = 0;
  // The web service has failed since now (true) or answers again (false).
  virtual void SetWebFailing(bool failing) = 0;
  // The settings cannot be used since now, for `reason` (not empty), or are good again (empty).
  virtual void SetSettingsFault(const WideString& reason) = 0;
  // A local fault (config.ini, its markers) has stood since now (true) or is over (false).
  virtual void SetLocalFault(bool stands) = 0;

 protected:
  ~SyncHost() = default;
};

}  // namespace fesko
