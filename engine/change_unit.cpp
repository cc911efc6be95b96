#include "engine/change_unit.h"

namespace engine {

void CancelPendingChanges(PracticeDatasets& practice) {
  for (data::TIsamTable* table : practice.Tables()) {
    try {
      table->Cancel();
    } catch (const data::Exception&) {
      // A dataset that cannot even cancel holds nothing to post.
    }
  }
}

}  // namespace engine
