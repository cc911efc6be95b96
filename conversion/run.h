// One conversion run on an opened practice: the options it runs with, the phases it calls, and
// the run itself. It checks the date range, lets the caller's checks stop it before its first
// change, runs the phases in their order, each announced on the view, and ends with "Finished.".
// Both fronts call it: the main window with the options its boxes and date fields hold, the
// command line with those its arguments give. It knows no window and no command line.
#ifndef RIVENOAK_CONVERSION_RUN_H_
#define RIVENOAK_CONVERSION_RUN_H_

#include <functional>
#include <optional>
#include <string>

#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"

namespace conversion {

struct RunOptions {
  bool match_transaction_types = true;
  bool apply_payments = true;
  bool over_apply = true;
  bool adjust_payment_amounts = true;
  // The phase that adjusts payment amounts asks it afresh for every payment: the window keeps
  // its box open to change during a run.
  bool strict_type_rules = true;
  // The days whose transactions the run takes; without both it stops at once, and without both
  // again when payments are applied it applies none.
  std::optional<data::TDateTime> from, to;
};

// The phases a run calls, in their order; a phase that is not there is skipped.
struct RunPhases {
  std::function<void()> VerifyTranTypes;
  // Answers whether no payment or adjustment lacks a payer.
  std::function<bool(const std::string& data_path)> GetNoWhoPaid;
  std::function<void(bool over_apply, data::TDateTime from, data::TDateTime to)> ApplyPayAdj;
  std::function<void()> AdjustPayments;
};

// The four phases over the practice, reporting to the view; the who-paid check uses `who_paid`.
// `options` is read as it stands when a phase asks, so it must outlive the phases.
RunPhases MakeRunPhases(PracticeDatasets& practice, RunView& view, WhoPaidDialog& who_paid,
                        const RunOptions& options);

// What must hold of the practice in `data_path` before the run changes anything; it throws to
// stop the run.
using CheckBeforeChange = std::function<void(const std::string& data_path)>;

// Runs the conversion on the practice opened from `data_path`, starting from `options` and
// reading them again from the view as it reaches each (RunView::ReadOptions). An exception from a
// check or a phase ends the run at once and propagates, the view left as the run had set it.
void RunConversion(PracticeDatasets& practice, const std::string& data_path,
                   const RunOptions& options, RunView& view, const RunPhases& phases,
                   const CheckBeforeChange& check_before_change);

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_RUN_H_
