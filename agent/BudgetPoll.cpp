#include "agent/BudgetPoll.h"

#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "base/TextHelpers.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "web/DownloadReply.h"
#include "web/RecordDocument.h"

namespace fesko {

void TBudgetPoll::Tick() {
  static constexpr std::u16string_view kUpdateError = u"error en la actualizacion de presupuestos";
  static constexpr std::u16string_view kUpdateCaption = db::kQueryErrorCaption;
  // Settings that cannot be used are told, not taken for the web service being away.
  if (!web_.SettingsUsable()) return;
  WideString reply;
  try {
    reply = web::OpenServicePort(web::Service::download, settings_.BaseUrl())
                .Execute(settings_.AccountNumber());
    web_.Answered();
  } catch (const std::exception&) {
    // The web service may be away for a while; the next tick asks again.
  }
  std::vector<web::BudgetStateChange> changes = web::ScanDownloadReply(std::move(reply));
  if (changes.empty()) return;

  // A pair that cannot be applied or re-read is skipped; the others go on. A code without
  // budgets here updates nothing: there is no repair to re-send, and nothing was applied.
  int applied = 0;
  std::vector<WideString> repairs;
  bool done = db::RunGuardedSteps(
      data_, {kUpdateError, kUpdateCaption}, changes.size(), [&](std::size_t i) {
        const web::BudgetStateChange& change = changes[i];
        const AnsiString code = WideToAnsi(change.code);
        if (db::SetBudgetState(data_.Consulta, code, WideToAnsi(change.state)) <= 0) return;
        ++applied;
        // Re-read in the same transaction, so the document carries the new state.
        db::RepairStateByRepair(data_.ConsultaVs, StrToInt(code));
        repairs.push_back(web::RecordDocument(
            web::BuildRecord(web::kRepairRecord, web::kRepairStateTags, data_.ConsultaVs)));
      });
  // States that were rolled back are not sent.
  if (!done) return;

  // The states are written whatever their sends do: the balloon says so before a failed send
  // is reported.
  std::exception_ptr failure;
  try {
    web_.ReportingOnce(TWebTrouble::kPollPass, [&] {
      for (const WideString& repair : repairs) {
        web_.Send(web::Service::upload_editar_reparacion, repair);
      }
    });
  } catch (...) {
    failure = std::current_exception();
  }
  if (applied > 0) {
    host_.ShowBalloon(u"Fesko 15318 - Actualización Exitosa",
                      u"Se Actualizaron con Exito los Datos de Presupuestos");
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace fesko
