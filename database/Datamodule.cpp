#include "database/Datamodule.h"

namespace fesko::db {

TDataModule1::TDataModule1() {
  transaccion.SetDefaultDatabase(&service);
  transaccion.DefaultAction = TACommit;
  for (TMDOQuery* query : {&Consulta, &ConsultaVs, &ConsultaSimple, &consultaRep, &ConsultaPresup,
                           &consultaestado, &consultaempresa, &ConsultaProduccion}) {
    query->SetDatabase(&service);
    query->SetTransaction(&transaccion);
    query->BufferChunks = 1000;
  }
}

TDataModule1::~TDataModule1() = default;

void TDataModule1::CloseLost() noexcept {
  service.ForceClose();
  Service1.ForceClose();
}

void RollbackIfActive(TDataModule1& data) {
  if (data.transaccion.Active()) data.transaccion.Rollback();
}

}  // namespace fesko::db
