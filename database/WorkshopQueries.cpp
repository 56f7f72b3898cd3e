#include "database/WorkshopQueries.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace fesko::db {
namespace {

using Lines = std::initializer_list<std::string_view>;

// Lines that the repair statements and the repair-state statement share.
constexpr std::string_view kFromRepairs = "FROM Reparaciones";
constexpr std::string_view kJoinBudgets =
    "LEFT JOIN Presupuestos ON Reparaciones.Codigo=Presupuestos.IdReparacion";

// Closes the query and replaces its text with the statement's lines.
void Load(TMDOQuery& query, Lines lines) {
  query.Close();
  query.SQL().Clear();
  for (std::string_view line : lines) query.SQL().Add(line);
}

// Column 0 of the first row; "" or 0 for an empty result or a NULL.
AnsiString FirstText(TMDOQuery& query) {
  if (query.IsEmpty()) return {};
  return query.Fields(0).AsString();
}

int FirstInteger(TMDOQuery& query) {
  if (query.IsEmpty()) return 0;
  return query.Fields(0).AsInteger();
}

// The nine lines the repair statements share, around their state line and their selection.
void LoadRepairStatement(TMDOQuery& query, std::string_view state_line,
                         std::string_view selection_line, std::string_view second_selection = {}) {
  query.Close();
  query.SQL().Clear();
  for (std::string_view line : Lines{
           "Select Reparaciones.Codigo as Orden, Reparaciones.Cliente as Cliente,",
           "Tipo_Aparato.Nombre as NomTipoEquipo,Aparato.Marca,Aparato.Modelo,",
           "Reparaciones.NS,Reparaciones.Falla,Reparaciones.FechaIngreso,",
           state_line,
           "Presupuestos.Detalle as InformeAlCliente,Monedas.Codigo,Presupuestos.Total",
           kFromRepairs,
           "LEFT JOIN Aparato ON Reparaciones.ns=Aparato.ns",
           "LEFT JOIN Tipo_Aparato ON Aparato.TipoAparato=Tipo_Aparato.Codigo",
           kJoinBudgets,
           selection_line,
       }) {
    query.SQL().Add(line);
  }
  if (!second_selection.empty()) query.SQL().Add(second_selection);
}

void BindMoment(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora) {
  query.ParamByName("fecha").SetAsDate(fecha);
  query.ParamByName("hora").SetAsTime(hora);
}

// The condition on `column` that also takes the gaps' codes, so one statement reads both; without
// gaps the code condition alone, as it always was. The bounds are integers of our own and go in
// as literals.
std::string AfterCodeOrInGaps(std::string_view column, const CodeGaps& gaps) {
  if (gaps.empty()) return std::string(column) + ">:codigo";
  // Appended only: GCC 12 at -O3 warns falsely of overlapping copies on an insert at the front.
  std::string condition = "(";
  condition.append(column).append(">:codigo");
  for (const CodeGap& gap : gaps.Ranges()) {
    condition.append(" or ").append(column);
    if (gap.first == gap.last) {
      condition.append("=").append(std::to_string(gap.first));
    } else {
      condition.append(" between ")
          .append(std::to_string(gap.first))
          .append(" and ")
          .append(std::to_string(gap.last));
    }
  }
  return condition.append(")");
}

}  // namespace

// ---- Settings ---------------------------------------------------------------------------------

void SaveWebSettings(TMDOQuery& query, const AnsiString& appweburl,
                     const AnsiString& tiempoupdapp) {
  Load(query, {"update parametros set appweburl=:appweburl,tiempoupdapp=:tiempoupdapp"});
  query.ParamByName("appweburl").SetAsString(appweburl);
  query.ParamByName("tiempoupdapp").SetAsString(tiempoupdapp);
  query.ExecSQL();
}

void ReadWebSettings(TMDOQuery& query) {
  Load(query, {"select appweburl,tiempoupdapp from parametros"});
  query.Open();
}

AnsiString ReadAccountNumber(TMDOQuery& query) {
  Load(query, {"Select licenciaappweb from parametros"});
  query.Open();
  return FirstText(query);
}

int ReadPollMinutes(TMDOQuery& query, const AnsiString& licenciaappweb) {
  Load(query, {"Select tiempoupdapp from parametros where licenciaappweb=:licenciaappweb"});
  query.ParamByName("licenciaappweb").SetAsString(licenciaappweb);
  query.Open();
  return FirstInteger(query);
}

AnsiString ReadBaseUrl(TMDOQuery& query) {
  Load(query, {"select appweburl from parametros"});
  query.Open();
  return FirstText(query);
}

// ---- Company and lists ------------------------------------------------------------------------

void ReadCompany(TMDOQuery& query) {
  Load(query, {"Select nombre,direccion,localidad,departamento,cp,telefono,correoe,paginaweb from "
               "empresa"});
  query.Open();
}

void ListBudgetStates(TMDOQuery& query) {
  Load(query, {"Select codigo,nombre from estadopresup"});
  query.Open();
}

void ListStates(TMDOQuery& query) {
  Load(query, {"Select codigo,nombre from estado"});
  query.Open();
}

void ListCurrencies(TMDOQuery& query) {
  Load(query, {"Select codigo,nombre from monedas"});
  query.Open();
}

void ListClients(TMDOQuery& query) {
  Load(query, {"Select codigo,nombres,login,\"PASSWORD\" from clientes"});
  query.Open();
}

void ListRepairs(TMDOQuery& query) {
  LoadRepairStatement(
      query, "presupuestos.Estado,Reparaciones.Estado,Presupuestos.Fecha as FechaPresupuesto,",
      "LEFT JOIN Monedas ON Presupuestos.Moneda=Monedas.Codigo");
  query.Open();
}

// ---- Clients ----------------------------------------------------------------------------------

int MaxClientCode(TMDOQuery& query) {
  Load(query, {"select max(codigo) from clientes"});
  query.Open();
  return FirstInteger(query);
}

void ClientsAfterCode(TMDOQuery& query, int codigo, const CodeGaps& gaps) {
  Load(query, {"select codigo,nombres,login,\"PASSWORD\" from clientes where " +
               AfterCodeOrInGaps("codigo", gaps)});
  query.ParamByName("codigo").SetAsInteger(codigo);
  query.Open();
}

// The change moment is one point in time: a later day counts whatever its time of day. Each
// comparison is written so the (fecha_aud, hora_aud) index can serve it; the server's time of
// day is cast to a plain time, as in ReadServerMoment.
void ClientsChangedSince(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora) {
  Load(query, {"select codigo,nombres,login,\"PASSWORD\" from clientes where (fecha_aud > :fecha "
               "or (fecha_aud = :fecha and hora_aud >= :hora))",
               "and (fecha_aud < current_date or (fecha_aud = current_date and hora_aud <= "
               "cast(current_time as time)))"});
  BindMoment(query, fecha, hora);
  query.Open();
}

// ---- Repairs and budgets ----------------------------------------------------------------------

int MaxRepairCode(TMDOQuery& query) {
  Load(query, {"select max(codigo) from reparaciones"});
  query.Open();
  return FirstInteger(query);
}

void RepairsAfterCode(TMDOQuery& query, int codigo, const CodeGaps& gaps) {
  std::string where = "LEFT JOIN Monedas ON Presupuestos.Moneda=Monedas.Codigo where " +
                      AfterCodeOrInGaps("reparaciones.codigo", gaps);
  LoadRepairStatement(query,
                      "presupuestos.Estado,Reparaciones.estado as EstadoRep,Presupuestos.Fecha as "
                      "FechaPresupuesto,",
                      where);
  query.ParamByName("codigo").SetAsInteger(codigo);
  query.Open();
}

void RepairsChangedSince(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora) {
  LoadRepairStatement(
      query,
      "presupuestos.Estado,reparaciones.estado as estadorep,Presupuestos.Fecha as "
      "FechaPresupuesto,",
      "LEFT JOIN Monedas ON Presupuestos.Moneda=Monedas.Codigo where (reparaciones.fecha_aud > "
      ":fecha or (reparaciones.fecha_aud = :fecha and reparaciones.hora_aud >= :hora))",
      "and (reparaciones.fecha_aud < current_date or (reparaciones.fecha_aud = current_date and "
      "reparaciones.hora_aud <= cast(current_time as time)))");
  BindMoment(query, fecha, hora);
  query.Open();
}

void BudgetsChangedSince(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora) {
  LoadRepairStatement(
      query, "presupuestos.Estado,Presupuestos.Fecha as FechaPresupuesto,",
      "LEFT JOIN Monedas ON Presupuestos.Moneda=Monedas.Codigo where (presupuestos.fecha_aud > "
      ":fecha or (presupuestos.fecha_aud = :fecha and presupuestos.hora_aud >= :hora))",
      "and (presupuestos.fecha_aud < current_date or (presupuestos.fecha_aud = current_date and "
      "presupuestos.hora_aud <= cast(current_time as time)))");
  BindMoment(query, fecha, hora);
  query.Open();
}

void RepairStateByRepair(TMDOQuery& query, int codigo) {
  Load(query,
       {"Select Reparaciones.Codigo as Orden,",
        "presupuestos.Estado,reparaciones.estado,Presupuestos.Fecha as FechaPresupuesto,",
        "Detalle as InformeAlCliente,Monedas.Codigo,Presupuestos.Total", kFromRepairs, kJoinBudgets,
        "LEFT JOIN Monedas ON Presupuestos.Moneda=Monedas.Codigo where "
        "reparaciones.codigo=:codigo"});
  query.ParamByName("codigo").SetAsInteger(codigo);
  query.Open();
}

int SetBudgetState(TMDOQuery& query, const AnsiString& idreparacion, const AnsiString& estado) {
  Load(query, {"update presupuestos set estado=:estado where idreparacion=:idreparacion"});
  query.ParamByName("idreparacion").SetAsString(idreparacion);
  query.ParamByName("estado").SetAsString(estado);
  query.ExecSQL();
  return query.RowsAffected();
}

// ---- The server's clock -----------------------------------------------------------------------

// From Firebird 4 on, current_time carries a time zone; the cast gives the plain time of day in
// the session's zone on every version. current_date is a plain date on all of them.
DateAndTime ReadServerMoment(TMDOQuery& query) {
  Load(query, {"select current_date, cast(current_time as time) from rdb$database"});
  query.Open();
  return {query.Fields(0).AsDate(), query.Fields(1).AsTime()};
}

}  // namespace fesko::db
