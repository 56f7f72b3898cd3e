#include "agent/SyncSettings.h"

#include <climits>

#include "base/TextHelpers.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"

namespace fesko {

int TSyncSettings::AccountNumber() const {
  return StrToInt(host_.AccountText());
}

void TSyncSettings::SetPollMinutes(int minutes) {
  constexpr int kMillisecondsPerMinute = 60000;
  if (minutes <= 0) return host_.SetPollInterval(0);  // the timer stops
  host_.SetPollInterval(
      minutes > INT_MAX / kMillisecondsPerMinute ? INT_MAX : minutes * kMillisecondsPerMinute);
}

void TSyncSettings::Read() {
  db::RunUnitOfWork(data_, {u"error en la busqueda de licencia", db::kQueryErrorCaption}, [&] {
    host_.SetAccountText(db::ReadAccountNumber(data_.Consulta));
    base_url_ = AnsiToWide(LowerAscii(db::ReadBaseUrl(data_.Consulta)));
    SetPollMinutes(db::ReadPollMinutes(data_.Consulta, host_.AccountText()));
  });
}

void TSyncSettings::ReadForPoll() {
  db::RunUnitOfWork(
      data_, {u"error en la busqueda del tiempo de actualizacion", db::kQueryErrorCaption}, [&] {
        host_.SetAccountText(db::ReadAccountNumber(data_.Consulta));
        SetPollMinutes(db::ReadPollMinutes(data_.Consulta, host_.AccountText()));
      });
}

}  // namespace fesko
