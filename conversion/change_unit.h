// Units of change: the writes of one document (payment application), one payment (payment
// amount adjustment) or one record (type verification) stand or fall together.
//
// Each unit is a savepoint inside a transaction of the main connection that holds a batch of
// units. A failing unit is undone alone, the units before it are committed, and any change a
// dataset still holds is cancelled, so that no rolled-back value is posted later. The batch is
// committed once it has been open for a short while, before the run waits for the user, and at
// the end, and the next batch leaves other programs a moment to write first: a commit syncs each
// changed file and its journal, which would cost far more than the unit's own work if every unit
// paid it. A process killed in the middle of a batch loses the batch whole and never part of a
// unit; the next run does that work again. What a unit counts is added to the run's counts only
// when its batch is committed, so that the counts say what the tables hold.
#ifndef RIVENOAK_CONVERSION_CHANGE_UNIT_H_
#define RIVENOAK_CONVERSION_CHANGE_UNIT_H_

#include <chrono>

#include "conversion/practice_datasets.h"
#include "conversion/run_counts.h"

namespace conversion {

void CancelPendingChanges(PracticeDatasets& practice);

class ChangeBatch {
 public:
  // How long a batch may stay open: record locks and the files' write locks are held that long.
  static constexpr std::chrono::milliseconds kInterval{100};
  // How long the files are left to other programs between two batches: a program waiting to
  // write polls, and would rarely find the files free if the next batch began at once.
  static constexpr std::chrono::milliseconds kGap{4};

  ChangeBatch(PracticeDatasets& practice, RunCounts& counts);
  // Commits the units done; a failure there rolls them back (the next run does them again).
  ~ChangeBatch();
  ChangeBatch(const ChangeBatch&) = delete;
  ChangeBatch& operator=(const ChangeBatch&) = delete;

  template <typename F>
  void Run(F&& unit) {
    BeginUnit();
    try {
      unit();
    } catch (...) {
      FailUnit();
      throw;
    }
    EndUnit();
  }

  // Commits the units done so far.
  void Commit();

  // Where the unit being run counts what it did.
  RunCounts& Tally() { return unit_counts_; }

 private:
  void BeginUnit();
  void EndUnit();
  void FailUnit();

  PracticeDatasets& practice_;
  data::TIsamConnection& connection_;
  RunCounts& counts_;
  RunCounts unit_counts_;     // the unit being run
  RunCounts pending_counts_;  // the units done since the last commit
  bool open_ = false;
  std::chrono::steady_clock::time_point opened_at_;
  std::chrono::steady_clock::time_point committed_at_;
};

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_CHANGE_UNIT_H_
