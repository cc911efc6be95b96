#include "conversion/run.h"

#include "conversion/adjust_payments.h"
#include "conversion/apply_payments.h"
#include "conversion/verify_tran_types.h"
#include "conversion/who_paid.h"

namespace conversion {

RunPhases MakeRunPhases(PracticeDatasets& practice, RunView& view, WhoPaidDialog& who_paid,
                        const RunOptions& options) {
  RunPhases phases;
  phases.VerifyTranTypes = [&] { VerifyTranTypes(practice, view); };
  phases.GetNoWhoPaid = [&](const std::string& path) { return who_paid.GetNoWhoPaid(path, view); };
  phases.ApplyPayAdj = [&](bool over_apply, data::TDateTime from, data::TDateTime to) {
    ApplyPayAdj(practice, view, over_apply, from, to);
  };
  phases.AdjustPayments = [&] {
    AdjustPayments(practice, view, [&] { return options.strict_type_rules; });
  };
  return phases;
}

namespace {

void BeginPhase(RunView& view, const char* status) {
  view.SetStatus(status);
  view.ProcessMessages();
}

// The phases after the date range was found good: the who-paid check always, the others as the
// options ask, until one of them stops the run.
void RunPhasesInOrder(const std::string& data_path, RunOptions& options, RunView& view,
                      const RunPhases& phases) {
  view.ReadOptions(options, OptionsRead::kChoosingPhase);
  if (options.match_transaction_types) {
    BeginPhase(view, "Verifying Transaction Types");
    if (phases.VerifyTranTypes) phases.VerifyTranTypes();
  }
  if (view.StopFlag()) return;
  BeginPhase(view, "Verifying Who Paid");
  bool none_missing = phases.GetNoWhoPaid ? phases.GetNoWhoPaid(data_path) : true;
  view.SetStopFlag(!none_missing);
  view.ReadOptions(options, OptionsRead::kChoosingPhase);
  if (none_missing && options.apply_payments) {
    BeginPhase(view, "Applying Payments");
    // The range is read again: it is what the date fields say as the payments are applied.
    view.ReadOptions(options, OptionsRead::kRangeForPayments);
    if (!options.from || !options.to) {
      view.ShowPlain("Both Dates Must Be Specified.");
    } else if (phases.ApplyPayAdj) {
      phases.ApplyPayAdj(options.over_apply, *options.from, *options.to);
    }
  }
  if (!none_missing) {
    view.ShowInformation(
        "This Program cannot continue while there are payments or adjustments that have no "
        "who paid indicator.");
  }
  view.ReadOptions(options, OptionsRead::kChoosingPhase);
  if (options.adjust_payment_amounts && !view.StopFlag()) {
    BeginPhase(view, "Adjusting Payment Amounts");
    if (phases.AdjustPayments) phases.AdjustPayments();
  }
}

}  // namespace

void RunConversion(PracticeDatasets& practice, const std::string& data_path,
                   const RunOptions& options, RunView& view, const RunPhases& phases,
                   const CheckBeforeChange& check_before_change) {
  view.SetStopFlag(false);
  view.Counts() = RunCounts();  // each run counts afresh
  view.BeginRun();
  view.ProcessMessages();
  RunOptions current = options;
  view.ReadOptions(current, OptionsRead::kRangeAtStart);
  if (!current.from || !current.to) {
    view.ShowPlain("Both Dates Must Be Specified.");
  } else {
    practice.BeginDate = *current.from;
    practice.EndDate = *current.to;
    if (check_before_change) check_before_change(data_path);
    RunPhasesInOrder(data_path, current, view, phases);
  }
  view.EndRun();
  view.ShowInformation("Finished.");
}

}  // namespace conversion
