#include "agent/WebTrouble.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "agent/ServiceManager.h"
#include "base/Errors.h"
#include "base/MessageBox.h"

namespace fesko {

void TWebTrouble::Send(web::Service service, const WideString& document) {
  PingWatchdog();  // between two calls of a pass, which holds the event loop
  failure_ = Failure::Settings;
  web::ServicePort port = web::OpenServicePort(service, settings_.BaseUrl());
  const int account = settings_.AccountNumber();
  SettingsFaultOver();
  failure_ = Failure::Web;
  port.Execute(account, document);
  failure_ = Failure::None;
  Answered();
}

void TWebTrouble::Answered() {
  static constexpr std::u16string_view kWebBackTitle = u"Fesko 15318 - Servicio Web";
  static constexpr std::u16string_view kWebBackText = u"El servicio web responde de nuevo";
  if (!std::exchange(failing_, false)) return;
  host_.SetWebFailing(false);
  host_.ShowBalloon(WideString(kWebBackTitle), WideString(kWebBackText));
}

void TWebTrouble::CheckSettings() const {
  web::OpenServicePort(web::Service::download, settings_.BaseUrl());
  static_cast<void>(settings_.AccountNumber());
}

void TWebTrouble::SettingsFaultOver() {
  if (std::exchange(settings_fault_, false)) host_.SetSettingsFault({});
}

void TWebTrouble::SettingsRead() {
  if (!settings_fault_) return;
  try {
    CheckSettings();
  } catch (const std::exception&) {
    return;  // still at fault: told already
  }
  SettingsFaultOver();
}

bool TWebTrouble::SettingsUsable() {
  try {
    CheckSettings();
  } catch (const std::exception& error) {
    ReportSettingsFault(error);
    return false;
  }
  SettingsFaultOver();
  return true;
}

void TWebTrouble::ReportSettingsFault(const std::exception& error) {
  static constexpr std::u16string_view kCaption = u"Fesko 15318 - Configuración";
  static constexpr std::u16string_view kText =
      u"La configuración de la sincronización no es válida: %1\r\nNo se enviará nada al servicio "
      u"web hasta corregirla en la tabla parametros.";
  WideString reason = ErrorMessage(error);
  if (std::exchange(settings_fault_, true)) return LogLine(WideToUtf8(reason));
  host_.SetSettingsFault(reason);
  WideString text(kText);
  text.replace(text.find(u"%1"), 2, reason);
  MessageBox(text, WideString(kCaption), MB_OK | MB_ICONWARNING);
}

bool TWebTrouble::AnyLocalFault() const {
  return std::ranges::any_of(local_, [](const auto& fault) { return fault.has_value(); });
}

bool TWebTrouble::NewLocalFault(std::size_t pass, const std::string& text) {
  // The same fault met by another pass (the catch-up's marker, then its kind's) is the same
  // trouble.
  const bool told = local_[pass] || std::find(local_.begin(), local_.end(), text) != local_.end();
  const bool any = AnyLocalFault();
  local_[pass] = text;
  if (pass == kCatchUpPass) passed_since_catch_up_fault_ = 0;
  if (!any) host_.SetLocalFault(true);
  return !told;
}

void TWebTrouble::PassWent(std::size_t pass) {
  constexpr unsigned kEveryKind = (1u << kChangeKinds.size()) - 1;
  if (!AnyLocalFault()) return;
  if (pass < kChangeKinds.size()) passed_since_catch_up_fault_ |= 1u << pass;
  local_[pass].reset();
  if (pass == kCatchUpPass) local_.fill(std::nullopt);  // it reads and writes every marker
  if (passed_since_catch_up_fault_ == kEveryKind) local_[kCatchUpPass].reset();
  if (!AnyLocalFault()) host_.SetLocalFault(false);
}

void TWebTrouble::ReportingOnce(std::size_t pass, const std::function<void()>& run) {
  failure_ = Failure::None;
  try {
    run();
  } catch (const std::exception& error) {
    switch (std::exchange(failure_, Failure::None)) {
      case Failure::Web:
        if (!std::exchange(failing_, true)) {
          host_.SetWebFailing(true);
          throw;
        }
        break;
      case Failure::Settings:
        return ReportSettingsFault(error);
      case Failure::None:
        if (NewLocalFault(pass, error.what())) throw;
        break;
    }
    LogLine(error.what());
    return;
  }
  PassWent(pass);
}

}  // namespace fesko
