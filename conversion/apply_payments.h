// Payment application: for every document with a transaction created in the run's date range,
// each payment and adjustment is divided among the document's charges in proportion to their
// amounts; each share is added to the payer's column on the charge and recorded as an
// application record.
#ifndef RIVENOAK_CONVERSION_APPLY_PAYMENTS_H_
#define RIVENOAK_CONVERSION_APPLY_PAYMENTS_H_

#include <string>

#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"
#include "data/money.h"

namespace conversion {

// |payment ÷ charge total| of the two money counts in extended precision, kept as a double, and
// negated when the payment is zero or negative.
double PaymentRatio(data::Money payment, data::Money charge_total);

// The share of a charge: amount × ratio × 100 in extended precision rounded to the nearest
// millionth (ties to even), then cut toward zero to hundredths.
data::Money ShareOf(data::Money charge_amount, double ratio);

void ApplyPayAdj(PracticeDatasets& practice, RunView& view, bool over_apply, data::TDateTime begin,
                 data::TDateTime end);

// Applies the share of the current payment (MWtrnPayAdj) to the current charge (MWtrnChg). A
// pair that already has an application record is left as it is: no pair is applied twice. What it
// writes is counted in `tally` when given.
void ApplyPayAmount(PracticeDatasets& practice, const std::string& who_paid,
                    const std::string& transaction_type, data::Money share,
                    RunCounts* tally = nullptr);

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_APPLY_PAYMENTS_H_
