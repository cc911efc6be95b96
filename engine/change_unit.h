// A unit of change: the writes of one document (payment application) or one payment (payment
// amount adjustment) are one transaction of the main connection. A failure rolls the unit back,
// leaves every earlier unit in place, and cancels any change a dataset still holds, so that no
// rolled-back value is posted later.
#ifndef RIVENOAK_ENGINE_CHANGE_UNIT_H_
#define RIVENOAK_ENGINE_CHANGE_UNIT_H_

#include "engine/practice_datasets.h"

namespace engine {

void CancelPendingChanges(PracticeDatasets& practice);

template <typename F>
void AsOneUnit(PracticeDatasets& practice, F&& unit) {
  data::TIsamConnection& connection = practice.IsamConnection2;
  connection.StartTransaction();
  try {
    unit();
  } catch (...) {
    CancelPendingChanges(practice);
    try {
      connection.Rollback();
    } catch (const data::Exception&) {
      // The first failure is the one to report.
    }
    throw;
  }
  connection.Commit();
}

}  // namespace engine

#endif  // RIVENOAK_ENGINE_CHANGE_UNIT_H_
