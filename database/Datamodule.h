// The data module: the two connections, the one transaction and the query components the
// whole program shares for its run. Created before anything else and destroyed last.
#pragma once

#include <functional>

#include "database/MDODatabase.h"
#include "database/MDOQuery.h"

namespace fesko::db {

class TDataModule1 {
 public:
  // Loads the client library (client error 1 when it cannot) and wires the components together.
  TDataModule1();
  ~TDataModule1();
  TDataModule1(const TDataModule1&) = delete;
  TDataModule1& operator=(const TDataModule1&) = delete;

  // The members are declared in creation order and destroyed in reverse: queries first, then
  // the event connection, the transaction and the query connection.
  TMDODatabase service;
  TMDOTransaction transaccion;
  TIBDatabase Service1;

  // The query components, each on `service` and `transaccion`, fetching 1000 rows at a time.
  TMDOQuery Consulta{"Consulta"};
  TMDOQuery ConsultaVs{"ConsultaVs"};
  TMDOQuery ConsultaSimple{"ConsultaSimple"};
  TMDOQuery consultaRep{"consultaRep"};
  TMDOQuery ConsultaPresup{"ConsultaPresup"};
  TMDOQuery consultaestado{"consultaestado"};
  TMDOQuery consultaempresa{"consultaempresa"};
  TMDOQuery ConsultaProduccion{"ConsultaProduccion"};

  // Set once a unit of work met a network or shutdown error, or the agent found the database
  // gone: what runs by itself (the sweep) stops asking it, and what fails until the agent has
  // attached again goes to the log only. Cleared once both connections are back.
  bool connection_lost = false;
  // Called when a unit of work sets connection_lost; it must not close anything itself, as the
  // unit may run inside a listener's delivery.
  std::function<void()> OnConnectionLost;

  // Ends the transaction and closes both connections, which may be gone, without raising.
  void CloseLost() noexcept;
};

// The first step of every unit of work: roll back `transaccion` if a failed unit left it
// active; otherwise do nothing.
void RollbackIfActive(TDataModule1& data);

}  // namespace fesko::db
