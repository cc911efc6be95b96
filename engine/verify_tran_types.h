// The first phase of a run: every transaction's "Transaction Type" made to agree with the "Type"
// of its procedure code, and procedure codes that transactions use but the procedure-code table
// lacks added to it.
#ifndef RIVENOAK_ENGINE_VERIFY_TRAN_TYPES_H_
#define RIVENOAK_ENGINE_VERIFY_TRAN_TYPES_H_

#include "engine/practice_datasets.h"
#include "engine/run_view.h"

namespace engine {

// Walks MWtrnType in its order, looking each code up in MWproType; shows the count of types
// changed beside "Transaction Types Changed" however the walk ends.
void VerifyTranTypes(PracticeDatasets& practice, RunView& view);

// The description of a procedure code the phase adds.
inline constexpr const char* kAddedCodeDescription = "00Procedure Added By Rivenoak00";

}  // namespace engine

#endif  // RIVENOAK_ENGINE_VERIFY_TRAN_TYPES_H_
