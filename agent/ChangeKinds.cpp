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
    {ChangeKind::ChangedClients,
     "Actualizar_Cliente_Xml",
     &TFrmPpal::EventoActualizarCliente,
     &TFrmPpal::Evento2EventAlert,
     Service::upload_editar_cliente,
     web::kClientRecord,
     web::kClientTags,
     kClientColumns,
     nullptr,
     db::ClientsChangedSince,
     &TDataModule1::Consulta,
     u"Se Enviaron Exitosamente los Datos Actualizados de los Cliente ",
     kSendingTitle,
     u"Se Enviaron Exitosamente los Datos Actualizados del Cliente ",
     u"error en la Busqueda de cliente",
     {"fecha_actualizacion_cliente", "Fecha", "Hora", nullptr}},
    {ChangeKind::NewClients,
     "Enviar_Cliente_Xml",
     &TFrmPpal::EventoNuevoCliente,
     &TFrmPpal::Evento1EventAlert,
     Service::upload_nuevo_cliente,
     web::kClientRecord,
     web::kClientTags,
     kClientColumns,
     db::ClientsAfterCode,
     nullptr,
     &TDataModule1::ConsultaVs,
     u"Se Enviaron Exitosamente los Nuevos Datos de los Cliente ",
     kSendingTitle,
     u"Se Enviaron exitosamente los Datos del Nuevo Cliente ",
     u"error en la Busqueda de nuevo cliente",
     {"ultimo_cliente", "cliente", nullptr, "huecos"}},
    {ChangeKind::NewRepairs,
     "Nueva_Reparacion",
     &TFrmPpal::EventoNuevaReparacion,
     &TFrmPpal::Evento3EventAlert,
     Service::upload_nueva_reparacion,
     web::kRepairRecord,
     web::kNewRepairTags,
     kRepairColumns,
     db::RepairsAfterCode,
     nullptr,
     &TDataModule1::ConsultaSimple,
     u"Se Enviaron Exitosamente los Nuevos Datos de Reparaciones",
     kSendingTitle,
     u"Se Enviaron exitosamente los Datos de la Nueva Reparación ",
     kRepairsSearchError,
     {"nueva_reparacion", "codigo", nullptr, "huecos"}},
    {ChangeKind::ChangedRepairs,
     "Editar_Reparacion",
     &TFrmPpal::EventoEditarReparacion,
     &TFrmPpal::EventoEditarReparacionEventAlert,
     Service::upload_editar_reparacion,
     web::kRepairRecord,
     web::kRepairStateTags,
     kRepairStateColumns,
     nullptr,
     db::RepairsChangedSince,
     &TDataModule1::consultaRep,
     u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion a traves de Reparacion",
     u"Fesko 15318 - Enviando Datos a Traves de Reparaciones",
     kRepairEditedText,
     kRepairsSearchError,
     {"nueva_reparacion", "fecha", "hora", nullptr}},
    {ChangeKind::ChangedBudgets,
     "Editar_Presupuesto",
     &TFrmPpal::EventoEditarPresupuesto,
     &TFrmPpal::EventoEditarPresupuestoEventAlert,
     Service::upload_editar_reparacion,
     web::kRepairRecord,
     web::kBudgetStateTags,
     kBudgetStateColumns,
     nullptr,
     db::BudgetsChangedSince,
     &TDataModule1::ConsultaPresup,
     u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion, a traves de Presupuestos",
     u"Fesko 15318 - Enviando Datos a Traves de Presupuestos",
     kRepairEditedText,
     kRepairsSearchError,
     {"presupuesto", "fecha", "hora", nullptr}},
}};

// Entry i is the kind numbered i, and kChangeKinds lists them so; a kind's marker is a code
// exactly where it selects new rows.
constexpr bool InKindOrder() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    const KindFacts& facts = kTable[i];
    if (IndexOf(facts.kind) != i || kChangeKinds[i] != facts.kind) return false;
    if (IsNewKind(facts.kind) != (facts.select_new != nullptr) ||
        IsNewKind(facts.kind) == (facts.select_changed != nullptr) ||
        IsNewKind(facts.kind) != (facts.marker.gaps_key != nullptr) ||
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
