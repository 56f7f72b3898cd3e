// Every SQL statement the program runs against the workshop database, one operation each.
// An operation loads its statement into the query it is given, binds the parameters and opens
// or executes it; the result stays open on the query for the caller to read by position.
// Operations never start, commit or roll back a transaction and catch nothing: they run in the
// caller's unit of work and database errors reach the caller as EMDOError.
#pragma once

#include "base/CodeGaps.h"
#include "base/FormatSettings.h"
#include "base/TextKinds.h"
#include "database/MDOQuery.h"

namespace fesko::db {

// ---- Settings (table parametros) ----
void SaveWebSettings(TMDOQuery& query, const AnsiString& appweburl, const AnsiString& tiempoupdapp);
// Columns: appweburl, tiempoupdapp.
void ReadWebSettings(TMDOQuery& query);
AnsiString ReadAccountNumber(TMDOQuery& query);
int ReadPollMinutes(TMDOQuery& query, const AnsiString& licenciaappweb);
AnsiString ReadBaseUrl(TMDOQuery& query);

// ---- Company and lists ----
// nombre, direccion, localidad, departamento, cp, telefono, correoe, paginaweb.
void ReadCompany(TMDOQuery& query);
// codigo, nombre.
void ListBudgetStates(TMDOQuery& query);
void ListStates(TMDOQuery& query);
void ListCurrencies(TMDOQuery& query);
// Client rows: codigo, nombres, login, PASSWORD.
void ListClients(TMDOQuery& query);
// Repair rows (14 columns): Orden, Cliente, NomTipoEquipo, Marca, Modelo, NS, Falla,
// FechaIngreso, the budget's Estado, the repair's estado, FechaPresupuesto, InformeAlCliente,
// the currency's Codigo, Total. One row per budget; a repair without one has empty budget
// columns.
void ListRepairs(TMDOQuery& query);

// ---- Clients ----
// The highest client code; 0 for an empty table.
int MaxClientCode(TMDOQuery& query);
// The clients after the code, and those whose codes are among the gaps, in one statement.
void ClientsAfterCode(TMDOQuery& query, int codigo, const CodeGaps& gaps = {});
// Clients whose change moment (fecha_aud with hora_aud) is at or after the given one and not
// after the server's present moment.
void ClientsChangedSince(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora);

// ---- Repairs and budgets ----
int MaxRepairCode(TMDOQuery& query);
void RepairsAfterCode(TMDOQuery& query, int codigo, const CodeGaps& gaps = {});
// Repair rows of the repairs changed since the moment, as for clients.
void RepairsChangedSince(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora);
// Budget rows (13 columns: the repair row without the repair's estado) of the budgets changed
// since the moment.
void BudgetsChangedSince(TMDOQuery& query, const CalendarDate& fecha, const TimeOfDay& hora);
// State rows (7 columns): Orden, the budget's Estado, the repair's estado, FechaPresupuesto,
// InformeAlCliente, the currency's Codigo, Total.
void RepairStateByRepair(TMDOQuery& query, int codigo);
// Every budget of the repair gets the state; returns how many there were.
int SetBudgetState(TMDOQuery& query, const AnsiString& idreparacion, const AnsiString& estado);

// ---- The server's clock ----
// The database server's current date and time, read in the caller's transaction. The change
// columns are written by the server's clock, so markers compared with them come from here.
DateAndTime ReadServerMoment(TMDOQuery& query);

}  // namespace fesko::db
