#include "agent/ChangeKinds.h"

#include "agent/UPpal.h"
#include "database/Datamodule.h"
#include "database/WorkshopQueries.h"

namespace fesko {
namespace {

constexpr std::array<int, 4> kClientColumns = {0, 1, 2, 3};
constexpr std::array<int, 14> kRepairColumns = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr std::array<int, 7> kRepairStateColumns = {0, 8, 9, 10, 11, 12, 13};
constexpr std::array<int, 6> kBudgetStateColumns = {0, 8, 9, 10, 11, 12};

constexpr std::u16string_view kRepairsSearchError = u"error en la Busqueda de Reparaciones";
constexpr std::u16string_view kRepairEditedText =
    u"Se Enviaron exitosamente los Datos de la Reparación Editada";

using db::TDataModule1;
using web::Service;

// Files written before gaps were kept have no gaps key: that reads as no gaps.
constexpr std::array<KindFacts, kChangeKinds.size()> kTable = {{
    {.kind = ChangeKind::ChangedClients,
     .event = "Actualizar_Cliente_Xml",
     .listener = &TFrmPpal::EventoActualizarCliente,
     .handler = &TFrmPpal::Evento2EventAlert,
     .service = Service::upload_editar_cliente,
     .record = web::kClientRecord,
     .tags = web::kClientTags,
     .columns = kClientColumns,
     .select_changed = db::ClientsChangedSince,
     .catch_up_query = &TDataModule1::Consulta,
     .catch_up_text = u"Se Enviaron Exitosamente los Datos Actualizados de los Cliente ",
     .live_title = kSendingTitle,
     .live_text = u"Se Enviaron Exitosamente los Datos Actualizados del Cliente ",
     .live_error = u"error en la Busqueda de cliente",
     .marker = {"fecha_actualizacion_cliente", "Fecha", "Hora", nullptr}},
    {.kind = ChangeKind::NewClients,
     .event = "Enviar_Cliente_Xml",
     .listener = &TFrmPpal::EventoNuevoCliente,
     .handler = &TFrmPpal::Evento1EventAlert,
     .service = Service::upload_nuevo_cliente,
     .record = web::kClientRecord,
     .tags = web::kClientTags,
     .columns = kClientColumns,
     .select_new = db::ClientsAfterCode,
     .catch_up_query = &TDataModule1::ConsultaVs,
     .catch_up_text = u"Se Enviaron Exitosamente los Nuevos Datos de los Cliente ",
     .live_title = kSendingTitle,
     .live_text = u"Se Enviaron exitosamente los Datos del Nuevo Cliente ",
     .live_error = u"error en la Busqueda de nuevo cliente",
     .marker = {"ultimo_cliente", "cliente", nullptr, "huecos"}},
    {.kind = ChangeKind::NewRepairs,
     .event = "Nueva_Reparacion",
     .listener = &TFrmPpal::EventoNuevaReparacion,
     .handler = &TFrmPpal::Evento3EventAlert,
     .service = Service::upload_nueva_reparacion,
     .record = web::kRepairRecord,
     .tags = web::kNewRepairTags,
     .columns = kRepairColumns,
     .select_new = db::RepairsAfterCode,
     .catch_up_query = &TDataModule1::ConsultaSimple,
     .catch_up_text = u"Se Enviaron Exitosamente los Nuevos Datos de Reparaciones",
     .live_title = kSendingTitle,
     .live_text = u"Se Enviaron exitosamente los Datos de la Nueva Reparación ",
     .live_error = kRepairsSearchError,
     .marker = {"nueva_reparacion", "codigo", nullptr, "huecos"}},
    {.kind = ChangeKind::ChangedRepairs,
     .event = "Editar_Reparacion",
     .listener = &TFrmPpal::EventoEditarReparacion,
     .handler = &TFrmPpal::EventoEditarReparacionEventAlert,
     .service = Service::upload_editar_reparacion,
     .record = web::kRepairRecord,
     .tags = web::kRepairStateTags,
     .columns = kRepairStateColumns,
     .select_changed = db::RepairsChangedSince,
     .catch_up_query = &TDataModule1::consultaRep,
     .catch_up_text =
         u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion a traves de Reparacion",
     .live_title = u"Fesko 15318 - Enviando Datos a Traves de Reparaciones",
     .live_text = kRepairEditedText,
     .live_error = kRepairsSearchError,
     .marker = {"nueva_reparacion", "fecha", "hora", nullptr}},
    {.kind = ChangeKind::ChangedBudgets,
     .event = "Editar_Presupuesto",
     .listener = &TFrmPpal::EventoEditarPresupuesto,
     .handler = &TFrmPpal::EventoEditarPresupuestoEventAlert,
     .service = Service::upload_editar_reparacion,
     .record = web::kRepairRecord,
     .tags = web::kBudgetStateTags,
     .columns = kBudgetStateColumns,
     .select_changed = db::BudgetsChangedSince,
     .catch_up_query = &TDataModule1::ConsultaPresup,
     .catch_up_text =
         u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion, a traves de Presupuestos",
     .live_title = u"Fesko 15318 - Enviando Datos a Traves de Presupuestos",
     .live_text = kRepairEditedText,
     .live_error = kRepairsSearchError,
     .marker = {"presupuesto", "fecha", "hora", nullptr}},
}};

// Entry i is the kind numbered i, and kChangeKinds lists them so; a kind's marker is a code
// (with gaps) exactly where it is of new rows.
constexpr bool InKindOrder() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    const KindFacts& facts = kTable[i];
    if (IndexOf(facts.kind) != i || kChangeKinds[i] != facts.kind) return false;
    if (IsNewKind(facts.kind) != (facts.marker.gaps_key != nullptr) ||
        IsNewKind(facts.kind) == (facts.marker.time_key != nullptr)) {
      return false;
    }
  }
  return true;
}
static_assert(InKindOrder(), "the table of change kinds is out of the order of ChangeKind");

}  // namespace

const KindFacts& FactsOf(ChangeKind kind) {
  return kTable[IndexOf(kind)];
}

std::span<const KindFacts> AllKindFacts() {
  return kTable;
}

}  // namespace fesko
