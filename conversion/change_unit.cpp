#include "conversion/change_unit.h"

#include <thread>

namespace conversion {

void CancelPendingChanges(PracticeDatasets& practice) {
  for (data::TIsamTable* table : practice.Tables()) {
    try {
      table->Cancel();
    } catch (const data::Exception&) {
      // A dataset that cannot even cancel holds nothing to post.
    }
  }
}

ChangeBatch::ChangeBatch(PracticeDatasets& practice, RunCounts& counts)
    : practice_(practice), connection_(practice.IsamConnection2), counts_(counts) {}

ChangeBatch::~ChangeBatch() {
  try {
    Commit();
  } catch (const data::Exception&) {
    // Commit has rolled the batch back; the error that ended the phase is the one to report.
  }
}

void ChangeBatch::BeginUnit() {
  if (!open_) {
    auto since_commit = std::chrono::steady_clock::now() - committed_at_;
    if (since_commit < kGap) std::this_thread::sleep_for(kGap - since_commit);
    connection_.StartTransaction();
    open_ = true;
    opened_at_ = std::chrono::steady_clock::now();
  }
  connection_.Savepoint();
  unit_counts_ = RunCounts();
}

void ChangeBatch::EndUnit() {
  connection_.ReleaseSavepoint();
  pending_counts_.Add(unit_counts_);
  unit_counts_ = RunCounts();
  if (std::chrono::steady_clock::now() - opened_at_ >= kInterval) Commit();
}

void ChangeBatch::FailUnit() {
  unit_counts_ = RunCounts();
  CancelPendingChanges(practice_);
  try {
    connection_.RollbackToSavepoint();
    Commit();
  } catch (const data::Exception&) {
    // The unit's own failure is the one to report; Commit has rolled back what it could not keep.
    if (connection_.InTransaction()) {
      try {
        connection_.Rollback();
      } catch (const data::Exception&) {
      }
    }
    open_ = false;
    pending_counts_ = RunCounts();
  }
}

void ChangeBatch::Commit() {
  if (!open_) return;
  open_ = false;
  committed_at_ = std::chrono::steady_clock::now();
  try {
    connection_.Commit();
    counts_.Add(pending_counts_);
    pending_counts_ = RunCounts();
  } catch (const data::Exception&) {
    pending_counts_ = RunCounts();
    try {
      connection_.Rollback();
    } catch (const data::Exception&) {
      // The commit's failure is the one to report.
    }
    throw;
  }
}

}  // namespace conversion
