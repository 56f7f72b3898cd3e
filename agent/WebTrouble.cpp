#include "agent/WebTrouble.h"

#include <exception>
#include <string_view>
#include <utility>

#include "agent/ServiceManager.h"
#include "base/MessageBox.h"

namespace fesko {

void TWebTrouble::Send(web::Service service, const WideString& document) {
  PingWatchdog();  // between two calls of a pass, which holds the event loop
  try {
    web::OpenServicePort(service, settings_.BaseUrl()).Execute(settings_.AccountNumber(), document);
  } catch (...) {
    send_failed_ = true;
    throw;
  }
  Answered();
}

void TWebTrouble::Answered() {
  static constexpr std::u16string_view kWebBackTitle = u"Fesko 15318 - Servicio Web";
  static constexpr std::u16string_view kWebBackText = u"El servicio web responde de nuevo";
  if (!std::exchange(failing_, false)) return;
  host_.SetWebFailing(false);
  host_.ShowBalloon(WideString(kWebBackTitle), WideString(kWebBackText));
}

void TWebTrouble::ReportingOnce(const std::function<void()>& pass) {
  send_failed_ = false;
  try {
    pass();
  } catch (const std::exception& error) {
    if (!std::exchange(send_failed_, false)) throw;
    if (!std::exchange(failing_, true)) {
      host_.SetWebFailing(true);
      throw;
    }
    LogLine(error.what());
  }
}

}  // namespace fesko
