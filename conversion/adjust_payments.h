// Payment amount adjustment: for every payment and adjustment created in the run's date range,
// what its application records leave unapplied is moved onto application records whose charges
// still carry a balance of the opposite sign, and fully paid charges are marked paid.
#ifndef RIVENOAK_CONVERSION_ADJUST_PAYMENTS_H_
#define RIVENOAK_CONVERSION_ADJUST_PAYMENTS_H_

#include <functional>
#include <string>

#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"

namespace conversion {

// strict_rules is asked afresh for every payment, as the option may change during the run.
void AdjustPayments(PracticeDatasets& practice, RunView& view,
                    const std::function<bool()>& strict_rules);

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_ADJUST_PAYMENTS_H_
