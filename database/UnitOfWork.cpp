#include "database/UnitOfWork.h"

#include <exception>

#include "base/MessageBox.h"
#include "base/TextKinds.h"
#include "database/MDOErrors.h"

namespace fesko::db {

bool RunUnitOfWork(TDataModule1& data, UnitTexts texts, const std::function<void()>& work,
                   const std::function<void()>& after_commit) {
  try {
    RunUnitOfWork(data, work);
    if (after_commit) after_commit();
  } catch (const EMDOError& error) {
    if (data.connection_lost) {
      // The loss was reported when it was met; what fails until the agent is back is noted.
      LogLine(WideToUtf8(WideString(texts.context) + u": " + error.Message()));
      return false;
    }
    if (IsLostConnection(error)) {
      data.connection_lost = true;
      // A rollback on the lost attachment fails as well; closing it ends the transaction.
      try {
        data.transaccion.Rollback();
      } catch (const EMDOError&) {
      }
      if (data.OnConnectionLost) data.OnConnectionLost();
      ShowDatabaseError(error, WideString(texts.context), WideString(texts.caption));
      return false;
    }
    data.transaccion.Rollback();
    ShowDatabaseError(error, WideString(texts.context), WideString(texts.caption));
    return false;
  }
  return true;
}

bool RunUnitOfWork(TDataModule1& data, UnitTexts texts, const std::function<void()>& work) {
  return RunUnitOfWork(data, texts, work, nullptr);
}

void RunUnitOfWork(TDataModule1& data, const std::function<void()>& work) {
  RollbackIfActive(data);
  data.transaccion.StartTransaction();
  work();
  data.transaccion.Commit();
}

bool RunGuardedSteps(TDataModule1& data, UnitTexts texts, std::size_t count,
                     const std::function<void(std::size_t)>& step) {
  return RunUnitOfWork(data, texts, [&] {
    for (std::size_t i = 0; i < count; ++i) {
      try {
        step(i);
      } catch (const std::exception&) {
        // A step that cannot be done is skipped; the others go on.
      }
    }
  });
}

}  // namespace fesko::db
