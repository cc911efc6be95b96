// The first phase of a run: every transaction's "Transaction Type" made to agree with the "Type"
// of its procedure code, and procedure codes that transactions use but the procedure-code table
// lacks added to it.
#ifndef RIVENOAK_CONVERSION_VERIFY_TRAN_TYPES_H_
#define RIVENOAK_CONVERSION_VERIFY_TRAN_TYPES_H_

#include "conversion/practice_datasets.h"
#include "conversion/run_view.h"

namespace conversion {

// Walks MWtrnType in its order, looking each code up in MWproType; shows the count of types
// changed beside "Transaction Types Changed" however the walk ends.
void VerifyTranTypes(PracticeDatasets& practice, RunView& view);

// The description of a procedure code the phase adds.
inline constexpr const char* kAddedCodeDescription = "00Procedure Added By Rivenoak00";

}  // namespace conversion

#endif  // RIVENOAK_CONVERSION_VERIFY_TRAN_TYPES_H_
