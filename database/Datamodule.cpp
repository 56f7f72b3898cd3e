#include "database/Datamodule.h"

namespace fesko::db {

TDataModule1::TDataModule1() {
  service.SetDefaultTransaction(&transaccion);
  transaccion.SetDefaultDatabase(&service);
  transaccion.DefaultAction = TACommit;
  transaccion.AutoCommit = false;
}

TDataModule1::~TDataModule1() = default;

}  // namespace fesko::db
