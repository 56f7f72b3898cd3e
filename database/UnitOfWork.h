// The unit of work every window and the sync run on the shared transaction: roll back what a
// failed unit left active, start, run the statements, commit; a database error rolls back and
// is shown with the unit's two texts.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "database/Datamodule.h"

namespace fesko::db {

// What the database error box of a unit says: what failed, and its caption.
struct UnitTexts {
  std::u16string_view context;
  std::u16string_view caption;
};

// Runs `work` as one unit of work. On an EMDOError the transaction is rolled back, the error
// shown and false returned; any other error passes through with the transaction as it is.
bool RunUnitOfWork(TDataModule1& data, UnitTexts texts, const std::function<void()>& work);

// The same, and after the commit `after_commit`, whose database errors are the unit's: what
// reads outside the transaction (its query starts one of its own, left for the next unit to end)
// or sends what the unit read.
bool RunUnitOfWork(TDataModule1& data, UnitTexts texts, const std::function<void()>& work,
                   const std::function<void()>& after_commit);

// A unit whose database errors are its caller's to report: every error passes through, with
// the transaction left for the next unit to roll back.
void RunUnitOfWork(TDataModule1& data, const std::function<void()>& work);

// A unit of guarded steps: `step` runs for 0 to count - 1, and a step that fails, with any
// error, is skipped while the next goes on. Only starting and committing fail the unit.
bool RunGuardedSteps(TDataModule1& data, UnitTexts texts, std::size_t count,
                     const std::function<void(std::size_t)>& step);

}  // namespace fesko::db
