// The data module: the two connections, the one transaction and the query components the
// whole program shares for its run. Created before anything else and destroyed last.
#pragma once

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

  // Set once a unit of work met a network or shutdown error: the attachment is gone, and what
  // runs by itself (the sweep) stops asking it instead of failing once a minute.
  bool connection_lost = false;
};

// The first step of every unit of work: roll back `transaccion` if a failed unit left it
// active; otherwise do nothing.
void RollbackIfActive(TDataModule1& data);

}  // namespace fesko::db
